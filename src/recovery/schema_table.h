#pragma once

// The schema table (sqlite_master: type, name, tbl_name, rootpage, sql;
// "Database File Format" 2.6) read from the database's own pages: its b-tree
// from root page 1, each page once (page_sources.h).
//
// - Its live records give the tables when SQLite cannot read the schema (a
//   damaged header, a page it calls malformed).
// - Its deleted records, in the free space of its pages, give the tables a
//   database no longer has: DROP TABLE deletes the table's row, whose record
//   stays like any deleted record, and frees the table's pages, whose
//   records stay too. Such a table's columns and its old root page let its
//   records be attributed to it and rebuilt by its schema.
//
// Every statement is read by the tool's own reader (create_table.h), never
// by SQLite: a deleted record is evidence, and evidence is never run. Only
// ordinary tables with row ids are kept; a dropped table of the name of a
// live one, or of one found before, is passed over, and so is every one
// after the first kMostDroppedTables: each table found makes every record
// cost more, and the work must stay in proportion to the files. The texts
// of a UTF-16 database are read converted to UTF-8.

#include <cstdint>
#include <vector>

#include "recovery/page_sources.h"
#include "recovery/table_schemas.h"

struct SchemaFromPages {
  std::vector<TableSchema> tables;  // ordinary tables with row ids, in name order
  std::uint32_t statements = 0;     // records that hold a statement, of any kind
};

// The live schema, as the schema table's cells hold it.
SchemaFromPages ReadSchemaFromPages(const PageSources& sources);

inline constexpr std::size_t kMostDroppedTables = 100;

struct DroppedTables {
  std::vector<TableSchema> tables;
  std::size_t passedOver = 0;  // found beyond the first kMostDroppedTables
};

// The tables the schema table's deleted records name.
DroppedTables FindDroppedTables(const PageSources& sources, const std::vector<TableSchema>& live);
