// Slot 57: is there a plausible MZ/PE32 header at the start of the buffer?
#include "module/slots.h"
#include "xordetect/header_test.h"

extern "C" int32_t xordetect_check_header(const uint8_t *buffer, uint32_t size) {
    if (!buffer) return 0;
    return kq::xordetect::header_ok(kq::xordetect::plain_view{buffer}, size) ? 1 : 0;
}
