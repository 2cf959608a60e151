// Chrome's transitions in words: the core type of the low byte, then each
// qualifier, lowest bit first; anything without a name as its number.

#include "usage_reports/page_transitions.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Text(std::int64_t stored) {
  std::string text;
  AppendTransitionText(text, stored);
  return text;
}

TEST(PageTransitions, CoreTypesQualifiersAndWhatHasNoName) {
  struct Case {
    std::int64_t stored;
    std::string expected;
  };
  const Case cases[] = {
      {0, "Link"},
      {1, "Typed"},
      {2, "Auto Bookmark"},
      {3, "Auto Subframe"},
      {4, "Manual Subframe"},
      {5, "Generated"},
      {6, "Auto Toplevel"},
      {7, "Form Submit"},
      {8, "Reload"},
      {9, "Keyword"},
      {10, "Keyword Generated"},
      {0x00800000, "Link; Blocked"},
      {0x01000001, "Typed; Forward Back"},
      {0x02000001, "Typed; From Address Bar"},
      {0x04000006, "Auto Toplevel; Home Page"},
      {0x38000001, "Typed; From API; Chain Start; Chain End"},
      {0x40000000, "Link; Client Redirect"},
      // Stored as Chrome's signed 32 bits: a server redirect reads negative.
      {-1610612736, "Link; Chain End; Server Redirect"},
      {0xA0000000, "Link; Chain End; Server Redirect"},
      {-1879048192, "Link; Chain Start; Server Redirect"},
      // No name: a core type past Keyword Generated, a qualifier bit Chrome
      // no longer names (an experiment's), bits beyond the 32.
      {11, "11"},
      {0x3000000B, "805306379"},
      {0x00400000, "4194304"},
      {0x100000000, "4294967296"},
      {-2147483649LL, "-2147483649"},
  };
  for (const Case& c : cases) EXPECT_EQ(Text(c.stored), c.expected) << c.stored;
}

}  // namespace
