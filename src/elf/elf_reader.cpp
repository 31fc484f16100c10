// The ELF reader's life on a scan_file (slot 19, attachment type 2), its one
// read primitive (slot 33) and its last-error word (slot 70).
#include "elf/elf_reader.h"

#include <string.h>

#include "module/attached_data.h"
#include "module/slots.h"

namespace kq {

elf_reader *elf_reader_create(host_context *ctx, uint32_t instance, uint32_t handle, const uint8_t *head,
                              uint64_t head_len, const host_services *services) {
    if (!services) return nullptr;
    host_ref host{ctx, instance, services};
    auto *r = static_cast<elf_reader *>(host.alloc(sizeof(elf_reader)));
    if (!r) return nullptr;
    memset(r, 0, sizeof *r);
    r->handle = handle;
    r->ctx = ctx;
    r->instance = instance;
    r->head = head;
    r->head_len = head_len;
    r->services = services;
    r->image_offset = 0;
    host.file_size(handle, &r->file_size);  // a failure leaves 0: no bounds test then
    return r;
}

int32_t elf_reader_destroy(elf_reader *r) {
    if (!r) return -1;
    host_ref host = host_of(r);
    host.free(r->header_raw.block);
    host.free(r->sections_raw.block);
    host.free(r->segments_raw.block);
    host.free(r->section_names);
    host.free(r->header);
    host.free(r->sections);
    host.free(r->segments);
    host.free(r);
    return 0;
}

int32_t elf_attachment_release(scan_file *file, void *block) {
    if (!file || !block) return 0;
    auto *attachment = static_cast<elf_attachment *>(block);
    if (attachment->reader) elf_reader_destroy(attachment->reader);
    host_of(file).free(attachment);
    return 0;
}

int32_t elf_check_file(host_context *ctx, uint32_t instance, uint32_t handle, const uint8_t *head,
                       uint64_t head_len, const host_services *services) {
    elf_reader *r = elf_reader_create(ctx, instance, handle, head, head_len, services);
    if (!r) return -1;
    int32_t result = elf_check(r, 0);
    elf_reader_destroy(r);
    return result;
}

}  // namespace kq

using namespace kq;

extern "C" elf_reader *elf_reader_get(scan_file *file) {
    if (!file || !file->self_api) return nullptr;
    auto get_region = reinterpret_cast<file_get_region_fn>(file->self_api[SLOT_FILE_GET_REGION]);
    uint64_t head_len = 0;
    const uint8_t *head = get_region(file, REGION_HEAD, &head_len);
    if (!head || head_len < 4) return nullptr;
    if (head[0] != 0x7F || head[1] != 'E' || head[2] != 'L' || head[3] != 'F') return nullptr;

    void *found = nullptr;
    int32_t state = attached_data_find(file, ATTACHED_ELF, &found);
    if (state == kAttachedOk) return static_cast<elf_attachment *>(found)->reader;
    if (state != kAttachedNotFound) return nullptr;

    host_ref host = host_of(file);
    auto *attachment = static_cast<elf_attachment *>(host.alloc(sizeof(elf_attachment)));
    if (!attachment) return nullptr;
    memset(attachment, 0, sizeof *attachment);
    // Attached before the reader exists, so the scan_file owns whatever follows.
    // When the list cannot take it nobody would free it: give it back and
    // answer null; a later call tries again.
    if (attached_data_add(file, ATTACHED_ELF, attachment) != kAttachedOk) {
        host.free(attachment);
        return nullptr;
    }
    attachment->reader = elf_reader_create(file->ctx, file->instance, file->handle, head, head_len, file->services);
    attachment->state = attachment->reader ? kElfAttachReady : kElfAttachFailed;
    return attachment->reader;
}

extern "C" uint64_t elf_read(elf_reader *r, uint8_t **buffer, uint64_t count, uint64_t offset) {
    if (!r || !buffer || count == 0) return 0;
    if (static_cast<int64_t>(r->file_size) > 0 &&
        (static_cast<int64_t>(offset) < 0 || offset > r->file_size))
        return elf_fail(r, ELF_ERR_OFFSET, uint64_t{0});

    host_ref host = host_of(r);
    uint8_t *dest = *buffer;
    bool allocated = false;
    if (!dest) {
        dest = static_cast<uint8_t *>(host.alloc(count));
        if (!dest) return elf_fail(r, ELF_ERR_NO_MEMORY, uint64_t{0});
        allocated = true;
    }

    // Bytes inside the head come from memory. The position is compared
    // unsigned, so an offset that wrapped (no bounds test when the host
    // reports no size) never reaches before the head.
    uint64_t done = 0;
    uint64_t pos = offset + r->image_offset;
    if (r->head && pos < r->head_len) {
        uint64_t n = r->head_len - pos < count ? r->head_len - pos : count;
        memcpy(dest, r->head + pos, static_cast<size_t>(n));
        count -= n;
        done = n;
    }
    if (count == 0) {
        *buffer = dest;
        return done;
    }

    int32_t code = 0;
    uint64_t got = 0;
    if (host.seek(r->handle, pos + done) != 0)
        code = ELF_ERR_SEEK;
    else if (host.read(r->handle, dest + done, count, &got) != 0)
        code = ELF_ERR_READ;
    if (code) {
        if (allocated) host.free(dest);
        return elf_fail(r, code, uint64_t{0});
    }
    if (got > count) got = count;  // a host that claims more than asked is not believed
    *buffer = dest;
    return done + got;
}

extern "C" int32_t elf_get_last_error(elf_reader *r) {
    if (!r) return -1;
    int32_t code = r->last_error;
    r->last_error = 0;
    return code;
}
