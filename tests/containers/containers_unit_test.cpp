// Deletes through a stand-in host that records every block handed back: per
// release flag, pool and owner, which blocks go and in which order (per node
// its strings, first before second, or its item, then the node; nodes from
// head to tail, children before parents); and a bucket a million nodes deep
// deleted on a small stack, so with neither recursion nor a stack of its own
// (laid out by hand: adds would take quadratic time).
#include <gtest/gtest.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "kqhelp/kqhelp.h"

namespace {

std::vector<void *> freed, blocks;  // handed back; every block made (freed at the end)
uint32_t pooled;
void *made(uint64_t size) { return blocks.push_back(calloc(1, size)), blocks.back(); }

class Deletes : public ::testing::Test {
protected:
    void SetUp() override {
        services.alloc = services.alloc_zeroed = [](host_context *, uint32_t, uint64_t size) { return made(size); };
        services.pool_alloc = services.pool_alloc_zeroed = [](void *, uint32_t size) { return pooled++, made(size); };
        services.free = [](host_context *, uint32_t, void *block) { freed.push_back(block); };
    }
    void TearDown() override {
        for (void *block : blocks) free(block);
        blocks.clear();
    }
    host_services services{};
    helper_owner owner{nullptr, 7, &services};
};

// Strings a-d, items 1-3 (a root and its two children), nodes A-G in the order they were added.
TEST_F(Deletes, WhatGoesBackInWhichOrder) {
    const struct { int32_t flag; bool pool, has_owner; const char *freed; } rows[] = {
        {1, false, true, "aABbcCdD1F3G2E"}, {2, false, true, "aABbcCdDFGE"}, {-1, false, true, "aABbcCdDFGE"},
        {0, false, true, "ABCDFGE"},        {1, true, true, ""},             {1, false, false, ""}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.flag);
        freed.clear(), pooled = 0;
        std::map<void *, char> names;
        auto block = [&](char name, void *p = nullptr) {
            if (!p) p = made(1), *static_cast<char *>(p) = name;
            return names[p] = name, static_cast<char *>(p);
        };
        char *pool = row.pool ? block('P') : nullptr, node = 'A';
        helper_list list{}, pairs{};
        helper_tree tree{};
        tree.hash = [](const void *item) { return uint32_t(*static_cast<const char *>(item)); };
        tree.equal = [](const void *a, const void *b) -> int32_t { return a == b; };
        helper_add_str_to_list(&owner, &list, block('a'), pool), helper_add_str_to_list(&owner, &list, nullptr, pool);
        helper_add_2str_to_list(&owner, &pairs, block('b'), block('c'), pool);
        helper_add_2str_to_list(&owner, &pairs, nullptr, block('d'), pool);
        for (char item : {'2', '1', '3'}) helper_add_to_tree(&owner, &tree, block(item), pool);
        for (void *n = list.head; n; n = static_cast<helper_str_node *>(n)->next) block(node++, n);
        for (void *n = pairs.head; n; n = static_cast<helper_2str_node *>(n)->next) block(node++, n);
        block('E', tree.roots[0]), block('F', tree.roots[0]->left), block('G', tree.roots[0]->right);
        EXPECT_EQ(pooled, row.pool ? 7u : 0u);
        const helper_tree before = tree;
        helper_owner *o = row.has_owner ? &owner : nullptr;
        EXPECT_EQ(helper_delete_str_list(o, &list, row.flag, pool) | helper_delete_2str_list(o, &pairs, row.flag, pool),
                  row.has_owner ? 0 : -1);
        helper_delete_tree(o, &tree, row.flag, pool);
        std::string got;
        for (void *p : freed) got += names.count(p) ? names[p] : '?';
        EXPECT_EQ(got, row.freed);
        EXPECT_EQ(list.count + pairs.count + !list.tail + !pairs.head, row.has_owner ? 2u : 4u);
        EXPECT_EQ(memcmp(&tree, &before, sizeof tree), 0) << "the tree record is left as it was";
    }
}

TEST_F(Deletes, MillionDeepBucketOnASmallStack) {
    std::vector<helper_tree_node> nodes(1000000);
    for (size_t i = 1; i < nodes.size(); i++) {  // a zigzag: each node on the left or the right of the previous one
        nodes[i].parent = &nodes[i - 1];
        (i % 2 ? nodes[i - 1].left : nodes[i - 1].right) = &nodes[i];
    }
    static helper_tree tree{};
    tree.roots[0xB] = nodes.data();
    static helper_owner *o;
    o = &owner;
    pthread_attr_t attr;
    pthread_t thread;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 64 * 1024), 0);
    ASSERT_EQ(pthread_create(&thread, &attr, [](void *) -> void * { return helper_delete_tree(o, &tree, 1, nullptr), nullptr; }, nullptr), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    ASSERT_EQ(freed.size(), nodes.size()) << "items are null: only nodes are released";
    for (void *p : freed) ASSERT_TRUE(p >= nodes.data() && p < nodes.data() + nodes.size());
}

}  // namespace
