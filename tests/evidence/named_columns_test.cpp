#include "evidence/named_columns.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// The indexes the columns of "SELECT * FROM t" resolve to, for a table
// created with the given column list.
std::vector<int> Resolve(const std::string& columns) {
  sqlite3* raw = nullptr;
  sqlite3_open(":memory:", &raw);
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
  const std::string create = "CREATE TABLE t (" + columns + ")";
  EXPECT_EQ(sqlite3_exec(db.get(), create.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db.get(), "SELECT * FROM t", -1, &statement, nullptr);
  constexpr std::string_view kSchema[] = {"id", "url", "title", "rev_host", "visit_count"};
  std::vector<int> indexes(std::size(kSchema));
  ResolveColumns(statement, kSchema, indexes);
  sqlite3_finalize(statement);
  return indexes;
}

TEST(NamedColumns, TheFirefoxThreeTableResolvesToItsOwnPositions) {
  EXPECT_EQ(Resolve("id, url, title, rev_host, visit_count"), (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(NamedColumns, MovedColumnsAreFoundByName) {
  EXPECT_EQ(Resolve("id, visit_count, url, title, extra, rev_host"), (std::vector<int>{0, 2, 3, 5, 1}));
}

TEST(NamedColumns, RenamedColumnsFallBackToTheirPosition) {
  EXPECT_EQ(Resolve("id, address, title, rev_host, visits"), (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(NamedColumns, MissingColumnsResolveToNothing) {
  // title is missing: position 2 holds rev_host, which is another column, and
  // visit_count's position 4 is past the end.
  EXPECT_EQ(Resolve("id, url, rev_host"), (std::vector<int>{0, 1, -1, 2, -1}));
}

}  // namespace
