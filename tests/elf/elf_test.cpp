// The ELF slots over synthetic files of both classes and byte orders: every lookup and translation against a literal
// model over random tables; the checks and the caps as rows; both fault walks; the windowed read.
#include <string.h>

#include <algorithm>
#include <functional>
#include <random>

#include "support/elf_image.h"
#include "support/fault_walks.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

using image_change = std::function<void(elf_image &)>;

std::string hex(uint64_t v) { char b[24]; return snprintf(b, sizeof b, "%llx", (unsigned long long)v), b; }

// Variants 0-3: ELF32 LE, ELF32 BE, ELF64 LE, ELF64 BE.
elf_image variant(int v, const image_change &change = nullptr, bool plain = false) {
    elf_image img = elf_image::executable(v < 2 ? 1 : 2, v % 2 == 1);
    if (plain) img.sections.clear(), img.segments.clear();
    if (change) change(img);
    return img;
}

// The lookups and translations read literally from the records as built: "i" for the index found, "-code" for a miss,
// translations as "value/code".
struct model {
    const elf_image &img;
    static bool holds(uint64_t start, uint64_t size, uint64_t a) { return start <= a && a < start + size; }
    std::string section(uint64_t a) const {
        for (size_t i = 0; i < img.sections.size(); i++) {
            const elf_image::section &s = img.sections[i];
            if ((s.addr || s.flags & 2) && (holds(s.addr, s.size, a) || (!s.size && a == s.addr))) return std::to_string(i + 1);
        }
        return "-209";
    }
    int segment(uint64_t a, bool physical) const {
        for (size_t i = 0; i < img.segments.size(); i++) {
            const elf_image::segment &p = img.segments[i];
            const uint64_t start = physical ? p.paddr : p.vaddr;
            if ((start || p.memsz) && (holds(start, p.memsz, a) || (!p.memsz && a == start && p.type == 1))) return int(i);
        }
        return -1;
    }
    std::string translate(uint64_t v, bool from_va) const {
        for (const elf_image::segment &p : img.segments)
            if (holds(from_va ? p.vaddr : p.offset, p.memsz, v)) return hex(v + (from_va ? p.offset - p.vaddr : p.vaddr - p.offset)) + "/0";
        for (const elf_image::section &s : img.segments.empty() ? img.sections : std::vector<elf_image::section>{})
            if (s.flags & 2 && holds(from_va ? s.addr : s.offset, s.size, v)) return hex(v + (from_va ? s.offset - s.addr : s.addr - s.offset)) + "/0";
        return from_va ? "0/204" : "0/203";
    }
    std::string lookups(uint64_t a) const {
        const int pa = segment(a, true), va = segment(a, false);
        return section(a) + "," + (pa < 0 ? "-209" : section(a - img.segments[pa].paddr + img.segments[pa].vaddr)) + " " +
               (va < 0 ? "-210" : std::to_string(va)) + "," + (pa < 0 ? "-210" : std::to_string(pa)) + " " +
               translate(a, true) + " " + translate(a, false);
    }
};

// One lookup through slot Slot: the index in its table (asked for after it: a fresh reader's lookup loads it), or "-code".
template <int Slot, class T, class X> std::string at(const helper_api_entry *api, elf_reader *r, X x) {
    const T *out = nullptr, *table = nullptr;
    if (call<Slot>(api, r, x, &out) != 0 || !out) return "-" + std::to_string(call<SLOT_ELF_GET_LAST_ERROR>(api, r));
    call<std::is_same_v<T, elf_section> ? SLOT_ELF_GET_SECTION_TABLE : SLOT_ELF_GET_SEGMENT_TABLE>(api, r, &table, nullptr);
    return std::to_string(out - table);
}

