/* The reference host: loads a module with dlopen and serves it the host
 * interfaces over POSIX files (or byte buffers) and the system allocator.
 * For tests it counts every host call, keeps live-block accounting and can
 * inject faults. One host serves one thread. */
#ifndef KQHOST_H
#define KQHOST_H

#include <stdio.h>

#include "kqhelp/kqhelp.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct kqhost kqhost;

/* Host calls counted by kind. */
typedef enum kqhost_call {
    KQHOST_CALL_GET_INTERFACE,
    KQHOST_CALL_READ,
    KQHOST_CALL_SEEK,
    KQHOST_CALL_GET_FILE_SIZE,
    KQHOST_CALL_READ_AT,
    KQHOST_CALL_ALLOC,
    KQHOST_CALL_FREE,
    KQHOST_CALL_ALLOC_ZEROED,
    KQHOST_CALL_POOL_ALLOC,
    KQHOST_CALL_POOL_ALLOC_ZEROED,
    KQHOST_CALL_GET_SETTING,
    KQHOST_CALL_GET_SIZE_LIST,
    KQHOST_CALL_KINDS
} kqhost_call;

kqhost *kqhost_create(void);
/* Unloads the module and closes every file. Blocks still live stay counted
 * until this call; pools are released with it. */
void kqhost_destroy(kqhost *host);

/* dlopen the module at path and check its ABI version; 0 on success, -1 with
 * a message in kqhost_last_error. */
int kqhost_load_module(kqhost *host, const char *path);
/* Serve a module linked into this program (fuzzers, benchmarks) instead. */
void kqhost_use_linked_module(kqhost *host, const module_info *info, const helper_api_entry *api);
const char *kqhost_last_error(const kqhost *host);
const module_info *kqhost_module_info(const kqhost *host);
const helper_api_entry *kqhost_api(const kqhost *host);
/* A symbol the module exports by name (null when it has none). */
void *kqhost_symbol(const kqhost *host, const char *name);

host_context *kqhost_context(kqhost *host);
uint32_t kqhost_instance(const kqhost *host);
/* The owner record (ctx, instance, services) that the container functions take. */
const helper_owner *kqhost_owner(kqhost *host);
const host_services *kqhost_services(const kqhost *host);

/* Files: a handle (never 0) or 0 on failure. */
uint32_t kqhost_open_file(kqhost *host, const char *path);
/* Serve an open regular file; the host owns fd from then on (closed on failure too). */
uint32_t kqhost_open_fd(kqhost *host, int fd);
uint32_t kqhost_open_memory(kqhost *host, const void *data, size_t size); /* the bytes are copied */
void kqhost_close_file(kqhost *host, uint32_t handle);
/* Make host_get_file_size report this size for the handle (the data stays). */
void kqhost_set_reported_size(kqhost *host, uint32_t handle, uint64_t size);

/* Interface 0, setting 3 (and any other key). */
void kqhost_set_setting(kqhost *host, uint32_t key, uint32_t value);
/* Interface 10: the known-file list, words = count then 4 words per entry.
 * kqhost_load_size_list reads a text file: one entry a line, "size offset
 * length crc32" (decimal or 0x hex), '#' starts a comment. 0 or -1. */
int kqhost_set_size_list(kqhost *host, const uint32_t *words, size_t nwords);
int kqhost_load_size_list(kqhost *host, const char *path);

/* Pools: arenas whose blocks are released together with the pool. */
void *kqhost_pool_create(kqhost *host);
void kqhost_pool_destroy(kqhost *host, void *pool);

/* Accounting. */
uint64_t kqhost_live_blocks(const kqhost *host);
uint64_t kqhost_live_bytes(const kqhost *host);
/* Frees of blocks this host never handed out, and calls with a wrong ctx or instance. */
uint64_t kqhost_misuse_count(const kqhost *host);
/* Prints one line per live block; returns the number of live blocks. */
uint64_t kqhost_report_leaks(const kqhost *host, FILE *out);
uint64_t kqhost_calls(const kqhost *host, kqhost_call kind);
void kqhost_reset_counters(kqhost *host);

/* Fault injection. Allocations are numbered from 1 after each call of
 * kqhost_fail_alloc_at; 0 fails nothing. Pool allocations count too. */
void kqhost_fail_alloc_at(kqhost *host, uint64_t nth);
void kqhost_fail_all_allocs(kqhost *host, int on);
void kqhost_fail_seeks(kqhost *host, int on);
void kqhost_fail_reads(kqhost *host, int on);
/* Deliver at most max bytes per read (0: no limit). */
void kqhost_short_reads(kqhost *host, uint64_t max);
void kqhost_hide_interface(kqhost *host, uint32_t id, int hidden);

#ifdef __cplusplus
}
#endif
#endif
