/* The ELF reader (slots 19-34, 68-70, 72-74). */
#ifndef KQHELP_ELF_H
#define KQHELP_ELF_H

#include "kqhelp/module.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque to callers: the per-file ELF context, attached to its scan_file. */
typedef struct elf_reader elf_reader;

/* Normalised records: the ELF64 layouts in host byte order. */
typedef struct elf_header {
    uint8_t e_ident[16];
    uint16_t e_type;
    uint16_t e_machine;
    uint32_t e_version;
    uint64_t e_entry;
    uint64_t e_phoff;
    uint64_t e_shoff;
    uint32_t e_flags;
    uint16_t e_ehsize;
    uint16_t e_phentsize;
    uint16_t e_phnum;
    uint16_t e_shentsize;
    uint16_t e_shnum;
    uint16_t e_shstrndx;
} elf_header;

typedef struct elf_section {
    uint32_t sh_name;
    uint32_t sh_type;
    uint64_t sh_flags;
    uint64_t sh_addr;
    uint64_t sh_offset;
    uint64_t sh_size;
    uint32_t sh_link;
    uint32_t sh_info;
    uint64_t sh_addralign;
    uint64_t sh_entsize;
} elf_section;

typedef struct elf_segment {
    uint32_t p_type;
    uint32_t p_flags;
    uint64_t p_offset;
    uint64_t p_vaddr;
    uint64_t p_paddr;
    uint64_t p_filesz;
    uint64_t p_memsz;
    uint64_t p_align;
} elf_segment;

/* Codes kept in the reader's last error. A failing slot stores one; nothing
 * but slot 70 clears it, so read and clear it before a call whose failure
 * value is also a valid answer. "Load codes" below are 101 (host_alloc
 * failed), 103 (seek failed), 104 (read failed) and 203 (offset beyond the
 * file size): any slot that reads or loads a table may leave one of them. A
 * null reader (or a null required out) gives the failure value and no code.
 * File-owned records are in the layouts above, in host byte order, loaded
 * once; a failed load is tried again by the next call. */
enum {
    ELF_ERR_NO_MEMORY = 101,
    ELF_ERR_SEEK = 103,
    ELF_ERR_READ = 104,
    ELF_ERR_INDEX = 202,
    ELF_ERR_OFFSET = 203,
    ELF_ERR_ADDRESS = 204,
    ELF_ERR_VERSION = 206,
    ELF_ERR_NO_SECTION = 209,
    ELF_ERR_NO_SEGMENT = 210,
    ELF_ERR_HEADER_SIZE = 300,
    ELF_ERR_MAGIC = 301,
    ELF_ERR_CLASS = 302,
    ELF_ERR_DATA = 303,
    ELF_ERR_IDENT_VERSION = 304,
    ELF_ERR_TYPE = 305,
    ELF_ERR_NO_TABLES = 309,
    ELF_ERR_NO_SECTION_TABLE = 310,
    ELF_ERR_NO_SEGMENT_TABLE = 312,
    ELF_ERR_NO_SECTION_NAMES = 314
};

/* Slot 19: the file's reader, file-owned, made on the first call for a file
 * whose head region starts with 0x7F "ELF". Null for a null file, any other
 * file (tested on every call), or when the reader cannot be allocated (then
 * final for the file). It does not validate the file: slot 34 does. */
typedef elf_reader *(*elf_reader_get_fn)(scan_file *file);
/* Slots 20, 74: EI_CLASS (1: 32-bit, 2: 64-bit) and EI_DATA (1: little-endian;
 * every other value is read as big-endian) of the file, corrected where
 * e_version and e_ehsize prove the stored bytes wrong, else as stored (slot 34
 * rejects other values). 0xFFFFFFFF for a null reader or a file shorter than
 * 16 bytes or unreadable (a load code). */
