#pragma once
// The benchmark's view of its own process, memory and processor time: one implementation
// per OS, chosen by bench/CMakeLists.txt.

// Resident high-water mark in KiB since the last ResetPeak, or -1 where the OS cannot
// reset it (then only ProcessPeakKiB is meaningful).
long PeakKiB();
// Starts a new high-water mark, where the OS allows it.
void ResetPeak();
// The process's resident high-water mark in KiB since it started, or -1 where unknown.
long ProcessPeakKiB();
// Processor seconds (user and system) the process has used so far, all threads together.
double ProcessCpuSeconds();
