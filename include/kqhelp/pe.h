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

/* Field offsets inside the records, for hosts that read them in place. */
#define PE_DOS_E_LFANEW 0x3Cu                /* u32: file offset of the PE or NE signature */
#define PE_NT_SIGNATURE 0u                   /* u32: 0x4550, "PE\0\0" */
#define PE_NT_MACHINE 4u                     /* u16 */
#define PE_NT_NUMBER_OF_SECTIONS 6u          /* u16 */
#define PE_NT_TIME_DATE_STAMP 8u             /* u32 */
#define PE_NT_SIZE_OF_OPTIONAL_HEADER 20u    /* u16 */
#define PE_NT_CHARACTERISTICS 22u            /* u16 */
#define PE_NT_MAGIC 24u                      /* u16: 0x10B PE32, 0x20B PE32+ */
#define PE_NT_ADDRESS_OF_ENTRY_POINT 40u     /* u32 */
#define PE_NT_SECTION_ALIGNMENT 56u          /* u32 */
#define PE_NT_FILE_ALIGNMENT 60u             /* u32 */
#define PE_NT_SIZE_OF_IMAGE 80u              /* u32 */
#define PE_NT_SIZE_OF_HEADERS 84u            /* u32 */
#define PE_NT_SUBSYSTEM 92u                  /* u16 */
#define PE_NT32_IMAGE_BASE 52u               /* u32 in PE32 */
#define PE_NT64_IMAGE_BASE 48u               /* u64 in PE32+ */
#define PE_SIGNATURE 0x4550u
#define PE_MAGIC_PE32 0x10Bu
#define PE_MAGIC_PE32_PLUS 0x20Bu

#define PE_SECTION_NAME 0u                   /* 8 bytes, NUL-padded */
#define PE_SECTION_VIRTUAL_SIZE 8u           /* u32 */
#define PE_SECTION_VIRTUAL_ADDRESS 12u       /* u32 */
#define PE_SECTION_SIZE_OF_RAW_DATA 16u      /* u32 */
#define PE_SECTION_POINTER_TO_RAW_DATA 20u   /* u32 */
#define PE_SECTION_CHARACTERISTICS 36u       /* u32 */

/* Windows read around an offset start this many bytes before it. */
#define WINDOW_BEFORE 10240u

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
