// Arbitrary bytes as a database with its "-wal" and "-journal", searched for
// deleted records as tasks I and J search them: the first code of the tool
// that reads the SQLite format itself. Nothing may crash, loop or reach
// undefined behaviour, and every record found must lie within its page. The
// schema table's deleted records are read for dropped tables as the task
// reads them, SQLite parsing what CREATE TABLE statements they hold.
//
// An input is three files: a 4-byte big-endian length and the database's
// bytes, then a 4-byte length and the WAL's (0: no WAL), then the journal's
// (none when empty). The seeds are databases of the forensic corpus and of
// the tests, with WAL and journal files made through SQLite.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "evidence/evidence_files.h"
#include "recovery/dropped_tables.h"
#include "recovery/page_sources.h"
#include "recovery/record_carver.h"
#include "recovery/table_schemas.h"

namespace {

namespace fs = std::filesystem;

fs::path gFolder;

// Tables of the shapes the corpus and the browsers have: with and without
// an INTEGER PRIMARY KEY, texts, integers, reals, no affinity.
std::vector<TableSchema> Tables() {
  auto table = [](std::string name, std::vector<Affinity> affinities, int rowId) {
    TableSchema schema;
    schema.name = std::move(name);
    for (std::size_t i = 0; i < affinities.size(); ++i) schema.columns.push_back("c" + std::to_string(i));
    schema.affinities = std::move(affinities);
    schema.notNull.assign(schema.columns.size(), false);
    schema.rowIdColumn = rowId;
    schema.rootPage = 2;
    return schema;
  };
  using A = Affinity;
  return {table("places", {A::kInteger, A::kText, A::kText, A::kText, A::kInteger, A::kInteger, A::kInteger,
                           A::kInteger, A::kInteger},
                0),
          table("users", {A::kInteger, A::kText, A::kText, A::kReal, A::kReal}, -1),
          table("pairs", {A::kText, A::kInteger}, -1),
          table("any", {A::kBlob, A::kBlob, A::kNumeric}, -1)};
}

void WriteFile(const std::string& name, const std::uint8_t* bytes, std::size_t size, bool present) {
  const fs::path path = gFolder / name;
  if (!present) {
    ::unlink(path.c_str());
    return;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || (size > 0 && ::write(fd, bytes, size) != static_cast<ssize_t>(size))) std::abort();
  ::close(fd);
}

std::size_t TakeLength(const std::uint8_t*& data, std::size_t& size) {
  if (size < 4) {
    data += size;
    size = 0;
    return 0;
  }
  std::size_t length = static_cast<std::size_t>(data[0]) << 24 | static_cast<std::size_t>(data[1]) << 16 |
                       static_cast<std::size_t>(data[2]) << 8 | data[3];
  data += 4;
  size -= 4;
  return std::min(length, size);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / "skv-recovery-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  gFolder = pattern;
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(gFolder, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<TableSchema> liveTables = Tables();
  const std::size_t databaseSize = TakeLength(data, size);
  WriteFile("History", data, databaseSize, true);
  data += databaseSize;
  size -= databaseSize;
  const std::size_t walSize = TakeLength(data, size);
  WriteFile("History-wal", data, walSize, walSize > 0);
  data += walSize;
  size -= walSize;
  WriteFile("History-journal", data, size, size > 0);

  const EvidenceFiles files = EvidenceFiles::Open((gFolder / "History").string());
  if (files.found() != EvidenceFiles::Found::kOpen) std::abort();
  PageSources sources;
  if (!sources.Open(files)) return 0;
  // The live tables, then those the schema table remembers as dropped.
  std::vector<TableSchema> tables = liveTables;
  for (TableSchema& dropped : FindDroppedTables(sources, liveTables)) tables.push_back(std::move(dropped));
  std::vector<std::uint32_t> roots;
  for (const TableSchema& table : tables) roots.push_back(table.rootPage);
  const std::vector<int> owners = sources.PageOwners(roots);
  RecordCarver carver(tables, sources.header(),
                      [&sources](std::uint32_t n, std::vector<std::uint8_t>& out) { return sources.ReadOverflowPage(n, out); });
  sources.ForEachImage([&](const PageImage& image) {
    const int owner = image.freelist || image.pageNumber >= owners.size() ? -1 : owners[image.pageNumber];
    carver.Carve(image.page, image.pageNumber == 1 ? 100 : 0, image.live,
                 owner, [&](const CarvedRecord& record) {
                   if (record.offset >= image.page.size() || record.values.empty()) std::abort();
                   for (const RecordValue& value : record.values) {
                     // Every value is bytes of the page, or of a gathered overflow payload.
                     if (value.bytes.size() > (std::size_t{1} << 30)) std::abort();
                   }
                 });
  });
  return 0;
}
