#include "table_export/evidence_database.h"

#include <cstring>

#include "console/console.h"

DatabaseHandle OpenEvidenceDatabase(const std::string& fileName) {
  sqlite3* raw = nullptr;
  int result = sqlite3_open_v2(fileName.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  DatabaseHandle db(raw);  // a failed open leaves a handle to release too
  if (result != SQLITE_OK) return nullptr;
  return db;
}

DatabaseHandle ProbeEvidenceDatabase(Console& console, const std::string& fileName) {
  DatabaseHandle db = OpenEvidenceDatabase(fileName);
  console.WriteLine("Database " + fileName + (db ? " found." : " not found."));
  return db;
}

Statement PrepareStatement(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* raw = nullptr;
  int result = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
  Statement statement(raw);
  if (result != SQLITE_OK) return nullptr;
  return statement;
}

void ReportUnpreparedStatement(Console& console) {
  console.WriteLine();
  console.Write("Could not prepare statement.");
}

std::optional<std::string_view> ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  if (text == nullptr) return std::nullopt;
  return std::string_view(text, std::strlen(text));
}
