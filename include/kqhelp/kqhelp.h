/* KQHELP: the helper module of the file-scanning engine.
 *
 * A host loads libkqhelp.so, checks module_get_abi_version() == 1, reads the
 * identity record and takes the 75-slot table from module_get_api(). Entry n of
 * the table is the function of slot n (SLOT_* below); cast it to its *_fn type.
 * Everything the module allocates comes from the host's services (host.h).
 * Read the parts in the order included below: module.h states the rules on
 * ownership, errors and threads that every slot follows; each *_fn type
 * carries the contract of its slot. */
#ifndef KQHELP_KQHELP_H
#define KQHELP_KQHELP_H

#include "kqhelp/host.h"
#include "kqhelp/module.h"
#include "kqhelp/pe.h"
#include "kqhelp/elf.h"
#include "kqhelp/search.h"
#include "kqhelp/checksum.h"
#include "kqhelp/names.h"
#include "kqhelp/xordetect.h"
#include "kqhelp/containers.h"
#include "kqhelp/inflate.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Entry points. None has side effects; any may be called at any time, in
 * any order, from any thread, and loading or unloading the library runs no
 * code. module_get_abi_version returns KQHELP_ABI_VERSION; module_get_info
 * the constant identity record, whose dependency list ends with an empty
 * name; module_get_api the constant table of KQHELP_API_SLOTS entries, all
 * filled. Both records live as long as the library is loaded. */
uint32_t module_get_abi_version(void);
const module_info *module_get_info(void);
const helper_api_entry *module_get_api(void);

typedef uint32_t (*module_get_abi_version_fn)(void);
typedef const module_info *(*module_get_info_fn)(void);
typedef const helper_api_entry *(*module_get_api_fn)(void);

/* Also slots 74, 72 and 73 (contracts: elf.h). */
uint32_t elf_get_encoding(elf_reader *reader);
int32_t elf_get_section_by_physical_address(elf_reader *reader, uint64_t address, const elf_section **out);
int32_t elf_get_segment_by_physical_address(elf_reader *reader, uint64_t address, const elf_segment **out);

/* Copies n bytes each XORed with 0x2F and ends the copy with a zero byte
 * (contract: xor_string_copy_fn in names.h). */
void xor_string_copy(const uint8_t *source, uint8_t *target, uint32_t n);

/* String lists and string-pair lists (contracts: the *_fn types of
 * containers.h). */
int32_t helper_add_str_to_list(const helper_owner *owner, helper_list *list, char *string, void *pool);
char *helper_find_str_in_list(const helper_list *list, const char *string);
int32_t helper_delete_str_list(const helper_owner *owner, helper_list *list, int32_t release_strings, void *pool);
int32_t helper_add_2str_to_list(const helper_owner *owner, helper_list *list, char *first, char *second,
                                void *pool);
int32_t helper_delete_2str_list(const helper_owner *owner, helper_list *list, int32_t release_strings,
                                void *pool);

/* Hashed trees (contracts: containers.h). */
int32_t helper_add_to_tree(const helper_owner *owner, helper_tree *tree, void *item, void *pool);
void *helper_find_in_tree(const helper_tree *tree, const void *item);
void helper_delete_tree(const helper_owner *owner, helper_tree *tree, int32_t release_items, void *pool);

#ifdef __cplusplus
}
#endif
#endif
