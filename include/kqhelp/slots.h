/* The 75 slots of the function table, as one list.
 *
 * Each row is X(number, NAME, stem): SLOT_NAME is the slot number, stem_fn is
 * the function type of the entry (declared with its subsystem's records), and
 * in the module the entry is the function `stem`. The slot number is the
 * interface: rows never move and none is ever removed. The module builds its
 * table from this list and checks every entry's type and position against it
 * at compile time. */
#ifndef KQHELP_SLOTS_H
#define KQHELP_SLOTS_H

#define KQHELP_SLOT_LIST(X) \
    X(0, SCAN_FILE_CREATE, scan_file_create)                                              \
    X(1, SCAN_FILE_DESTROY, scan_file_destroy)                                            \
    X(2, SCAN_FILE_SET_HANDLE, scan_file_set_handle)                                      \
    X(3, SCAN_FILE_RESET, scan_file_reset)                                                \
    X(4, FILE_GET_REGION, file_get_region)                                                \
    X(5, FILE_GET_WINDOW, file_get_window)                                                \
    X(6, PE_GET_DOS_HEADER, pe_get_dos_header)                                            \
    X(7, PE_GET_NT_HEADERS32, pe_get_nt_headers32)                                        \
    X(8, PE_GET_SECTIONS32, pe_get_sections32)                                            \
    X(9, PE_GET_NT_HEADERS64, pe_get_nt_headers64)                                        \
    X(10, PE_GET_SECTIONS64, pe_get_sections64)                                           \
    X(11, PE_GET_NE_HEADER, pe_get_ne_header)                                             \
    X(12, PE_FIND_SECTION_BY_RVA, pe_find_section_by_rva)                                 \
    X(13, PE_FIND_SECTION_BY_OFFSET, pe_find_section_by_offset)                           \
    X(14, PE_RVA_TO_OFFSET, pe_rva_to_offset)                                             \
    X(15, PE_OFFSET_TO_RVA, pe_offset_to_rva)                                             \
    X(16, PE_RVA_TO_OFFSET_EX, pe_rva_to_offset_ex)                                       \
    X(17, PE_OFFSET_TO_RVA_EX, pe_offset_to_rva_ex)                                       \
    X(18, PE_GET_OVERLAY, pe_get_overlay)                                                 \
    X(19, ELF_READER_GET, elf_reader_get)                                                 \
    X(20, ELF_GET_CLASS, elf_get_class)                                                   \
    X(21, ELF_GET_HEADER, elf_get_header)                                                 \
    X(22, ELF_GET_SECTION_COUNT, elf_get_section_count)                                   \
    X(23, ELF_GET_SECTION_TABLE, elf_get_section_table)                                   \
    X(24, ELF_GET_SECTION_BY_INDEX, elf_get_section_by_index)                             \
    X(25, ELF_GET_SECTION_BY_NAME, elf_get_section_by_name)                               \
    X(26, ELF_GET_SECTION_NAME, elf_get_section_name)                                     \
    X(27, ELF_GET_SEGMENT_COUNT, elf_get_segment_count)                                   \
    X(28, ELF_GET_SEGMENT_TABLE, elf_get_segment_table)                                   \
    X(29, ELF_GET_SEGMENT_BY_INDEX, elf_get_segment_by_index)                             \
    X(30, ELF_GET_IMAGE_BASE, elf_get_image_base)                                         \
    X(31, ELF_GET_FILE_OFFSET_BY_VIRTUAL_ADDRESS, elf_get_file_offset_by_virtual_address) \
    X(32, ELF_GET_VIRTUAL_ADDRESS_BY_FILE_OFFSET, elf_get_virtual_address_by_file_offset) \
    X(33, ELF_READ, elf_read)                                                             \
    X(34, ELF_CHECK, elf_check)                                                           \
    X(35, SEARCH_BUFFER_NOCASE, search_buffer_nocase)                                     \
    X(36, SEARCH_BUFFER, search_buffer)                                                   \
    X(37, SEARCH_BUFFER_SCRAMBLED_NOCASE, search_buffer_scrambled_nocase)                 \
    X(38, SEARCH_BUFFER_SCRAMBLED, search_buffer_scrambled)                               \
    X(39, INFLATE_INIT, inflate_init)                                                     \
    X(40, INFLATE, inflate)                                                               \
    X(41, INFLATE_END, inflate_end)                                                       \
    X(42, INFLATE_RESET, inflate_reset)                                                   \
    X(43, UNCOMPRESS, uncompress)                                                         \
    X(44, SCRAMBLED_COMPARE, scrambled_compare)                                           \
    X(45, SCRAMBLED_PATTERN_MATCH, scrambled_pattern_match)                               \
    X(46, SCAN_FILE_GET_SIZE, scan_file_get_size)                                         \
    X(47, SCAN_FILE_GET_HANDLE, scan_file_get_handle)                                     \
    X(48, SCAN_FILE_SET_USER1, scan_file_set_user1)                                       \
    X(49, SCAN_FILE_GET_USER1, scan_file_get_user1)                                       \
    X(50, SCAN_FILE_GET_USER3, scan_file_get_user3)                                       \
    X(51, SCAN_FILE_SET_USER3, scan_file_set_user3)                                       \
    X(52, SCAN_FILE_SET_USER2, scan_file_set_user2)                                       \
    X(53, SCAN_FILE_GET_USER2, scan_file_get_user2)                                       \
    X(54, CRC32_UPDATE, crc32_update)                                                     \
    X(55, CRC16_UPDATE, crc16_update)                                                     \
    X(56, KNOWN_FILE_MATCH, known_file_match)                                             \
    X(57, XORDETECT_CHECK_HEADER, xordetect_check_header)                                 \
    X(58, XORDETECT_FIND_KEY, xordetect_find_key)                                         \
    X(59, XORDETECT_SCAN_BUFFER, xordetect_scan_buffer)                                   \
    X(60, NAME_HAS_CATEGORY_PREFIX, name_has_category_prefix)                             \
    X(61, EXT_IN_EXECUTABLE_LIST, ext_in_executable_list)                                 \
    X(62, EXT_IN_DOCUMENT_LIST, ext_in_document_list)                                     \
    X(63, HELPER_NOOP_A, helper_noop_a)                                                   \
    X(64, HELPER_FAIL_A, helper_fail_a)                                                   \
    X(65, HELPER_CLAMP_NONPOSITIVE, helper_clamp_nonpositive)                             \
    X(66, HELPER_NOOP_B, helper_noop_b)                                                   \
    X(67, HELPER_FAIL_B, helper_fail_b)                                                   \
    X(68, ELF_GET_SECTION_BY_VIRTUAL_ADDRESS, elf_get_section_by_virtual_address)         \
    X(69, ELF_GET_SEGMENT_BY_VIRTUAL_ADDRESS, elf_get_segment_by_virtual_address)         \
    X(70, ELF_GET_LAST_ERROR, elf_get_last_error)                                         \
    X(71, PATTERN_MATCH, pattern_match)                                                   \
    X(72, ELF_GET_SECTION_BY_PHYSICAL_ADDRESS, elf_get_section_by_physical_address)       \
    X(73, ELF_GET_SEGMENT_BY_PHYSICAL_ADDRESS, elf_get_segment_by_physical_address)       \
    X(74, ELF_GET_ENCODING, elf_get_encoding)

/* SLOT_SCAN_FILE_CREATE = 0, ... SLOT_ELF_GET_ENCODING = 74 */
#define KQHELP_SLOT_ENUMERATOR(number, NAME, stem) SLOT_##NAME = number,
enum { KQHELP_SLOT_LIST(KQHELP_SLOT_ENUMERATOR) };
#undef KQHELP_SLOT_ENUMERATOR

#endif
