#include "usage_reports/favicon_extraction.h"

#include <optional>

#include "table_export/output_file.h"
#include "usage_reports/named_columns.h"
#include "usage_reports/report_console.h"

std::string_view FaviconExtension(std::string_view mimeType) {
  struct Type {
    std::string_view mime;
    std::string_view extension;
  };
  static constexpr Type kTypes[] = {
      {"image/bmp", ".bmp"},    {"image/gif", ".gif"}, {"image/png", ".png"},
      {"image/x-icon", ".ico"}, {"image/jpg", ".jpg"}, {"image/jpeg", ".jpg"},
  };
  for (const Type& type : kTypes) {
    if (type.mime == mimeType) return type.extension;
  }
  return {};
}

const std::string& FaviconExtractor::ExtractFavicon(int faviconId) {
  auto known = extracted_.find(faviconId);
  if (known == extracted_.end()) known = extracted_.emplace(faviconId, Extract(faviconId)).first;
  return known->second;
}

std::string FaviconExtractor::Extract(int faviconId) {
  if (!opened_) {
    opened_ = true;
    db_ = OpenEvidenceDatabase(std::string(kPlacesDatabase));
    if (db_) query_ = PrepareStatement(db_.get(), "SELECT * FROM moz_favicons WHERE id=?1");
  }
  if (!query_) return {};
  sqlite3_stmt* query = query_.get();
  sqlite3_reset(query);
  sqlite3_bind_int(query, 1, faviconId);
  if (sqlite3_step(query) != SQLITE_ROW) return {};

  // The Firefox 3 schema of moz_favicons.
  static constexpr std::string_view kSchema[] = {"id", "url", "data", "mime_type", "expiration"};
  int columns[std::size(kSchema)];
  ResolveColumns(query, kSchema, columns);
  const int dataColumn = columns[2];
  const int mimeColumn = columns[3];
  if (!TextAt(query, dataColumn)) return {};  // NULL data: no image

  const std::string fileName =
      "favicon_" + std::to_string(faviconId) + std::string(FaviconExtension(TextAt(query, mimeColumn).value_or("")));
  std::optional<OutputFile> file = OutputFile::Create(fileName);
  if (!file) return {};
  const void* bytes = sqlite3_column_blob(query, dataColumn);
  const int count = sqlite3_column_bytes(query, dataColumn);
  if (bytes != nullptr && count > 0) file->Append(std::string_view(static_cast<const char*>(bytes), count));
  if (!file->Close()) EndProgramAfterWriteFailure(console_, *file);
  return fileName;
}
