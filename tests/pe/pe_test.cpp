// The PE slots over whole images: one row per file with what slots 6-11 and 18 answer, every window checked against a
// model of where its bytes come from, and both fault walks; the mapping slots against a literal model.
#include <array>
#include <random>

#include "pe/pe_image.h"
#include "support/fault_walks.h"
#include "support/module_fixture.h"

namespace kqtest {
namespace {

constexpr uint64_t MiB = 1u << 20;

// Does the record at p hold the file's bytes from at (zeros past the end)?
bool from_file(const uint8_t *p, const bytes &img, uint64_t at, uint64_t n) {
    for (uint64_t i = 0; i < n; i++)
        if (p[i] != (at + i < img.size() ? img[at + i] : 0)) return false;
    return true;
}

// Slots 6-11 and 18, each asked twice: "name" for a record that holds the file's bytes, "name!" for one that does not,
// "-" for null; "=n" the count a table slot reported ("?" when left alone); r= and a= the reads and allocations taken.
std::string headers_digest(kqhost *host, scan_file *f, const bytes &img) {
    const helper_api_entry *api = kqhost_api(host);
    auto le = [&](uint64_t at, int n) {  // 0 when the file ends inside
        return at + n <= img.size() ? img[at] | img[at + 1] << 8 | (n > 2 ? img[at + 2] << 16 | uint32_t(img[at + 3]) << 24 : 0) : 0u;
    };
    const uint64_t lfanew = le(PE_DOS_E_LFANEW, 4), table = lfanew + 24 + le(lfanew + 20, 2);
    auto reads = [&] { return kqhost_calls(host, KQHOST_CALL_READ) + kqhost_calls(host, KQHOST_CALL_READ_AT); };
    const uint64_t reads_before = reads(), allocs = allocations(host);
    uint64_t size = 99;
    const uint64_t offset = call<SLOT_PE_GET_OVERLAY>(api, f, &size);  // first: it loads the headers itself
    std::string out;
    auto record = [&](const char *name, auto get, uint64_t at, uint64_t n, bool table_slot) {
        uint32_t count = 77, again = 77;
        const uint8_t *p = get(&count);
        out += p ? std::string(name) + (from_file(p, img, at, table_slot ? count * 40ull : n) ? "" : "!") : "-";
        if (table_slot) out += "=" + (count == 77 ? std::string("?") : std::to_string(count));
        if (get(&again) != p || (p && table_slot && again != count)) out += "(again)";
        out += ' ';
    };
    record("dos", [&](uint32_t *) { return call<SLOT_PE_GET_DOS_HEADER>(api, f); }, 0, 64, false);
    record("nt32", [&](uint32_t *) { return call<SLOT_PE_GET_NT_HEADERS32>(api, f); }, lfanew, PE_NT_HEADERS32_SIZE, false);
    record("sec32", [&](uint32_t *n) { return call<SLOT_PE_GET_SECTIONS32>(api, f, n); }, table, 0, true);
    record("nt64", [&](uint32_t *) { return call<SLOT_PE_GET_NT_HEADERS64>(api, f); }, lfanew, PE_NT_HEADERS64_SIZE, false);
    record("sec64", [&](uint32_t *n) { return call<SLOT_PE_GET_SECTIONS64>(api, f, n); }, table, 0, true);
    record("ne", [&](uint32_t *) { return call<SLOT_PE_GET_NE_HEADER>(api, f); }, lfanew, PE_NE_HEADER_SIZE, false);
    out += "ov=" + std::to_string(offset) + "+" + std::to_string(size) + " r=" + std::to_string(reads() - reads_before);
    return out + " a=" + std::to_string(allocations(host) - allocs);
}

// Where a window's bytes must come from: the first file offset it holds, its size and the position of the requested
// offset in it (size 0: null). Kinds 3, 6 and 7 read at an offset below 0 from wherever the host stands: those answers
// are not checked (any).
struct window_model { int64_t start; uint64_t size, position; bool any = false; };

window_model expected_window(int32_t kind, int64_t offset, int64_t size, int64_t raw, int64_t aligned) {
    const bool at = kind == REGION_AT_OFFSET || kind == REGION_AT_ENTRY_RAW || kind == REGION_AT_ENTRY;
    const bool around = kind == REGION_AROUND_OFFSET || kind == REGION_AROUND_ENTRY_RAW || kind == REGION_AROUND_ENTRY;
    if (offset > size || (!at && !around) || ((offset == 0 || offset == -1) && raw == -1 && aligned == -1)) return {0, 0, 0};
    const int64_t target = kind == REGION_AT_ENTRY_RAW || kind == REGION_AROUND_ENTRY_RAW                ? raw
                           : kind == REGION_AT_ENTRY || kind == REGION_AROUND_ENTRY || offset == -1 ? aligned
                                                                                                    : offset;
    const int64_t region = REGION_SIZE, before = region / 2;
    auto within = [&](int64_t start, int64_t position) {
        const int64_t n = std::min(region, size - start);
        return n > 0 ? window_model{start, uint64_t(n), uint64_t(position)} : window_model{0, 0, 0};
    };
    if (target == -1) return {0, 0, 0};
    if (at) return target < 0 ? window_model{0, 0, 0, true} : within(target, 0);
    if (target < before || size < region) return within(0, target);
    if (size > region && target > size - before) return within(size - region, region - (size - target));
    return within(target - before, before);
}

// Every window kind (and some that are none) at offsets around the regions' edges, against the model unless faults are
// injected; the digest lists what was answered.
std::string windows_digest(kqhost *host, scan_file *f, const bytes &img, int64_t raw, int64_t aligned, bool faults = false) {
    const int64_t size = int64_t(img.size());
    std::string out;
    const std::vector<int64_t> offsets = {-1, -7, 0, 100, 10239, 10240, size / 2, size - 10241, size - 10240, size - 5, size, size + 1};
    for (int32_t kind : {3, 4, 6, 7, 8, 9, 0, 1, 2, 5, 10, 11, -1})
        for (int64_t offset : offsets) {
            uint64_t got = 7, position = 7;
            const uint8_t *w = call<SLOT_FILE_GET_WINDOW>(kqhost_api(host), f, kind, offset, &got, &position);
            const window_model m = expected_window(kind, offset, size, raw, aligned);
            const bool ok = w ? got == m.size && position == m.position && from_file(w, img, m.start, got) : got == 0 && m.size == 0;
            EXPECT_TRUE(ok || faults || m.any) << "kind " << kind << " offset " << offset << ": got " << got << "@" << position
                                               << (w ? "" : " null") << ", expected " << m.size << "@" << m.position;
            out += w ? std::to_string(got) + "@" + std::to_string(position) + " " : "- ";
        }
    return out;
}

// Images: a spec (the two-section PE32 image, or a 1 MiB image with one section whose raw and aligned entry offsets differ,
// 0x80110 and 0x80100) changed, bytes patched, the headers alone in a file of a size.
bytes pe(void (*change)(pe_spec &), pe_spec s = two_sections()) {
    if (change) change(s);
    return build_pe(s);
}
bytes with(bytes b, uint64_t at, std::initializer_list<uint8_t> patch) { for (uint8_t x : patch) b[at++] = x; return b; }
bytes small(bool plus, uint64_t size, uint32_t lfanew = 0x40) {
    return build_pe({.plus = plus, .lfanew = lfanew, .entry = 0x1010, .sections = {}, .file_size = size});
}
bytes entry(void (*change)(pe_spec &) = nullptr) {
    return pe(change, {.entry = 0x1100, .sections = {{0x10000, 0x1000, 0x10000, 0x80010}}, .file_size = MiB});
}

// A row: the image, its headers digest ("": not checked), the raw and aligned entry offsets the windows follow.
struct pe_row { const char *name; bytes image; const char *headers; int64_t raw, aligned; };

std::vector<pe_row> pe_rows() {
    const char *pe32 = "dos nt32 sec32=2 - -=? - ov=4096+0 r=1 a=9", *none = "- - -=? - -=? - ov=0+0 r=1 a=5";
    const char *dos = "dos - -=? - -=? - ov=0+0 r=1 a=6", *dos_read = "dos - -=? - -=? - ov=0+0 r=4 a=9";
    const char *one = "dos nt32 sec32=1 - -=? - ov=589840+458736 r=1 a=9";
    using S = pe_spec &;
    return {
        {"pe32", pe(nullptr), pe32, 0x410, 0x410},
        {"pe32plus", pe(nullptr, two_sections(true)), "dos - -=? nt64 sec64=2 - ov=4096+0 r=1 a=9", -1, -1},
        {"signature_MY", with(pe(nullptr), 0, {'M', 'Y'}), pe32, 0x410, 0x410},
        {"signature_ZM", with(pe(nullptr), 0, {'Z', 'M'}), pe32, 0x410, 0x410},
        {"signature_Mz", with(pe(nullptr), 0, {'M', 'z'}), none, -1, -1},
        {"signature_YM", with(pe(nullptr), 0, {'Y', 'M'}), none, -1, -1},
        {"nt_signature_PX", with(pe(nullptr), 0x81, {'X'}), dos, -1, -1},
        {"nt_signature_PE1", with(pe(nullptr), 0x82, {1}), "dos - -=? - -=? - ov=0+0 r=1 a=8", -1, -1},
        {"ne", build_ne(), "dos - -=? - -=? ne ov=0+0 r=1 a=7", -1, -1},
        {"ne_beyond_head", build_ne(30000, 30064), "dos - -=? - -=? ne ov=0+0 r=4 a=9", -1, -1},
        {"ne_cut_short", build_ne(30000, 30063), dos_read, -1, -1},
        {"ne_signature_after_read", with(build_ne(30000, 30064), 30001, {'X'}), dos_read, -1, -1},
        // one row each side of every loader's minimum size
        {"size63", small(false, 63), none, -1, -1},
        {"size64", small(false, 64), dos, -1, -1},
        {"size127", build_ne(0x40, 127), dos, -1, -1},
        {"size128", build_ne(0x40, 128), "dos - -=? - -=? ne ov=0+0 r=2 a=7", -1, -1},
        {"size311", small(false, 311), dos, -1, -1},
        {"size312", small(false, 312), "dos nt32 -=? - -=? - ov=0+0 r=2 a=7", -1, -1},
        {"size327", small(true, 327), "dos - -=? - -=? - ov=0+0 r=1 a=7", -1, -1},
        {"size328", small(true, 328), "dos - -=? nt64 -=? - ov=0+0 r=2 a=8", -1, -1},
        // e_lfanew + 248 equal to the head's size is read from the file, one less is not
        {"record_ends_at_head_end", small(false, 400, 400 - 248), "dos nt32 -=? - -=? - ov=0+0 r=3 a=8", -1, -1},
        {"record_inside_head", small(false, 400, 400 - 249), "dos nt32 -=? - -=? - ov=0+0 r=2 a=8", -1, -1},
        {"headers_beyond_head", pe(+[](S s) { s.lfanew = 30000, s.sections = {{0x100, 0x1000, 0x200, 0x8000}}; }),
         "dos nt32 sec32=1 - -=? - ov=33280+0 r=5 a=10", 0x8010, 0x8010},
        {"file_ends_in_nt_headers", small(false, 30100, 30000), dos_read, -1, -1},
        {"lfanew_ffffffff", with(small(false, 1024), 0x3C, {0xFF, 0xFF, 0xFF, 0xFF}), dos_read, -1, -1},
        {"lfanew_80000000", with(small(false, 1024), 0x3C, {0, 0, 0, 0x80}), dos_read, -1, -1},
        {"signature_ends_the_head", with(small(false, 1024), 0x3C, {0xFE, 3}), dos_read, -1, -1},  // read from the file
        {"lfanew_20479", with(small(false, 1024), 0x3C, {0xFF, 0x4F}), dos_read, -1, -1},
        {"sections_capped_at_256", pe(+[](S s) { s.sections.assign(300, {0x10, 0x1000, 0x10, 0x400}); }),
         "dos nt32 sec32=256 - -=? - ov=1040+11336 r=1 a=9", -1, -1},
        {"no_sections", pe(+[](S s) { s.sections = {}; }), "dos nt32 -=? - -=? - ov=0+0 r=3 a=8", -1, -1},
        {"table_ends_the_file", pe(+[](S s) { s.file_size = section_table_offset(s) + 80; }), "dos nt32 sec32=2 - -=? - ov=0+0 r=1 a=9", 0x410, 0x410},
        {"table_cut_by_end_of_file", pe(+[](S s) {
             s.lfanew = 20000, s.sections = {{0x100, 0x1000, 0x100, 0x200}, {0x100, 0x2000, 0x100, 0x300}, {0x100, 0x3000, 0x100, 0x400}};
             s.file_size = section_table_offset(s) + 50;
         }), "dos nt32 sec32=3 - -=? - ov=768+19530 r=2 a=9", 0x210, 0x210},
        // the overlay: behind the section whose raw data ends last, wrapping like the fields
        {"overlay_behind_sections", pe(+[](S s) { s.sections = {{0x100, 0x1000, 0x1000, 0x4000}, {0, 0x2000, 0x200, 0x400}}, s.file_size = 0x6000; }),
         "dos nt32 sec32=2 - -=? - ov=20480+4096 r=1 a=9", 0x4010, 0x4010},
        {"overlay_past_file_end", pe(+[](S s) { s.sections = {{0x100, 0x1000, 0x1000, 0x1000}}, s.file_size = 0x1FFF; }),
         "dos nt32 sec32=1 - -=? - ov=0+0 r=1 a=9", 0x1010, 0x1010},
        {"overlay_all_zero", pe(+[](S s) { s.sections = {{0x100, 0x1000, 0, 0}, {0x100, 0x2000, 0, 0}}, s.file_size = 0x900; }),
         "dos nt32 sec32=2 - -=? - ov=0+2304 r=1 a=9", 0x10, 0x10},
        {"overlay_wrapping_end", pe(+[](S s) { s.sections = {{0x100, 0x1000, 0x200, ~0xFFu}, {0, 0x2000, 0x100, 0x400}}, s.file_size = 0x900; }),
         "dos nt32 sec32=2 - -=? - ov=1280+1024 r=1 a=9", -240, -496},
        {"one_region", numbered(REGION_SIZE), none, -1, -1},
        {"unaligned_entry", entry(), one, 0x80110, 0x80100},
        {"aligned_entry", entry(+[](S s) { s.sections[0].raw_pointer = 0x80000; }), "dos nt32 sec32=1 - -=? - ov=589824+458752 r=1 a=9", 0x80100, 0x80100},
        {"entry_in_second_section", entry(+[](S s) { s.sections.insert(s.sections.begin(), {0x100, 0x400, 0x100, 0x210}); }),
         "dos nt32 sec32=2 - -=? - ov=589840+458736 r=1 a=9", 0x80110, 0x80100},
        // where the aligned entry lies: pointers on a 512-byte boundary, a zero alignment and pointers already
        // aligned are left alone; a raw size grows to whole units, and one that is whole already does not
        {"align_0x1000", entry(+[](S s) { s.sections[0].raw_pointer = 0x80400, s.file_alignment = 0x1000; }), "", 0x80500, 0x80500},
        {"align_0", entry(+[](S s) { s.file_alignment = 0; }), one, 0x80110, 0x80110},
        {"align_0x10", entry(+[](S s) { s.file_alignment = 0x10; }), one, 0x80110, 0x80110},
        {"raw_size_grows", entry(+[](S s) { s.sections[0] = {0, 0x1000, 0x150, 0x80010}, s.entry = 0x11A0; }), "", -1, 0x801A0},
        {"raw_size_whole", entry(+[](S s) { s.sections[0] = {0, 0x1000, 0x200, 0x80010}, s.entry = 0x1300; }), "", -1, -1},
    };
}

// Each row's headers and windows, then both fault walks over the full walk of each small one.
class PeFiles : public ModuleTest, public ::testing::WithParamInterface<pe_row> {};
TEST_P(PeFiles, HeadersAndWindows) {
    const pe_row &r = GetParam();
    if (*r.headers) { EXPECT_EQ(headers_digest(host_, create(r.image), r.image), r.headers); }
    windows_digest(host_, create(r.image), r.image, r.raw, r.aligned);
    if (!*r.headers || r.image.size() > 64 * 1024) return;
    auto walk = [&] {
        scan_file *f = open_scan_file(host_, r.image);
        if (!f) return std::string("no file");
        std::string d = headers_digest(host_, f, r.image) + windows_digest(host_, f, r.image, r.raw, r.aligned, true);
        return close_scan_file(host_, f), d;
    };
    expect_survives_alloc_failures(host_, walk);
    expect_survives_read_failures(host_, walk);
}

void PrintTo(const pe_row &r, std::ostream *os) { *os << r.name; }
INSTANTIATE_TEST_SUITE_P(Rows, PeFiles, ::testing::ValuesIn(pe_rows()), [](const auto &i) { return std::string(i.param.name); });

using PeSlots = ModuleTest;

// The entry kinds own the entry's bytes: offset requests for those bytes are served from them without reading; a window
// reloads into its own buffer; a failed load gives its buffer back and loads again on the next request; no cache is
// made for an offset past the file; a failed section table is not retried.
TEST_F(PeSlots, WindowBuffers) {
    scan_file *f = create(entry()), *same = create(entry(+[](pe_spec &s) { s.sections[0].raw_pointer = 0x80000; }));
    auto get = [&](int32_t kind, int64_t offset, scan_file *file = nullptr) {
        uint64_t size = 0, position = 0;
        return call<SLOT_FILE_GET_WINDOW>(api_, file ? file : f, kind, offset, &size, &position);
    };
    const uint8_t *raw = get(REGION_AT_ENTRY_RAW, 0), *aligned = get(REGION_AT_ENTRY, 0), *around = get(REGION_AROUND_ENTRY, 0),
                  *around_raw = get(REGION_AROUND_ENTRY_RAW, 0);
    const uint64_t reads = calls(KQHOST_CALL_READ);
    EXPECT_EQ(std::vector<const uint8_t *>({get(3, 0x80100), get(3, -1), get(3, 0x80110), get(4, 0x80100), get(4, 0x80110)}),
              std::vector<const uint8_t *>({aligned, aligned, raw, around, around_raw}));
    EXPECT_EQ(calls(KQHOST_CALL_READ), reads) << "served from the entry kinds without reading";
    const uint8_t *a = get(REGION_AT_OFFSET, 200000), *b = get(REGION_AROUND_OFFSET, 500000);
    const uint64_t live = live_blocks();
    EXPECT_TRUE(get(REGION_AT_OFFSET, 300000) == a && get(REGION_AROUND_OFFSET, 500000) == b) << "reloaded in place";
    EXPECT_EQ(std::make_pair(live_blocks(), calls(KQHOST_CALL_READ)), std::make_pair(live, reads + 3));
    EXPECT_EQ(get(REGION_AT_ENTRY_RAW, 0, same), get(REGION_AT_ENTRY, 0, same)) << "equal entry offsets share one buffer";
    const uint64_t held = live_blocks();
    kqhost_fail_reads(host_, 1);
    EXPECT_TRUE(!get(REGION_AT_OFFSET, 200000) && live_blocks() == held - 1);
    kqhost_fail_reads(host_, 0);
    EXPECT_TRUE(get(REGION_AT_OFFSET, 200000) && get(REGION_AT_OFFSET, 200000)[0] == fill_byte(200000));
    scan_file *fresh = create(entry());
    const uint64_t allocs = allocations(host_);
    for (int32_t kind : {3, 4, 6, 7, 8, 9}) EXPECT_EQ(get(kind, int64_t(MiB) + 1, fresh), nullptr);
    EXPECT_EQ(allocations(host_), allocs) << "no cache for an offset past the file";
    scan_file *g = create(pe(+[](pe_spec &s) { s.lfanew = 20300; }));  // headers and table beyond the head
    ASSERT_NE(call<SLOT_PE_GET_NT_HEADERS32>(api_, g), nullptr);
    kqhost_fail_reads(host_, 1);
    uint32_t n = 0;
    EXPECT_TRUE(!call<SLOT_PE_GET_SECTIONS32>(api_, g, &n) && n == 2u) << "the clamped count is reported with the failure";
    kqhost_fail_reads(host_, 0);
    const uint64_t read_ats = calls(KQHOST_CALL_READ_AT);
    EXPECT_TRUE(!call<SLOT_PE_GET_SECTIONS32>(api_, g, &n) && calls(KQHOST_CALL_READ_AT) == read_ats) << "a failure is not retried";
}

// One null-argument row per slot.
TEST_F(PeSlots, NullArguments) {
    scan_file *f = create(pe(nullptr));
    uint32_t n = 5;
    uint64_t size = 5, position = 5, size2 = 5;
    for (const void *p : {call<SLOT_PE_GET_DOS_HEADER>(api_, nullptr), call<SLOT_PE_GET_NT_HEADERS32>(api_, nullptr),
                          call<SLOT_PE_GET_NT_HEADERS64>(api_, nullptr), call<SLOT_PE_GET_SECTIONS64>(api_, nullptr, &n),
                          call<SLOT_PE_GET_NE_HEADER>(api_, nullptr)}) EXPECT_EQ(p, nullptr);
    EXPECT_EQ(call<SLOT_PE_GET_SECTIONS32>(api_, f, nullptr), call<SLOT_PE_GET_SECTIONS32>(api_, f, &n));
    EXPECT_EQ(call<SLOT_PE_GET_OVERLAY>(api_, nullptr, &size) + size + call<SLOT_PE_GET_OVERLAY>(api_, f, nullptr), 5u);
    EXPECT_TRUE(!call<SLOT_FILE_GET_WINDOW>(api_, nullptr, 3, 0, &size, &position) && size + position == 0);
    EXPECT_TRUE(!call<SLOT_FILE_GET_WINDOW>(api_, f, 3, 100, nullptr, &position) && !call<SLOT_FILE_GET_WINDOW>(api_, f, 3, 100, &size2, nullptr));
    EXPECT_EQ(size2, 0u);
}

// Slots 12-17 against a literal reading of their rules: a header contains an RVA in either extent and an offset in its
// raw data (sums wrap at 32 bits); the first containing header gives the index, the last the translation; values below
// the lowest VirtualAddress map to themselves, others to 0 or 0xFFFFFFFF (the _ex slots).
TEST_F(PeSlots, MappingAgreesWithModel) {
    const uint32_t fields[] = {0, 0x10, 0x200, 0x400, 0x1000, 0x1800, 0x3000, 0xFFFFFF00, 0xFFFFFFF0};
    std::mt19937 rng(12);
    for (int round = 0; round < 3000; round++) {
        std::vector<std::array<uint32_t, 4>> t(rng() % 4);  // VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData
        bytes raw(40 * t.size());
        for (size_t i = 0; i < t.size(); i++)
            for (int k = 0; k < 4; k++) put32(raw, 40 * i + 8 + 4 * k, t[i][k] = fields[rng() % 9]);
        const int32_t n = round % 10 == 0 ? -int32_t(rng() % 3) : int32_t(t.size());
        const uint32_t v = fields[rng() % 9] + uint32_t(rng() % 3) - 1;
        auto model = [&](bool by_rva, uint32_t missing) {
            uint32_t lowest = 0xFFFFFFFF, result = 0, first = ~0u;
            for (int32_t i = 0; i < n; i++) {
                const auto [vsize, va, rsize, rp] = t[i];
                lowest = std::min(lowest, va);
                if (by_rva ? va <= v && (v < uint32_t(va + vsize) || v < uint32_t(va + rsize)) : rp <= v && v < uint32_t(rp + rsize))
                    first = std::min(first, uint32_t(i)), result = by_rva ? rp + (v - va) : va + (v - rp);
            }
            return std::array<uint32_t, 2>{first != ~0u ? result : v < lowest ? v : missing, first};
        };
        const uint8_t *p = raw.empty() ? nullptr : raw.data();
        EXPECT_EQ((std::array<uint32_t, 6>{call<SLOT_PE_RVA_TO_OFFSET>(api_, n, p, v), call<SLOT_PE_RVA_TO_OFFSET_EX>(api_, n, p, v),
                                           call<SLOT_PE_OFFSET_TO_RVA>(api_, n, p, v), call<SLOT_PE_OFFSET_TO_RVA_EX>(api_, n, p, v),
                                           uint32_t(call<SLOT_PE_FIND_SECTION_BY_RVA>(api_, n, p, v)),
                                           uint32_t(call<SLOT_PE_FIND_SECTION_BY_OFFSET>(api_, n, p, v))}),
                  (std::array<uint32_t, 6>{model(true, 0)[0], model(true, ~0u)[0], model(false, 0)[0], model(false, ~0u)[0],
                                           model(true, 0)[1], model(false, 0)[1]})) << "round " << round;
    }
}

}  // namespace
}  // namespace kqtest
