/* The host interface as the module sees it: interface tables by id, the
 * host's services for memory and files, engine settings and the known-file
 * list. A host fills these tables; the module only calls through them. */
#ifndef KQHELP_HOST_H
#define KQHELP_HOST_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*kq_generic_fn)(void);

/* Interface ids asked for with get_interface. */
#define HOST_IFACE_ENGINE 0u    /* host_engine */
#define HOST_IFACE_SERVICES 1u  /* host_services */
#define HOST_IFACE_SIZE_LIST 10u /* host_size_list */
#define HOST_IFACE_SELF_API 12u /* this module's own table as the host publishes it */

struct host_context;

/* host_context entry 1: the interface table for an id, or null. Ids 1 and 12
 * are required when a scan_file is created; 1 is asked again by slot 1 and
 * the searches, 10 at creation (optional) and 0 by slot 56 (optional). For 12
 * return this module's table (module_get_api) or one whose slots behave as
 * its own: the module calls its slots 4, 7, 8 and 16 through it, so a host
 * may interpose on them. Tables must stay valid while the module may use them. */
typedef void *(*host_get_interface_fn)(struct host_context *ctx, uint32_t instance, uint32_t id);

/* The host context is itself a table of function pointers; the module only
 * ever calls entry 1. A host may keep its own state after the table. */
typedef struct host_context {
    kq_generic_fn reserved0;
    host_get_interface_fn get_interface;
} host_context;

/* host_services slots */
#define HOST_SLOT_READ 2
#define HOST_SLOT_SEEK 5
#define HOST_SLOT_GET_FILE_SIZE 8
#define HOST_SLOT_READ_AT 14
#define HOST_SLOT_ALLOC 16
#define HOST_SLOT_FREE 17
#define HOST_SLOT_ALLOC_ZEROED 18
#define HOST_SLOT_POOL_ALLOC 30
#define HOST_SLOT_POOL_ALLOC_ZEROED 31
#define HOST_SERVICES_SLOTS 32

/* Every service gets the ctx and instance the module was given (pool
 * services get the pool instead). */
/* Reads at the file position: 0 success with *done = bytes read (fewer than
 * asked at the end of the file); -1 failure. Several callers judge only *done,
 * which they zero first; a *done above count is not believed. */
typedef int32_t (*host_read_fn)(host_context *ctx, uint32_t instance, uint32_t handle, void *buffer,
                                uint64_t count, uint64_t *done);
/* origin is always 0 (from the start); 0 success, non-zero failure. Offsets
 * may lie beyond the end of the file (a later read then delivers 0 bytes). */
typedef int32_t (*host_seek_fn)(host_context *ctx, uint32_t instance, uint32_t handle, uint64_t offset,
                                uint32_t origin);
/* Writes the size; the result is not examined (a size left alone reads 0,
 * which turns off the ELF reader's bounds test). */
typedef int32_t (*host_get_file_size_fn)(host_context *ctx, uint32_t instance, uint32_t handle,
                                         uint64_t *size);
/* As seek and read together; 0 success with *done, non-zero failure. */
typedef int32_t (*host_read_at_fn)(host_context *ctx, uint32_t instance, uint32_t handle, uint64_t offset,
                                   void *buffer, uint64_t count, uint64_t *done);
/* A block of size bytes (contents undefined, or zero-filled for
 * alloc_zeroed), or null; size can exceed 4 GiB only by a caller's count
 * given to slot 33. Every such block goes back through free, which is never
 * given null. */
typedef void *(*host_alloc_fn)(host_context *ctx, uint32_t instance, uint64_t size);
typedef void (*host_free_fn)(host_context *ctx, uint32_t instance, void *block);
typedef void *(*host_alloc_zeroed_fn)(host_context *ctx, uint32_t instance, uint64_t size);
/* A block from the pool a container caller named (plain or zero-filled), or
 * null; the module never frees pool blocks. */
typedef void *(*host_pool_alloc_fn)(void *pool, uint32_t size);
typedef void *(*host_pool_alloc_zeroed_fn)(void *pool, uint32_t size);

