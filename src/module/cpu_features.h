// What the processor offers beyond the build's baseline, for kernels that
// pick a faster path at run time. Asked once with cpuid and then remembered:
// cpuid is slow inside virtual machines.
#pragma once

namespace kq {

bool cpu_has_sse2();
bool cpu_has_ssse3();   // byte shuffles (with SSE2)
bool cpu_has_pclmul();  // carry-less multiplication (with SSSE3)
bool cpu_has_avx2();    // 256-bit integer vectors, and the system saves their registers
bool cpu_has_avx512bw();  // 512-bit byte vectors and mask registers, saved by the system

}  // namespace kq
