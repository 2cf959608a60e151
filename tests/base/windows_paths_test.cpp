// The paths the Windows halves give the wide API: as they are while short,
// in the "\\?\" form of the whole path once they would pass the 260
// characters of Windows' old limit (which Wine does not keep, so only the
// form itself can be checked here).

#include <gtest/gtest.h>

#include <string>

#include "base/windows_system.h"

namespace {

TEST(WindowsPaths, LongPathsTakeTheExtendedFormAndShortOnesStayAsTheyAre) {
  EXPECT_EQ(SystemPath("places.sqlite"), L"places.sqlite");
  EXPECT_EQ(SystemPath("C:\\evidence\\places.sqlite"), L"C:\\evidence\\places.sqlite");

  const std::string name(240, 'R');
  const std::wstring wideName(240, L'R');
  EXPECT_EQ(SystemPath("C:\\evidence\\" + name), L"\\\\?\\C:\\evidence\\" + wideName);
  EXPECT_EQ(SystemPath("\\\\server\\share\\" + name), L"\\\\?\\UNC\\server\\share\\" + wideName);
  // A name in the current folder becomes the whole path of it.
  const std::wstring relative = SystemPath(name);
  EXPECT_TRUE(relative.starts_with(L"\\\\?\\")) << Narrow(relative);
  EXPECT_TRUE(relative.ends_with(L"\\" + wideName)) << Narrow(relative);
  // Text beyond ASCII is carried over whole.
  EXPECT_EQ(SystemPath("caf\xC3\xA9"), L"caf\u00E9");
}

}  // namespace
