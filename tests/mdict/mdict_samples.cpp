#include "tests/mdict/mdict_samples.h"

#include <sstream>
#include <string_view>

#include "common/utf.h"
#include "tests/support/host_fixtures.h"
#include "tests/support/test_support.h"

namespace mdict_test {

namespace {

// The strings of one line of the samples' JSON: ["headword", "record"].
std::vector<std::string> JsonStrings(std::string_view line) {
  std::vector<std::string> out;
  for (size_t at = 0; at < line.size(); ++at) {
    if (line[at] != '"') continue;
    std::string text;
    for (++at; at < line.size() && line[at] != '"'; ++at) {
      if (line[at] != '\\') {
        text.push_back(line[at]);
        continue;
      }
      const char c = line[++at];
      if (c == 'u') {
        char32_t code = static_cast<char32_t>(std::stoul(std::string(line.substr(at + 1, 4)), nullptr, 16));
        at += 4;
        if (code >= 0xD800 && code <= 0xDBFF && line.substr(at + 1, 2) == "\\u") {
          const auto low =
              static_cast<char32_t>(std::stoul(std::string(line.substr(at + 3, 4)), nullptr, 16));
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          at += 6;
        }
        AppendUtf8(&text, code);
      } else {
        text.push_back(c == 'n'   ? '\n'
                       : c == 'r' ? '\r'
                       : c == 't' ? '\t'
                       : c == 'b' ? '\b'
                       : c == 'f' ? '\f'
                                  : c);
      }
    }
    out.push_back(text);
  }
  return out;
}

}  // namespace

std::vector<Entry> SampleEntries(const std::wstring& name) {
  std::vector<Entry> entries;
  std::istringstream lines(
      lumo_test::ReadBytes(host_test::FixturePath(L"mdict/" + name + L".entries.jsonl")));
  for (std::string line; std::getline(lines, line);) {
    const std::vector<std::string> pair = JsonStrings(line);
    if (pair.size() == 2) entries.push_back({pair[0], pair[1]});
  }
  return entries;
}

}  // namespace mdict_test
