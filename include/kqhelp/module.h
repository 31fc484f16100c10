/* Module identity, the 75-slot function table, and the per-file object. */
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
typedef scan_file *(*scan_file_create_fn)(host_context *ctx, uint32_t instance, uint32_t *handle);
typedef int32_t (*scan_file_destroy_fn)(host_context *ctx, uint32_t instance, scan_file *file);
typedef int32_t (*scan_file_set_handle_fn)(scan_file *file, uint32_t handle);
typedef int32_t (*scan_file_reset_fn)(scan_file *file, uint32_t handle);
typedef int32_t (*scan_file_get_size_fn)(scan_file *file, uint64_t *out);
typedef int32_t (*scan_file_get_handle_fn)(scan_file *file, uint32_t *out);
typedef void (*scan_file_set_user1_fn)(scan_file *file, uint32_t value);
typedef uint32_t (*scan_file_get_user1_fn)(scan_file *file);
typedef uint32_t (*scan_file_get_user3_fn)(scan_file *file);
typedef void (*scan_file_set_user3_fn)(scan_file *file, uint32_t value);
typedef void (*scan_file_set_user2_fn)(scan_file *file, uint32_t value);
typedef uint32_t (*scan_file_get_user2_fn)(scan_file *file);

/* Slots 63-67: placeholders that keep their places in the table. */
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
