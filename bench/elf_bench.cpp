// The ELF pipeline an engine runs on an ELF file: the reader, elf_check level
// 1, the header, the section table, the program header table, the image base
// and the entry point as a file offset. It runs over about 300 real ELF files
// of this machine (both classes, both byte orders) held in memory by a plain
// host (malloc blocks, reads copied out of memory), against elfutils' libelf
// doing the same work on the same bytes (elf_memory, gelf_getehdr,
// elf_getshdrnum/gelf_getshdr, elf_getphdrnum/gelf_getphdr, the translation)
// and against the obvious code through the same host ("direct": the head read
// once, records decoded where they lie), which shows what the host's copies
// cost.
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

int32_t host_read(host_context *, uint32_t, uint32_t handle, void *buffer, uint64_t count, uint64_t *done) {
    const std::vector<uint8_t> &f = files()[handle - 1];
    uint64_t &pos = positions[handle - 1];
    uint64_t n = pos < f.size() ? std::min<uint64_t>(count, f.size() - pos) : 0;
    memcpy(buffer, f.data() + pos, static_cast<size_t>(n));
    pos += n;
    *done = n;
    return 0;
}
int32_t host_seek(host_context *, uint32_t, uint32_t handle, uint64_t offset, uint32_t) {
    positions[handle - 1] = offset;
    return 0;
}
int32_t host_read_at(host_context *ctx, uint32_t instance, uint32_t handle, uint64_t offset, void *buffer,
                     uint64_t count, uint64_t *done) {
    host_seek(ctx, instance, handle, offset, 0);
    return host_read(ctx, instance, handle, buffer, count, done);
}
int32_t host_file_size(host_context *, uint32_t, uint32_t handle, uint64_t *size) {
    *size = files()[handle - 1].size();
    return 0;
}
void *host_alloc(host_context *, uint32_t, uint64_t size) { return malloc(static_cast<size_t>(size)); }
void *host_alloc_zeroed(host_context *, uint32_t, uint64_t size) { return calloc(1, static_cast<size_t>(size)); }
void host_free(host_context *, uint32_t, void *block) { free(block); }

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
}

int register_all() {
    fprintf(stderr, "elf_bench: %zu ELF files in memory\n", files().size());
    compare_digests();
    benchmark::RegisterBenchmark("elf/pipeline-300/kqhelp", BM_module)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("elf/pipeline-300/peer:libelf", BM_libelf)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("elf/pipeline-300/peer:direct", BM_direct)->Unit(benchmark::kMicrosecond);
    if (getenv("KQHELP_BASELINE"))
        benchmark::RegisterBenchmark("elf/pipeline-300/peer:baseline", BM_baseline)->Unit(benchmark::kMicrosecond);
    return 0;
}
const int registered = register_all();

}  // namespace
