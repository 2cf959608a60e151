#pragma once

// The places where SQLite leaves deleted records, as page images to carve:
// - every page of the database file: a page the database still uses is
//   live (only its free space is searched), a page of the freelist (freed by
//   a delete or a dropped table) is not, and neither is a page whose newer
//   image a committed WAL frame holds (the main file's image is older);
// - every frame of the "-wal": the last committed frame of each page is the
//   page as the database now has it (its free space searched); older frames,
//   frames after the last commit and frames of an earlier WAL generation
//   (other salts) are older images, every cell of them searched;
// - every page image of the "-journal": the pages as they were before an
//   unfinished transaction, every cell searched.
//
// Format facts relied on ("Database File Format"): 1.3 the header, 1.5 the
// freelist (trunk pages chained from the header, each listing leaf pages),
// 4.1-4.3 the WAL (header, frames, and a frame being valid when its salts
// are the header's and the running checksum over the header and every
// frame so far matches; a commit frame gives the database size), 1.4 the
// rollback journal (a header padded to a sector, then page records). Every
// page number, count and size read is checked against the files: a freelist
// chain is followed with a visited set and at most as many trunks as the
// file has pages, and nothing is read past the end of a file.
//
// Files are read a page at a time through their descriptors, so memory does
// not grow with the files; only the WAL's index of frames (one entry per
// frame) and the freelist's page numbers are kept.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "evidence/evidence_files.h"
#include "recovery/sqlite_format.h"

// One page image to search, and where it is.
struct PageImage {
  Bytes page;
  std::uint32_t pageNumber = 0;
  bool live = false;          // the page as the database now has it
  bool freelist = false;      // a page of the main file's freelist
  const std::string* file = nullptr;  // the evidence file it is in
  std::uint64_t fileOffset = 0;       // of the page's first byte in that file
  std::string place;          // "page 12", "freelist page 40", "frame 7 (page 12)"
};

// What was searched, for the console.
struct SearchedPlaces {
  std::uint64_t pages = 0;
  std::uint64_t freelistPages = 0;
  std::uint64_t walFrames = 0;
  std::uint64_t journalPages = 0;
  std::vector<std::string> problems;  // damaged structures passed over, in words
};

class PageSources {
 public:
  // files: the database first, then its sidecars (evidence_files.h). False,
  // with a problem said, when the database's header is not SQLite's.
  bool Open(const EvidenceFiles& files);

  const DatabaseHeader& header() const { return header_; }
  std::uint32_t pageCount() const { return pageCount_; }

  // Page n of the database as it now is: from the WAL's last committed frame
  // of it, else from the main file. False when there is no such page.
  bool ReadCurrentPage(std::uint32_t n, std::vector<std::uint8_t>& out) const;
  // The same for a page of an overflow chain; false too for a freelist
  // trunk page, whose first bytes (the trunk's own links) are no payload.
  bool ReadOverflowPage(std::uint32_t n, std::vector<std::uint8_t>& out) const;

  // The table whose b-tree holds each page as the database now is, by page
  // number (-1 for none): every b-tree is walked from its root page, each
  // page at most once. rootPages: one per table, by table index.
  std::vector<int> PageOwners(const std::vector<std::uint32_t>& rootPages) const;

  // Gives visit every page image, in file order: the main file, the WAL, the
  // journal.
  void ForEachImage(const std::function<void(const PageImage&)>& visit);

  const SearchedPlaces& searched() const { return searched_; }

 private:
  bool ReadAt(const EvidenceFile& file, std::uint64_t offset, std::vector<std::uint8_t>& out) const;
  void ReadFreelist();
  void IndexWal();
  void VisitMainFile(const std::function<void(const PageImage&)>& visit);
  void VisitWal(const std::function<void(const PageImage&)>& visit);
  void VisitJournal(const std::function<void(const PageImage&)>& visit);

  const EvidenceFile* database_ = nullptr;
  const EvidenceFile* wal_ = nullptr;
  const EvidenceFile* journal_ = nullptr;
  DatabaseHeader header_;
  std::uint32_t pageCount_ = 0;
  std::vector<bool> freelist_;  // by page number
  std::vector<bool> trunks_;    // by page number
  struct Frame {
    std::uint32_t page;
    bool valid;      // of the WAL's generation, checksum matching
    bool committed;  // at or before the last commit
  };
  std::vector<Frame> frames_;
  std::vector<std::uint32_t> currentFrame_;  // by page number: 1 + frame index, 0 for none
  SearchedPlaces searched_;
  std::vector<std::uint8_t> buffer_;
};
