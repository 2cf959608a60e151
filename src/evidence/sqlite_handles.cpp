#include "evidence/sqlite_handles.h"

#include <cstring>

Statement PrepareStatement(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* raw = nullptr;
  int result = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
  Statement statement(raw);
  if (result != SQLITE_OK) return nullptr;
  return statement;
}

bool BindText(sqlite3_stmt* statement, int index, std::string_view text) {
  return sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) ==
         SQLITE_OK;
}

void SetPageCache(sqlite3* db, int kibibytes) {
  const std::string pragma = "PRAGMA cache_size = -" + std::to_string(kibibytes);
  sqlite3_exec(db, pragma.c_str(), nullptr, nullptr, nullptr);
}

std::string QuoteIdentifier(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  quoted += '"';
  return quoted;
}

std::optional<std::string_view> ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  if (text == nullptr) return std::nullopt;
  return std::string_view(text, std::strlen(text));
}
