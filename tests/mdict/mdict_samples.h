#pragma once
// The sample MDict dictionaries of tests/support/fixtures/mdict/ as an independent reader
// found them.

#include <string>
#include <vector>

#include "tests/mdict/mdict_writer.h"

namespace mdict_test {

// The keys and raw records of NAME.mdx in file order, from NAME.entries.jsonl.
std::vector<Entry> SampleEntries(const std::wstring& name);

}  // namespace mdict_test
