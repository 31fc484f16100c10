// The ELF pipeline an engine runs on an ELF file: the reader, elf_check level
// 1, the header, the section table, the program header table, the image base
// and the entry point as a file offset. It runs over about 300 real ELF files
// of this machine (both classes, both byte orders) held in memory by a plain
// host (malloc blocks, reads copied out of memory), against elfutils' libelf
// doing the same work on the same bytes (elf_memory, gelf_getehdr,
// elf_getshdrnum/gelf_getshdr, elf_getphdrnum/gelf_getphdr, the translation)
// against the obvious code through the same host ("direct": the head read
// once, records decoded where they lie), which shows what the host's copies
// cost, and against the module's own host calls replayed without the module
// ("host-calls": every allocation, free, seek, read and query the module makes
// for the file, recorded once), the floor that the documented calls set.
//
// The module is loaded from the build, as an engine loads it. When
// KQHELP_BASELINE names another libkqhelp.so (an older build), that one runs
// in the same process as the peer "baseline", so both are timed side by side.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <gelf.h>
#include <libelf.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kqhelp/slot_call.hpp"
#include "kqhost.h"

namespace {

// Up to this many files from each folder, smallest paths first, 300 in all.
struct source_folder {
    const char *path;
    size_t quota;
};
constexpr source_folder kFolders[] = {
    {"/usr/bin", 120},                   // ELF64 little-endian executables
    {"/usr/lib32", 60},                  // ELF32 little-endian libraries
    {"/usr/lib/x86_64-linux-gnu", 60},   // ELF64 shared objects
    {"/usr/s390x-linux-gnu/lib", 30},    // ELF64 big-endian
    {"/usr/powerpc-linux-gnu/lib", 30},  // ELF32 big-endian
};
constexpr size_t kFileCount = 300;
constexpr off_t kMaxFileSize = 8 << 20;

// The file's bytes when it is a regular ELF file of a usable size.
bool read_elf(const std::string &name, std::vector<uint8_t> &bytes) {
    struct stat st;
    if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 64 || st.st_size > kMaxFileSize)
        return false;
    FILE *f = fopen(name.c_str(), "rb");
    if (!f) return false;
    bytes.resize(static_cast<size_t>(st.st_size));
    bool ok = fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    fclose(f);
    return ok && memcmp(bytes.data(), "\x7F" "ELF", 4) == 0;
}

// Each folder's quota first; folders short of theirs leave the rest to the
// others, taken in folder order.
std::vector<std::vector<uint8_t>> load_files() {
    std::vector<std::vector<std::string>> names;
    for (const source_folder &folder : kFolders) {
        names.emplace_back();
        if (DIR *dir = opendir(folder.path)) {
            while (dirent *e = readdir(dir)) names.back().push_back(std::string(folder.path) + "/" + e->d_name);
            closedir(dir);
        }
        std::sort(names.back().begin(), names.back().end());
    }
    std::vector<std::vector<uint8_t>> files;
    std::vector<uint8_t> bytes;
    for (bool quotas : {true, false})
        for (size_t i = 0; i < names.size(); i++) {
            size_t taken = 0;
            while (!names[i].empty() && files.size() < kFileCount && (!quotas || taken < kFolders[i].quota)) {
                std::string name = names[i].front();
                names[i].erase(names[i].begin());
                if (!read_elf(name, bytes)) continue;
                files.push_back(bytes);
                taken++;
            }
        }
    return files;
}

const std::vector<std::vector<uint8_t>> &files() {
    static const std::vector<std::vector<uint8_t>> loaded = load_files();
    return loaded;
}

// The host: handle n is files()[n - 1]; one read position per file.
std::vector<uint64_t> positions;

