#pragma once
// Compressing the dictionary data into the chunked layout of the package's data section
// (format.h): chunks of kChunkLength bytes, each ending with a full flush so that it
// inflates on its own, their table in front, the CRC-32 and size of the input behind.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "common/status.h"
#include "package/format.h"
#include "platform/file.h"

// What a caller may ask of a compression under way: to stop it (a kCancelled failure once
// *running is cleared, noticed before every chunk on every thread), and to hear how many
// of the chunks are done, on the calling thread only.
struct CompressControl {
  const std::atomic<bool>* running = nullptr;
  std::function<void(uint32_t done, uint32_t total)> progress;
};

// Compresses source into destination; a failure when a file could not be opened, read or
// written, or deflate failed (the destination is then incomplete). threads = 0 uses one
// thread per core; the output is the same for every thread count.
Status CompressDataFile(const std::wstring& source, const std::wstring& destination,
                        unsigned threads = 1);
// The same into a file the caller has created and opened for writing; it is closed here.
Status CompressDataFile(const std::wstring& source, platform::CBinaryFile* destination,
                        unsigned threads = 1, const CompressControl& control = {});
