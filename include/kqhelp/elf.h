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

/* Codes kept in the reader's last error (slot 70). */
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

typedef elf_reader *(*elf_reader_get_fn)(scan_file *file);
typedef uint32_t (*elf_get_class_fn)(elf_reader *reader);
typedef int32_t (*elf_get_header_fn)(elf_reader *reader, const elf_header **out);
typedef uint32_t (*elf_get_section_count_fn)(elf_reader *reader);
typedef int32_t (*elf_get_section_table_fn)(elf_reader *reader, const elf_section **out, uint32_t *count);
typedef int32_t (*elf_get_section_by_index_fn)(elf_reader *reader, uint32_t index, const elf_section **out);
typedef int32_t (*elf_get_section_by_name_fn)(elf_reader *reader, const char *name, const elf_section **out);
typedef const char *(*elf_get_section_name_fn)(elf_reader *reader, const elf_section *record);
typedef uint32_t (*elf_get_segment_count_fn)(elf_reader *reader);
typedef int32_t (*elf_get_segment_table_fn)(elf_reader *reader, const elf_segment **out, uint32_t *count);
typedef int32_t (*elf_get_segment_by_index_fn)(elf_reader *reader, uint32_t index, const elf_segment **out);
typedef uint64_t (*elf_get_image_base_fn)(elf_reader *reader);
typedef uint64_t (*elf_get_file_offset_by_virtual_address_fn)(elf_reader *reader, uint64_t address);
typedef uint64_t (*elf_get_virtual_address_by_file_offset_fn)(elf_reader *reader, uint64_t offset);
typedef uint64_t (*elf_read_fn)(elf_reader *reader, uint8_t **buffer, uint64_t count, uint64_t offset);
typedef int32_t (*elf_check_fn)(elf_reader *reader, int32_t deep);
typedef int32_t (*elf_get_section_by_virtual_address_fn)(elf_reader *reader, uint64_t address,
                                                          const elf_section **out);
typedef int32_t (*elf_get_segment_by_virtual_address_fn)(elf_reader *reader, uint64_t address,
                                                          const elf_segment **out);
typedef int32_t (*elf_get_last_error_fn)(elf_reader *reader);
typedef int32_t (*elf_get_section_by_physical_address_fn)(elf_reader *reader, uint64_t address,
                                                           const elf_section **out);
typedef int32_t (*elf_get_segment_by_physical_address_fn)(elf_reader *reader, uint64_t address,
                                                           const elf_segment **out);
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
