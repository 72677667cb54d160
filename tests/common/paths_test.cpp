#include <gtest/gtest.h>

#include "common/paths.h"

namespace {

TEST(Paths, SplitAtTheBackslashOnly) {
  struct Case {
    const wchar_t* path;
    const wchar_t* extension;
    const wchar_t* base;
    const wchar_t* directory;
  } cases[] = {
      {L"D:\\words\\english.txt", L"txt", L"english", L"D:\\words"},
      {L"C:\\data.old\\list", L"old\\list", L"", L"C:\\data.old"},
      {L"noslash.txt", L"txt", L"", L""},
      {L"C:\\Words.ldic", L"ldic", L"Words", L"C:"},
      {L"C:\\a\\.hidden", L"hidden", L"", L"C:\\a"},
      {L"/unix/path.txt", L"txt", L"", L""},
      {L"", L"", L"", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathExtension(c.path), c.extension) << c.path;
    EXPECT_EQ(PathBaseName(c.path), c.base) << c.path;
    EXPECT_EQ(PathDirectory(c.path), c.directory) << c.path;
  }
}

}  // namespace