typedef uint32_t (*elf_get_class_fn)(elf_reader *reader);
/* Slot 21: 0 and *out = the file-owned file header, ELF32 fields widened;
 * not validated (slot 34 does that). -1 when it cannot be read whole (a load
 * code, or none for a file that is too short). */
typedef int32_t (*elf_get_header_fn)(elf_reader *reader, const elf_header **out);
/* Slot 22: the number of sections the header declares (e_shnum, or record
 * 0's sh_size when e_shnum is 0), which may exceed the records loaded; 0
 * without a section table or on failure (then a code of slot 21 or 24). */
typedef uint32_t (*elf_get_section_count_fn)(elf_reader *reader);
/* Slot 23: 0, *out = the file-owned section table and *count (optional) =
 * its records, at most 8,192 (a table cut by the end of the file keeps its
 * whole records). -1 with 310 (e_shoff 0) or a load code; a table shorter
 * than one record adds no code of its own. */
typedef int32_t (*elf_get_section_table_fn)(elf_reader *reader, const elf_section **out, uint32_t *count);
/* Slot 24: 0 and *out = record index of the loaded table; -1 with 202 when
 * index is not below the records loaded, or with a code of slot 23. */
typedef int32_t (*elf_get_section_by_index_fn)(elf_reader *reader, uint32_t index, const elf_section **out);
/* Slot 25: 0 and *out (optional) = the first record whose name equals name
 * (strcmp). -1 with 209 when none does, also when the table or the names
 * cannot be loaded (209 replaces their code); a null name gives -1, no code. */
typedef int32_t (*elf_get_section_by_name_fn)(elf_reader *reader, const char *name, const elf_section **out);
/* Slot 26: the record's name, NUL-terminated, file-owned (in the section-name
 * table, of which the first 32,768 bytes are loaded). Null for a null record,
 * an sh_name outside the loaded bytes or a name that does not end inside
 * them, or when the names cannot be loaded: 314 (e_shstrndx 0), a code of
 * slot 24, or a load code. Only the record's sh_name is read. */
typedef const char *(*elf_get_section_name_fn)(elf_reader *reader, const elf_section *record);
/* Slot 27: e_phnum when e_phoff is not 0 (it may exceed the records
 * loaded), else 0; 0 also when the header cannot be read (a code of 21). */
typedef uint32_t (*elf_get_segment_count_fn)(elf_reader *reader);
/* Slot 28: 0, *out = the file-owned program header table and *count
 * (optional) = its records, at most 256 (a table cut by the end of the file
 * keeps its whole records). -1 with 312 (e_phnum 0) or a load code; a table
 * shorter than one record adds no code of its own. */
typedef int32_t (*elf_get_segment_table_fn)(elf_reader *reader, const elf_segment **out, uint32_t *count);
/* Slot 29: as slot 24, over the program header table (202, codes of 28). */
typedef int32_t (*elf_get_segment_by_index_fn)(elf_reader *reader, uint32_t index, const elf_segment **out);
/* Slot 30: the lowest p_vaddr of the PT_LOAD records loaded; all ones when
 * there is none, e_phnum is 0, or the header or table cannot be loaded (its
 * code stays). All ones is also a valid address. */
typedef uint64_t (*elf_get_image_base_fn)(elf_reader *reader);
/* Slots 31, 32: address to file offset and back, through the first loaded
 * record (of any type) with p_vaddr <= address < p_vaddr + p_memsz (slot 31)
 * or p_offset <= offset < p_offset + p_memsz (slot 32); when e_phoff is 0,
 * through the first SHF_ALLOC section by sh_addr or sh_offset and sh_size.
 * Sums wrap at 2^64. 0 with 204 (slot 31) or 203 (slot 32) when no loaded
 * record holds the value, also when none could be loaded (replacing that
 * load's code); 0 with a load code when the header or a record cannot be
 * had; 0 and no code when e_phoff and e_shoff are both 0. 0 is also a valid
 * answer. */