// The module's answers in the model's form; the segment lookups first (a translation loads the table too).
std::string lookups(const helper_api_entry *api, elf_reader *r, uint64_t a) {
    call<SLOT_ELF_GET_LAST_ERROR>(api, r);
    const std::string out = at<SLOT_ELF_GET_SEGMENT_BY_VIRTUAL_ADDRESS, elf_segment>(api, r, a) + "," + at<SLOT_ELF_GET_SEGMENT_BY_PHYSICAL_ADDRESS, elf_segment>(api, r, a);
    auto value = [&](uint64_t v) { return hex(v) + "/" + std::to_string(call<SLOT_ELF_GET_LAST_ERROR>(api, r)); };
    return at<SLOT_ELF_GET_SECTION_BY_VIRTUAL_ADDRESS, elf_section>(api, r, a) + "," +
           at<SLOT_ELF_GET_SECTION_BY_PHYSICAL_ADDRESS, elf_section>(api, r, a) + " " + out +
           " " + value(call<SLOT_ELF_GET_FILE_OFFSET_BY_VIRTUAL_ADDRESS>(api, r, a)) +
           " " + value(call<SLOT_ELF_GET_VIRTUAL_ADDRESS_BY_FILE_OFFSET>(api, r, a));
}

// What the reader says of a file, as tokens: check=result/code, id (class and encoding against those built), hdr, S
// (sections declared/loaded), the first five names, .data and #4 (lookups by name and index), G (segments
// declared/loaded), #2, base, the entry point's file offset; a failure shows as -code.
std::string digest(const helper_api_entry *api, scan_file *f, const elf_image &img) {
    elf_reader *r = call<SLOT_ELF_READER_GET>(api, f);
    if (!r) return "no reader";
    auto err = [&] { return std::to_string(call<SLOT_ELF_GET_LAST_ERROR>(api, r)); };
    std::string out = "check=" + std::to_string(call<SLOT_ELF_CHECK>(api, r, 1));
    out += "/" + err();  // after the check: operands of + are unsequenced
    const uint32_t cls = call<SLOT_ELF_GET_CLASS>(api, r), enc = call<SLOT_ELF_GET_ENCODING>(api, r);
    out += cls == uint32_t(img.elf_class) && enc == (img.big ? 2u : 1u) ? " id=ok" : " id=" + hex(cls) + "," + hex(enc);
    const elf_header *h = nullptr;
    if (call<SLOT_ELF_GET_HEADER>(api, r, &h) != 0) return out + " hdr=-" + err();
    out += " hdr=" + std::to_string(h->e_type) + "," + hex(h->e_entry) + "," + std::to_string(h->e_phnum) + "," +
           std::to_string(h->e_shnum) + "," + std::to_string(h->e_shstrndx);
    const elf_section *s = nullptr;
    const elf_segment *g = nullptr;
    uint32_t n = 0;
    const uint32_t sections = call<SLOT_ELF_GET_SECTION_COUNT>(api, r);
    if (call<SLOT_ELF_GET_SECTION_TABLE>(api, r, &s, &n) != 0) out += " S=-" + err();
    else {
        out += " S=" + std::to_string(sections) + "/" + std::to_string(n) + " names=";
        for (uint32_t i = 1; i < n && i < 6; i++) {
            const char *name = call<SLOT_ELF_GET_SECTION_NAME>(api, r, s + i);
            out += (i > 1 ? "," : "") + (name ? std::string(name) : "?" + err());
        }
        out += " .data=" + at<SLOT_ELF_GET_SECTION_BY_NAME, elf_section>(api, r, ".data") + " #4=" + at<SLOT_ELF_GET_SECTION_BY_INDEX, elf_section>(api, r, 4u);
    }
    const uint32_t segments = call<SLOT_ELF_GET_SEGMENT_COUNT>(api, r);
    out += call<SLOT_ELF_GET_SEGMENT_TABLE>(api, r, &g, &n) != 0 ? " G=-" + err()
           : " G=" + std::to_string(segments) + "/" + std::to_string(n) + " #2=" + at<SLOT_ELF_GET_SEGMENT_BY_INDEX, elf_segment>(api, r, 2u);
    const uint64_t base = call<SLOT_ELF_GET_IMAGE_BASE>(api, r);
    out += " base=" + hex(base) + "/" + err();
    const uint64_t entry = call<SLOT_ELF_GET_FILE_OFFSET_BY_VIRTUAL_ADDRESS>(api, r, img.entry);
    return out + " entry@" + hex(entry) + "/" + err();
}

