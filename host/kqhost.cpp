// The reference host over POSIX files, byte buffers and the system allocator.
#include "kqhost.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct host_file {
    int fd = -1;                 // a POSIX file, or
    std::vector<uint8_t> bytes;  // a buffer when fd is -1
    uint64_t position = 0;
    bool size_overridden = false;
    uint64_t reported_size = 0;

    uint64_t real_size() const {
        if (fd < 0) return bytes.size();
        struct stat st;
        return fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }
    // Reads up to count bytes at offset; returns bytes read or -1.
    int64_t read_at(uint64_t offset, uint8_t *out, uint64_t count) const {
        if (fd < 0) {
            if (offset >= bytes.size()) return 0;
            uint64_t n = std::min<uint64_t>(count, bytes.size() - offset);
            memcpy(out, bytes.data() + offset, static_cast<size_t>(n));
            return static_cast<int64_t>(n);
        }
        uint64_t done = 0;
        while (done < count) {
            size_t chunk = static_cast<size_t>(std::min<uint64_t>(count - done, 1u << 30));
            ssize_t got = pread(fd, out + done, chunk, static_cast<off_t>(offset + done));
            if (got < 0) return -1;
            if (got == 0) break;
            done += static_cast<uint64_t>(got);
        }
        return static_cast<int64_t>(done);
    }
};

struct pool {
    kqhost *host;
    std::vector<void *> blocks;
};

}  // namespace

struct kqhost {
    host_context ctx;  // first: the module's ctx pointer is the host itself
    uint32_t instance = 0x4B51u;
    host_services services{};
    host_engine engine{};
    host_size_list size_list_api{};
    helper_owner owner{};

    void *module = nullptr;
    const module_info *info = nullptr;
    const helper_api_entry *api = nullptr;
    std::string error;

    std::map<uint32_t, std::unique_ptr<host_file>> files;
    uint32_t next_handle = 1;
    std::map<uint32_t, uint32_t> settings;
    std::vector<uint32_t> size_list;
    bool has_size_list = false;
    std::set<uint32_t> hidden;
    std::set<pool *> pools;

    std::unordered_map<void *, uint64_t> live;
    uint64_t live_bytes = 0;
    uint64_t misuse = 0;
    uint64_t calls[KQHOST_CALL_KINDS] = {};

    uint64_t alloc_serial = 0, fail_alloc_at = 0;
    bool fail_all_allocs = false, fail_seeks = false, fail_reads = false;
    uint64_t short_read_max = 0;
};