typedef uint64_t (*elf_get_file_offset_by_virtual_address_fn)(elf_reader *reader, uint64_t address);
typedef uint64_t (*elf_get_virtual_address_by_file_offset_fn)(elf_reader *reader, uint64_t offset);
/* Slot 33: reads count bytes at a file offset into the caller's *buffer or,
 * when *buffer is null, into a block of count bytes from host_alloc that is
 * handed over in *buffer (also when 0 bytes were delivered) for the caller to
 * host_free. Returns the bytes delivered, fewer at the end of the file; 0 for
 * a null reader or buffer or a count of 0 (no code). Failure: 0, *buffer as it
 * was (a block allocated here is freed) and 203 (offset above the file size
 * the host reported; equal is allowed), 101, 103 or 104. */
typedef uint64_t (*elf_read_fn)(elf_reader *reader, uint8_t **buffer, uint64_t count, uint64_t offset);
/* Slot 34: 1 valid, 0 invalid with the code of the first failing test, in
 * this order: 301 magic, 302 EI_CLASS, 303 EI_DATA, 304 EI_VERSION, and with
 * deep non-zero the header: 206 e_version, 300 e_ehsize / e_phentsize /
 * e_shentsize, 309 a table offset 0 with a count, 305 e_type, 309 no table
 * at all, 310 relocatable without sections, 312 executable without program
 * headers.
 * -1 when (deep) the header cannot be read whole, or the identification
 * cannot be read and a code is stored; otherwise a file shorter than 16
 * bytes gives 0 with no code. */
typedef int32_t (*elf_check_fn)(elf_reader *reader, int32_t deep);
/* Slot 68: 0 and *out (optional) = the first section with sh_addr <= address
 * < sh_addr + sh_size (wrapping at 2^64 holds nothing), or with sh_size 0 and
 * sh_addr = address; sections with sh_addr 0 and no SHF_ALLOC are skipped.
 * -1 with 209 when none, also when the table cannot be loaded. */
typedef int32_t (*elf_get_section_by_virtual_address_fn)(elf_reader *reader, uint64_t address,
                                                          const elf_section **out);
/* Slots 69, 73: 0 and *out (optional) = the first segment whose p_vaddr
 * (69) or p_paddr (73) range of p_memsz bytes holds the address (wrapping at
 * 2^64 holds nothing); a PT_LOAD of p_memsz 0 holds its own start; records
 * with start and size 0 are skipped. -1 with 210 when none, also when the
 * table cannot be loaded. */
typedef int32_t (*elf_get_segment_by_virtual_address_fn)(elf_reader *reader, uint64_t address,
                                                          const elf_segment **out);
/* Slot 70: the last error code, 0 when none, and clears it; -1 for a null
 * reader. */
typedef int32_t (*elf_get_last_error_fn)(elf_reader *reader);
/* Slot 72 (also exported by name): the segment holding the physical address
 * (slot 73), then the section holding the matching virtual address (slot
 * 68); 0 and *out (optional), or -1 with 209 (a 210 becomes 209). */
typedef int32_t (*elf_get_section_by_physical_address_fn)(elf_reader *reader, uint64_t address,
                                                           const elf_section **out);
/* Slot 73 (also exported by name): see slot 69. */
typedef int32_t (*elf_get_segment_by_physical_address_fn)(elf_reader *reader, uint64_t address,
                                                           const elf_segment **out);
/* Slot 74 (also exported by name): see slot 20. */
typedef uint32_t (*elf_get_encoding_fn)(elf_reader *reader);

#if defined(__i386__)
KQ_STATIC_ASSERT(sizeof(elf_header) == 64, "elf_header is the Elf64_Ehdr layout");
KQ_STATIC_ASSERT(sizeof(elf_section) == 64, "elf_section is the Elf64_Shdr layout");
KQ_STATIC_ASSERT(sizeof(elf_segment) == 56, "elf_segment is the Elf64_Phdr layout");
#endif

#ifdef __cplusplus
}
#endif
#endif
