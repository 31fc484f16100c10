// Slots 6-11: copies of the MS-DOS, NT (PE32 and PE32+) and NE headers and of
// the section table, loaded once per file into the pe_reader. The head region
// serves them; the file is read only for structures that lie beyond it.
#include <string.h>

#include "module/slots.h"
#include "pe/pe_format.h"

namespace kq {
namespace {

uint32_t head_lfanew(const head_region &head) { return load_le32(head.data + PE_DOS_E_LFANEW); }

uint8_t *load_dos_header(scan_file *file) {
    head_region head = pe_head(file);
    if (!head.data || head.size < PE_DOS_HEADER_SIZE || !has_dos_signature(head.data)) return nullptr;
    auto *record = static_cast<uint8_t *>(host_of(file).alloc(PE_DOS_HEADER_SIZE));
    if (!record) return nullptr;
    memcpy(record, head.data, PE_DOS_HEADER_SIZE);
    return record;
}

template <const pe_image_kind &K> uint8_t *load_nt_headers(scan_file *file) {
    head_region head = pe_head(file);
    if (!head.data || head.size < K.min_head_size || !has_dos_signature(head.data)) return nullptr;
    uint64_t lfanew = head_lfanew(head);
    // Quick rejection while the signature is still inside the head.
    if (fits_in_head_strictly(lfanew, 2, head.size) && (head.data[lfanew] != 'P' || head.data[lfanew + 1] != 'E'))
        return nullptr;

    host_ref host = host_of(file);
    host_block record(host, host.alloc(K.record_size));
    if (!record) return nullptr;
    if (fits_in_head_strictly(lfanew, K.record_size, head.size)) {
        memcpy(record.get(), head.data + lfanew, K.record_size);
    } else {
        uint64_t got = 0;
        host.seek(file->handle, lfanew);
        if (host.read(file->handle, record.get(), K.record_size, &got) != 0 || got < K.record_size)
            return nullptr;
    }
    const uint8_t *nt = record.get();
    if (load_le32(nt + PE_NT_SIGNATURE) != PE_SIGNATURE || load_le16(nt + PE_NT_MAGIC) != K.magic) return nullptr;
    return static_cast<uint8_t *>(record.release());
}

template <const pe_image_kind &K> const uint8_t *get_nt_headers(scan_file *file);

template <const pe_image_kind &K> uint8_t *load_sections(scan_file *file, uint32_t *count) {
    const uint8_t *nt = get_nt_headers<K>(file);
    if (!nt) return nullptr;
    uint32_t n = load_le16(nt + PE_NT_NUMBER_OF_SECTIONS);
    *count = n > PE_MAX_SECTIONS ? PE_MAX_SECTIONS : n;
    if (*count == 0) return nullptr;
    head_region head = pe_head(file);
    if (!head.data || head.size < kSectionTableMinHead) return nullptr;

    host_ref host = host_of(file);
    uint64_t bytes = uint64_t{*count} * PE_SECTION_HEADER_SIZE;
    host_block table(host, host.alloc(bytes));
    if (!table) return nullptr;
    uint64_t start = uint64_t{head_lfanew(head)} + kNtOptionalHeader + load_le16(nt + PE_NT_SIZE_OF_OPTIONAL_HEADER);
    if (fits_in_head(start, bytes, head.size)) {
        memcpy(table.get(), head.data + start, bytes);
    } else {
        uint64_t got = 0;
        int32_t result = host.read_at(file->handle, start, table.get(), bytes, &got);
        if (result != 0) return nullptr;
        // A table cut short by the end of the file keeps its count; the
        // headers that are missing read as zeros.
        if (got < bytes) memset(table.get() + got, 0, bytes - got);
    }
    return static_cast<uint8_t *>(table.release());
}

uint8_t *load_ne_header(scan_file *file) {
    head_region head = pe_head(file);
    if (!head.data || head.size < kNeMinHead || !has_dos_signature(head.data)) return nullptr;
    uint64_t lfanew = head_lfanew(head);
    if (fits_in_head_strictly(lfanew, 2, head.size) && (head.data[lfanew] != 'N' || head.data[lfanew + 1] != 'E'))
        return nullptr;

    host_ref host = host_of(file);
    host_block record(host, host.alloc(PE_NE_HEADER_SIZE));
    if (!record) return nullptr;
    if (fits_in_head_strictly(lfanew, PE_NE_HEADER_SIZE, head.size)) {
        memcpy(record.get(), head.data + lfanew, PE_NE_HEADER_SIZE);
    } else {
        uint64_t got = 0;
        if (host.read_at(file->handle, lfanew, record.get(), PE_NE_HEADER_SIZE, &got) != 0 ||
            got < PE_NE_HEADER_SIZE)
            return nullptr;
        if (record.get()[0] != 'N' || record.get()[1] != 'E') return nullptr;
    }
    return static_cast<uint8_t *>(record.release());
}

// Every header slot: the file's pe_reader, then the load-once cache.
template <const pe_image_kind &K> const uint8_t *get_nt_headers(scan_file *file) {
    if (!file) return nullptr;
    pe_reader *reader = pe_reader_get(file);
    if (!reader) return nullptr;
    return pe_cache_get(file, &(reader->*K.nt_slot), load_nt_headers<K>);
}

template <const pe_image_kind &K> const uint8_t *get_sections(scan_file *file, uint32_t *count) {
    if (!file) return nullptr;
    pe_reader *reader = pe_reader_get(file);
    if (!reader) return nullptr;
    // Without a count pointer the count is still recorded with the table.
    uint32_t local = 0;
    return pe_cache_get(file, &(reader->*K.sections_slot), load_sections<K>, count ? count : &local);
}

const uint8_t *get_plain(scan_file *file, pe_cache_slot pe_reader::*slot, pe_loader loader) {
    if (!file) return nullptr;
    pe_reader *reader = pe_reader_get(file);
    if (!reader) return nullptr;
    return pe_cache_get(file, &(reader->*slot), loader);
}

}  // namespace
}  // namespace kq

extern "C" {

const uint8_t *pe_get_dos_header(scan_file *file) {
    return kq::get_plain(file, &kq::pe_reader::dos_header, kq::load_dos_header);
}
const uint8_t *pe_get_nt_headers32(scan_file *file) { return kq::get_nt_headers<kq::kPe32Kind>(file); }
const uint8_t *pe_get_sections32(scan_file *file, uint32_t *count) {
    return kq::get_sections<kq::kPe32Kind>(file, count);
}
const uint8_t *pe_get_nt_headers64(scan_file *file) { return kq::get_nt_headers<kq::kPe64Kind>(file); }
const uint8_t *pe_get_sections64(scan_file *file, uint32_t *count) {
    return kq::get_sections<kq::kPe64Kind>(file, count);
}
const uint8_t *pe_get_ne_header(scan_file *file) {
    return kq::get_plain(file, &kq::pe_reader::ne_header, kq::load_ne_header);
}

}  // extern "C"