/* Interface 1: a table of function pointers indexed by the HOST_SLOT_* numbers. */
typedef struct host_services {
    kq_generic_fn reserved0[2];
    host_read_fn read;                       /* 2 */
    kq_generic_fn reserved3[2];
    host_seek_fn seek;                       /* 5 */
    kq_generic_fn reserved6[2];
    host_get_file_size_fn get_file_size;     /* 8 */
    kq_generic_fn reserved9[5];
    host_read_at_fn read_at;                 /* 14 */
    kq_generic_fn reserved15;
    host_alloc_fn alloc;                     /* 16 */
    host_free_fn free;                       /* 17 */
    host_alloc_zeroed_fn alloc_zeroed;       /* 18 */
    kq_generic_fn reserved19[11];
    host_pool_alloc_fn pool_alloc;           /* 30 */
    host_pool_alloc_zeroed_fn pool_alloc_zeroed; /* 31 */
} host_services;

/* Interface 0: engine settings. Slot 56 reads key 3 and tests its bits 0x08
 * and 0x20 (either switches the known-file match off); the result is not
 * examined, *out starts at 0. */
#define HOST_ENGINE_SLOT_GET_SETTING 36
#define HOST_ENGINE_SLOTS 37
#define HOST_SETTING_KNOWN_FILES 3u
typedef int32_t (*host_get_setting_fn)(host_context *ctx, uint32_t instance, uint32_t key, uint32_t *out);
typedef struct host_engine {
    kq_generic_fn reserved0[36];
    host_get_setting_fn get_setting; /* 36 */
} host_engine;

/* Interface 10: the known-file list: *out = null or count, then count
 * entries of four words (size, offset, length, crc32: the standard CRC-32 of
 * length bytes at offset, for files of that size). Asked on every call of
 * slot 56 and read during that call only; the result is not examined. */
#define HOST_SIZE_LIST_SLOT_GET 13
#define HOST_SIZE_LIST_SLOTS 14
typedef int32_t (*host_get_size_list_fn)(host_context *ctx, uint32_t instance, const uint32_t **out);
typedef struct host_size_list {
    kq_generic_fn reserved0[13];
    host_get_size_list_fn get_size_list; /* 13 */
} host_size_list;

#ifdef __cplusplus
#define KQ_STATIC_ASSERT static_assert
#else
#define KQ_STATIC_ASSERT _Static_assert
#endif

KQ_STATIC_ASSERT(offsetof(host_context, get_interface) == 1 * sizeof(void *), "get_interface is entry 1");
KQ_STATIC_ASSERT(offsetof(host_services, read) == HOST_SLOT_READ * sizeof(void *), "read slot");
KQ_STATIC_ASSERT(offsetof(host_services, seek) == HOST_SLOT_SEEK * sizeof(void *), "seek slot");
KQ_STATIC_ASSERT(offsetof(host_services, get_file_size) == HOST_SLOT_GET_FILE_SIZE * sizeof(void *), "size slot");
KQ_STATIC_ASSERT(offsetof(host_services, read_at) == HOST_SLOT_READ_AT * sizeof(void *), "read_at slot");
KQ_STATIC_ASSERT(offsetof(host_services, alloc) == HOST_SLOT_ALLOC * sizeof(void *), "alloc slot");
KQ_STATIC_ASSERT(offsetof(host_services, free) == HOST_SLOT_FREE * sizeof(void *), "free slot");
KQ_STATIC_ASSERT(offsetof(host_services, alloc_zeroed) == HOST_SLOT_ALLOC_ZEROED * sizeof(void *), "zeroed slot");
KQ_STATIC_ASSERT(offsetof(host_services, pool_alloc) == HOST_SLOT_POOL_ALLOC * sizeof(void *), "pool slot");
KQ_STATIC_ASSERT(offsetof(host_services, pool_alloc_zeroed) == HOST_SLOT_POOL_ALLOC_ZEROED * sizeof(void *), "pool0 slot");
KQ_STATIC_ASSERT(sizeof(host_services) == HOST_SERVICES_SLOTS * sizeof(void *), "host_services size");
KQ_STATIC_ASSERT(offsetof(host_engine, get_setting) == HOST_ENGINE_SLOT_GET_SETTING * sizeof(void *), "setting slot");
KQ_STATIC_ASSERT(offsetof(host_size_list, get_size_list) == HOST_SIZE_LIST_SLOT_GET * sizeof(void *), "list slot");

#ifdef __cplusplus
}
#endif
#endif
