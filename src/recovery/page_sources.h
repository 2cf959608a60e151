#pragma once

// The places where SQLite leaves deleted records, as page images to carve:
// - every page of the database file: a page the database still uses is
//   live (only its free space is searched), a page of the freelist (freed by
//   a delete or a dropped table) is not, and neither is a page whose newer
//   image a committed WAL frame holds (the main file's image is older);
// - every frame of the "-wal" whose checksum holds: the last committed frame
//   of each page is the page as the database now has it (its free space
//   searched); older frames and frames after the last commit are older
//   images, every cell of them searched. A frame of an earlier WAL
//   generation (other salts) is searched when its checksum continues from
//   the frame before it, or the frame after it continues from it, in the
//   same generation; a frame nothing verifies is not searched;
// - every page record of the "-journal" whose checksum holds (the header's
//   nonce; for a journal whose header was zeroed after its transaction,
//   journal_mode PERSIST, the nonce that the records agree on): the pages as
//   they were before a transaction, every cell searched.
//
// Format facts relied on: sqlite_format.h. Every page number, count and size
// read is checked against the files: a freelist chain is followed with a
// visited set, a b-tree walked with each page at most once, a page number of
// a WAL frame or journal record must lie within the database, and nothing is
// read past the end of a file. A read the system fails, and each structure
// passed over, is told in words (problems()).
//
// Files are read a page at a time, so memory does not grow with the files;
// only the WAL's index of frames (a few bytes a frame), the freelist's map
// of pages (a bit a page) and the page owners (4 bytes a page) are kept.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "evidence/evidence_files.h"
#include "recovery/sqlite_format.h"

// One file the sources read: its name as the examiner knows it, its size,
// and the read of its bytes.
struct SourceFile {
  std::string name;
  std::uint64_t size = 0;
  std::function<ReadResult(std::uint64_t offset, std::span<std::uint8_t> out)> read;
};

// One page image to search, and where it is.
struct PageImage {
  Bytes page;
  std::uint32_t pageNumber = 0;
  bool live = false;          // the page as the database now has it
  bool freelist = false;      // a page of the main file's freelist
  const std::string* file = nullptr;  // the evidence file it is in
  std::uint64_t fileOffset = 0;       // of the page's first byte in that file
  std::string place;          // "page 12", "freelist page 40", "frame 7 (page 12)"
  // What could not be checked of the image, for the certainty of what it
  // holds: "" when its checksum, or the file's structure, vouches for it.
  std::string unchecked;
};

// What was searched, for the console.
struct SearchedPlaces {
  std::uint64_t pages = 0;
  std::uint64_t freelistPages = 0;
  std::uint64_t walFrames = 0;
  std::uint64_t journalPages = 0;
  std::vector<std::string> problems;  // damaged structures and failed reads passed over, in words
};

class PageSources {
 public:
  // database first, then a "-wal" and a "-journal" when there are (a size
  // of 0 or no name: none). False, with a problem said, when the
  // database's header is not SQLite's.
  bool Open(SourceFile database, SourceFile wal, SourceFile journal);
  // The same for the files the evidence layer opened.
  bool Open(const EvidenceFiles& files);

  const DatabaseHeader& header() const { return header_; }
  std::uint32_t pageCount() const { return pageCount_; }

  // Page n of the database as it now is: from the WAL's last committed frame
  // of it, else from the main file. False when there is no such page.
  bool ReadCurrentPage(std::uint32_t n, std::vector<std::uint8_t>& out) const;
  // The same for a page of an overflow chain; false too for a freelist
  // trunk page, whose first bytes (the trunk's own links) are no payload.
  bool ReadOverflowPage(std::uint32_t n, std::vector<std::uint8_t>& out) const;

  // The leaf pages of the table b-tree whose root is given, as the database
  // now is, each at most once, in the order of the tree.
  std::vector<std::uint32_t> TableLeaves(std::uint32_t root) const;
  // The table or index whose b-tree holds each page as the database now is, by page
  // number (-1 for none): every b-tree is walked from its root page, each
  // page at most once. rootPages: one per table, by table index.
  std::vector<int> PageOwners(const std::vector<std::uint32_t>& rootPages) const;

  // Gives visit every page image, in file order: the main file, the WAL, the
  // journal.
  void ForEachImage(const std::function<void(const PageImage&)>& visit);

  // What was searched, the reads that failed among the problems.
  SearchedPlaces searched() const;

 private:
  bool Read(const SourceFile& file, std::uint64_t offset, std::vector<std::uint8_t>& out) const;
  // Walks the b-tree from root, table or index, each page at most once
  // (seen, by page number), giving visit each page and whether it is a leaf.
  void WalkTree(std::uint32_t root, std::vector<bool>& seen,
                const std::function<void(std::uint32_t page, bool leaf)>& visit) const;
  void ReadFreelist();
  void IndexWal();
  void VisitMainFile(const std::function<void(const PageImage&)>& visit);
  void VisitWal(const std::function<void(const PageImage&)>& visit);
  void VisitJournal(const std::function<void(const PageImage&)>& visit);

  SourceFile database_;
  SourceFile wal_;
  SourceFile journal_;
  DatabaseHeader header_;
  std::uint32_t pageCount_ = 0;
  std::vector<bool> freelist_;  // by page number
  std::vector<bool> trunks_;    // by page number
  struct Frame {
    std::uint32_t page;
    bool valid;      // of the WAL's generation, checksum matching
    bool committed;  // at or before the last commit
    bool searched;   // valid, or of an earlier generation that its neighbours verify
  };
  std::vector<Frame> frames_;
  std::vector<std::uint32_t> currentFrame_;  // by page number: 1 + frame index, 0 for none
  // The reads that failed, by file: how many, and the first of them.
  struct FailedReads {
    std::uint64_t count = 0;
    std::uint64_t firstOffset = 0;
    std::string firstWhy;
  };
  mutable std::vector<std::pair<std::string, FailedReads>> failedReads_;
  SearchedPlaces searched_;
  std::vector<std::uint8_t> buffer_;
};
