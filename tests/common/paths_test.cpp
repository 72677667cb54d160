#include <gtest/gtest.h>

#include <filesystem>

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

// The file name's extension, as ldic takes it with std::filesystem: the last "." of the
// file name alone counts, and a leading one starts no extension.
TEST(Paths, TheFileNamesOwnExtension) {
  struct Case {
    const wchar_t* path;
    const wchar_t* extension;
    const wchar_t* without;
    const wchar_t* package;  // WithExtension(path, L"ldic")
  } cases[] = {
      {L"D:\\words\\english.txt", L"txt", L"D:\\words\\english", L"D:\\words\\english.txt.ldic"},
      {L"D:\\data\\zhang.san\\wordlist", L"", L"D:\\data\\zhang.san\\wordlist", L"D:\\data\\zhang.san\\wordlist.ldic"},
      {L"D:\\data\\plainlist", L"", L"D:\\data\\plainlist", L"D:\\data\\plainlist.ldic"},
      {L"D:\\a\\.hidden", L"", L"D:\\a\\.hidden", L"D:\\a\\.hidden.ldic"},
      {L"D:\\a\\a.b.txt", L"txt", L"D:\\a\\a.b", L"D:\\a\\a.b.txt.ldic"},
      {L"D:\\a\\list.", L"", L"D:\\a\\list", L"D:\\a\\list.ldic"},
      {L"D:\\a\\UPPER.LDIC", L"LDIC", L"D:\\a\\UPPER", L"D:\\a\\UPPER.ldic"},
      {L"D:\\a\\Mixed.lDic", L"lDic", L"D:\\a\\Mixed", L"D:\\a\\Mixed.ldic"},
      {L"D:\\a\\done.ldic", L"ldic", L"D:\\a\\done", L"D:\\a\\done.ldic"},
      {L"D:/forward.dir/list", L"", L"D:/forward.dir/list", L"D:/forward.dir/list.ldic"},
      {L"no-folder.csv", L"csv", L"no-folder", L"no-folder.csv.ldic"},
      {L"D:\\folder\\", L"", L"D:\\folder\\", L"D:\\folder\\"},
      {L"", L"", L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.path)));
    EXPECT_EQ(FileNameExtension(c.path), c.extension);
    EXPECT_EQ(WithoutFileNameExtension(c.path), c.without);
    EXPECT_EQ(WithExtension(c.path, L"ldic"), c.package);
    // ldic's default package path for the same name: the extension replaced, not added.
    std::wstring portable(c.path);
    for (wchar_t& ch : portable)
      if (ch == L'\\') ch = L'/';
    if (!PathFileName(portable).empty()) {
      EXPECT_EQ(std::wstring(WithoutFileNameExtension(portable)) + L".ldic",
                std::filesystem::path(portable).replace_extension(L".ldic").generic_wstring());
    }
  }
}

}  // namespace
