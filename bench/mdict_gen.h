#pragma once
// A deterministic MDict dictionary for benchmarks, of the size and shape of a real one.

#include <cstdint>
#include <string>

// Writes to path an MDict dictionary (version 2.0, UTF-8, zlib blocks of about 64 KiB) of
// `entries` keys, sorted as MDict's builder sorts them, taken from the deterministic word
// list of as many lines (bench/wordlist_gen.h): each record is the line's explanation in
// the markup of a real dictionary's entry (a style sheet link, the headword, a part of
// speech, the explanation, a link to more), and every twentieth key is a link record to
// the key before it. Returns the number of keys written; 0 when the file cannot be written.
uint64_t MakeMdictDictionary(uint64_t entries, const std::string& path);
