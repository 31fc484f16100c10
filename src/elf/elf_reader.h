// The per-file ELF context and the block that hangs it on its scan_file,
// with the reader's internal operations (the slot functions are in slots.h).
#pragma once

#include "elf/elf_layout.h"
#include "module/host_calls.h"

struct elf_reader {
    uint32_t handle;
    host_context *ctx;
    uint32_t instance;
    const uint8_t *head;  // the region cache's head region; borrowed
    uint64_t head_len;
    const host_services *services;
    uint64_t file_size;
    uint64_t image_offset;  // added to every offset elf_read is given; always 0
    uint8_t ident[16];      // ident[0] == 0: not filled yet
    void *header_raw;       // kq::elf::ehdr32 or ehdr64, by class
    void *sections_raw;     // shdr32 or shdr64 records
    void *segments_raw;     // phdr32 or phdr64 records
    char *section_names;
    uint32_t sections_raw_count;
    uint32_t segments_raw_count;
    uint32_t section_names_size;
    elf_header *header;
    elf_section *sections;
    elf_segment *segments;
    uint32_t section_count;
    uint32_t segment_count;
    int32_t last_error;
};

namespace kq {

enum elf_attach_state : uint8_t { ELF_ATTACH_NEW = 0, ELF_ATTACH_READY = 1, ELF_ATTACH_FAILED = 2 };

struct elf_attachment {
    elf_reader *reader;  // null until created, and when creation failed
    uint8_t state;       // elf_attach_state
    uint8_t pad[3];
};

#if defined(__i386__)
static_assert(sizeof(elf_reader) == 112, "elf_reader is 112 bytes");
static_assert(offsetof(elf_reader, head_len) == 16, "head_len follows head");
static_assert(offsetof(elf_reader, ident) == 44, "ident after image_offset");
static_assert(offsetof(elf_reader, header) == 88, "normalised tables after the counts");
static_assert(offsetof(elf_reader, last_error) == 108, "last_error is the last word");
static_assert(sizeof(elf_attachment) == 8, "elf_attachment is 8 bytes");
#endif

// Default caps on what one file can make the reader hold.
constexpr uint32_t ELF_MAX_SECTIONS = 8192;
constexpr uint32_t ELF_MAX_SECTION_NAMES = 32768;
constexpr uint32_t ELF_MAX_SEGMENTS = 256;
constexpr uint64_t SHF_ALLOC = 2;
constexpr uint16_t SHN_UNDEF = 0;
constexpr uint16_t SHN_XINDEX = 0xFFFF;
constexpr uint32_t PT_LOAD = 1;

inline host_ref host_of(const elf_reader *r) { return {r->ctx, r->instance, r->services}; }

// Stores code as the reader's last error and returns fail, for one-line exits.
template <class T> inline T elf_fail(elf_reader *r, int32_t code, T fail) {
    r->last_error = code;
    return fail;
}

elf_reader *elf_reader_create(host_context *ctx, uint32_t instance, uint32_t handle, const uint8_t *head,
                              uint64_t head_len, const host_services *services);
int32_t elf_reader_destroy(elf_reader *reader);
int32_t elf_check_file(host_context *ctx, uint32_t instance, uint32_t handle, const uint8_t *head,
                       uint64_t head_len, const host_services *services);

const uint8_t *elf_get_ident(elf_reader *reader);
int32_t elf_read_header32(elf_reader *reader, const elf::ehdr32 **out);
int32_t elf_read_header64(elf_reader *reader, const elf::ehdr64 **out);

int32_t elf_read_section_headers32(elf_reader *reader, const void **out, uint32_t *count);
int32_t elf_read_section_headers64(elf_reader *reader, const void **out, uint32_t *count);
int32_t elf_load_section_names(elf_reader *reader, const char **out, uint32_t *size);

int32_t elf_read_program_headers32(elf_reader *reader, const void **out, uint32_t *count);
int32_t elf_read_program_headers64(elf_reader *reader, const void **out, uint32_t *count);

// The class-generic forms behind the _32/_64 pairs (one definition each).
template <class C> int32_t elf_read_header(elf_reader *reader, const typename C::ehdr **out);

}  // namespace kq
