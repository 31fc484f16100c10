// The scan_file life cycle, its accessors and every documented status code.
#include "support/module_fixture.h"

namespace kqtest {
namespace {

class ScanFileTest : public ModuleTest {
protected:
    scan_file *create_raw(host_context *c, uint32_t inst, uint32_t *handle) {
        return slot<scan_file_create_fn>(SLOT_SCAN_FILE_CREATE)(c, inst, handle);
    }
    int32_t reset(scan_file *f, uint32_t handle) { return slot<scan_file_reset_fn>(SLOT_SCAN_FILE_RESET)(f, handle); }
};

TEST_F(ScanFileTest, CreateFillsEveryWord) {
    uint32_t handle = open_bytes(bytes(1234, 7));
    scan_file *f = create_from_handle(handle);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->ctx, ctx());
    EXPECT_EQ(f->instance, instance());
    EXPECT_EQ(f->services, kqhost_services(host_));
    EXPECT_EQ(f->attached, nullptr);
    EXPECT_EQ(f->handle, handle);
    EXPECT_EQ(f->size, 1234u);
    EXPECT_EQ(f->self_api, api_);
    EXPECT_NE(f->size_list_api, nullptr);
    EXPECT_EQ(f->known_file_state, 0);
    EXPECT_EQ(f->user1 | f->user2 | f->user3, 0u);
    EXPECT_EQ(live_blocks(), 1u);
}

TEST_F(ScanFileTest, CreateRefusesBadArgumentsWithoutAllocating) {
    uint32_t handle = open_bytes(bytes(10));
    uint32_t zero = 0;
    EXPECT_EQ(create_raw(nullptr, instance(), &handle), nullptr);
    EXPECT_EQ(create_raw(ctx(), 0, &handle), nullptr);
    EXPECT_EQ(create_raw(ctx(), instance(), nullptr), nullptr);
    EXPECT_EQ(create_raw(ctx(), instance(), &zero), nullptr);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC), 0u);
}

TEST_F(ScanFileTest, CreateFailsCleanlyWhenTheHostCannotServe) {
    uint32_t handle = open_bytes(bytes(10));
    kqhost_hide_interface(host_, HOST_IFACE_SERVICES, 1);
    EXPECT_EQ(create_raw(ctx(), instance(), &handle), nullptr);
    kqhost_hide_interface(host_, HOST_IFACE_SERVICES, 0);

    kqhost_hide_interface(host_, HOST_IFACE_SELF_API, 1);
    EXPECT_EQ(create_raw(ctx(), instance(), &handle), nullptr);
    EXPECT_EQ(live_blocks(), 0u) << "the object allocated before the id-12 check goes back";
    kqhost_hide_interface(host_, HOST_IFACE_SELF_API, 0);

    kqhost_fail_alloc_at(host_, 1);
    EXPECT_EQ(create_raw(ctx(), instance(), &handle), nullptr);
    kqhost_fail_alloc_at(host_, 0);

    kqhost_hide_interface(host_, HOST_IFACE_SIZE_LIST, 1);
    scan_file *f = create_from_handle(handle);
    ASSERT_NE(f, nullptr) << "the size list is optional";
    EXPECT_EQ(f->size_list_api, nullptr);
}

TEST_F(ScanFileTest, DestroyNeedsContextAndInstance) {
    auto destroy_slot = slot<scan_file_destroy_fn>(SLOT_SCAN_FILE_DESTROY);
    scan_file *f = create(bytes(10));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(destroy_slot(nullptr, instance(), f), 0);
    EXPECT_EQ(destroy_slot(ctx(), 0, f), 0);
    EXPECT_EQ(live_blocks(), 1u) << "nothing was released";
    EXPECT_EQ(destroy_slot(ctx(), instance(), nullptr), 0);
    destroy(f);
    EXPECT_EQ(live_blocks(), 0u);
}

