/* Detection names, extensions and byte-string comparisons (slots 44, 45, 60-62, 71). */
#ifndef KQHELP_NAMES_H
#define KQHELP_NAMES_H

#include "kqhelp/host.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t (*name_has_category_prefix_fn)(const char *name);
typedef int32_t (*ext_in_executable_list_fn)(const char *ext);
typedef int32_t (*ext_in_document_list_fn)(const char *ext);
typedef int32_t (*scrambled_compare_fn)(const uint8_t *a, const uint8_t *b, int32_t n);
typedef int32_t (*scrambled_pattern_match_fn)(const uint8_t *data, const uint8_t *pattern);
typedef int32_t (*pattern_match_fn)(const uint8_t *data, const uint8_t *pattern);
/* xor_string_copy is exported by name, not placed in the table. */
typedef void (*xor_string_copy_fn)(const uint8_t *source, uint8_t *target, uint32_t n);

#ifdef __cplusplus
}
#endif
#endif
