#pragma once
// A deterministic generator of benchmark word lists: the same line count always gives the
// same bytes, on every platform and compiler (our own random numbers, no std
// distributions).
//
// Each line is a headword, a TAB (a comma on some lines) and an explanation, ended by
// CR LF. Headwords are English-looking words and phrases or Chinese words; explanations
// are of mixed length (mostly short, a few of several kilobytes) mixing both scripts; a
// few fields are quoted with a separator inside, and some headwords come again, also in
// other letter case.

#include <cstdint>
#include <ostream>

// The mixed lines above, or short ones: a headword of a few syllables and an explanation
// of a few words, about 39 bytes a line, so that the entries outnumber the text.
enum class WordListShape { kMixed, kShort };

// Writes `lines` lines to out; returns the number of bytes written.
uint64_t GenerateWordList(uint64_t lines, std::ostream& out,
                          WordListShape shape = WordListShape::kMixed);
