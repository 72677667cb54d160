#pragma once
// The package's metadata block: UTF-16 items "N=name", "A=author", "Lumo=number",
// "V=version", "DP=date", separated by one U+0000. The name and the date are always
// there; the other items only when their field is not empty. Values are taken as typed.

#include <string>
#include <string_view>

struct PackageFacts {
  std::wstring name;
  std::wstring author;
  std::wstring lumo;
  std::wstring version;
  std::wstring date;
};

std::u16string BuildMetadataBlock(const PackageFacts& facts);