// Random tables from a few field values near each other and near the top of the address space: the records read back
// must be those built, and every lookup and translation must answer as the model.
TEST_F(ModuleTest, ElfAgreesWithModel) {
    std::mt19937 rng(7);
    for (int round = 0; round < 800; round++) {
        const int v = round % 4;
        const uint64_t top = v < 2 ? 0xFFFFF000u : ~uint64_t{0xFFF};
        const uint64_t pool[] = {0, 0x10, 0x100, 0x1000, 0x1100, 0x2000, top};
        auto pick = [&] { return pool[rng() % 7]; };
        elf_image img = variant(v, [&](elf_image &i) {
            i.type = 1 + rng() % 3;
            i.sections.resize(rng() % 4), i.segments.resize(rng() % 4);
            for (auto &s : i.sections) s = {"s" + std::to_string(rng() % 3), 1, rng() % 4, pick(), pick(), pick(), 1, 2};
            for (auto &p : i.segments) p = {uint32_t(rng() % 3), 6, pick(), pick(), pick(), pick(), pick()};
        }, true);
        scan_file *f = open_scan_file(host_, img.build());
        elf_reader *r = call<SLOT_ELF_READER_GET>(api_, f);
        for (int k = 0; k < 6; k++) {  // the first on a fresh reader
            const uint64_t a = pick() + rng() % 3 - 1;
            EXPECT_EQ(lookups(api_, r, a), model{img}.lookups(a)) << "round " << round << " at " << hex(a);
        }
        uint64_t base = ~uint64_t{0};
        for (const elf_image::segment &p : img.segments) base = p.type == 1 ? std::min(base, p.vaddr) : base;
        EXPECT_EQ(call<SLOT_ELF_GET_IMAGE_BASE>(api_, r), base) << "round " << round;
        close_scan_file(host_, f);
    }
}

// A change to the executable of each class and byte order (or to one without sections and segments: plain), a patch of
// the built file, the tokens the digest must hold in each variant.
struct elf_row {
    const char *name;
    image_change change;
    std::function<void(bytes &, const elf_image &)> patch;
    const char *expected;
    bool plain = false;
    bytes build(elf_image &img) const { bytes d = img.build(); return patch ? patch(d, img), d : d; }
};

void PrintTo(const elf_row &r, std::ostream *os) { *os << r.name; }

