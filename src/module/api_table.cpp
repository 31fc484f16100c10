// The 75-slot function table. The slot number is the interface: the order
// never changes and no entry is null.
#include "inflate/inflate_facade.h"

#include "module/slots.h"

// A C-style function-pointer conversion; the table is still initialised
// statically (by relocations), never by code at load time.
#define entry(f) reinterpret_cast<helper_api_entry>(&f)

extern const helper_api_entry helper_api[KQHELP_API_SLOTS];
const helper_api_entry helper_api[KQHELP_API_SLOTS] = {
    entry(scan_file_create),                        // 0
    entry(scan_file_destroy),                       // 1
    entry(scan_file_set_handle),                    // 2
    entry(scan_file_reset),                         // 3
    entry(file_get_region),                         // 4
    entry(file_get_window),                         // 5
    entry(pe_get_dos_header),                       // 6
    entry(pe_get_nt_headers32),                     // 7
    entry(pe_get_sections32),                       // 8
    entry(pe_get_nt_headers64),                     // 9
    entry(pe_get_sections64),                       // 10
    entry(pe_get_ne_header),                        // 11
    entry(pe_find_section_by_rva),                  // 12
    entry(pe_find_section_by_offset),               // 13
    entry(pe_rva_to_offset),                        // 14
    entry(pe_offset_to_rva),                        // 15
    entry(pe_rva_to_offset_ex),                     // 16
    entry(pe_offset_to_rva_ex),                     // 17
    entry(pe_get_overlay),                          // 18
    entry(elf_reader_get),                          // 19
    entry(elf_get_class),                           // 20
    entry(elf_get_header),                          // 21
    entry(elf_get_section_count),                   // 22
    entry(elf_get_section_table),                   // 23
    entry(elf_get_section_by_index),                // 24
    entry(elf_get_section_by_name),                 // 25
    entry(elf_get_section_name),                    // 26
    entry(elf_get_segment_count),                   // 27
    entry(elf_get_segment_table),                   // 28
    entry(elf_get_segment_by_index),                // 29
    entry(elf_get_image_base),                      // 30
    entry(elf_get_file_offset_by_virtual_address),  // 31
    entry(elf_get_virtual_address_by_file_offset),  // 32
    entry(elf_read),                                // 33
    entry(elf_check),                               // 34
    entry(search_buffer_nocase),                    // 35
    entry(search_buffer),                           // 36
    entry(search_buffer_scrambled_nocase),          // 37
    entry(search_buffer_scrambled),                 // 38
    entry(inflateInit_),                            // 39: zlib checks the version and the record size itself
    entry(inflate),                                 // 40
    entry(inflateEnd),                              // 41
    entry(inflateReset),                            // 42
    entry(uncompress),                              // 43
    entry(scrambled_compare),                       // 44
    entry(scrambled_pattern_match),                 // 45
    entry(scan_file_get_size),                      // 46
    entry(scan_file_get_handle),                    // 47
    entry(scan_file_set_user1),                     // 48
    entry(scan_file_get_user1),                     // 49
    entry(scan_file_get_user3),                     // 50
    entry(scan_file_set_user3),                     // 51
    entry(scan_file_set_user2),                     // 52
    entry(scan_file_get_user2),                     // 53
    entry(crc32_update),                            // 54
    entry(crc16_update),                            // 55
    entry(known_file_match),                        // 56
    entry(xordetect_check_header),                  // 57
    entry(xordetect_find_key),                      // 58
    entry(xordetect_scan_buffer),                   // 59
    entry(name_has_category_prefix),                // 60
    entry(ext_in_executable_list),                  // 61
    entry(ext_in_document_list),                    // 62
    entry(helper_noop_a),                           // 63
    entry(helper_fail_a),                           // 64
    entry(helper_clamp_nonpositive),                // 65
    entry(helper_noop_b),                           // 66
    entry(helper_fail_b),                           // 67
    entry(elf_get_section_by_virtual_address),      // 68
    entry(elf_get_segment_by_virtual_address),      // 69
    entry(elf_get_last_error),                      // 70
    entry(pattern_match),                           // 71
    entry(elf_get_section_by_physical_address),     // 72
    entry(elf_get_segment_by_physical_address),     // 73
    entry(elf_get_encoding),                        // 74
};
