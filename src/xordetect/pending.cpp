// Detection is not built yet: nothing is found.
#include "module/slots.h"

extern "C" {
int32_t xordetect_check_header(const uint8_t *, uint32_t) { return 0; }
int32_t xordetect_find_key(const uint8_t *, uint8_t *, uint8_t *, uint32_t *) { return 0; }
int32_t xordetect_scan_buffer(uint8_t *, uint8_t *, uint8_t *, uint32_t *, uint32_t) { return 0; }
}