std::vector<elf_row> elf_rows() {
    return {
        {"executable", nullptr, nullptr,
         "check=1/0 id=ok hdr=2,401000,3,6,5 S=6/6 names=.text,.data,.bss,.comment,.shstrtab .data=2 #4=4 G=3/3 #2=2 base=401000/0"},
        // elf_check: the first failing test gives the code
        {"bad_class", nullptr, [](bytes &d, auto &) { d[4] = 3, d[40] = d[41] = d[52] = d[53] = 0; }, "check=0/302"},
        {"bad_data", nullptr, [](bytes &d, auto &) { d[5] = 0, d[20] = d[21] = d[22] = d[23] = 2; }, "check=0/303"},
        {"bad_ident_version", nullptr, [](bytes &d, auto &) { d[6] = 2; }, "check=0/304"},
        {"version", [](elf_image &i) { i.version = 0; }, nullptr, "check=0/206"},
        {"ehsize", [](elf_image &i) { i.ehsize = 60; }, nullptr, "check=0/300"},
        {"phentsize", [](elf_image &i) { i.phentsize = 40; }, nullptr, "check=0/300"},
        {"shentsize", [](elf_image &i) { i.shentsize = 56; }, nullptr, "check=0/300"},
        {"other_class_entry_sizes", [](elf_image &i) { i.phentsize = i.elf_class == 1 ? 56 : 32; }, nullptr, "check=1/0"},
        {"shnum_without_table", [](elf_image &i) { i.shoff = 0; }, nullptr, "check=0/309"},
        {"phnum_without_table", [](elf_image &i) { i.phoff = 0; }, nullptr, "check=0/309"},
        {"type", [](elf_image &i) { i.type = 5; }, nullptr, "check=0/305"},
        {"core", [](elf_image &i) { i.type = 4; }, nullptr, "check=1/0"},
        {"no_tables", [](elf_image &i) { i.type = 3, i.shoff = i.phoff = 0, i.shnum = i.phnum = 0; }, nullptr, "check=0/309"},
        {"relocatable_without_sections", [](elf_image &i) { i.type = 1, i.shoff = 0, i.shnum = 0; }, nullptr, "check=0/310"},
        {"executable_without_segments", [](elf_image &i) { i.phoff = 0, i.phnum = 0; }, nullptr, "check=0/312"},
        {"shared_object_without_segments", [](elf_image &i) { i.type = 3, i.phoff = 0, i.phnum = 0; }, nullptr,
         "check=1/0 G=-312 base=ffffffffffffffff/0"},
        {"shared_object_without_sections", [](elf_image &i) { i.type = 3, i.shoff = 0, i.shnum = 0, i.names = false; },
         nullptr, "check=1/0 S=-310"},
        {"bad_magic", nullptr, [](bytes &d, auto &i) { d[2 * i.elf_class - 2 + i.big] ^= 0x20; }, "no reader"},  // each byte
        {"truncated_header", nullptr, [](bytes &d, auto &) { d.resize(50); }, "check=-1/0 hdr=-0"},
        // identification: the encoding is corrected by e_version, the class by e_ehsize
        {"encoding_corrected", nullptr, [](bytes &d, auto &i) { d[5] = i.big ? 1 : 2; }, "check=1/0 id=ok hdr=2,401000,3,6,5"},
        {"class_corrected", nullptr, [](bytes &d, auto &i) { d[4] = 3 - i.elf_class; }, "check=1/0 id=ok G=3/3 base=401000/0"},
        {"short_file_keeps_ident", nullptr, [](bytes &d, auto &) { d.resize(40), d[4] = 7, d[5] = 9, d[20] = 1; },
         "check=0/302 id=7,9 hdr=-0"},
        {"shorter_than_ident", nullptr, [](bytes &d, auto &) { d.resize(15); }, "check=0/0 id=ffffffff,ffffffff hdr=-0"},
        // the tables: caps, extended numbering, cut by the end of the file, past the head
        {"section_cap", [](elf_image &i) { i.names = false, i.sections.resize(9999, {"", 1}); }, nullptr,
         "S=10000/8192 names=?314,?314,?314,?314,?314 .data=-209 #4=4", true},
        {"extended_numbering", [](elf_image &i) {
             i.sections.resize(298, {"", 1}), i.sections[2].name = ".data", i.shnum = 0;
             i.section0_size = 300, i.shstrndx = 0xFFFF, i.section0_link = 299;
         }, nullptr, "S=300/300 names=,,.data,, .data=3 #4=4", true},
        {"section_table_cut", [](elf_image &i) { i.names = false, i.sections.resize(9, {"", 1}); },
         [](bytes &d, auto &i) { d.resize(i.built_shoff + 4 * i.shdr_size() + 5); }, "S=10/4 .data=-209 #4=-202", true},
        {"segment_table_cut", [](elf_image &i) { i.names = false, i.segments.resize(4), i.shoff = 0, i.shnum = 0; },
         [](bytes &d, auto &i) { d.resize(i.built_phoff + 2 * i.phdr_size() + 5); }, "G=4/2 #2=-202 base=0/0", true},
        {"segment_cap", [](elf_image &i) { i.segments.resize(300, {1, 4, 0, 0x1000, 0x1000, 0, 0x10}), i.segments[299].vaddr = 0x10; },
         nullptr, "G=300/256 #2=2 base=1000/0", true},
        {"name_cap", [](elf_image &i) {
             i.sections = {{".a"}, {".b"}}, i.extra_names.assign(100000, 'x');
             memcpy(&i.extra_names[40000], ".data", 6);
             i.sections[1].name_offset = 1 + 3 + 3 + 10 + 40000;  // ".data", past the cap
             i.sections[0].name_offset = 32767;                   // 'x' up to the end: unterminated
         }, nullptr, "S=4/4 names=?0,?0,.shstrtab .data=-209 #4=-202", true},
        {"no_name_table", [](elf_image &i) { i.shstrndx = 0; }, nullptr, "S=6/6 names=?314,?314,?314,?314,?314 .data=-209"},
        {"tables_beyond_head", [](elf_image &i) { i.data_size = 30000; }, nullptr,
         "check=1/0 S=6/6 names=.text,.data,.bss,.comment,.shstrtab .data=2 G=3/3 base=401000/0"},
        {"no_program_headers", [](elf_image &i) { i.phoff = 64, i.phnum = 0; }, nullptr, "G=-312 base=ffffffffffffffff/0 entry@0/204", true},
    };
}

