#pragma once

// Telling recovered records from the live rows of their tables, in time
// that does not grow with the tables.
//
// A record and a row are compared by fingerprint (fingerprint.h) of their
// values in one form: NULL; an integer, or a real that is a whole number
// (SQLite keeps a REAL column's whole numbers as integers on disk, and
// compares numbers by value); any other real; a text, as UTF-8; a BLOB. The
// row-id column is left out: a record stores NULL there. The table is part
// of the fingerprint.
//
// A record with a row id is looked up by it, one indexed lookup a table.
// A record that lost its row id is looked for among all of a table's rows:
// its fingerprints are gathered while the files are searched (LookFor), and
// each table read once at the end (ReadTablesLookedIn; an index's entries
// are its table's rows, read in the same pass), keeping only the
// fingerprints found; memory grows with the records found, never with the
// live rows.
//
// SQLite reads the private copy (evidence_database.h). A table it cannot
// read has no live rows to compare: said in problems().

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "evidence/sqlite_handles.h"
#include "recovery/table_schemas.h"

class LiveRows {
 public:
  // tables: the first liveTables are the database's own; the rest, dropped
  // ones, have no live rows. db: nullptr when SQLite cannot read the schema.
  LiveRows(sqlite3* db, const std::vector<TableSchema>& tables, std::size_t liveTables, TextEncoding encoding);

  // The fingerprint of the values as a row of the table. A value lost with
  // its class (kUnknownValue) is taken as firstAs, when given.
  std::uint64_t Of(int table, const std::vector<RecordValue>& values, const RecordValue* firstAs = nullptr) const;
  // The fingerprints of every value a record's lost first value may have
  // been (NULL, 0, 1, an empty text, an empty BLOB); its one fingerprint
  // when nothing was lost.
  std::vector<std::uint64_t> Alternatives(int table, const std::vector<RecordValue>& values) const;

  // The fingerprint of the table's live row of that row id; nothing when
  // there is none.
  std::optional<std::uint64_t> RowOf(int table, std::int64_t rowId);

  // The fingerprint of a WITHOUT ROWID table's record's primary key, the
  // record's first columns.
  std::uint64_t KeyOf(int table, const std::vector<RecordValue>& values) const;

  // A fingerprint to look for among the table's rows; of an index, among
  // its entries (every row's indexed columns and row id).
  void LookFor(int table, std::uint64_t fingerprint);
  // A primary key's fingerprint to look for among a WITHOUT ROWID table's.
  void LookForKey(int table, std::uint64_t fingerprint);
  // Reads each table looked in, once.
  void ReadTablesLookedIn();
  // Whether a fingerprint looked for is a live row's.
  bool IsLive(std::uint64_t fingerprint) const;
  // Whether a key looked for is a live row's.
  bool IsLiveKey(std::uint64_t fingerprint) const;

  const std::vector<std::string>& problems() const { return problems_; }

 private:
  bool IsLiveTable(int table) const { return table >= 0 && static_cast<std::size_t>(table) < byRowId_.size(); }
  // The fingerprint of a row SQLite gives: the table's columns at `at` (by
  // record column), or, where at is empty, in the record's own order.
  std::uint64_t OfRow(int table, sqlite3_stmt* row, std::span<const int> at = {}) const;
  void TableUnreadable(int table);

  sqlite3* db_;
  const std::vector<TableSchema>& tables_;
  TextEncoding encoding_;
  std::vector<Statement> byRowId_;  // by live table; prepared when first needed
  std::vector<bool> unreadable_;
  std::vector<std::vector<std::uint64_t>> lookedFor_;  // by live table
  std::vector<std::vector<std::uint64_t>> keysLookedFor_;  // by live table
  std::vector<std::uint64_t> live_;  // sorted, once the tables are read
  std::vector<std::uint64_t> liveKeys_;  // sorted, once the tables are read
  std::vector<std::string> problems_;
};
