// The per-file ELF context and the block that hangs it on its scan_file,
// with the reader's internal operations (the slot functions are in slots.h).
#pragma once

#include "common/bounds.h"
#include "elf/elf_layout.h"
#include "module/host_calls.h"
#include "module/slots.h"

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
    kq::elf::class_block<kq::elf::ehdr32, kq::elf::ehdr64> header_raw;  // the class-layout header
    kq::elf::class_block<kq::elf::shdr32, kq::elf::shdr64> sections_raw;  // class-layout records
    kq::elf::class_block<kq::elf::phdr32, kq::elf::phdr64> segments_raw;
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

// elf_attachment states.
inline constexpr uint8_t kElfAttachNew = 0;
inline constexpr uint8_t kElfAttachReady = 1;
inline constexpr uint8_t kElfAttachFailed = 2;

struct elf_attachment {
    elf_reader *reader;  // null until created, and when creation failed
    uint8_t state;       // kElfAttach*
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
inline constexpr uint32_t kElfMaxSections = 8192;
inline constexpr uint32_t kElfMaxSectionNames = 32768;
inline constexpr uint32_t kElfMaxSegments = 256;
inline constexpr uint64_t kShfAlloc = 2;       // SHF_ALLOC
inline constexpr uint16_t kShnUndef = 0;       // SHN_UNDEF
inline constexpr uint16_t kShnXindex = 0xFFFF; // SHN_XINDEX
inline constexpr uint32_t kPtLoad = 1;         // PT_LOAD

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
int32_t elf_load_section_names(elf_reader *reader, const char **out, uint32_t *size);

// The class-layout header of class C (traits elf::class32 or elf::class64).
template <class C> int32_t elf_read_header(elf_reader *reader, const typename C::ehdr **out);
inline int32_t elf_read_header32(elf_reader *reader, const elf::ehdr32 **out) {
    return elf_read_header<elf::class32>(reader, out);
}
inline int32_t elf_read_header64(elf_reader *reader, const elf::ehdr64 **out) {
    return elf_read_header<elf::class64>(reader, out);
}

// The one class dispatcher: f is called with the traits of the reader's class.
// EI_CLASS 1 selects ELF32; every other answer (2, another byte, or a failed
// identification) selects ELF64.
template <class F> decltype(auto) with_class(elf_reader *reader, F &&f) {
    if (elf_get_class(reader) == elf::class32::id) return f(elf::class32{});
    return f(elf::class64{});
}

// The program header count the file header declares: the one place e_phnum is read.
template <class H> inline uint32_t declared_segments(const H &header) { return header.e_phnum; }

}  // namespace kq