// Each row in every class and byte order; both fault walks over its digest and the model's probes in two of them.
class ElfFiles : public ModuleTest, public ::testing::WithParamInterface<elf_row> {};
TEST_P(ElfFiles, Digest) {
    const elf_row &row = GetParam();
    for (int v = 0; v < 4; v++) {
        elf_image img = variant(v, row.change, row.plain);
        const bytes data = row.build(img);
        const std::string got = " " + digest(api_, create(data), img) + " ";
        for (size_t at = 0, end; at < strlen(row.expected); at = end + 1) {
            end = std::min(strlen(row.expected), std::string(row.expected).find(' ', at));
            const std::string token(row.expected + at, row.expected + end);
            EXPECT_NE(got.find(" " + token + " "), std::string::npos) << "variant " << v << ": " << token << " in" << got;
        }
        if (v % 3 || data.size() > 64 * 1024) continue;
        auto walk = [&] {
            scan_file *f = open_scan_file(host_, data);
            if (!f) return std::string("no file");
            elf_reader *r = call<SLOT_ELF_READER_GET>(api_, f);
            std::string d = (r ? lookups(api_, r, 0x40201F) + lookups(api_, r, 0x403000) : "") + digest(api_, f, img);
            return close_scan_file(host_, f), d;
        };
        expect_survives_alloc_failures(host_, walk);
        expect_survives_read_failures(host_, walk);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ElfFiles, ::testing::ValuesIn(elf_rows()), [](const auto &i) { return std::string(i.param.name); });

// elf_read: the head serves what it holds, the file the rest; offsets up to the file's size pass; a block the module
// allocated is the caller's, even for 0 bytes, unless the read failed. Then the reader's life.
TEST_F(ModuleTest, ElfReadAndReaderLife) {
    bytes data(30000);
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i * 7);
    memcpy(data.data(), "\x7F" "ELF", 4);
    elf_reader *r = call<SLOT_ELF_READER_GET>(api_, create(data));
    ASSERT_NE(r, nullptr);
    // A row: offset, count, into a buffer of the caller's (or null), with seeks ('s') or reads ('r') failing; the count
    // read, the error, the reads taken, where the bytes went (the caller's buffer, a block of the module's, null) and
    // the blocks left live.
    const struct { uint64_t offset, count; bool own_buffer; char fault; const char *expected; } rows[] = {
        {20000, 100, true, 0, "100/0 r=0 own"}, {20400, 200, false, 0, "200/0 r=1 block+1"}, {30000, 8, true, 0, "0/0 r=1 own"},
        {30001, 8, true, 0, "0/203 r=0 own"}, {~0ull, 8, true, 0, "0/203 r=0 own"}, {0, 0, true, 0, "0/0 r=0 own"},
        {30000, 64, false, 0, "0/0 r=1 block+1"}, {20400, 200, false, 's', "0/103 r=0 null"},
        {20400, 200, true, 's', "0/103 r=0 own"}, {25000, 200, true, 'r', "0/104 r=1 own"},
    };
    for (const auto &row : rows) {
        uint8_t buffer[256], *p = row.own_buffer ? buffer : nullptr;
        kqhost_fail_seeks(host_, row.fault == 's'), kqhost_fail_reads(host_, row.fault == 'r');
        const uint64_t reads = calls(KQHOST_CALL_READ), live = live_blocks();
        const uint64_t got = call<SLOT_ELF_READ>(api_, r, &p, row.count, row.offset);
        kqhost_fail_seeks(host_, 0), kqhost_fail_reads(host_, 0);
        const int64_t held = int64_t(live_blocks() - live);
        EXPECT_EQ(std::to_string(got) + "/" + std::to_string(call<SLOT_ELF_GET_LAST_ERROR>(api_, r)) + " r=" +
                      std::to_string(calls(KQHOST_CALL_READ) - reads) + (p == buffer ? " own" : p ? " block" : " null") +
                      (held ? (held > 0 ? "+" : "") + std::to_string(held) : ""), row.expected) << row.offset << "+" << row.count << row.fault;
        EXPECT_TRUE(got == 0 || memcmp(p, &data[row.offset], got) == 0);
        if (p && p != buffer) kqhost_services(host_)->free(ctx(), instance(), p);
    }
    // Without a size from the host there is no bounds test.
    const uint32_t handle = open_bytes(data);
    kqhost_set_reported_size(host_, handle, 0);
    elf_reader *unsized = call<SLOT_ELF_READER_GET>(api_, create_from_handle(handle));
    uint8_t *p = data.data();
    call<SLOT_ELF_READ>(api_, unsized, &p, 4, ~0ull - 1);
    EXPECT_NE(call<SLOT_ELF_GET_LAST_ERROR>(api_, unsized), ELF_ERR_OFFSET);
    // Attached once; a reader that could not be made is not asked again; one null-argument row per slot with a pointer.
    scan_file *f = create(elf_image::executable(2, false).build());
    elf_reader *e = call<SLOT_ELF_READER_GET>(api_, f);
    EXPECT_TRUE(e && call<SLOT_ELF_READER_GET>(api_, f) == e);
    const elf_section *s = nullptr;
    EXPECT_EQ(call<SLOT_ELF_GET_SECTION_BY_NAME>(api_, e, ".shstrtab", &s), 0) << "a name that ends the table";
    scan_file *g = create(elf_image::executable(1, true).build());
    call<SLOT_FILE_GET_REGION>(api_, g, REGION_HEAD, nullptr);
    kqhost_fail_alloc_at(host_, 3);  // attachment, list node, then the reader
    EXPECT_EQ(call<SLOT_ELF_READER_GET>(api_, g), nullptr);
    kqhost_fail_alloc_at(host_, 0);
    const uint64_t allocs = allocations(host_);
    EXPECT_TRUE(!call<SLOT_ELF_READER_GET>(api_, g) && allocations(host_) == allocs) << "not asked again";
    const elf_segment *t = nullptr;  // a normalised table whose block was refused is made again from the records read
    kqhost_fail_alloc_at(host_, 3);
    EXPECT_TRUE(call<SLOT_ELF_GET_SEGMENT_TABLE>(api_, e, &t, nullptr) && call<SLOT_ELF_GET_LAST_ERROR>(api_, e) == ELF_ERR_NO_MEMORY);
    const uint64_t made = (kqhost_fail_alloc_at(host_, 0), allocations(host_));
    EXPECT_TRUE(!call<SLOT_ELF_GET_SEGMENT_TABLE>(api_, e, &t, nullptr) && t && allocations(host_) == made + 1);
    uint32_t n = 0;
    EXPECT_EQ(std::vector<int32_t>({call<SLOT_ELF_GET_SECTION_TABLE>(api_, e, nullptr, &n), call<SLOT_ELF_GET_SEGMENT_TABLE>(api_, e, nullptr, &n),
                                    call<SLOT_ELF_GET_SECTION_BY_INDEX>(api_, e, 0, nullptr), call<SLOT_ELF_GET_SEGMENT_BY_INDEX>(api_, e, 0, nullptr),
                                    call<SLOT_ELF_GET_HEADER>(api_, e, nullptr), call<SLOT_ELF_GET_SECTION_BY_NAME>(api_, e, nullptr, &s),
                                    int32_t(call<SLOT_ELF_GET_SECTION_NAME>(api_, e, nullptr) != nullptr), call<SLOT_ELF_GET_LAST_ERROR>(api_, e),
                                    call<SLOT_ELF_GET_LAST_ERROR>(api_, nullptr), call<SLOT_ELF_CHECK>(api_, nullptr, 0),
                                    int32_t(call<SLOT_ELF_GET_SECTION_COUNT>(api_, nullptr)), int32_t(call<SLOT_ELF_GET_IMAGE_BASE>(api_, nullptr)),
                                    int32_t(call<SLOT_ELF_READER_GET>(api_, nullptr) != nullptr), int32_t(call<SLOT_ELF_READ>(api_, nullptr, &p, 4, 0)),
                                    int32_t(call<SLOT_ELF_READ>(api_, e, nullptr, 4, 0))}),
              std::vector<int32_t>({-1, -1, -1, -1, -1, -1, 0, 0, -1, -1, 0, -1, 0, 0, 0}));
}

}  // namespace
}  // namespace kqtest
