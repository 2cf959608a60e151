#include "evidence_generator/browser_database.h"

namespace {

void Check(sqlite3* db, int result, std::string_view what) {
  if (result != SQLITE_OK && result != SQLITE_DONE && result != SQLITE_ROW) {
    throw SqlError(std::string(what) + ": " + sqlite3_errmsg(db));
  }
}

}  // namespace

BrowserDatabase::BrowserDatabase(const std::string& file, std::string_view schemaScript) {
  sqlite3* raw = nullptr;
  int result = sqlite3_open(file.c_str(), &raw);
  db_.reset(raw);
  Check(raw, result, "open " + file);
  const std::string_view script = BrowserSchemaScript(schemaScript);
  const std::size_t split = script.find("-- @after-data");
  Execute(script.substr(0, split));
  if (split != std::string_view::npos) afterData_ = script.substr(split);
}

void BrowserDatabase::Finish() {
  Execute(afterData_);
  afterData_.clear();
}

void BrowserDatabase::Execute(std::string_view sql) {
  char* message = nullptr;
  const std::string text(sql);
  int result = sqlite3_exec(db_.get(), text.c_str(), nullptr, nullptr, &message);
  std::string error = message != nullptr ? message : "";
  sqlite3_free(message);
  if (result != SQLITE_OK) throw SqlError(error + " in: " + text.substr(0, 300));
}

Insert::Insert(const BrowserDatabase& db, const char* sql) : db_(db.get()) {
  sqlite3_stmt* raw = nullptr;
  Check(db_, sqlite3_prepare_v2(db_, sql, -1, &raw, nullptr), sql);
  statement_.reset(raw);
}

Insert& Insert::Text(std::string_view value) {
  Check(db_, sqlite3_bind_text(statement_.get(), next_++, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT),
        "bind");
  return *this;
}

Insert& Insert::Int(sqlite3_int64 value) {
  Check(db_, sqlite3_bind_int64(statement_.get(), next_++, value), "bind");
  return *this;
}

Insert& Insert::Real(double value) {
  Check(db_, sqlite3_bind_double(statement_.get(), next_++, value), "bind");
  return *this;
}

Insert& Insert::Blob(std::string_view bytes) {
  Check(db_, sqlite3_bind_blob(statement_.get(), next_++, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT),
        "bind");
  return *this;
}

Insert& Insert::Null() {
  Check(db_, sqlite3_bind_null(statement_.get(), next_++), "bind");
  return *this;
}

void Insert::Run() {
  Check(db_, sqlite3_step(statement_.get()), "insert");
  sqlite3_reset(statement_.get());
  next_ = 1;
}
