// The fast paths (folded CRC-32, AVX2 UTF-8 check and line cutting) are chosen by
// CpuHasAvx2 and CpuHasCarrylessMultiply. Their results are checked against their portable
// twins elsewhere (Crc32Test, Utf8.LongTextsGetTheVerdictOfTheTable, Utf8Lines); this
// checks that the choice itself is right: the answers agree with the processor, asked
// here directly, so that a build whose feature check fails (a runtime that cannot see
// the processor, say under Wine) does not fall back to the slow paths unnoticed.

#include "common/cpu_features.h"

#include <gtest/gtest.h>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>

#include <cstdint>

namespace {

struct Registers {
  unsigned a = 0, b = 0, c = 0, d = 0;
};

Registers Cpuid(unsigned leaf, unsigned subleaf) {
  Registers r;
  if (leaf > __get_cpuid_max(0, nullptr) || !__get_cpuid_count(leaf, subleaf, &r.a, &r.b, &r.c, &r.d))
    return {};
  return r;
}

bool Bit(unsigned value, int bit) { return (value >> bit) & 1u; }

// What the processor and the operating system offer, from the processor's own reports:
// AVX2 needs the YMM registers saved by the OS (XCR0 bits 1 and 2, read by XGETBV where
// OSXSAVE says it is allowed).
struct Offered {
  bool avx2;
  bool clmul;
};

Offered AskTheProcessor() {
  const Registers leaf1 = Cpuid(1, 0);
  const Registers leaf7 = Cpuid(7, 0);
  bool ymmSaved = false;
  if (Bit(leaf1.c, 27)) {  // OSXSAVE
    unsigned low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    ymmSaved = (low & 6u) == 6u;
  }
  return {Bit(leaf1.c, 28) && ymmSaved && Bit(leaf7.b, 5),  // AVX, AVX2
          Bit(leaf1.c, 1) && Bit(leaf1.c, 19)};               // PCLMULQDQ, SSE4.1
}

}  // namespace

TEST(CpuFeatures, AgreeWithTheProcessor) {
  const Offered offered = AskTheProcessor();
  EXPECT_EQ(CpuHasAvx2(), offered.avx2);
  EXPECT_EQ(CpuHasCarrylessMultiply(), offered.clmul);
  // Which paths this run of the other tests takes, for whoever reads the log.
  RecordProperty("avx2", offered.avx2 ? "yes" : "no");
  RecordProperty("clmul", offered.clmul ? "yes" : "no");
}

#else

TEST(CpuFeatures, AgreeWithTheProcessor) {
  EXPECT_FALSE(CpuHasAvx2());
  EXPECT_FALSE(CpuHasCarrylessMultiply());
}

#endif
