// Slots 57-59 on arbitrary bytes, checked against the reference model: every
// output must agree, the whole decoded and source buffers included.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "module/slots.h"
#include "xordetect/scan_buffer.h"
#include "../tests/xordetect/xordetect_oracle.h"

namespace {

void require(bool ok) {
    if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 4096) return 0;
    const uint32_t n = uint32_t(size);
    std::vector<uint8_t> src_fast(data, data + size), src_ref(data, data + size);
    // The decoded buffer starts as the input reversed: writes must match exactly.
    std::vector<uint8_t> dec_fast(data, data + size), dec_ref;
    for (size_t j = 0; j < size / 2; j++) std::swap(dec_fast[j], dec_fast[size - 1 - j]);
    dec_ref = dec_fast;

    require(xordetect_check_header(src_fast.data(), n) == xoracle::check_header(src_ref.data(), n));

    uint8_t kb_fast = 0x5C, kb_ref = 0x5C;
    uint32_t kw_fast = 0xA5A5A5A5, kw_ref = 0xA5A5A5A5;
    if (size >= 512) {
        std::vector<uint8_t> kdec_fast(dec_fast.begin(), dec_fast.begin() + 512), kdec_ref = kdec_fast;
        require(xordetect_find_key(src_fast.data(), kdec_fast.data(), &kb_fast, &kw_fast) ==
                xoracle::find_key(src_ref.data(), kdec_ref.data(), &kb_ref, &kw_ref));
        require(kb_fast == kb_ref && kw_fast == kw_ref && kdec_fast == kdec_ref);
    }

    // The scan with every kernel set this processor runs, from the same start.
    const std::vector<uint8_t> dec_start = dec_ref;
    kb_ref = 0x5C;
    kw_ref = 0xA5A5A5A5;
    const int32_t r_ref = xoracle::scan_buffer(src_ref.data(), dec_ref.data(), &kb_ref, &kw_ref, n);
    for (const kq::xordetect::lane_kernels *const *lanes = kq::xordetect::all_lane_kernels; *lanes; lanes++) {
        if (!(*lanes)->available()) continue;
        std::vector<uint8_t> src_lanes(data, data + size), dec_lanes = dec_start;
        kb_fast = 0x5C;
        kw_fast = 0xA5A5A5A5;
        require(kq::xordetect::scan_buffer(**lanes, src_lanes.data(), dec_lanes.data(), &kb_fast, &kw_fast, n) == r_ref);
        require(kb_fast == kb_ref && kw_fast == kw_ref);
        require(dec_lanes == dec_ref);
        require(src_lanes == src_ref);
    }
    return 0;
}
