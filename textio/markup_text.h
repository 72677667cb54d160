#pragma once
// Readable plain text from the markup of dictionary entries (HTML, Pango markup, XDXF):
// tags removed, a line break for <br> and around a block (a paragraph, a list item, a
// table row, a heading...), character references and the common named entities
// decoded. Line breaks already in the text stay; no more than one empty line is left
// between blocks, and none at either end.

#include <string>
#include <string_view>

std::string MarkupToText(std::string_view markup);
// The same into *out (its room kept), for a caller that makes many texts in turn.
void MarkupToText(std::string_view markup, std::string* out);
