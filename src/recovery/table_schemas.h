#pragma once

// The tables a recovered record may belong to, and whether a record fits
// one: the attribution of records to tables.
//
// A table is known by its columns in schema order and their affinities, by
// SQLite's rules ("Datatypes In SQLite", 3.1: a declared type containing
// "INT" is INTEGER; "CHAR", "CLOB" or "TEXT" TEXT; "BLOB" or none BLOB;
// "REAL", "FLOA" or "DOUB" REAL; any other NUMERIC), and by its INTEGER
// PRIMARY KEY column, whose value is the row id and which a record stores as
// NULL ("Database File Format", 2.1).
//
// A record fits a table when it has exactly one value per column, NULL in
// the row-id column, and every other value of a storage class the column's
// affinity keeps, no NULL where the schema forbids it: an INTEGER, REAL or NUMERIC column holds no text or BLOB
// (SQLite would have converted a numeric text, and these columns of browser
// tables never hold others), a TEXT column no number (it would have become
// text). A column without affinity takes anything. Texts must be valid in
// the database's encoding. This is strict on purpose: a row that is not
// there is worse in a court report than one that was missed.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recovery/sqlite_format.h"

enum class Affinity { kInteger, kText, kBlob, kReal, kNumeric };

// What a b-tree's records are: rows of an ordinary table (a table b-tree,
// keyed by row id), rows of a WITHOUT ROWID table, or entries of an index
// (index b-trees, keyed by their records: "Database File Format" 1.5, 2.5).
enum class BTreeKind { kTable, kWithoutRowid, kIndex };

// SQLite's affinity of a declared type.
Affinity AffinityOf(std::string declaredType);

// The columns are those of its records, in record order: a table's in
// schema order; a WITHOUT ROWID table's with its primary key first, in key
// order, then the others in schema order; an index's with the indexed
// columns first, then what finds the row (the row id, or a WITHOUT ROWID
// table's primary key columns not indexed already).
struct TableSchema {
  std::string name;
  BTreeKind kind = BTreeKind::kTable;
  std::string table;  // of an index: the table it indexes
  std::vector<std::string> columns;
  std::vector<Affinity> affinities;
  std::vector<bool> notNull;
  int rowIdColumn = -1;  // the INTEGER PRIMARY KEY column, if any
  // Where the values of the first column are known (the schema table's
  // type), the serial types it may have: a rebuilt record that lost its
  // first serial type tries these alone, not every size of its affinity.
  std::vector<std::int64_t> firstColumnTypes;
  std::uint32_t rootPage = 0;  // of its b-tree
  // Of a WITHOUT ROWID table: the record's column of each column in schema
  // order. Of an index: the table's column of each record column, -1 for
  // the row id.
  std::vector<int> columnOrder;
  // Of a WITHOUT ROWID table, the columns of its primary key; of an index,
  // the indexed ones: the record's first.
  std::size_t keyColumns = 0;
};

// The table whose rows the b-tree's records are, or point to.
inline const std::string& TableName(const TableSchema& schema) {
  return schema.kind == BTreeKind::kIndex ? schema.table : schema.name;
}
// Whether records of the b-tree stand in index b-tree pages.
inline bool InIndexPages(const TableSchema& schema) { return schema.kind != BTreeKind::kTable; }

// The b-trees of the main schema whose records may be recovered: the
// ordinary tables and the WITHOUT ROWID tables in name order, then the
// indexes of those tables in name order, but for an index of an expression,
// whose values are no column's. Virtual tables keep none of their own.
// Nothing, SQLite's reason in error, when SQLite cannot read the schema.
std::optional<std::vector<TableSchema>> ReadTableSchemas(sqlite3* db, std::string& error);

// How many statements the schema holds (tables, indexes, views, triggers;
// not the indexes SQLite makes of itself); nothing when SQLite cannot say.
std::optional<std::uint32_t> SchemaStatements(sqlite3* db);

// The serial type of a value whose class is lost (its size alone known, 0).
inline constexpr std::int64_t kUnknownValue = -1;

// One value of a record: the serial type says its class; bytes are the
// value's own bytes for integers, reals, texts and BLOBs as stored.
struct RecordValue {
  std::int64_t serialType = 0;
  Bytes bytes;
};

// The integer a value of serial type 1 to 9 holds, sign-extended from its
// width; for type 7, the double's bits.
std::int64_t IntegerOf(const RecordValue& value);

// The text of a value of a text serial type as UTF-8, converted from the
// database's encoding (an unpaired surrogate of UTF-16 becomes U+FFFD).
std::string TextAsUtf8(const RecordValue& value, TextEncoding encoding);

// How many values a record stores: neither NULL nor of a class now unknown.
std::size_t StoredValues(const std::vector<RecordValue>& values);

// Whether a record's values fit the table.
bool FitsTable(const TableSchema& table, const std::vector<RecordValue>& values, TextEncoding encoding);

// SQLite's own limit on the columns of a table (SQLITE_MAX_COLUMN).
inline constexpr std::size_t kMostColumns = 2000;

// Whether a record that fits no table of the schema may still be one of a
// table that is gone (a dropped table): two values or more that are not
// NULL, no more than a table may have, and every text valid in the
// encoding.
bool MayBeOfAnotherTable(const std::vector<RecordValue>& values, TextEncoding encoding);
