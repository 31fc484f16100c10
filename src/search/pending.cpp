// The searches are not built yet: every call is refused as a bad argument.
#include "module/slots.h"

extern "C" {
int32_t search_buffer_nocase(host_context *, uint32_t, const uint8_t *, const uint8_t *, int32_t, int32_t, int32_t) {
    return SEARCH_BAD_ARGUMENT;
}
int32_t search_buffer(host_context *, uint32_t, const uint8_t *, const uint8_t *, int32_t, int32_t, int32_t) {
    return SEARCH_BAD_ARGUMENT;
}
int32_t search_buffer_scrambled_nocase(host_context *, uint32_t, const uint8_t *, const uint8_t *, int32_t, int32_t,
                                       int32_t) {
    return SEARCH_BAD_ARGUMENT;
}
int32_t search_buffer_scrambled(host_context *, uint32_t, const uint8_t *, const uint8_t *, int32_t, int32_t,
                                int32_t) {
    return SEARCH_BAD_ARGUMENT;
}
}
