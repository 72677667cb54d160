#include "bench/wordlist_gen.h"

#include <string>
#include <vector>

namespace {

// splitmix64: small, fast and fully specified, so the lists never depend on the library.
class CRandom {
 public:
  explicit CRandom(uint64_t seed) : m_state(seed) {}
  uint64_t Next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n).
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>((Next() >> 32) * n >> 32); }
  // Skewed towards 0, as word frequencies are.
  uint32_t Skewed(uint32_t n) {
    const uint64_t a = Below(n), b = Below(n);
    return static_cast<uint32_t>(a * b / n);
  }
  bool Percent(uint32_t p) { return Below(100) < p; }

 private:
  uint64_t m_state;
};

const char* const kSyllables[] = {
    "ab", "ac", "al", "an", "ar", "ba", "be", "bi", "bo", "ca", "ce", "ci", "co", "da",
    "de", "di", "do", "el", "en", "er", "es", "fa", "fi", "fo", "ga", "ge", "gi", "ha",
    "he", "hi", "in", "is", "ka", "la", "le", "li", "lo", "ma", "me", "mi", "mo", "na",
    "ne", "ni", "no", "or", "pa", "pe", "pi", "po", "ra", "re", "ri", "ro", "sa", "se",
    "si", "so", "ta", "te", "ti", "to", "un", "ur", "va", "ve", "vi", "wa", "we", "ya",
    "tion", "ment", "ness", "ing", "ed", "ly", "ous", "ive", "able", "ist", "str", "th"};

// Common Chinese characters, UTF-8.
const char* const kHanzi[] = {
    "的", "一", "是", "不", "了", "人", "我", "在", "有", "他", "这", "为", "之", "大",
    "来", "以", "个", "中", "上", "们", "到", "说", "国", "和", "地", "也", "子", "时",
    "道", "出", "而", "要", "于", "就", "下", "得", "可", "你", "年", "生", "自", "会",
    "那", "后", "能", "对", "着", "事", "其", "里", "所", "去", "行", "过", "家", "十",
    "用", "发", "天", "如", "然", "作", "方", "成", "者", "多", "日", "都", "三", "小",
    "军", "二", "无", "同", "么", "经", "法", "当", "起", "与", "好", "看", "学", "进",
    "种", "将", "还", "分", "此", "心", "前", "面", "又", "定", "见", "只", "主", "没",
    "公", "从", "词", "典", "语", "义", "解", "释", "例", "句", "名", "动", "形", "容"};

const char* const kTags[] = {"n. ", "v. ", "adj. ", "adv. ", "prep. ", "vt. ", "vi. ",
                             "【名】", "【动】", "【形】", "abbr. ", "pron. "};

const char* const kPunctuation[] = {"; ", ", ", "。", "；", "，", ". ", " ", " ", " ", " "};

constexpr uint32_t kVocabularySize = 6000;

class CWordListGenerator {
 public:
  CWordListGenerator() : m_random(0x4C756D6F44696374ull) {
    CRandom vocabulary(12345);
    m_words.reserve(kVocabularySize);
    for (uint32_t i = 0; i < kVocabularySize; ++i) {
      std::string word;
      const uint32_t syllables = 1 + vocabulary.Below(4);
      for (uint32_t s = 0; s < syllables; ++s)
        word += kSyllables[vocabulary.Below(std::size(kSyllables))];
      m_words.push_back(word);
    }
  }

  // A headword of two to five syllables, a TAB, a part of speech and a few words.
  void ShortLine(std::string* line) {
    line->clear();
    for (uint32_t i = 2 + m_random.Below(4); i > 0; --i) *line += kSyllables[m_random.Below(std::size(kSyllables))];
    *line += '\t';
    *line += kTags[m_random.Below(std::size(kTags))];
    const size_t start = line->size();
    const uint32_t target = 10 + m_random.Below(20);
    while (line->size() - start < target) {
      if (m_random.Percent(30))
        *line += kHanzi[m_random.Skewed(std::size(kHanzi))];
      else
        *line += m_words[m_random.Skewed(kVocabularySize)];
      *line += kPunctuation[m_random.Below(std::size(kPunctuation))];
    }
    *line += "\r\n";
  }

  void Line(std::string* line) {
    line->clear();
    std::string headword = Headword();
    const char* separator = m_random.Percent(5) ? "," : "\t";
    if (m_random.Percent(1)) {
      // A quoted headword may hold the separator itself.
      *line += '"';
      *line += headword;
      *line += separator;
      *line += ' ';
      *line += m_words[m_random.Skewed(kVocabularySize)];
      *line += '"';
    } else {
      *line += headword;
    }
    *line += separator;
    const bool quoted = m_random.Percent(1);
    if (quoted) *line += '"';
    Explanation(line);
    if (quoted) *line += '"';
    *line += "\r\n";
  }

 private:
  std::string Headword() {
    // Some headwords come again: exactly, or with other letter case.
    if (!m_recent.empty() && m_random.Percent(3)) {
      std::string again = m_recent[m_random.Below(static_cast<uint32_t>(m_recent.size()))];
      if (m_random.Percent(50) && !again.empty() && again[0] >= 'a' && again[0] <= 'z')
        again[0] = static_cast<char>(again[0] - 'a' + 'A');
      return again;
    }
    std::string word;
    if (m_random.Percent(30)) {
      const uint32_t count = 1 + m_random.Below(4);
      for (uint32_t i = 0; i < count; ++i) word += kHanzi[m_random.Below(std::size(kHanzi))];
    } else {
      word = m_words[m_random.Below(kVocabularySize)];
      if (m_random.Percent(10)) word[0] = static_cast<char>(word[0] - 'a' + 'A');
      if (m_random.Percent(15)) {
        word += ' ';
        word += m_words[m_random.Skewed(kVocabularySize)];
      }
    }
    if (m_recent.size() < 4096)
      m_recent.push_back(word);
    else
      m_recent[m_random.Below(4096)] = word;
    return word;
  }

  // Mostly short explanations, some of a few hundred bytes, a few of kilobytes.
  void Explanation(std::string* out) {
    const uint32_t roll = m_random.Below(1000);
    uint32_t target;
    if (roll < 650)
      target = 15 + m_random.Below(45);
    else if (roll < 930)
      target = 60 + m_random.Below(140);
    else if (roll < 995)
      target = 200 + m_random.Below(400);
    else
      target = 600 + m_random.Below(2400);
    const size_t start = out->size();
    uint32_t sense = 1;
    while (out->size() - start < target) {
      if (m_random.Percent(12)) {
        *out += std::to_string(sense++);
        *out += ". ";
        *out += kTags[m_random.Below(std::size(kTags))];
      }
      if (m_random.Percent(35)) {
        const uint32_t count = 1 + m_random.Below(6);
        for (uint32_t i = 0; i < count; ++i) *out += kHanzi[m_random.Skewed(std::size(kHanzi))];
      } else {
        *out += m_words[m_random.Skewed(kVocabularySize)];
      }
      *out += kPunctuation[m_random.Below(std::size(kPunctuation))];
    }
  }

  CRandom m_random;
  std::vector<std::string> m_words;
  std::vector<std::string> m_recent;
};

}  // namespace

uint64_t GenerateWordList(uint64_t lines, std::ostream& out, WordListShape shape) {
  CWordListGenerator generator;
  std::string line;
  uint64_t bytes = 0;
  for (uint64_t i = 0; i < lines; ++i) {
    if (shape == WordListShape::kShort)
      generator.ShortLine(&line);
    else
      generator.Line(&line);
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    bytes += line.size();
  }
  return bytes;
}
