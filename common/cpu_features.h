#pragma once
// What the processor offers beyond the x86-64 baseline, asked once. The fast paths that
// use it have a portable twin, so false (on other processors and compilers) only costs
// speed.

bool CpuHasAvx2();
// PCLMULQDQ together with SSE4.1.
bool CpuHasCarrylessMultiply();