// One host call as the module made it. Blocks are numbered in the order they
// were allocated; a read names the block and the place in it that it filled.
struct host_event {
    enum kind_t : uint8_t { alloc, alloc_zeroed, release, seek, read, file_size, interface } kind;
    uint32_t block;
    uint64_t value;  // size, offset, count or interface id
    uint64_t at;     // read: offset in the block
};
struct host_recording {
    std::vector<host_event> events;
    std::vector<std::pair<uint8_t *, uint64_t>> blocks;  // address and size, by number
    uint32_t block_of(const void *p, uint64_t *at) const {
        for (size_t i = blocks.size(); i-- > 0;)
            if (p >= blocks[i].first && p < blocks[i].first + blocks[i].second) {
                if (at) *at = static_cast<const uint8_t *>(p) - blocks[i].first;
                return static_cast<uint32_t>(i);
            }
        return ~0u;
    }
};
host_recording *recording = nullptr;  // set while the module's calls are recorded

void record(host_event::kind_t kind, uint32_t block, uint64_t value, uint64_t at = 0) {
    if (recording) recording->events.push_back({kind, block, value, at});
}
void record_block(host_event::kind_t kind, void *block, uint64_t size) {
    if (!recording || !block) return;
    record(kind, static_cast<uint32_t>(recording->blocks.size()), size);
    recording->blocks.emplace_back(static_cast<uint8_t *>(block), size);
}

int32_t host_read(host_context *, uint32_t, uint32_t handle, void *buffer, uint64_t count, uint64_t *done) {
    if (recording) {
        uint64_t at = 0;
        record(host_event::read, recording->block_of(buffer, &at), count, at);
    }
    const std::vector<uint8_t> &f = files()[handle - 1];
    uint64_t &pos = positions[handle - 1];
    uint64_t n = pos < f.size() ? std::min<uint64_t>(count, f.size() - pos) : 0;
    memcpy(buffer, f.data() + pos, static_cast<size_t>(n));
    pos += n;
    *done = n;
    return 0;
}
int32_t host_seek(host_context *, uint32_t, uint32_t handle, uint64_t offset, uint32_t) {
    record(host_event::seek, 0, offset);
    positions[handle - 1] = offset;
    return 0;
}
int32_t host_read_at(host_context *ctx, uint32_t instance, uint32_t handle, uint64_t offset, void *buffer,
                     uint64_t count, uint64_t *done) {
    host_seek(ctx, instance, handle, offset, 0);
    return host_read(ctx, instance, handle, buffer, count, done);
}
int32_t host_file_size(host_context *, uint32_t, uint32_t handle, uint64_t *size) {
    record(host_event::file_size, 0, 0);
    *size = files()[handle - 1].size();
    return 0;
}
void *host_alloc(host_context *, uint32_t, uint64_t size) {
    void *block = malloc(static_cast<size_t>(size));
    record_block(host_event::alloc, block, size);
    return block;
}
void *host_alloc_zeroed(host_context *, uint32_t, uint64_t size) {
    void *block = calloc(1, static_cast<size_t>(size));
    record_block(host_event::alloc_zeroed, block, size);
    return block;
}
void host_free(host_context *, uint32_t, void *block) {
    if (recording) record(host_event::release, recording->block_of(block, nullptr), 0);
    free(block);
}

host_services make_services() {
    host_services s{};
    s.read = host_read;
    s.seek = host_seek;
    s.read_at = host_read_at;
    s.get_file_size = host_file_size;
    s.alloc = host_alloc;
    s.alloc_zeroed = host_alloc_zeroed;
    s.free = host_free;
    return s;
}
const host_services kServices = make_services();

// One context per loaded module: its own table is what self_api answers.
struct module_context {
    host_context ctx;
    const helper_api_entry *api;
};

void *get_interface(host_context *ctx, uint32_t, uint32_t id) {
    record(host_event::interface, 0, id);
    if (id == HOST_IFACE_SERVICES) return const_cast<host_services *>(&kServices);
    if (id == HOST_IFACE_SELF_API)
        return const_cast<helper_api_entry *>(reinterpret_cast<module_context *>(ctx)->api);
    return nullptr;
}

