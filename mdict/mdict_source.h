#pragma once
// An MDict dictionary (.mdx) as a source of entries: each key with its record as the reader
// makes it (style sheets expanded, HTML made text unless the markup is kept, aliases given
// their targets' explanations). Entries without a headword, in a damaged record block or
// aliases that lead nowhere are told to the run report by their numbers in the file; the
// resources of a NAME.mdd beside it are not read, and the report says so.

#include <memory>
#include <string>

#include "textio/entry_source.h"

struct MdictSourceOptions {
  // The HTML kept (style sheet expanded) instead of made into plain text.
  bool keepMarkup = false;
};

// The dictionary at path; one that cannot be read is a failure of Opened(), naming the
// file and what is wrong with it.
std::unique_ptr<IEntrySource> OpenMdictSource(const std::wstring& path, const MdictSourceOptions& options);
