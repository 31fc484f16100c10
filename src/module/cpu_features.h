// What the processor offers beyond the build's baseline, for kernels that
// pick a faster path at run time. Asked once with cpuid and then remembered:
// cpuid is slow inside virtual machines.
#pragma once

namespace kq {

bool cpu_has_sse2();
bool cpu_has_pclmul();  // carry-less multiplication (with SSE2)
bool cpu_has_avx2();    // AVX2, with the system saving the 256-bit registers

}  // namespace kq
