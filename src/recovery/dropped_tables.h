#pragma once

// The tables a database no longer has, as its schema table still remembers
// them: DROP TABLE deletes the table's row of sqlite_master (type, name,
// tbl_name, rootpage, sql; "Database File Format", 2.6), whose record stays
// in the free space of page 1 like any deleted record, and frees the table's
// pages, whose records stay too. A dropped table found so gives its columns
// (its CREATE TABLE statement, read by SQLite in a database of its own in
// memory, never in the evidence's) and its old root page, so that its
// records can be attributed to it and rebuilt by its schema.
//
// Only a statement that is one CREATE TABLE and nothing else is read; a
// table of the name of a live one, or that SQLite does not take, is passed
// over.

#include <vector>

#include "recovery/page_sources.h"
#include "recovery/table_schemas.h"

std::vector<TableSchema> FindDroppedTables(const PageSources& sources, const std::vector<TableSchema>& live);
