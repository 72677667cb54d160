#include "bench/mdict_gen.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bench/wordlist_gen.h"
#include "tests/mdict/mdict_writer.h"
#include "textio/line_parse.h"

namespace {

// ASCII letters without case first, then the bytes: the order MDict's builder gives its keys.
bool KeyLess(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(a[i] >= 'A' && a[i] <= 'Z' ? a[i] + 32 : a[i]);
    const auto y = static_cast<unsigned char>(b[i] >= 'A' && b[i] <= 'Z' ? b[i] + 32 : b[i]);
    if (x != y) return x < y;
  }
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

}  // namespace

uint64_t MakeMdictDictionary(uint64_t entries, const std::string& path) {
  std::ostringstream list;
  GenerateWordList(entries, list);
  const std::string text = list.str();
  std::vector<std::pair<std::string, std::string>> pairs;  // headword, explanation
  std::unordered_map<std::string, int> repeats;
  static const char* const kParts[] = {"n.", "v.", "adj.", "adv.", "prep.", "conj."};
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    LineFields fields;
    if (!SplitLine(line, &fields)) continue;
    const std::string_view word = TrimFieldChars(fields.first);
    if (word.empty()) continue;
    // A dictionary's keys are its own: a headword the list repeats is numbered, as
    // homographs are ("bank", "bank 2").
    const int seen = ++repeats[std::string(word)];
    pairs.emplace_back(seen == 1 ? std::string(word) : std::string(word) + " " + std::to_string(seen),
                       std::string(TrimFieldChars(fields.second)));
  }
  std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return KeyLess(a.first, b.first); });

  mdict_test::Dictionary d;
  d.title = "Benchmark Dictionary";
  d.description = "<p>Made by lumo_bench</p>";
  d.keysPerBlock = 1500;
  d.recordBlockBytes = 64 << 10;
  for (size_t i = 0; i < pairs.size(); ++i) {
    const auto& [word, explanation] = pairs[i];
    if (i % 20 == 19) {
      d.entries.push_back({word, "@@@LINK=" + pairs[i - 1].first});
      continue;
    }
    // An example taken from another entry, so that the text is as varied as a real one's.
    const std::string& example = pairs[(i * 7919 + 13) % pairs.size()].second;
    d.entries.push_back(
        {word, "<link rel=\"stylesheet\" type=\"text/css\" href=\"dict.css\"><div class=\"entry\">"
               "<span class=\"hw\"><b>" + mdict_test::EscapeHtml(word) + "</b></span> <span class=\"pos\"><i>" +
               kParts[i % 6] + "</i></span> <span class=\"def\"><font color=\"#1a1a8c\">" +
               mdict_test::EscapeHtml(explanation) + "</font></span> <span class=\"ex\"><i>e.g.</i> " +
               mdict_test::EscapeHtml(example) + "</span> <a class=\"more\" href=\"entry://" +
               mdict_test::EscapeHtml(word) + "\">more</a></div>"});
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << mdict_test::WriteMdict(d);
  out.close();
  return out ? d.entries.size() : 0;
}