TEST_F(ScanFileTest, ResetRefillsInPlaceAndReleasesBlocks) {
    scan_file *f = create(bytes(100, 1));
    ASSERT_NE(f, nullptr);
    uint32_t other = open_bytes(bytes(5000, 2));
    slot<scan_file_set_user1_fn>(SLOT_SCAN_FILE_SET_USER1)(f, 11);
    slot<scan_file_set_user2_fn>(SLOT_SCAN_FILE_SET_USER2)(f, 22);
    slot<scan_file_set_user3_fn>(SLOT_SCAN_FILE_SET_USER3)(f, 33);
    f->known_file_state = 2;
    ASSERT_NE(slot<file_get_region_fn>(SLOT_FILE_GET_REGION)(f, REGION_HEAD, nullptr), nullptr);
    EXPECT_EQ(live_blocks(), 4u);  // object, cache, head buffer, list node

    EXPECT_EQ(reset(f, other), 0);
    EXPECT_EQ(live_blocks(), 1u);
    EXPECT_EQ(f->handle, other);
    EXPECT_EQ(f->size, 5000u);
    EXPECT_EQ(f->attached, nullptr);
    EXPECT_EQ(f->user1 | f->user2 | f->user3, 0u);
    EXPECT_EQ(f->known_file_state, 0);

    ASSERT_NE(slot<file_get_region_fn>(SLOT_FILE_GET_REGION)(f, REGION_HEAD, nullptr), nullptr);
    EXPECT_EQ(reset(f, 0), 0) << "handle 0 still clears the blocks";
    EXPECT_EQ(live_blocks(), 1u);
    EXPECT_EQ(f->handle, other) << "and keeps the old handle";
    EXPECT_EQ(reset(nullptr, other), 1);
}

TEST_F(ScanFileTest, AccessorsAndTheirNullResults) {
    scan_file *f = create(bytes(77));
    ASSERT_NE(f, nullptr);
    uint64_t size = 99;
    uint32_t handle = 99;
    auto get_size = slot<scan_file_get_size_fn>(SLOT_SCAN_FILE_GET_SIZE);
    auto get_handle = slot<scan_file_get_handle_fn>(SLOT_SCAN_FILE_GET_HANDLE);
    EXPECT_EQ(get_size(f, &size), 0);
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(get_size(nullptr, &size), 1);
    EXPECT_EQ(size, 0u) << "the out value is cleared before the object is checked";
    EXPECT_EQ(get_size(f, nullptr), 1);
    EXPECT_EQ(get_handle(f, &handle), 0);
    EXPECT_EQ(handle, f->handle);
    EXPECT_EQ(get_handle(nullptr, &handle), 1);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(get_handle(f, nullptr), 1);

    auto set_handle = slot<scan_file_set_handle_fn>(SLOT_SCAN_FILE_SET_HANDLE);
    EXPECT_EQ(set_handle(nullptr, 5), 1);
    EXPECT_EQ(set_handle(f, 12345), 0);
    EXPECT_EQ(f->handle, 12345u);
    EXPECT_EQ(f->size, 77u) << "size is not asked again";

    slot<scan_file_set_user1_fn>(SLOT_SCAN_FILE_SET_USER1)(f, 0xA1);
    slot<scan_file_set_user2_fn>(SLOT_SCAN_FILE_SET_USER2)(f, 0xB2);
    slot<scan_file_set_user3_fn>(SLOT_SCAN_FILE_SET_USER3)(f, 0xC3);
    EXPECT_EQ(slot<scan_file_get_user1_fn>(SLOT_SCAN_FILE_GET_USER1)(f), 0xA1u);
    EXPECT_EQ(slot<scan_file_get_user2_fn>(SLOT_SCAN_FILE_GET_USER2)(f), 0xB2u);
    EXPECT_EQ(slot<scan_file_get_user3_fn>(SLOT_SCAN_FILE_GET_USER3)(f), 0xC3u);
    EXPECT_EQ(f->user1, 0xA1u);
    EXPECT_EQ(f->user2, 0xB2u);
    EXPECT_EQ(f->user3, 0xC3u);

    // A null object is never touched; user1 reads as 1, the others as 0.
    slot<scan_file_set_user1_fn>(SLOT_SCAN_FILE_SET_USER1)(nullptr, 1);
    slot<scan_file_set_user2_fn>(SLOT_SCAN_FILE_SET_USER2)(nullptr, 1);
    slot<scan_file_set_user3_fn>(SLOT_SCAN_FILE_SET_USER3)(nullptr, 1);
    EXPECT_EQ(slot<scan_file_get_user1_fn>(SLOT_SCAN_FILE_GET_USER1)(nullptr), 1u);
    EXPECT_EQ(slot<scan_file_get_user2_fn>(SLOT_SCAN_FILE_GET_USER2)(nullptr), 0u);
    EXPECT_EQ(slot<scan_file_get_user3_fn>(SLOT_SCAN_FILE_GET_USER3)(nullptr), 0u);
}

}  // namespace
}  // namespace kqtest