namespace {

kqhost *host_from(host_context *ctx, uint32_t instance, kqhost_call kind) {
    auto *host = reinterpret_cast<kqhost *>(ctx);
    host->calls[kind]++;
    if (instance != host->instance) host->misuse++;
    return host;
}

host_file *file_of(kqhost *host, uint32_t handle) {
    auto it = host->files.find(handle);
    return it == host->files.end() ? nullptr : it->second.get();
}

bool next_alloc_fails(kqhost *host) {
    host->alloc_serial++;
    return host->fail_all_allocs || (host->fail_alloc_at && host->alloc_serial == host->fail_alloc_at);
}

void *heap_alloc(kqhost *host, uint64_t size, bool zeroed) {
    if (next_alloc_fails(host) || size > SIZE_MAX / 2) return nullptr;
    size_t n = static_cast<size_t>(size ? size : 1);
    void *block = zeroed ? calloc(1, n) : malloc(n);
    if (!block) return nullptr;
    if (!zeroed) memset(block, 0xA5, n);  // contents are undefined: make reliance on zeros visible
    host->live[block] = size;
    host->live_bytes += size;
    return block;
}

void *pool_alloc(void *pool_handle, uint32_t size, bool zeroed) {
    auto *p = static_cast<pool *>(pool_handle);
    kqhost *host = p->host;
    host->calls[zeroed ? KQHOST_CALL_POOL_ALLOC_ZEROED : KQHOST_CALL_POOL_ALLOC]++;
    if (next_alloc_fails(host)) return nullptr;
    void *block = zeroed ? calloc(1, size ? size : 1) : malloc(size ? size : 1);
    if (block && !zeroed) memset(block, 0xA5, size ? size : 1);
    if (block) p->blocks.push_back(block);
    return block;
}

// --- interface 1 ---
int32_t svc_read(host_context *ctx, uint32_t instance, uint32_t handle, void *buffer, uint64_t count,
                 uint64_t *done) {
    kqhost *host = host_from(ctx, instance, KQHOST_CALL_READ);
    if (done) *done = 0;
    host_file *f = file_of(host, handle);
    if (!f || !buffer || host->fail_reads) return -1;
    if (host->short_read_max && count > host->short_read_max) count = host->short_read_max;
    int64_t got = f->read_at(f->position, static_cast<uint8_t *>(buffer), count);
    if (got < 0) return -1;
    f->position += static_cast<uint64_t>(got);
    if (done) *done = static_cast<uint64_t>(got);
    return 0;
}

int32_t svc_seek(host_context *ctx, uint32_t instance, uint32_t handle, uint64_t offset, uint32_t origin) {
    kqhost *host = host_from(ctx, instance, KQHOST_CALL_SEEK);
    host_file *f = file_of(host, handle);
    if (!f || origin != 0 || host->fail_seeks || offset > (uint64_t)INT64_MAX) return -1;
    f->position = offset;
    return 0;
}

int32_t svc_get_file_size(host_context *ctx, uint32_t instance, uint32_t handle, uint64_t *size) {
    kqhost *host = host_from(ctx, instance, KQHOST_CALL_GET_FILE_SIZE);
    host_file *f = file_of(host, handle);
    if (!size) return -1;
    *size = 0;
    if (!f) return -1;
    *size = f->size_overridden ? f->reported_size : f->real_size();
    return 0;
}

int32_t svc_read_at(host_context *ctx, uint32_t instance, uint32_t handle, uint64_t offset, void *buffer,
                    uint64_t count, uint64_t *done) {
    kqhost *host = host_from(ctx, instance, KQHOST_CALL_READ_AT);
    if (done) *done = 0;
    host_file *f = file_of(host, handle);
    if (!f || !buffer || host->fail_reads) return -1;
    if (host->short_read_max && count > host->short_read_max) count = host->short_read_max;
    int64_t got = f->read_at(offset, static_cast<uint8_t *>(buffer), count);
    if (got < 0) return -1;
    if (done) *done = static_cast<uint64_t>(got);
    return 0;
}

void *svc_alloc(host_context *ctx, uint32_t instance, uint64_t size) {
    return heap_alloc(host_from(ctx, instance, KQHOST_CALL_ALLOC), size, false);
}

void *svc_alloc_zeroed(host_context *ctx, uint32_t instance, uint64_t size) {
    return heap_alloc(host_from(ctx, instance, KQHOST_CALL_ALLOC_ZEROED), size, true);
}

void svc_free(host_context *ctx, uint32_t instance, void *block) {
    kqhost *host = host_from(ctx, instance, KQHOST_CALL_FREE);
    auto it = host->live.find(block);
    if (it == host->live.end()) {  // null, a double free or a foreign block: count it, never crash
        host->misuse++;
        return;
    }
    host->live_bytes -= it->second;
    host->live.erase(it);
    free(block);
}

void *svc_pool_alloc(void *pool_handle, uint32_t size) { return pool_alloc(pool_handle, size, false); }
void *svc_pool_alloc_zeroed(void *pool_handle, uint32_t size) { return pool_alloc(pool_handle, size, true); }

// --- interfaces 0 and 10 ---
int32_t eng_get_setting(host_context *ctx, uint32_t instance, uint32_t key, uint32_t *out) {
    kqhost *host = host_from(ctx, instance, KQHOST_CALL_GET_SETTING);
    if (!out) return -1;
    auto it = host->settings.find(key);
    *out = it == host->settings.end() ? 0 : it->second;
    return 0;
}

int32_t list_get_size_list(host_context *ctx, uint32_t instance, const uint32_t **out) {
    kqhost *host = host_from(ctx, instance, KQHOST_CALL_GET_SIZE_LIST);
    if (!out) return -1;
    *out = host->has_size_list ? host->size_list.data() : nullptr;
    return 0;
}

void *get_interface(host_context *ctx, uint32_t instance, uint32_t id) {
    kqhost *host = host_from(ctx, instance, KQHOST_CALL_GET_INTERFACE);
    if (host->hidden.count(id)) return nullptr;
    switch (id) {
    case HOST_IFACE_ENGINE: return &host->engine;
    case HOST_IFACE_SERVICES: return &host->services;
    case HOST_IFACE_SIZE_LIST: return &host->size_list_api;
    case HOST_IFACE_SELF_API: return const_cast<helper_api_entry *>(host->api);
    default: return nullptr;
    }
}

bool parse_word(const std::string &s, uint32_t *out) {
    if (s.empty()) return false;
    char *end = nullptr;
    unsigned long long v = strtoull(s.c_str(), &end, 0);
    if (*end || v > 0xFFFFFFFFull) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

extern "C" {

kqhost *kqhost_create(void) {
    auto *host = new kqhost;
    host->ctx.reserved0 = nullptr;
    host->ctx.get_interface = get_interface;
    host->services.read = svc_read;
    host->services.seek = svc_seek;
    host->services.get_file_size = svc_get_file_size;
    host->services.read_at = svc_read_at;
    host->services.alloc = svc_alloc;
    host->services.free = svc_free;
    host->services.alloc_zeroed = svc_alloc_zeroed;
    host->services.pool_alloc = svc_pool_alloc;
    host->services.pool_alloc_zeroed = svc_pool_alloc_zeroed;
    host->engine.get_setting = eng_get_setting;
    host->size_list_api.get_size_list = list_get_size_list;
    host->owner = {&host->ctx, host->instance, &host->services};
    return host;
}

void kqhost_destroy(kqhost *host) {
    if (!host) return;
    for (auto &entry : host->files)
        if (entry.second->fd >= 0) close(entry.second->fd);
    while (!host->pools.empty()) kqhost_pool_destroy(host, *host->pools.begin());
    for (auto &block : host->live) free(block.first);
    if (host->module) dlclose(host->module);
    delete host;
}

int kqhost_load_module(kqhost *host, const char *path) {
    void *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        host->error = dlerror();
        return -1;
    }
    auto version = reinterpret_cast<module_get_abi_version_fn>(dlsym(module, "module_get_abi_version"));
    auto info = reinterpret_cast<module_get_info_fn>(dlsym(module, "module_get_info"));
    auto api = reinterpret_cast<module_get_api_fn>(dlsym(module, "module_get_api"));
    if (!version || !info || !api) {
        host->error = std::string(path) + ": not a module (entry points missing)";
        dlclose(module);
        return -1;
    }
    if (version() != KQHELP_ABI_VERSION) {
        host->error = std::string(path) + ": ABI version " + std::to_string(version()) + ", expected " +
                      std::to_string(KQHELP_ABI_VERSION);
        dlclose(module);
        return -1;
    }
    if (host->module) dlclose(host->module);
    host->module = module;
    host->info = info();
    host->api = api();
    return 0;
}

void kqhost_use_linked_module(kqhost *host, const module_info *info, const helper_api_entry *api) {
    host->info = info;
    host->api = api;
}

const char *kqhost_last_error(const kqhost *host) { return host->error.c_str(); }
const module_info *kqhost_module_info(const kqhost *host) { return host->info; }
const helper_api_entry *kqhost_api(const kqhost *host) { return host->api; }
void *kqhost_symbol(const kqhost *host, const char *name) {
    return host->module ? dlsym(host->module, name) : nullptr;
}
host_context *kqhost_context(kqhost *host) { return &host->ctx; }
uint32_t kqhost_instance(const kqhost *host) { return host->instance; }
const helper_owner *kqhost_owner(kqhost *host) { return &host->owner; }
const host_services *kqhost_services(const kqhost *host) { return &host->services; }

uint32_t kqhost_open_file(kqhost *host, const char *path) {
    // Non-blocking: a FIFO without a writer must not hang the open.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        host->error = std::string(path) + ": " + strerror(errno);
        return 0;
    }
    uint32_t handle = kqhost_open_fd(host, fd);
    if (!handle) host->error = std::string(path) + ": " + host->error;
    return handle;
}

uint32_t kqhost_open_fd(kqhost *host, int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        host->error = "not a regular file";
        close(fd);
        return 0;
    }
    auto f = std::make_unique<host_file>();
    f->fd = fd;
    uint32_t handle = host->next_handle++;
    host->files[handle] = std::move(f);
    return handle;
}

