// The sample evidence generator: the fifteen databases, the same bytes for
// the same arguments, and a folder that every task of skv reads whole.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "support/run_skv.h"
#include "support/temp_folder.h"

namespace {

int Generate(const std::filesystem::path& folder, const std::string& arguments) {
  const std::string command = std::string(SKV_EVIDENCE_BINARY) + " " + arguments + " '" + folder.string() + "'";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(EvidenceGenerator, SameArgumentsGiveTheSameFiles) {
  TempFolder first;
  TempFolder second;
  ASSERT_EQ(Generate(first.path(), "--visits 300 --places 60 --favicons 8 --seed 5"), 0);
  ASSERT_EQ(Generate(second.path(), "--visits 300 --places 60 --favicons 8 --seed 5"), 0);
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(first.path())) {
    ++files;
    EXPECT_TRUE(ReadFileBytes(entry.path()) == ReadFileBytes(second / entry.path().filename().string()))
        << entry.path().filename();
  }
  EXPECT_EQ(files, 15u);
}

TEST(EvidenceGenerator, RejectsWhatItCannotUse) {
  TempFolder folder;
  EXPECT_EQ(Generate(folder.path(), "--visits -1"), 2);
  EXPECT_EQ(Generate(folder.path(), "--visits 10x"), 2);
  EXPECT_EQ(Generate(folder.path(), "--colour blue"), 2);
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST(EvidenceGenerator, EveryTaskReadsTheSampleFolderWhole) {
  TempFolder folder;
  ASSERT_EQ(Generate(folder.path(), "--visits 500 --places 100 --favicons 12 --seed 1"), 0);
  SkvRun run = RunSkv(folder.path(), StandardSettingsInput() + "B\n\nG\n\nC\n\nD\ny\n\nX\n");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.transcript.find("not found"), std::string::npos);
  EXPECT_EQ(run.transcript.find("Could not"), std::string::npos);
  std::size_t counts = 0;
  for (std::size_t at = 0; (at = run.transcript.find("\n500 rows exported\n", at)) != std::string::npos; ++at) ++counts;
  EXPECT_EQ(counts, 2u);
  for (const char* image : {"favicon_1.png", "favicon_2.ico", "favicon_3.gif", "favicon_4.bmp"}) {
    EXPECT_TRUE(std::filesystem::exists(folder / image)) << image;
  }
  EXPECT_TRUE(ReadFileBytes(folder / "favicon_1.png").starts_with("\x89PNG\r\n\x1A\n"));
  EXPECT_TRUE(ReadFileBytes(folder / "favicon_3.gif").starts_with("GIF89a"));
  EXPECT_TRUE(ReadFileBytes(folder / "favicon_4.bmp").starts_with("BM"));
}

}  // namespace
