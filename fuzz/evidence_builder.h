#pragma once

// The evidence folder of one fuzzing run, built from the fuzzer's bytes:
// valid SQLite databases made through the SQLite API, so that the bytes
// reach the tool's own code rather than SQLite's header check.
//
// Each database is built in memory from a browser's schema script, a
// current Firefox favicons schema or nothing, then shaped by the bytes:
// tables dropped, columns added and dropped, tables of their own added with
// hostile names (quotes, blanks, line feeds, "/", "\", long names, bytes that
// are no UTF-8) and WITHOUT ROWID; rows of every storage class in every
// column (text where a number is expected, huge and negative integers,
// reals, NULLs, BLOBs, zero bytes). Some databases are put in WAL mode with
// their newest rows in the -wal only; a last step may flip or cut bytes.

#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

struct GeneratedEvidenceFile {
  std::string name;   // a plain name in the evidence folder
  std::string bytes;
};

// scratch: a private folder for the databases that must pass through a file
// (WAL mode); left empty.
std::vector<GeneratedEvidenceFile> BuildEvidence(FuzzedDataProvider& data, const std::string& scratch);

// The bytes of a file; empty when it cannot be read.
std::string ReadAll(const std::string& path);

// A case reference or name: a plain one, one built to break file names, or
// bytes of the fuzzer's.
std::string FuzzedCaseText(FuzzedDataProvider& data);