uint32_t kqhost_open_memory(kqhost *host, const void *data, size_t size) {
    auto f = std::make_unique<host_file>();
    if (size) f->bytes.assign(static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + size);
    uint32_t handle = host->next_handle++;
    host->files[handle] = std::move(f);
    return handle;
}

void kqhost_close_file(kqhost *host, uint32_t handle) {
    auto it = host->files.find(handle);
    if (it == host->files.end()) return;
    if (it->second->fd >= 0) close(it->second->fd);
    host->files.erase(it);
}

void kqhost_set_reported_size(kqhost *host, uint32_t handle, uint64_t size) {
    if (host_file *f = file_of(host, handle)) {
        f->size_overridden = true;
        f->reported_size = size;
    }
}

void kqhost_set_setting(kqhost *host, uint32_t key, uint32_t value) { host->settings[key] = value; }

int kqhost_set_size_list(kqhost *host, const uint32_t *words, size_t nwords) {
    host->size_list.assign(words, words + nwords);
    host->has_size_list = words != nullptr;
    return 0;
}

int kqhost_load_size_list(kqhost *host, const char *path) {
    FILE *in = fopen(path, "r");
    if (!in) {
        host->error = std::string(path) + ": " + strerror(errno);
        return -1;
    }
    std::vector<uint32_t> words{0};
    char line[512];
    int line_no = 0;
    while (fgets(line, sizeof line, in)) {
        line_no++;
        std::string text(line);
        text = text.substr(0, text.find('#'));
        std::vector<std::string> fields;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t start = text.find_first_not_of(" \t\r\n", pos);
            if (start == std::string::npos) break;
            size_t end = text.find_first_of(" \t\r\n", start);
            fields.push_back(text.substr(start, end - start));
            pos = end == std::string::npos ? text.size() : end;
        }
        if (fields.empty()) continue;
        uint32_t v[4];
        if (fields.size() != 4 || !parse_word(fields[0], &v[0]) || !parse_word(fields[1], &v[1]) ||
            !parse_word(fields[2], &v[2]) || !parse_word(fields[3], &v[3])) {
            host->error = std::string(path) + ":" + std::to_string(line_no) +
                          ": expected \"size offset length crc32\"";
            fclose(in);
            return -1;
        }
        words.insert(words.end(), v, v + 4);
        words[0]++;
    }
    fclose(in);
    return kqhost_set_size_list(host, words.data(), words.size());
}

