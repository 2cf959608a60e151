#pragma once

// The one builder of output file names, and the names a task run has taken.
//
// A name is built from parts: the case reference, the case name, the
// database and table names, the fixed separators between them. Every part is
// treated alike, whoever typed or stored it, so that a name always stands
// for exactly one file in the current folder:
// - "/", "\" and the control bytes 0x00 to 0x1F and 0x7F become "_": no part
//   can name another folder, end the name early, or break a line in a
//   listing; so do the bytes the system forbids (on Windows < > : " | ? *,
//   where a ":" would write into a stream of another file), and the whole
//   name keeps the system's other rules (on Windows: no dot or blank at its
//   end, no device name such as CON or NUL as its stem);
// - a name longer than the file system's 255 bytes is shortened, the longest
//   parts first and each at a UTF-8 character boundary, until it fits with
//   its extension; a short table name beside a long case reference is kept
//   whole.
// Two different tables can still come to the same name ("a/b" and "a_b", or
// two long names that differ only past the cut); OutputNames gives the later
// one a name of its own.

#include <span>
#include <string>
#include <string_view>
#include <unordered_set>

// NAME_MAX of Linux file systems.
inline constexpr std::size_t kLongestFileName = 255;

// The parts in order, then " (<copy>)" when copy is 2 or more, then the
// extension, made safe and short enough as said above.
std::string BuildFileName(std::span<const std::string_view> parts, std::string_view extension, unsigned copy = 1);

struct ClaimedName {
  std::string name;
  // The name carries a copy number: its plain form was taken.
  bool renamed = false;
};

// The names taken by the files of one task run. A name is taken when an
// earlier file of the run has it, or when a folder or another file that is
// no regular file holds it (an output replaces a regular file or a link of
// its name, never anything else). Letters are compared without regard to
// ASCII case, so that a run on a case-insensitive file system never writes
// two files to one. A later task run starts afresh, and so replaces the
// earlier run's files under the same names.
class OutputNames {
 public:
  // remember: false for names that are different by construction, such as
  // those of favicon ids, which need the check against the folder only.
  explicit OutputNames(bool remember = true) : remember_(remember) {}

  // The first of the plain name, then " (2)", " (3)", ... that is not taken,
  // which from now on is.
  ClaimedName Claim(std::span<const std::string_view> parts, std::string_view extension);

 private:
  bool IsTaken(const std::string& name) const;

  bool remember_;
  std::unordered_set<std::string> taken_;  // in ASCII lower case
};
