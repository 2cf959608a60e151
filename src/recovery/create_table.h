#pragma once

// The tool's own reader of a CREATE TABLE statement carved from the
// evidence: a deleted record of the schema table names a table that is gone,
// and its statement gives the columns the table's records have. The text is
// read, never run: no carved statement is handed to SQLite, which would
// evaluate what it says (a CREATE TABLE ... AS SELECT runs its query, and
// can be made to loop, fill the memory or write a temporary file).
//
// Only one plain column-list CREATE TABLE is read ("SQL As Understood By
// SQLite", CREATE TABLE): CREATE TABLE [IF NOT EXISTS] [schema.]name, the
// column definitions and table constraints in parentheses, then WITHOUT
// ROWID or STRICT, and at most a closing semicolon. Anything else is
// refused: AS SELECT, TEMP, a second statement, a generated column (which a
// record may not store), more columns than SQLite allows (2,000), text that
// does not end where it should. Parenthesised expressions (CHECK, DEFAULT)
// are skipped by counting parentheses, never by recursion, so that a deep
// expression costs its length and no stack.
//
// Of each column: its name (quotes removed as SQLite removes them), its
// declared type, whose affinity SQLite's rules give (table_schemas.h), and
// NOT NULL. A column declared exactly INTEGER with a PRIMARY KEY of its own,
// not DESC, or named alone in the table's PRIMARY KEY, is the row id.

#include <optional>
#include <string_view>

#include "recovery/table_schemas.h"

struct CreatedTable {
  TableSchema schema;  // its root page not set
  bool withoutRowid = false;
};

std::optional<CreatedTable> ReadCreateTable(std::string_view sql);
