/* Detection names, extensions and byte-string comparisons (slots 44, 45, 60-62, 71). */
#ifndef KQHELP_NAMES_H
#define KQHELP_NAMES_H

#include "kqhelp/host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* None of these allocates, keeps state or calls the host; all are re-entrant. */

/* Slot 60: 1 when the NUL-terminated name starts with appl/, spr/, game/,
 * joke/, dial/, adspy/, heur/, heuristic/, pck/ or hidden-ext/ in any ASCII
 * case, else 0; 0 for a null or empty name. */
typedef int32_t (*name_has_category_prefix_fn)(const char *name);
/* Slots 61, 62: 1 when ext equals an entry byte for byte, else 0 (also for
 * null). The caller passes the extension upper-case with its dot: ".EXE" is
 * listed, ".exe", "EXE" and ".EXEC" are not. Executable: .EXE .COM .BAT .PIF
 * .SYS .LNK .VBS .CPL .SCR .CMD. Document: documents, pictures, sound, video,
 * archives, web pages, and .BAT .PIF .LNK .VBS .CMD. */
typedef int32_t (*ext_in_executable_list_fn)(const char *ext);
typedef int32_t (*ext_in_document_list_fn)(const char *ext);
/* Slot 44: 0 when a, stored with every byte XOR 0x71, equals the plain b
 * over n bytes (also for n <= 0, reading nothing); -1 at the first
 * difference, which does not order them. Neither pointer is tested. */
typedef int32_t (*scrambled_compare_fn)(const uint8_t *a, const uint8_t *b, int32_t n);
/* Slots 45, 71: 1 when data matches the pattern, else 0. Pattern: length L,
 * wildcard byte W, then L bytes; a byte equal to W matches any data byte.
 * Slot 45 takes the pattern with all of it XOR 0x71, slot 71 plain; data is
 * plain and must hold L bytes (L = 0 matches without reading). Neither
 * pointer is tested. */
typedef int32_t (*scrambled_pattern_match_fn)(const uint8_t *data, const uint8_t *pattern);
typedef int32_t (*pattern_match_fn)(const uint8_t *data, const uint8_t *pattern);
/* Exported by name, not in the table: writes n bytes of source, each XOR
 * 0x2F (SEARCH_PATTERN_KEY), and a zero byte to target (n + 1 bytes); writes
 * nothing for a null pointer or n = 0. */
typedef void (*xor_string_copy_fn)(const uint8_t *source, uint8_t *target, uint32_t n);

#ifdef __cplusplus
}
#endif
#endif
