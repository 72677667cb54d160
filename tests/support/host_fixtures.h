#pragma once
// Fixtures shared by the host, package and command tests: packages, StarDict dictionaries
// built in a temporary folder, and a sink that records the messages shown.

#include <cstdint>
#include <string>
#include <vector>

#include "host/registration.h"
#include "tests/support/test_support.h"

namespace host_test {

// A path in dir whose last backslash stands right before name, as in the Windows paths
// LumoDict lists (on POSIX the backslash is part of the file's name).
std::wstring ListedPath(const lumo_test::TempDir& dir, const std::wstring& name);

// The folder of the committed fixtures, as the program under test names it.
std::wstring FixturePath(const std::wstring& name);

// A package whose header holds these numbers (the checksum is the CRC-32 of the whole
// file) and whose metadata block is the given bytes.
std::string PackageBytes(uint32_t entryCount, uint32_t indexSize, const std::string& metaBytes);
// The metadata block of items separated by U+0000, as UTF-16LE bytes.
std::string MetaBytes(const std::vector<std::u16string>& items);
// A small valid package at path; different seeds give different checksums.
void WritePackage(const std::wstring& path, uint32_t seed, uint32_t entryCount = 3,
                  uint32_t indexSize = 40);

// An information file with its .idx (idxBytes long) and, when dataBytes > 0, a .dict.
void WriteStarDict(const std::wstring& ifoPath, const std::string& ifo, size_t idxBytes = 57,
                   size_t dataBytes = 100);

class CRecordingSink : public IWarningSink {
 public:
  void ShowWarning(UserMessage message, const Status&) override { m_messages.push_back(message); }
  std::vector<UserMessage> m_messages;
};

// Settings text with "<DIR>\" standing for dir's path and separator, and back.
std::string WithDir(const lumo_test::TempDir& dir, const std::string& text);
std::string WithoutDir(const lumo_test::TempDir& dir, const std::string& text);

// ASCII or UTF-8 text as UTF-16LE bytes with a byte-order mark.
std::string Utf16File(const std::string& utf8);

}  // namespace host_test