// The pipeline through the module's table; returns a digest of the answers.
uint64_t module_pipeline(module_context &m, uint32_t handle) {
    using kqhelp::call;
    const helper_api_entry *api = m.api;
    scan_file *file = call<SLOT_SCAN_FILE_CREATE>(api, &m.ctx, 1u, &handle);
    if (!file) return 0;
    uint64_t digest = 0;
    elf_reader *r = call<SLOT_ELF_READER_GET>(api, file);
    const elf_header *h = nullptr;
    if (r && call<SLOT_ELF_CHECK>(api, r, 1) == 1 && call<SLOT_ELF_GET_HEADER>(api, r, &h) == 0) {
        const elf_section *sections = nullptr;
        const elf_segment *segments = nullptr;
        uint32_t section_count = 0, segment_count = 0;
        if (call<SLOT_ELF_GET_SECTION_TABLE>(api, r, &sections, &section_count) == 0)
            digest += section_count + sections[section_count - 1].sh_offset;
        if (call<SLOT_ELF_GET_SEGMENT_TABLE>(api, r, &segments, &segment_count) == 0)
            digest += segment_count + segments[segment_count - 1].p_vaddr;
        digest += call<SLOT_ELF_GET_IMAGE_BASE>(api, r);
        digest += call<SLOT_ELF_GET_FILE_OFFSET_BY_VIRTUAL_ADDRESS>(api, r, h->e_entry);
    }
    call<SLOT_SCAN_FILE_DESTROY>(api, &m.ctx, 1u, file);
    return digest;
}

// The same work through libelf.
uint64_t libelf_pipeline(const std::vector<uint8_t> &bytes) {
    Elf *e = elf_memory(reinterpret_cast<char *>(const_cast<uint8_t *>(bytes.data())), bytes.size());
    if (!e) return 0;
    uint64_t digest = 0;
    GElf_Ehdr h;
    if (elf_kind(e) == ELF_K_ELF && gelf_getehdr(e, &h)) {
        size_t section_count = 0, segment_count = 0;
        GElf_Shdr s{};
        GElf_Phdr p{};
        if (elf_getshdrnum(e, &section_count) == 0 && section_count > 0) {
            for (size_t i = 0; i < section_count; i++) gelf_getshdr(elf_getscn(e, i), &s);
            digest += section_count + s.sh_offset;
        }
        uint64_t base = ~uint64_t{0}, entry_offset = 0;
        bool entry_found = false;
        if (elf_getphdrnum(e, &segment_count) == 0) {
            for (size_t i = 0; i < segment_count; i++) {
                if (!gelf_getphdr(e, static_cast<int>(i), &p)) break;
                if (p.p_type == PT_LOAD && p.p_vaddr < base) base = p.p_vaddr;
                if (!entry_found && p.p_vaddr <= h.e_entry && h.e_entry < p.p_vaddr + p.p_memsz) {
                    entry_offset = h.e_entry - p.p_vaddr + p.p_offset;
                    entry_found = true;
                }
            }
            if (segment_count > 0) digest += segment_count + p.p_vaddr;
        }
        digest += base + entry_offset;
    }
    elf_end(e);
    return digest;
}

// The obvious code through the same host: the head read once into a zeroed
// block, the records decoded from it (or read past it) field by field, no
// caching beyond what one file needs. It marks what the host's copies cost.
template <class T> T field(const uint8_t *p, bool big) {
    T v;
    memcpy(&v, p, sizeof v);
    if (!big) return v;
    if constexpr (sizeof(T) == 2) return __builtin_bswap16(v);
    if constexpr (sizeof(T) == 4) return __builtin_bswap32(v);
    if constexpr (sizeof(T) == 8) return __builtin_bswap64(v);
}

// The bytes [offset, offset + size) from the head when they lie in it, else read.
const uint8_t *bytes_at(uint32_t handle, const uint8_t *head, uint64_t head_size, uint64_t offset, uint64_t size,
                        std::vector<uint8_t> &scratch) {
    if (offset + size <= head_size) return head + offset;
    scratch.resize(size);
    uint64_t got = 0;
    host_read_at(nullptr, 1, handle, offset, scratch.data(), size, &got);
    return got == size ? scratch.data() : nullptr;
}

