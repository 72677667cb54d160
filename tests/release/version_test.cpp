// The release's version, read back from the built programs as Windows reads it: the
// version resource of LumoDictGen.exe and ldic.exe and the manifest's assembly version
// must all carry the project's version, and the copyright the licence's.
#include <windows.h>

#include <gtest/gtest.h>

#include "release_facts.h"

#include <fstream>
#include <string>
#include <vector>

namespace {

std::wstring Widen(const char* utf8) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  std::wstring text(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.data(), n);
  return text;
}

struct VersionInfo {
  std::vector<char> block;
  std::wstring Value(const wchar_t* name) const {
    const std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
    void* text = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), key.c_str(), &text, &length) || length == 0) return {};
    return static_cast<const wchar_t*>(text);
  }
};

VersionInfo ReadVersionInfo(const std::wstring& path) {
  VersionInfo info;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), nullptr);
  if (size == 0) return info;
  info.block.resize(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, info.block.data())) info.block.clear();
  return info;
}

// The copyright line of LICENSE, as the release ships it.
std::string LicenseCopyright() {
  std::ifstream license(LUMO_LICENSE_FILE);
  for (std::string line; std::getline(license, line);)
    if (line.rfind("Copyright ", 0) == 0) return line;
  return {};
}

struct Program {
  const char* path;
  const char* fileName;
  const char* description;
};

const Program kPrograms[] = {
    {LUMO_APP_EXE, "LumoDictGen.exe", LUMO_PRODUCT_NAME},
    {LUMO_LDIC_EXE, "ldic.exe", LUMO_PRODUCT_NAME " 命令行工具 (ldic)"},
};

TEST(ReleaseVersion, BothProgramsCarryTheProjectVersionAndProduct) {
  for (const Program& program : kPrograms) {
    SCOPED_TRACE(program.fileName);
    const VersionInfo info = ReadVersionInfo(Widen(program.path));
    ASSERT_FALSE(info.block.empty()) << "no version resource in " << program.path;

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(info.block.data(), L"\\", reinterpret_cast<void**>(&fixed),
                                 &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    for (const DWORD* parts : {&fixed->dwFileVersionMS, &fixed->dwProductVersionMS}) {
      EXPECT_EQ(HIWORD(parts[0]), LUMO_VERSION_MAJOR);
      EXPECT_EQ(LOWORD(parts[0]), LUMO_VERSION_MINOR);
      EXPECT_EQ(HIWORD(parts[1]), LUMO_VERSION_PATCH);
    }

    const std::pair<const wchar_t*, std::wstring> expected[] = {
        {L"FileVersion", Widen(LUMO_VERSION)},
        {L"ProductVersion", Widen(LUMO_VERSION)},
        {L"ProductName", Widen(LUMO_PRODUCT_NAME)},
        {L"CompanyName", Widen(LUMO_PUBLISHER)},
        {L"FileDescription", Widen(program.description)},
        {L"OriginalFilename", Widen(program.fileName)},
    };
    for (const auto& [name, value] : expected) EXPECT_EQ(info.Value(name), value) << name;
    const std::string copyright = LicenseCopyright();
    ASSERT_FALSE(copyright.empty()) << LUMO_LICENSE_FILE;
    EXPECT_EQ(info.Value(L"LegalCopyright"), Widen((copyright + " (MIT License)").c_str()));
  }
}

TEST(ReleaseVersion, TheManifestNamesTheProjectVersion) {
  const HMODULE module = ::LoadLibraryExW(Widen(LUMO_APP_EXE).c_str(), nullptr,
                                          LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(found, nullptr);
  const char* text = static_cast<const char*>(::LockResource(::LoadResource(module, found)));
  const std::string manifest(text, ::SizeofResource(module, found));
  ::FreeLibrary(module);
  const std::string identity = manifest.substr(0, manifest.find("<dependency>"));
  EXPECT_NE(identity.find("version=\"" LUMO_VERSION_QUAD "\""), std::string::npos) << identity;
}

}  // namespace
