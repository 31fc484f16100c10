// Slots 57-59 on arbitrary bytes, checked against the reference model: every
// output must agree, the whole decoded and source buffers included, and the
// slots take no host memory.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "module/slots.h"
#include "xordetect/scan_buffer.h"
#include "../tests/xordetect/xordetect_oracle.h"
#include "linked_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 4096) return 0;
    const uint32_t n = uint32_t(size);
    std::vector<uint8_t> src_fast(data, data + size), src_ref(data, data + size);
    // The decoded buffer starts as the input reversed: writes must match exactly.
    std::vector<uint8_t> dec_fast(data, data + size), dec_ref;
    for (size_t j = 0; j < size / 2; j++) std::swap(dec_fast[j], dec_fast[size - 1 - j]);
    dec_ref = dec_fast;

    FUZZ_REQUIRE(kqhelp::call<SLOT_XORDETECT_CHECK_HEADER>(fuzz_api(), src_fast.data(), n) == xoracle::check_header(src_ref.data(), n));

    uint8_t kb_fast = 0x5C, kb_ref = 0x5C;
    uint32_t kw_fast = 0xA5A5A5A5, kw_ref = 0xA5A5A5A5;
    if (size >= 512) {
        std::vector<uint8_t> kdec_fast(dec_fast.begin(), dec_fast.begin() + 512), kdec_ref = kdec_fast;
        FUZZ_REQUIRE(kqhelp::call<SLOT_XORDETECT_FIND_KEY>(fuzz_api(), src_fast.data(), kdec_fast.data(), &kb_fast, &kw_fast) ==
                xoracle::find_key(src_ref.data(), kdec_ref.data(), &kb_ref, &kw_ref));
        FUZZ_REQUIRE(kb_fast == kb_ref && kw_fast == kw_ref && kdec_fast == kdec_ref);
    }

    // The scan through the table, then with every kernel set this processor
    // runs, each from the same start and each equal to the literal model.
    const std::vector<uint8_t> dec_start = dec_ref;
    kb_ref = 0x5C;
    kw_ref = 0xA5A5A5A5;
    const int32_t r_ref = xoracle::scan_buffer(src_ref.data(), dec_ref.data(), &kb_ref, &kw_ref, n);
    kb_fast = 0x5C;
    kw_fast = 0xA5A5A5A5;
    FUZZ_REQUIRE(kqhelp::call<SLOT_XORDETECT_SCAN_BUFFER>(fuzz_api(), src_fast.data(), dec_fast.data(), &kb_fast, &kw_fast, n) == r_ref);
    FUZZ_REQUIRE(kb_fast == kb_ref && kw_fast == kw_ref);
    FUZZ_REQUIRE(dec_fast == dec_ref);
    FUZZ_REQUIRE(src_fast == src_ref);
    fuzz_check_peak(0);
    for (const kq::xordetect::lane_kernels *const *lanes = kq::xordetect::all_lane_kernels; *lanes; lanes++) {
        if (!(*lanes)->available()) continue;
        std::vector<uint8_t> src_lanes(data, data + size), dec_lanes = dec_start;
        kb_fast = 0x5C;
        kw_fast = 0xA5A5A5A5;
        FUZZ_REQUIRE(kq::xordetect::scan_buffer(**lanes, src_lanes.data(), dec_lanes.data(), &kb_fast, &kw_fast, n) == r_ref);
        FUZZ_REQUIRE(kb_fast == kb_ref && kw_fast == kw_ref);
        FUZZ_REQUIRE(dec_lanes == dec_ref);
        FUZZ_REQUIRE(src_lanes == src_ref);
    }
    return 0;
}