uint64_t direct_pipeline(uint32_t handle) {
    auto *head = static_cast<uint8_t *>(host_alloc_zeroed(nullptr, 1, 20484));
    uint64_t head_size = 0;
    host_seek(nullptr, 1, handle, 0, 0);
    host_read(nullptr, 1, handle, head, 20480, &head_size);
    uint64_t digest = 0;
    if (head_size >= 64) {
        bool wide = head[4] == 2, big = head[5] == 2;
        auto word = [&](const uint8_t *p) { return wide ? field<uint64_t>(p, big) : field<uint32_t>(p, big); };
        uint64_t entry = word(head + 24), phoff = word(head + (wide ? 32 : 28)), shoff = word(head + (wide ? 40 : 32));
        uint16_t phnum = field<uint16_t>(head + (wide ? 56 : 44), big);
        uint16_t shnum = field<uint16_t>(head + (wide ? 60 : 48), big);
        std::vector<uint8_t> scratch;
        uint64_t shsize = wide ? 64 : 40, phsize = wide ? 56 : 32;
        if (shoff && shnum)
            if (const uint8_t *t = bytes_at(handle, head, head_size, shoff, shnum * shsize, scratch))
                digest += shnum + word(t + (shnum - 1) * shsize + (wide ? 24 : 16));
        uint64_t base = ~uint64_t{0}, entry_offset = 0;
        bool found = false;
        if (phoff && phnum)
            if (const uint8_t *t = bytes_at(handle, head, head_size, phoff, phnum * phsize, scratch)) {
                uint64_t vaddr = 0;
                for (uint32_t i = 0; i < phnum; i++) {
                    const uint8_t *p = t + i * phsize;
                    uint32_t type = field<uint32_t>(p, big);
                    vaddr = word(p + (wide ? 16 : 8));
                    uint64_t offset = word(p + (wide ? 8 : 4)), memsz = word(p + (wide ? 40 : 20));
                    if (type == 1 && vaddr < base) base = vaddr;
                    if (!found && vaddr <= entry && entry < vaddr + memsz) {
                        entry_offset = entry - vaddr + offset;
                        found = true;
                    }
                }
                digest += phnum + vaddr;
            }
        digest += base + entry_offset;
    }
    host_free(nullptr, 1, head);
    return digest;
}

// The module's host calls for every file, recorded from one pass.
std::vector<std::vector<host_event>> record_host_calls(module_context &m) {
    std::vector<std::vector<host_event>> calls;
    for (uint32_t handle = 1; handle <= files().size(); handle++) {
        host_recording r;
        recording = &r;
        module_pipeline(m, handle);
        recording = nullptr;
        calls.push_back(std::move(r.events));
    }
    return calls;
}

// Of one file's calls, those of the head region alone: the block the first
// read fills, its seek and read, its release.
std::vector<host_event> head_calls(const std::vector<host_event> &events) {
    uint32_t head = ~0u;
    for (const host_event &e : events)
        if (e.kind == host_event::read) {
            head = e.block;
            break;
        }
    std::vector<host_event> kept;
    for (size_t i = 0; i < events.size(); i++) {
        host_event e = events[i];
        bool keep = false;
        switch (e.kind) {
        case host_event::alloc:
        case host_event::alloc_zeroed:
        case host_event::release:
        case host_event::read: keep = e.block == head; break;
        case host_event::seek:
            keep = i + 1 < events.size() && events[i + 1].kind == host_event::read && events[i + 1].block == head;
            break;
        default: break;
        }
        if (!keep) continue;
        e.block = 0;  // the one block of the replay
        kept.push_back(e);
    }
    return kept;
}

