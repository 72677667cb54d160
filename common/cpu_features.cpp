#include "common/cpu_features.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))

bool CpuHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

bool CpuHasCarrylessMultiply() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

#else

bool CpuHasAvx2() { return false; }
bool CpuHasCarrylessMultiply() { return false; }

#endif
