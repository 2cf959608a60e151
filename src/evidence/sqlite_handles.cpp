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
  // The type before the conversion to text, which the text call may make.
  const int type = sqlite3_column_type(statement, column);
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  if (text == nullptr) return std::nullopt;
  const auto length = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
  // SQLite's text of a number holds no zero byte: only a text or a BLOB needs
  // the search for the first one.
  if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) return std::string_view(text, length);
  const void* zero = std::memchr(text, '\0', length);
  return std::string_view(text, zero != nullptr ? static_cast<const char*>(zero) - text : length);
}