// The recorded calls made again through the same host table, in the same
// order, with the same sizes and blocks; nothing of the module runs.
void replay_host_calls(module_context &m, uint32_t handle, const std::vector<host_event> &events,
                       std::vector<void *> &blocks) {
    const host_services &s = kServices;
    host_context *ctx = &m.ctx;
    uint64_t out = 0;
    size_t next = 0;
    for (const host_event &e : events) {
        switch (e.kind) {
        case host_event::alloc: blocks[next++] = s.alloc(ctx, 1, e.value); break;
        case host_event::alloc_zeroed: blocks[next++] = s.alloc_zeroed(ctx, 1, e.value); break;
        case host_event::release: s.free(ctx, 1, blocks[e.block]); break;
        case host_event::seek: s.seek(ctx, 1, handle, e.value, 0); break;
        case host_event::read: s.read(ctx, 1, handle, static_cast<uint8_t *>(blocks[e.block]) + e.at, e.value, &out); break;
        case host_event::file_size: s.get_file_size(ctx, 1, handle, &out); break;
        case host_event::interface: benchmark::DoNotOptimize(ctx->get_interface(ctx, 1, static_cast<uint32_t>(e.value))); break;
        }
    }
}

struct loaded_module {
    kqhost *host = nullptr;
    module_context context{};
    bool ok = false;
    explicit loaded_module(const char *path) {
        host = kqhost_create();
        ok = path && kqhost_load_module(host, path) == 0;
        if (!ok) {
            fprintf(stderr, "elf_bench: cannot load %s: %s\n", path ? path : "(none)", kqhost_last_error(host));
            return;
        }
        context.ctx.get_interface = get_interface;
        context.api = kqhost_api(host);
    }
};

