/* Module identity, the 75-slot function table, and the per-file object.
 *
 * Rules every slot in these headers follows; each slot's comment gives only
 * what is its own.
 *
 * Ownership. A pointer that a slot returns into a file's data (a region or
 * window, a PE record, the ELF reader and its records and names) is owned by
 * the scan_file: "file-owned" below. The caller never frees it; it stays
 * valid until the scan_file is reset (slot 3) or destroyed (slot 1). Every
 * block the module holds comes from the host's services of that scan_file.
 * Load once. A file-owned item is read on first request and kept; where a
 * slot says its failure is final, later calls answer the failure at once
 * without reading the file again.
 * Errors. Only the ELF slots keep error codes (in the reader, see elf.h); the
 * others report everything through their result. Buffers that a caller passes
 * with a length are trusted to hold that length.
 *
 * Threads. The module creates no threads, takes no locks and keeps no state
 * of its own between calls (the one word it writes, the processor features,
 * holds the same value on every thread). So distinct scan_files may be used
 * on any threads at once; one scan_file, and everything attached to it or
 * obtained from it (ELF reader, regions, windows, records), by one thread at
 * a time; likewise one container header or one z_stream. Slots that take only
 * caller buffers are re-entrant. The host's services and interfaces must be
 * safe to call from every thread that uses the module. */
#ifndef KQHELP_MODULE_H
#define KQHELP_MODULE_H

#include "kqhelp/host.h"
#include "kqhelp/slots.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KQHELP_ABI_VERSION 1u
#define KQHELP_API_SLOTS 75

typedef struct module_dependency {
    char name[32];        /* NUL-padded; an empty name ends the list */
    uint32_t version[3];
    uint32_t reserved[2]; /* 0xFFFFFFFF */
} module_dependency;

typedef struct module_info {
    char name[32];        /* "KQHELP", NUL-padded */
    uint32_t version[4];  /* 8.1.1.2 */
    uint16_t build_year;
    uint8_t build_month, build_day;
    uint8_t build_hour, build_minute, build_second;
    uint8_t pad;
    uint32_t reserved[2]; /* 0xFFFFFFFF */
    const module_dependency *dependencies;
    const char *name_copy;
} module_info;

/* Slot numbers of the function table (SLOT_*): kqhelp/slots.h. */

/* The table: entry n is the function of slot n, to be cast to its *_fn type. */
typedef kq_generic_fn helper_api_entry;

/* Attached-data types. */
#define ATTACHED_PE_READER 1u
#define ATTACHED_ELF 2u
#define ATTACHED_REGION_CACHE 3u

typedef struct attached_data {
    uint32_t type;
    void *data;
    struct attached_data *next;
} attached_data;

/* The per-file object: 13 words on i386. */
typedef struct scan_file {
    host_context *ctx;
    uint32_t instance;
    const host_services *services;
    attached_data *attached;
    uint32_t handle;
    uint64_t size;
    const helper_api_entry *self_api;
    uint8_t known_file_state;
    uint8_t pad[3];
    uint32_t user1;
    uint32_t user2;
    uint32_t user3;
    const host_size_list *size_list_api;
} scan_file;

/* Slots 0-3, 46-53 */

/* Slot 0: a new scan_file for the host file *handle, or null when ctx is null,
 * instance is 0, handle is null, *handle is 0, the host has no interface 1 or
 * 12, or the object cannot be allocated (nothing is left allocated).
 * The caller owns it and releases it with slot 1 and the same ctx and
 * instance. Interface 10 is optional (without it slot 56 answers 0). The
 * file size is asked here and kept. */
typedef scan_file *(*scan_file_create_fn)(host_context *ctx, uint32_t instance, uint32_t *handle);
/* Slot 1: releases every attached block and the object; returns 0 always.
 * With a null ctx or an instance of 0 it does nothing (the object is kept);
 * a null file is allowed. Every file-owned pointer dies here. */
