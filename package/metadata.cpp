#include "package/metadata.h"

#include "common/utf.h"

std::u16string BuildMetadataBlock(const PackageFacts& facts) {
  std::u16string block = u"N=" + WideToUtf16(facts.name);
  const auto add = [&block](const char16_t* key, const std::wstring& value, bool always) {
    if (value.empty() && !always) return;
    block.push_back(u'\0');
    block += key;
    block += WideToUtf16(value);
  };
  add(u"A=", facts.author, false);
  add(u"Lumo=", facts.lumo, false);
  add(u"V=", facts.version, false);
  add(u"DP=", facts.date, true);  // the date picker always shows a date
  return block;
}