void run_module(benchmark::State &state, const char *path) {
    static std::vector<std::pair<std::string, loaded_module *>> modules;
    loaded_module *m = nullptr;
    for (auto &entry : modules)
        if (entry.first == path) m = entry.second;
    if (!m) {
        m = new loaded_module(path);  // kept for the whole run
        modules.emplace_back(path, m);
    }
    if (!m->ok) {
        state.SkipWithError("module not loaded");
        return;
    }
    positions.assign(files().size(), 0);
    uint32_t n = static_cast<uint32_t>(files().size());
    for (auto _ : state)
        for (uint32_t handle = 1; handle <= n; handle++) benchmark::DoNotOptimize(module_pipeline(m->context, handle));
    state.counters["files"] = n;
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_module(benchmark::State &state) { run_module(state, KQHELP_MODULE_PATH); }
void BM_baseline(benchmark::State &state) { run_module(state, getenv("KQHELP_BASELINE")); }

// For every file, the module's recorded host calls as pick keeps them, replayed.
void run_replay(benchmark::State &state, std::vector<host_event> (*pick)(const std::vector<host_event> &)) {
    loaded_module m(KQHELP_MODULE_PATH);
    if (!m.ok) {
        state.SkipWithError("module not loaded");
        return;
    }
    positions.assign(files().size(), 0);
    std::vector<std::vector<host_event>> calls;
    size_t most = 0;
    for (const auto &events : record_host_calls(m.context)) {
        calls.push_back(pick(events));
        most = std::max(most, calls.back().size());
    }
    std::vector<void *> blocks(most);
    uint32_t n = static_cast<uint32_t>(files().size());
    for (auto _ : state)
        for (uint32_t handle = 1; handle <= n; handle++) replay_host_calls(m.context, handle, calls[handle - 1], blocks);
    state.counters["files"] = n;
    state.SetItemsProcessed(state.iterations() * n);
}

std::vector<host_event> all_calls(const std::vector<host_event> &events) { return events; }
void BM_host_calls(benchmark::State &state) { run_replay(state, all_calls); }
void BM_host_head(benchmark::State &state) { run_replay(state, head_calls); }

void BM_direct(benchmark::State &state) {
    positions.assign(files().size(), 0);
    uint32_t n = static_cast<uint32_t>(files().size());
    for (auto _ : state)
        for (uint32_t handle = 1; handle <= n; handle++) benchmark::DoNotOptimize(direct_pipeline(handle));
    state.counters["files"] = n;
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_libelf(benchmark::State &state) {
    elf_version(EV_CURRENT);
    for (auto _ : state)
        for (const auto &f : files()) benchmark::DoNotOptimize(libelf_pipeline(f));
    state.counters["files"] = static_cast<double>(files().size());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(files().size()));
}

// The sides should read the same answers: the baseline exactly, libelf on
// every file that both read the same way (it neither caps the tables nor
// falls back to sections for the entry point).
void compare_digests() {
    elf_version(EV_CURRENT);
    loaded_module m(KQHELP_MODULE_PATH);
    const char *baseline_path = getenv("KQHELP_BASELINE");
    loaded_module b(baseline_path ? baseline_path : KQHELP_MODULE_PATH);
    if (!m.ok || !b.ok) return;
    positions.assign(files().size(), 0);
    size_t from_libelf = 0, from_baseline = 0;
    for (uint32_t handle = 1; handle <= files().size(); handle++) {
        uint64_t d = module_pipeline(m.context, handle);
        if (d != libelf_pipeline(files()[handle - 1])) from_libelf++;
        if (d != module_pipeline(b.context, handle)) from_baseline++;
    }
    fprintf(stderr, "elf_bench: answers differ from libelf on %zu of %zu files, from the baseline on %zu\n",
            from_libelf, files().size(), from_baseline);

    // The speed must come from the module's own work: both make the same host
    // calls, in the same order, with the same sizes, offsets and blocks.
    const std::vector<std::vector<host_event>> calls = record_host_calls(m.context);
    const std::vector<std::vector<host_event>> baseline_calls = record_host_calls(b.context);
    auto same = [](const host_event &x, const host_event &y) {
        return x.kind == y.kind && x.block == y.block && x.value == y.value && x.at == y.at;
    };
    size_t calls_differ = 0;
    for (size_t i = 0; i < calls.size(); i++)
        if (!std::equal(calls[i].begin(), calls[i].end(), baseline_calls[i].begin(), baseline_calls[i].end(), same))
            calls_differ++;
    fprintf(stderr, "elf_bench: host calls differ from the baseline's on %zu files\n", calls_differ);

    // What the host-calls peer replays, per file on average.
    uint64_t count[host_event::interface + 1] = {}, zeroed = 0, copied = 0;
    for (const auto &events : calls)
        for (const host_event &e : events) {
            count[e.kind]++;
            if (e.kind == host_event::alloc_zeroed) zeroed += e.value;
            if (e.kind == host_event::read) copied += e.value;
        }
    double n = static_cast<double>(files().size());
    fprintf(stderr,
            "elf_bench: module host calls per file: %.1f allocations, %.1f zeroed (%.0f bytes), %.1f frees, "
            "%.1f seeks, %.1f reads (%.0f bytes asked), %.1f size queries, %.1f interface queries\n",
            count[host_event::alloc] / n, count[host_event::alloc_zeroed] / n, zeroed / n,
            count[host_event::release] / n, count[host_event::seek] / n, count[host_event::read] / n, copied / n,
            count[host_event::file_size] / n, count[host_event::interface] / n);
}

int register_all() {
    fprintf(stderr, "elf_bench: %zu ELF files in memory\n", files().size());
    compare_digests();
    benchmark::RegisterBenchmark("elf/pipeline-300/kqhelp", BM_module)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("elf/pipeline-300/peer:libelf", BM_libelf)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("elf/pipeline-300/peer:direct", BM_direct)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("elf/pipeline-300/peer:host-calls", BM_host_calls)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("elf/pipeline-300/peer:host-head", BM_host_head)->Unit(benchmark::kMicrosecond);
    if (getenv("KQHELP_BASELINE"))
        benchmark::RegisterBenchmark("elf/pipeline-300/peer:baseline", BM_baseline)->Unit(benchmark::kMicrosecond);
    return 0;
}
const int registered = register_all();

}  // namespace
