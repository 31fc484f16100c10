#include "xordetect/lane_kernels.h"

namespace kq::xordetect {

const lane_kernels *const all_lane_kernels[] = {
#if defined(__i386__) || defined(__x86_64__)
    &avx512_lane_kernels,
    &avx2_lane_kernels,
    &sse2_lane_kernels,
#endif
    &portable_lane_kernels,
    nullptr,
};

const lane_kernels &best_lane_kernels() {
    for (const lane_kernels *const *k = all_lane_kernels;; k++)
        if ((*k)->available()) return **k;
}

}  // namespace kq::xordetect
