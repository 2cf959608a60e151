// The files the tasks write, and the scratch file a task reads back: every
// byte appended comes out, in order, whatever the sizes of the pieces and
// wherever they fall against the 64 KiB blocks.

#include "output/output_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "output/scratch_file.h"
#include "support/temp_folder.h"

namespace {

// Pieces that begin, end and cross block boundaries: small ones filling a
// block to one byte short, one that crosses it, pieces of a block and more
// that go out as they are, and small ones after them.
std::vector<std::string> Pieces() {
  std::vector<std::string> pieces;
  const std::size_t sizes[] = {1, 100, 65434, 2, 65536, 7, 65535, 65537, 200000, 3, 131072, 1, 0, 65536};
  char fill = 'a';
  for (const std::size_t size : sizes) {
    std::string piece(size, fill);
    // Each byte of a piece tells where it was, so that a byte lost or
    // moved shows.
    for (std::size_t at = 0; at < size; at += 251) piece[at] = static_cast<char>('0' + at % 10);
    pieces.push_back(std::move(piece));
    fill = fill == 'z' ? 'a' : static_cast<char>(fill + 1);
  }
  return pieces;
}

// Runs the test body in a folder of its own, as the tasks write into the
// current folder.
class InFolder {
 public:
  InFolder() : previous_(std::filesystem::current_path()) { std::filesystem::current_path(folder_.path()); }
  ~InFolder() { std::filesystem::current_path(previous_); }
  const TempFolder& folder() const { return folder_; }

 private:
  TempFolder folder_;
  std::filesystem::path previous_;
};

TEST(OutputFile, WritesEveryByteOfPiecesAcrossBlocks) {
  InFolder in;
  std::string expected;
  OutputFile file("out.csv");
  for (const std::string& piece : Pieces()) {
    file.Append(piece);
    expected += piece;
  }
  ASSERT_TRUE(file.Publish());
  EXPECT_EQ(ReadFileBytes(in.folder() / "out.csv"), expected);
}

TEST(ScratchFile, GivesBackEveryByteInOrderTwice) {
  ScratchFile scratch;
  ASSERT_FALSE(scratch.failure());
  std::string expected;
  for (const std::string& piece : Pieces()) {
    scratch.Append(piece);
    expected += piece;
  }
  for (int reading = 0; reading < 2; ++reading) {
    scratch.StartReading();
    std::string got;
    std::string piece;
    for (const std::size_t size : {std::size_t{5}, std::size_t{70000}, std::size_t{1}, std::size_t{300000}}) {
      ASSERT_TRUE(scratch.Read(size, piece)) << reading;
      got += piece;
    }
    while (scratch.Read(4096, piece)) got += piece;
    got += piece;  // the last, short piece
    EXPECT_EQ(got.size(), expected.size()) << reading;
    EXPECT_TRUE(got == expected) << reading;
    EXPECT_FALSE(scratch.Read(1, piece));
  }
  EXPECT_FALSE(scratch.failure());
}

}  // namespace
