#include "mdict/lzo1x.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/memory_fault.h"

namespace {

// A match of the kind that follows a literal run of four or more reaches this much further
// back than the short one.
constexpr size_t kLongM1Offset = 0x0800;
// The far matches' distances start here; distance 0x4000 exactly is the end marker.
constexpr size_t kFarOffset = 0x4000;

// The stream as instructions read it, and the output as they write it, both checked.
class CLzoStream {
 public:
  CLzoStream(std::string_view in, size_t size, std::string* out)
      : m_in(reinterpret_cast<const unsigned char*>(in.data())),
        m_inSize(in.size()),
        m_size(size),
        m_out(out) {
    out->clear();
  }

  bool Byte(size_t* value) {
    if (m_ip >= m_inSize) return false;
    *value = m_in[m_ip++];
    return true;
  }

  // A length that goes on in zero bytes of 255 each and a last byte added to base.
  bool LongLength(size_t base, size_t* length) {
    size_t extra = 0;
    while (m_ip < m_inSize && m_in[m_ip] == 0) {
      extra += 255;
      ++m_ip;
      // No real length comes near; this only keeps the sum from wrapping.
      if (extra > m_size + 255) return false;
    }
    size_t last = 0;
    if (!Byte(&last)) return false;
    *length = base + extra + last;
    return true;
  }

  // The two-byte little-endian distance field of the long matches.
  bool Distance16(size_t* value) {
    if (m_inSize - m_ip < 2) return false;
    *value = m_in[m_ip] | (m_in[m_ip + 1] << 8);
    m_ip += 2;
    return true;
  }

  // The low two bits of the byte two before the current one: how many literals follow a
  // match.
  size_t TrailingLiterals() const { return m_in[m_ip - 2] & 3; }

  bool CopyLiterals(size_t count) {
    if (count > m_inSize - m_ip || !Room(count)) return false;
    std::memcpy(m_out->data() + m_op, m_in + m_ip, count);
    m_ip += count;
    m_op += count;
    return true;
  }

  // Copies length bytes from distance bytes back; the two may overlap, which repeats the
  // bytes just written, so the copy goes byte by byte where they do.
  bool CopyMatch(size_t distance, size_t length) {
    if (distance == 0 || distance > m_op || !Room(length)) return false;
    char* out = m_out->data();
    size_t from = m_op - distance;
    if (distance >= length) {
      std::memcpy(out + m_op, out + from, length);
      m_op += length;
      return true;
    }
    while (length-- > 0) out[m_op++] = out[from++];
    return true;
  }

  // The end marker: the output must be complete. Bytes after the marker are not ours to
  // judge; the block's checksum covers the output.
  bool Finish() {
    if (m_op != m_size) return false;
    m_out->resize(m_op);
    return true;
  }

  size_t Produced() const { return m_op; }

 private:
  // Room for count more output bytes within size, grown by doubling as the output really
  // fills rather than to the size the block claims.
  bool Room(size_t count) {
    if (count > m_size - m_op) return false;
    const size_t need = m_op + count;
    if (need > m_out->size()) {
      NoteLargeAllocation();
      m_out->resize(std::min(m_size, std::max({need, 2 * m_out->size(), size_t{1} << 16})));
    }
    return true;
  }

  const unsigned char* m_in;
  size_t m_inSize;
  size_t m_ip = 0;
  size_t m_size;
  std::string* m_out;
  size_t m_op = 0;
};

// Where the decoder stands after an instruction: the meaning of an instruction byte below
// 16 depends on what came before it.
enum class After {
  kMatch,        // a match without trailing literals (or the start): a literal run
  kLiteralRun,   // a run of four or more literals: a three-byte match from far back
  kFewLiterals,  // one to three literals after a match: a two-byte match close by
};

}  // namespace

bool Lzo1xDecompress(std::string_view compressed, size_t size, std::string* out) {
  CLzoStream s(compressed, size, out);
  After state = After::kMatch;
  size_t t = 0;
  if (!s.Byte(&t)) return false;
  // A first byte above 17 is a literal run of its own kind.
  if (t > 17) {
    t -= 17;
    if (!s.CopyLiterals(t)) return false;
    state = t < 4 ? After::kFewLiterals : After::kLiteralRun;
    if (!s.Byte(&t)) return false;
  }
  for (;;) {
    if (t < 16) {
      if (state == After::kMatch) {
        // A literal run of t + 3 bytes; 0 starts a long count.
        size_t count = t;
        if (count == 0 && !s.LongLength(15, &count)) return false;
        if (!s.CopyLiterals(count + 3)) return false;
        state = After::kLiteralRun;
        if (!s.Byte(&t)) return false;
        continue;
      }
      size_t high = 0;
      if (!s.Byte(&high)) return false;
      const size_t distance = 1 + (t >> 2) + (high << 2);
      const bool far = state == After::kLiteralRun;
      if (!s.CopyMatch(far ? distance + kLongM1Offset : distance, far ? 3 : 2)) return false;
    } else if (t >= 64) {
      // A short match of 3 to 8 bytes within 2 KiB.
      size_t high = 0;
      if (!s.Byte(&high)) return false;
      if (!s.CopyMatch(1 + ((t >> 2) & 7) + (high << 3), (t >> 5) + 1)) return false;
    } else if (t >= 32) {
      // A match within 16 KiB.
      size_t length = t & 31;
      size_t field = 0;
      if (length == 0 && !s.LongLength(31, &length)) return false;
      if (!s.Distance16(&field)) return false;
      if (!s.CopyMatch(1 + (field >> 2), length + 2)) return false;
    } else {
      // A match from 16 KiB to 48 KiB back, or the end of the stream.
      size_t length = t & 7;
      size_t field = 0;
      if (length == 0 && !s.LongLength(7, &length)) return false;
      if (!s.Distance16(&field)) return false;
      const size_t distance = ((t & 8) << 11) + (field >> 2);
      if (distance == 0) return s.Finish();
      if (!s.CopyMatch(distance + kFarOffset, length + 2)) return false;
    }
    // After a match, up to three literals named by the match's own bits.
    const size_t literals = s.TrailingLiterals();
    if (literals == 0) {
      state = After::kMatch;
    } else {
      if (!s.CopyLiterals(literals)) return false;
      state = After::kFewLiterals;
    }
    if (!s.Byte(&t)) return false;
  }
}
