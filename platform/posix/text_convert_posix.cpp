// The ANSI code page on POSIX is the one Windows would use for the user's locale, as Wine
// derives it from LC_ALL, LC_CTYPE or LANG; the conversions go through iconv.

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/utf.h"
#include "platform/text_convert.h"

namespace platform {

namespace {

unsigned CodePageForLocale(std::string locale) {
  const size_t cut = locale.find_first_of(".@");
  if (cut != std::string::npos) locale.resize(cut);
  struct Row {
    const char* prefix;
    unsigned codePage;
  };
  static constexpr Row kRows[] = {
      {"zh_CN", 936}, {"zh_SG", 936}, {"zh_TW", 950}, {"zh_HK", 950}, {"ja", 932},
      {"ko", 949},    {"ru", 1251},   {"uk", 1251},   {"bg", 1251},   {"pl", 1250},
      {"cs", 1250},   {"hu", 1250},   {"el", 1253},   {"tr", 1254},   {"he", 1255},
      {"ar", 1256},   {"vi", 1258},   {"th", 874},
  };
  for (const Row& row : kRows)
    if (locale.rfind(row.prefix, 0) == 0) return row.codePage;
  return 1252;
}

// iconv's name of a Windows code page: most by their number, GB18030 (54936) by its name.
std::string IconvName(unsigned codePage) {
  return codePage == 54936 ? "GB18030" : "CP" + std::to_string(codePage);
}

// One converter per thread and direction; iconv descriptors are not shareable.
class Converter {
 public:
  Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
  ~Converter() {
    if (m_cd != reinterpret_cast<iconv_t>(-1)) iconv_close(m_cd);
  }
  bool Ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

  // Converts as much as possible; returns false at an invalid or incomplete sequence,
  // with *in and *inLeft at the offending input.
  bool Run(char** in, size_t* inLeft, std::string* out) {
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    char buffer[4096];
    while (*inLeft > 0) {
      char* o = buffer;
      size_t oLeft = sizeof buffer;
      const size_t r = iconv(m_cd, in, inLeft, &o, &oLeft);
      out->append(buffer, o - buffer);
      if (r == static_cast<size_t>(-1) && errno != E2BIG) return false;
    }
    return true;
  }

 private:
  iconv_t m_cd;
};

// The calling thread's converter between a code page and UTF-8, made again when the code
// page changes.
Converter& CachedConverter(bool toAnsi, unsigned codePage) {
  struct Cache {
    unsigned codePage = 0;
    std::unique_ptr<Converter> converter;
  };
  thread_local Cache caches[2];
  Cache& cache = caches[toAnsi ? 1 : 0];
  if (!cache.converter || cache.codePage != codePage) {
    const std::string ansi = IconvName(codePage);
    cache.converter = toAnsi ? std::make_unique<Converter>(ansi.c_str(), "UTF-8")
                             : std::make_unique<Converter>("UTF-8", ansi.c_str());
    cache.codePage = codePage;
  }
  return *cache.converter;
}

}  // namespace

unsigned AnsiCodePage() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return CodePageForLocale(value);
  }
  return 1252;
}

std::wstring AnsiToWide(std::string_view text) { return AnsiToWide(text, AnsiCodePage()); }

bool IsCodePageSupported(unsigned codePage) {
  // The code page numbers are Windows's; iconv knows most of them by the same "CP" name.
  return CachedConverter(false, codePage).Ok();
}

namespace {

// text in UTF-8, as AnsiToUtf8 gives it; *unmapped counts the bytes replaced.
std::string ConvertAnsi(std::string_view text, unsigned codePage, size_t* unmapped) {
  Converter* const converter = &CachedConverter(false, codePage == 0 ? AnsiCodePage() : codePage);
  std::string utf8;
  *unmapped = 0;
  if (!converter->Ok()) {
    for (unsigned char c : text) AppendUtf8(&utf8, c < 0x80 ? c : kReplacementChar);
    for (unsigned char c : text) *unmapped += c >= 0x80;
    return utf8;
  }
  std::string input(text);
  char* in = input.data();
  size_t inLeft = input.size();
  while (!converter->Run(&in, &inLeft, &utf8)) {
    // An invalid byte: the system replaces it and goes on with the next byte. glibc's UHC
    // (code page 949) converter reports some sequences invalid after it took them in, at
    // the end of the text: nothing is left there to step over.
    AppendUtf8(&utf8, kReplacementChar);
    ++*unmapped;
    if (inLeft == 0) break;
    ++in;
    --inLeft;
  }
  return utf8;
}

}  // namespace

std::string AnsiToUtf8(std::string_view text, unsigned codePage) {
  size_t unmapped = 0;
  return ConvertAnsi(text, codePage, &unmapped);
}

size_t AnsiUnmappedBytes(std::string_view text, unsigned codePage) {
  size_t unmapped = 0;
  ConvertAnsi(text, codePage, &unmapped);
  return unmapped;
}

std::wstring AnsiToWide(std::string_view text, unsigned codePage) {
  return Utf8ToWideText(AnsiToUtf8(text, codePage));
}

std::string WideToAnsi(std::wstring_view text) {
  Converter* const converter = &CachedConverter(true, AnsiCodePage());
  std::string out;
  for (wchar_t w : text) {
    // Character by character, so that one that the code page lacks becomes "?".
    std::string utf8;
    AppendUtf8(&utf8, static_cast<char32_t>(w));
    char* in = utf8.data();
    size_t inLeft = utf8.size();
    if (!converter->Ok() || !converter->Run(&in, &inLeft, &out)) out.push_back('?');
  }
  return out;
}

}  // namespace platform