void *kqhost_pool_create(kqhost *host) {
    auto *p = new pool{host, {}};
    host->pools.insert(p);
    return p;
}

void kqhost_pool_destroy(kqhost *host, void *pool_handle) {
    auto *p = static_cast<pool *>(pool_handle);
    if (!host->pools.erase(p)) return;
    for (void *block : p->blocks) free(block);
    delete p;
}

uint64_t kqhost_live_blocks(const kqhost *host) { return host->live.size(); }
uint64_t kqhost_live_bytes(const kqhost *host) { return host->live_bytes; }
uint64_t kqhost_misuse_count(const kqhost *host) { return host->misuse; }

uint64_t kqhost_report_leaks(const kqhost *host, FILE *out) {
    for (auto &block : host->live)
        fprintf(out, "leak: block %p of %llu bytes\n", block.first, static_cast<unsigned long long>(block.second));
    return host->live.size();
}

uint64_t kqhost_calls(const kqhost *host, kqhost_call kind) {
    return kind < KQHOST_CALL_KINDS ? host->calls[kind] : 0;
}
void kqhost_reset_counters(kqhost *host) { std::fill(std::begin(host->calls), std::end(host->calls), 0); }

void kqhost_fail_alloc_at(kqhost *host, uint64_t nth) {
    host->alloc_serial = 0;
    host->fail_alloc_at = nth;
}
void kqhost_fail_all_allocs(kqhost *host, int on) { host->fail_all_allocs = on != 0; }
void kqhost_fail_seeks(kqhost *host, int on) { host->fail_seeks = on != 0; }
void kqhost_fail_reads(kqhost *host, int on) { host->fail_reads = on != 0; }
void kqhost_short_reads(kqhost *host, uint64_t max) { host->short_read_max = max; }
void kqhost_hide_interface(kqhost *host, uint32_t id, int hidden) {
    if (hidden) host->hidden.insert(id);
    else host->hidden.erase(id);
}

}  // extern "C"
