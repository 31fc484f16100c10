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

/* Slot 4: the head (kinds 1, 10: the first REGION_SIZE bytes) or the tail
 * (2, 11: the last REGION_SIZE bytes; from offset 0 in a shorter file), in a
 * file-owned buffer of REGION_BUFFER_SIZE bytes; *size_out (optional) = the
 * valid bytes, 1 to REGION_SIZE. Kinds 10 and 11 answer only what an earlier
 * call already read. Null with *size_out = 0 for a null file, another kind, a
 * buffer that cannot be allocated or a read of 0 bytes (an empty file); a
 * failed head or tail is final. */
typedef const uint8_t *(*file_get_region_fn)(scan_file *file, int32_t kind, uint64_t *size_out);
/* Slot 5: REGION_SIZE bytes at (kinds 3, 6, 7) or around (4, 8, 9: from
 * WINDOW_BEFORE bytes before) an offset: the one given for 3 and 4 (-1: as
 * kind 7), the PE32 entry point through the section table as stored (6, 8) or
 * with raw-data pointers rounded to FileAlignment (7, 9). *size_out = valid
 * bytes; *position_out = index in the buffer of the byte at that offset. The
 * buffer is file-owned, one per kind, and its bytes are replaced when its kind
 * is asked for at another offset; kinds 4, 8, 9 answer with the slot-4 head or
 * tail near either end of the file or in a file under REGION_SIZE bytes. Null
 * with *size_out = 0 when file, size_out or position_out is null, the offset
 * is above the file size, the kind is another, the entry point is needed and
 * not found (also at offset 0 of a file without one), or nothing can be read. */
typedef const uint8_t *(*file_get_window_fn)(scan_file *file, int32_t kind, int64_t offset, uint64_t *size_out,
                                             uint64_t *position_out);

/* Slots 6-11: file-owned copies of the file's bytes in the PE/COFF layouts,
 * or null. Each is loaded once and a failure is final; null for a null file,
 * a file whose first two bytes are not "MZ", "ZM" or "MY", a head region
 * shorter than 64 (slot 6), 312 (7), 256 (8, 10), 328 (9) or 128 bytes (11),
 * a failed allocation or read. */
/* Slot 6: the PE_DOS_HEADER_SIZE bytes at offset 0. */
typedef const uint8_t *(*pe_get_dos_header_fn)(scan_file *file);
/* Slots 7, 9: the PE_NT_HEADERS32_SIZE or PE_NT_HEADERS64_SIZE bytes at
 * e_lfanew, whatever SizeOfOptionalHeader says; null unless they start with
 * "PE\0\0" and the Magic is PE_MAGIC_PE32 (slot 7) or PE_MAGIC_PE32_PLUS
 * (slot 9): a file has at most one of the two. */
typedef const uint8_t *(*pe_get_nt_headers32_fn)(scan_file *file);
/* Slots 8, 10: the section table of a PE32 (slot 8) or PE32+ image (slot
 * 10), *count headers of PE_SECTION_HEADER_SIZE bytes: NumberOfSections, at
 * most PE_MAX_SECTIONS. Null without NT headers of that kind or with 0
 * sections. Headers that the end of the file cuts off read as zeros. *count
 * means something only with a table; count may be null. */
typedef const uint8_t *(*pe_get_sections32_fn)(scan_file *file, uint32_t *count);
/* Slot 9: see slot 7. */
typedef const uint8_t *(*pe_get_nt_headers64_fn)(scan_file *file);
/* Slot 10: see slot 8. */
typedef const uint8_t *(*pe_get_sections64_fn)(scan_file *file, uint32_t *count);
/* Slot 11: the PE_NE_HEADER_SIZE bytes at e_lfanew, which start with "NE". */
typedef const uint8_t *(*pe_get_ne_header_fn)(scan_file *file);

/* Slots 12-17: pure functions over count section headers of a caller's table
 * (normally one from slot 8 or 10); a count <= 0 or a null table is an empty
 * table. A header contains an RVA from VirtualAddress up to below
 * VirtualAddress + VirtualSize or + SizeOfRawData, an offset from
 * PointerToRawData up to below PointerToRawData + SizeOfRawData; sums wrap
 * at 2^32. */
/* Slots 12, 13: index of the first header that contains the value, or -1. */
typedef int32_t (*pe_find_section_by_rva_fn)(int32_t count, const uint8_t *sections, uint32_t rva);
typedef int32_t (*pe_find_section_by_offset_fn)(int32_t count, const uint8_t *sections, uint32_t offset);
/* Slots 14, 15: the value translated by the last header that contains it; a
 * value below the lowest VirtualAddress (inside the headers) maps to itself;
 * otherwise 0, which is also a valid answer. */
typedef uint32_t (*pe_rva_to_offset_fn)(int32_t count, const uint8_t *sections, uint32_t rva);
typedef uint32_t (*pe_offset_to_rva_fn)(int32_t count, const uint8_t *sections, uint32_t offset);
/* Slots 16, 17: as 14 and 15, but 0xFFFFFFFF when the value cannot be mapped. */
typedef uint32_t (*pe_rva_to_offset_ex_fn)(int32_t count, const uint8_t *sections, uint32_t rva);
typedef uint32_t (*pe_offset_to_rva_ex_fn)(int32_t count, const uint8_t *sections, uint32_t offset);
/* Slot 18: the file offset where the overlay starts, the largest
 * PointerToRawData + SizeOfRawData of the PE32 (else PE32+) section table, and
 * *size = its length up to the end of the file; computed once. No overlay is
 * *size = 0 (offset 0 when there is no table or a section reaches past the
 * end of the file). A null file or size returns 0 and writes nothing. */
typedef uint64_t (*pe_get_overlay_fn)(scan_file *file, uint64_t *size);

#ifdef __cplusplus
}
#endif
#endif
