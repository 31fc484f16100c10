// The functions behind the 75 slots of the table. Each subsystem defines its
// own; the table in api_table.cpp only takes their addresses.
#pragma once

#include "kqhelp/kqhelp.h"

extern "C" {

// scan_file
scan_file *scan_file_create(host_context *ctx, uint32_t instance, uint32_t *handle);
int32_t scan_file_destroy(host_context *ctx, uint32_t instance, scan_file *file);
int32_t scan_file_set_handle(scan_file *file, uint32_t handle);
int32_t scan_file_reset(scan_file *file, uint32_t handle);
int32_t scan_file_get_size(scan_file *file, uint64_t *out);
int32_t scan_file_get_handle(scan_file *file, uint32_t *out);
void scan_file_set_user1(scan_file *file, uint32_t value);
uint32_t scan_file_get_user1(scan_file *file);
uint32_t scan_file_get_user3(scan_file *file);
void scan_file_set_user3(scan_file *file, uint32_t value);
void scan_file_set_user2(scan_file *file, uint32_t value);
uint32_t scan_file_get_user2(scan_file *file);

// regions and PE
const uint8_t *file_get_region(scan_file *file, int32_t kind, uint64_t *size_out);
const uint8_t *file_get_window(scan_file *file, int32_t kind, int64_t offset, uint64_t *size_out,
                               uint64_t *position_out);
const uint8_t *pe_get_dos_header(scan_file *file);
const uint8_t *pe_get_nt_headers32(scan_file *file);
const uint8_t *pe_get_sections32(scan_file *file, uint32_t *count);
const uint8_t *pe_get_nt_headers64(scan_file *file);
const uint8_t *pe_get_sections64(scan_file *file, uint32_t *count);
const uint8_t *pe_get_ne_header(scan_file *file);
int32_t pe_find_section_by_rva(int32_t count, const uint8_t *sections, uint32_t rva);
int32_t pe_find_section_by_offset(int32_t count, const uint8_t *sections, uint32_t offset);
uint32_t pe_rva_to_offset(int32_t count, const uint8_t *sections, uint32_t rva);
uint32_t pe_offset_to_rva(int32_t count, const uint8_t *sections, uint32_t offset);
uint32_t pe_rva_to_offset_ex(int32_t count, const uint8_t *sections, uint32_t rva);
uint32_t pe_offset_to_rva_ex(int32_t count, const uint8_t *sections, uint32_t offset);
uint64_t pe_get_overlay(scan_file *file, uint64_t *size);

// ELF (elf_get_encoding and the two physical-address lookups are in kqhelp.h)
elf_reader *elf_reader_get(scan_file *file);
uint32_t elf_get_class(elf_reader *reader);
int32_t elf_get_header(elf_reader *reader, const elf_header **out);
uint32_t elf_get_section_count(elf_reader *reader);
int32_t elf_get_section_table(elf_reader *reader, const elf_section **out, uint32_t *count);
int32_t elf_get_section_by_index(elf_reader *reader, uint32_t index, const elf_section **out);
int32_t elf_get_section_by_name(elf_reader *reader, const char *name, const elf_section **out);
const char *elf_get_section_name(elf_reader *reader, const elf_section *record);
uint32_t elf_get_segment_count(elf_reader *reader);
int32_t elf_get_segment_table(elf_reader *reader, const elf_segment **out, uint32_t *count);
int32_t elf_get_segment_by_index(elf_reader *reader, uint32_t index, const elf_segment **out);
uint64_t elf_get_image_base(elf_reader *reader);
uint64_t elf_get_file_offset_by_virtual_address(elf_reader *reader, uint64_t address);
uint64_t elf_get_virtual_address_by_file_offset(elf_reader *reader, uint64_t offset);
uint64_t elf_read(elf_reader *reader, uint8_t **buffer, uint64_t count, uint64_t offset);
int32_t elf_check(elf_reader *reader, int32_t deep);
int32_t elf_get_section_by_virtual_address(elf_reader *reader, uint64_t address, const elf_section **out);
int32_t elf_get_segment_by_virtual_address(elf_reader *reader, uint64_t address, const elf_segment **out);
int32_t elf_get_last_error(elf_reader *reader);

// search
int32_t search_buffer_nocase(host_context *ctx, uint32_t instance, const uint8_t *buffer, const uint8_t *pattern,
                             int32_t m, int32_t offset, int32_t length);
int32_t search_buffer(host_context *ctx, uint32_t instance, const uint8_t *buffer, const uint8_t *pattern, int32_t m,
                      int32_t offset, int32_t length);
int32_t search_buffer_scrambled_nocase(host_context *ctx, uint32_t instance, const uint8_t *buffer,
                                       const uint8_t *pattern, int32_t m, int32_t offset, int32_t length);
int32_t search_buffer_scrambled(host_context *ctx, uint32_t instance, const uint8_t *buffer, const uint8_t *pattern,
                                int32_t m, int32_t offset, int32_t length);

// names and strings
int32_t scrambled_compare(const uint8_t *a, const uint8_t *b, int32_t n);
int32_t scrambled_pattern_match(const uint8_t *data, const uint8_t *pattern);
int32_t pattern_match(const uint8_t *data, const uint8_t *pattern);
int32_t name_has_category_prefix(const char *name);
int32_t ext_in_executable_list(const char *ext);
int32_t ext_in_document_list(const char *ext);

// checksums
uint32_t crc32_update(uint32_t crc, const uint8_t *data, uint32_t length);
uint32_t crc16_update(uint32_t crc, const uint8_t *data, uint32_t length);
int32_t known_file_match(scan_file *file);

// xordetect
int32_t xordetect_check_header(const uint8_t *buffer, uint32_t size);
int32_t xordetect_find_key(const uint8_t *source, uint8_t *decoded, uint8_t *key_byte, uint32_t *key_word);
int32_t xordetect_scan_buffer(uint8_t *source, uint8_t *decoded, uint8_t *key_byte, uint32_t *key_word,
                              uint32_t size);

// placeholders
void helper_noop_a(void);
int32_t helper_fail_a(void);
int32_t helper_clamp_nonpositive(int32_t n);
void helper_noop_b(void);
int32_t helper_fail_b(void);

}  // extern "C"
