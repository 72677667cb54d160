#pragma once
// A StarDict dictionary as a source of entries: each taken as it is, without the splitting
// and trimming of a word-list line; entries that hold only sounds and pictures, have no
// headword or cannot be read are told to the run report by their number (the index's
// entries first, then the synonyms). It is read again, when its explanations do not fit
// the memory, while its files are unchanged.

#include <memory>
#include <string>

#include "stardict/stardict_reader.h"
#include "textio/entry_source.h"

// The dictionary named by its .ifo; a dictionary that cannot be read is a failure of
// Opened(), naming the file and what is wrong with it.
std::unique_ptr<IEntrySource> OpenStarDictSource(const std::wstring& ifoPath, const StarDictOptions& options);
