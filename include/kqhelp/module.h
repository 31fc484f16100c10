/* Module identity, the 75-slot function table, and the per-file object. */
#ifndef KQHELP_MODULE_H
#define KQHELP_MODULE_H

#include "kqhelp/host.h"

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

/* Slot numbers of the function table. The number is the interface. */
enum {
    SLOT_SCAN_FILE_CREATE = 0,
    SLOT_SCAN_FILE_DESTROY = 1,
    SLOT_SCAN_FILE_SET_HANDLE = 2,
    SLOT_SCAN_FILE_RESET = 3,
    SLOT_FILE_GET_REGION = 4,
    SLOT_FILE_GET_WINDOW = 5,
    SLOT_PE_GET_DOS_HEADER = 6,
    SLOT_PE_GET_NT_HEADERS32 = 7,
    SLOT_PE_GET_SECTIONS32 = 8,
    SLOT_PE_GET_NT_HEADERS64 = 9,
    SLOT_PE_GET_SECTIONS64 = 10,
    SLOT_PE_GET_NE_HEADER = 11,
    SLOT_PE_FIND_SECTION_BY_RVA = 12,
    SLOT_PE_FIND_SECTION_BY_OFFSET = 13,
    SLOT_PE_RVA_TO_OFFSET = 14,
    SLOT_PE_OFFSET_TO_RVA = 15,
    SLOT_PE_RVA_TO_OFFSET_EX = 16,
    SLOT_PE_OFFSET_TO_RVA_EX = 17,
    SLOT_PE_GET_OVERLAY = 18,
    SLOT_ELF_READER_GET = 19,
    SLOT_ELF_GET_CLASS = 20,
    SLOT_ELF_GET_HEADER = 21,
    SLOT_ELF_GET_SECTION_COUNT = 22,
    SLOT_ELF_GET_SECTION_TABLE = 23,
    SLOT_ELF_GET_SECTION_BY_INDEX = 24,
    SLOT_ELF_GET_SECTION_BY_NAME = 25,
    SLOT_ELF_GET_SECTION_NAME = 26,
    SLOT_ELF_GET_SEGMENT_COUNT = 27,
    SLOT_ELF_GET_SEGMENT_TABLE = 28,
    SLOT_ELF_GET_SEGMENT_BY_INDEX = 29,
    SLOT_ELF_GET_IMAGE_BASE = 30,
    SLOT_ELF_GET_FILE_OFFSET_BY_VIRTUAL_ADDRESS = 31,
    SLOT_ELF_GET_VIRTUAL_ADDRESS_BY_FILE_OFFSET = 32,
    SLOT_ELF_READ = 33,
    SLOT_ELF_CHECK = 34,
    SLOT_SEARCH_BUFFER_NOCASE = 35,
    SLOT_SEARCH_BUFFER = 36,
    SLOT_SEARCH_BUFFER_SCRAMBLED_NOCASE = 37,
    SLOT_SEARCH_BUFFER_SCRAMBLED = 38,
    SLOT_INFLATE_INIT = 39,
    SLOT_INFLATE = 40,
    SLOT_INFLATE_END = 41,
    SLOT_INFLATE_RESET = 42,
    SLOT_UNCOMPRESS = 43,
    SLOT_SCRAMBLED_COMPARE = 44,
    SLOT_SCRAMBLED_PATTERN_MATCH = 45,
    SLOT_SCAN_FILE_GET_SIZE = 46,
    SLOT_SCAN_FILE_GET_HANDLE = 47,
    SLOT_SCAN_FILE_SET_USER1 = 48,
    SLOT_SCAN_FILE_GET_USER1 = 49,
    SLOT_SCAN_FILE_GET_USER3 = 50,
    SLOT_SCAN_FILE_SET_USER3 = 51,
    SLOT_SCAN_FILE_SET_USER2 = 52,
    SLOT_SCAN_FILE_GET_USER2 = 53,
    SLOT_CRC32_UPDATE = 54,
    SLOT_CRC16_UPDATE = 55,
    SLOT_KNOWN_FILE_MATCH = 56,
    SLOT_XORDETECT_CHECK_HEADER = 57,
    SLOT_XORDETECT_FIND_KEY = 58,
    SLOT_XORDETECT_SCAN_BUFFER = 59,
    SLOT_NAME_HAS_CATEGORY_PREFIX = 60,
    SLOT_EXT_IN_EXECUTABLE_LIST = 61,
    SLOT_EXT_IN_DOCUMENT_LIST = 62,
    SLOT_HELPER_NOOP_A = 63,
    SLOT_HELPER_FAIL_A = 64,
    SLOT_HELPER_CLAMP_NONPOSITIVE = 65,
    SLOT_HELPER_NOOP_B = 66,
    SLOT_HELPER_FAIL_B = 67,
    SLOT_ELF_GET_SECTION_BY_VIRTUAL_ADDRESS = 68,
    SLOT_ELF_GET_SEGMENT_BY_VIRTUAL_ADDRESS = 69,
    SLOT_ELF_GET_LAST_ERROR = 70,
    SLOT_PATTERN_MATCH = 71,
    SLOT_ELF_GET_SECTION_BY_PHYSICAL_ADDRESS = 72,
    SLOT_ELF_GET_SEGMENT_BY_PHYSICAL_ADDRESS = 73,
    SLOT_ELF_GET_ENCODING = 74
};

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