typedef int32_t (*scan_file_destroy_fn)(host_context *ctx, uint32_t instance, scan_file *file);
/* Slot 2: stores the handle and returns 0; 1 for a null file. The size, the
 * known-file answer and the attached blocks (cached regions and records of
 * the previous handle) are kept. */
typedef int32_t (*scan_file_set_handle_fn)(scan_file *file, uint32_t handle);
/* Slot 3: rebinds the object to another file in place: releases every
 * attached block (file-owned pointers die), zeroes the object, takes the new
 * handle and asks its size again (user words and the known-file answer go
 * back to 0). Returns 1 for a null file, else 0. A handle of 0 only releases
 * the blocks and leaves every other field as it was. */
typedef int32_t (*scan_file_reset_fn)(scan_file *file, uint32_t handle);
/* Slots 46, 47: *out = the size (as the host reported it) or the handle, and
 * 0. A null out returns 1; a null file sets *out = 0 and returns 1. */
typedef int32_t (*scan_file_get_size_fn)(scan_file *file, uint64_t *out);
typedef int32_t (*scan_file_get_handle_fn)(scan_file *file, uint32_t *out);
/* Slots 48-53: three words the engine keeps on the file; the module never
 * reads them. Setters ignore a null file. Getters of a null file return 1
 * for user1 and 0 for user2 and user3. */
typedef void (*scan_file_set_user1_fn)(scan_file *file, uint32_t value);
typedef uint32_t (*scan_file_get_user1_fn)(scan_file *file);
typedef uint32_t (*scan_file_get_user3_fn)(scan_file *file);
typedef void (*scan_file_set_user3_fn)(scan_file *file, uint32_t value);
typedef void (*scan_file_set_user2_fn)(scan_file *file, uint32_t value);
typedef uint32_t (*scan_file_get_user2_fn)(scan_file *file);

/* Slots 63-67: placeholders that keep their places in the table. The no-ops
 * do nothing, the fail slots return -1, and clamp_nonpositive returns n when
 * n <= 0, else 0. None touches memory or the host. */
typedef void (*helper_noop_a_fn)(void);
typedef int32_t (*helper_fail_a_fn)(void);
typedef int32_t (*helper_clamp_nonpositive_fn)(int32_t n);
typedef void (*helper_noop_b_fn)(void);
typedef int32_t (*helper_fail_b_fn)(void);

#if defined(__i386__)
KQ_STATIC_ASSERT(sizeof(module_dependency) == 52, "module_dependency is 52 bytes");
KQ_STATIC_ASSERT(sizeof(module_info) == 72, "module_info is 72 bytes");
KQ_STATIC_ASSERT(offsetof(module_info, build_year) == 48, "build time follows the version");
KQ_STATIC_ASSERT(offsetof(module_info, reserved) == 56, "reserved words");
KQ_STATIC_ASSERT(offsetof(module_info, dependencies) == 64, "dependency pointer");
KQ_STATIC_ASSERT(sizeof(attached_data) == 12, "attached_data is 12 bytes");
KQ_STATIC_ASSERT(sizeof(scan_file) == 52, "scan_file is 13 words");
KQ_STATIC_ASSERT(offsetof(scan_file, handle) == 16, "handle is word 4");
KQ_STATIC_ASSERT(offsetof(scan_file, size) == 20, "size is words 5-6");
KQ_STATIC_ASSERT(offsetof(scan_file, self_api) == 28, "self_api is word 7");
KQ_STATIC_ASSERT(offsetof(scan_file, known_file_state) == 32, "known_file_state is word 8");
KQ_STATIC_ASSERT(offsetof(scan_file, user1) == 36, "user1 is word 9");
KQ_STATIC_ASSERT(offsetof(scan_file, user2) == 40, "user2 is word 10");
KQ_STATIC_ASSERT(offsetof(scan_file, user3) == 44, "user3 is word 11");
KQ_STATIC_ASSERT(offsetof(scan_file, size_list_api) == 48, "size_list_api is word 12");
#endif

#ifdef __cplusplus
}
#endif
#endif
