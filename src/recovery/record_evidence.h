#pragma once

// Telling a record from chance. Bytes that are no record (random data, a
// page of some other kind, the middle of a value) sometimes pass every check
// a record must pass; the fewer checks a reading made, the more often. So
// each reading is given the number of bits its checks hold: the log2 of how
// unlikely random bytes are to pass them all. A check passed by a random
// byte with probability p holds -log2(p) bits:
// - a whole cell's payload length equal to its record's size, a record
//   header's length equal to the serial types read: 7 bits a varint byte;
// - a row-id column's serial type, which must be 0: 8 bits;
// - a serial type of a number column, one of 10 of a byte's 256 values (9
//   where NULL is forbidden): 4.7 bits; of a text or BLOB column, or one
//   without affinity, which take nearly any: none;
// - the bytes of a text, which must be valid UTF-8: 0.9 bits a byte (a
//   random byte is ASCII one time in two; UTF-16 texts are not checked).
// A value whose class the rebuild could not see holds none. The bits a
// record must hold are in record_carver.h, with where it was found.

#include <vector>

#include "recovery/table_schemas.h"

struct ReadingChecks {
  std::size_t payloadLengthBytes = 0;  // of a whole cell: its payload length varint
  std::size_t headerLengthBytes = 0;   // the record header's length varint, where it was read
  bool firstTypeSeen = true;           // else the first value's serial type was assumed, not read
};

// The bits the checks of a reading of the record by the table's schema
// hold; schema nullptr for a record read as no table's (any value taken).
double EvidenceBits(const TableSchema* schema, const std::vector<RecordValue>& values, const ReadingChecks& checks,
                    TextEncoding encoding);
