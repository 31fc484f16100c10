// Name and string checks are not built yet: nothing matches, nothing is copied.
#include "module/slots.h"

extern "C" {
int32_t scrambled_compare(const uint8_t *, const uint8_t *, int32_t) { return -1; }
int32_t scrambled_pattern_match(const uint8_t *, const uint8_t *) { return 0; }
int32_t pattern_match(const uint8_t *, const uint8_t *) { return 0; }
int32_t name_has_category_prefix(const char *) { return 0; }
int32_t ext_in_executable_list(const char *) { return 0; }
int32_t ext_in_document_list(const char *) { return 0; }
void xor_string_copy(const uint8_t *, uint8_t *, uint32_t) {}
}
