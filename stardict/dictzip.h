#pragma once
// Writing a dictzip file: a gzip member whose header carries the "RA" random-access field
// (version 1, chunk length, chunk count, each chunk's compressed size), each chunk ended
// by a full flush so that a reader inflates it alone. StarDict readers open such a
// .dict.dz at any offset.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"

// Writes a dictzip file from a stream of data of known total size. Add the data in any
// pieces, then Finish; every step reports failure.
class CDictzipWriter {
 public:
  // The RA field's 16-bit length limits the chunk count.
  static constexpr uint32_t kMaxChunks = (0xFFFF - 10) / 2;

  CDictzipWriter();
  ~CDictzipWriter();
  CDictzipWriter(const CDictzipWriter&) = delete;
  CDictzipWriter& operator=(const CDictzipWriter&) = delete;

  // False when the file cannot be created or totalSize needs more than kMaxChunks.
  bool Begin(const std::wstring& path, uint64_t totalSize);
  // The same into a file the caller has created for writing; Finish closes it.
  bool Begin(platform::CBinaryFile file, uint64_t totalSize);
  bool Add(const void* data, size_t count);
  // Ends the stream, writes the trailer and the chunk table; false on any failure,
  // including data that did not add up to totalSize.
  bool Finish();
  // Why the file could not be written (the path and the system's reason, a full disk
  // told as such); ok when nothing failed there.
  const Status& FileError() const;

 private:
  bool FlushChunk();

  struct State;
  std::unique_ptr<State> m_state;
};
