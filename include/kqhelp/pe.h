/* File regions, windows and the PE reader (slots 4-18). */
#ifndef KQHELP_PE_H
#define KQHELP_PE_H

#include "kqhelp/module.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Every region and window is 20480 bytes read into a buffer of 20484. */
#define REGION_SIZE 20480u
#define REGION_BUFFER_SIZE 20484u

/* Region kinds of slots 4 and 5. */
enum {
    REGION_HEAD = 1,
    REGION_TAIL = 2,
    REGION_AT_OFFSET = 3,
    REGION_AROUND_OFFSET = 4,
    REGION_AT_ENTRY_RAW = 6,
    REGION_AT_ENTRY = 7,
    REGION_AROUND_ENTRY_RAW = 8,
    REGION_AROUND_ENTRY = 9,
    REGION_HEAD_IF_LOADED = 10,
    REGION_TAIL_IF_LOADED = 11
};

/* PE records are byte copies of the file in the PE/COFF layouts. */
#define PE_DOS_HEADER_SIZE 64u
#define PE_NT_HEADERS32_SIZE 248u
#define PE_NT_HEADERS64_SIZE 264u
#define PE_SECTION_HEADER_SIZE 40u
#define PE_NE_HEADER_SIZE 64u
#define PE_MAX_SECTIONS 256u

typedef const uint8_t *(*file_get_region_fn)(scan_file *file, int32_t kind, uint64_t *size_out);
typedef const uint8_t *(*file_get_window_fn)(scan_file *file, int32_t kind, int64_t offset, uint64_t *size_out,
                                             uint64_t *position_out);
typedef const uint8_t *(*pe_get_dos_header_fn)(scan_file *file);
typedef const uint8_t *(*pe_get_nt_headers32_fn)(scan_file *file);
typedef const uint8_t *(*pe_get_sections32_fn)(scan_file *file, uint32_t *count);
typedef const uint8_t *(*pe_get_nt_headers64_fn)(scan_file *file);
typedef const uint8_t *(*pe_get_sections64_fn)(scan_file *file, uint32_t *count);
typedef const uint8_t *(*pe_get_ne_header_fn)(scan_file *file);
typedef int32_t (*pe_find_section_by_rva_fn)(int32_t count, const uint8_t *sections, uint32_t rva);
typedef int32_t (*pe_find_section_by_offset_fn)(int32_t count, const uint8_t *sections, uint32_t offset);
typedef uint32_t (*pe_rva_to_offset_fn)(int32_t count, const uint8_t *sections, uint32_t rva);
typedef uint32_t (*pe_offset_to_rva_fn)(int32_t count, const uint8_t *sections, uint32_t offset);
typedef uint32_t (*pe_rva_to_offset_ex_fn)(int32_t count, const uint8_t *sections, uint32_t rva);
typedef uint32_t (*pe_offset_to_rva_ex_fn)(int32_t count, const uint8_t *sections, uint32_t offset);
typedef uint64_t (*pe_get_overlay_fn)(scan_file *file, uint64_t *size);

#ifdef __cplusplus
}
#endif
#endif
