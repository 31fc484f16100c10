// The order in which deletes hand blocks back: for each node its strings
// (the first before the second) or its item, then the node itself, nodes
// from head to tail. A stand-in host records every call.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <vector>

#include "kqhelp/kqhelp.h"

namespace {

std::vector<void *> freed;
void *plain_alloc(host_context *, uint32_t, uint64_t size) { return malloc(size); }
void *zeroed_alloc(host_context *, uint32_t, uint64_t size) { return calloc(1, size); }
void record_free(host_context *, uint32_t, void *block) {
    freed.push_back(block);
    free(block);
}

class ReleaseOrder : public ::testing::Test {
protected:
    void SetUp() override {
        freed.clear();
        services.alloc = plain_alloc;
        services.alloc_zeroed = zeroed_alloc;
        services.free = record_free;
        owner = {nullptr, 7, &services};
    }
    static void *block() { return malloc(4); }

    host_services services{};
    helper_owner owner{};
};

TEST_F(ReleaseOrder, PairListStringsThenNodeFromHeadToTail) {
    helper_list list{};
    void *a = block(), *b = block(), *c = block();
    ASSERT_EQ(helper_add_2str_to_list(&owner, &list, static_cast<char *>(a), static_cast<char *>(b), nullptr), 0);
    ASSERT_EQ(helper_add_2str_to_list(&owner, &list, nullptr, static_cast<char *>(c), nullptr), 0);
    void *first_node = list.head, *second_node = list.tail;
    ASSERT_EQ(helper_delete_2str_list(&owner, &list, 1, nullptr), 0);
    EXPECT_EQ(freed, (std::vector<void *>{a, b, first_node, c, second_node}));
}

TEST_F(ReleaseOrder, TreeItemThenNodeChildrenBeforeParents) {
    static uint32_t hashes[3] = {0x10, 0x08, 0x20};
    helper_tree tree{};
    tree.hash = [](const void *item) { return *static_cast<const uint32_t *>(item); };
    tree.equal = [](const void *a, const void *b) -> int32_t { return a == b; };
    std::vector<void *> items;
    for (uint32_t h : hashes) {
        auto *item = static_cast<uint32_t *>(block());
        *item = h;
        items.push_back(item);
        ASSERT_EQ(helper_add_to_tree(&owner, &tree, item, nullptr), 0);
    }
    helper_tree_node *root = tree.roots[0], *left = root->left, *right = root->right;
    helper_delete_tree(&owner, &tree, 1, nullptr);
    EXPECT_EQ(freed, (std::vector<void *>{items[1], left, items[2], right, items[0], root}));
}

}  // namespace
