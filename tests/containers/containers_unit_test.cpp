// Deletes through a stand-in host that records every block handed back: per
// release flag, pool and owner, which blocks go and in which order (per node
// its strings, first before second, or its item, then the node; nodes from
// head to tail, children before parents); a bucket a million nodes deep
// deleted on a small stack, so with neither recursion nor a stack of its own
// (laid out by hand: adds would take quadratic time); and one attachment of a
// scan_file removed among several (no slot reaches the remove).
#include <gtest/gtest.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "kqhelp/kqhelp.h"
#include "module/attached_data.h"

namespace {

std::vector<void *> freed, blocks, nodes;  // handed back; every block (freed at the end); those the module asked for
uint32_t pooled;
void *made(uint64_t size, std::vector<void *> *also = nullptr) {
    blocks.push_back(calloc(1, size));
    return also ? also->emplace_back(blocks.back()) : blocks.back();
}
char *named(char name) { return static_cast<char *>(memset(made(1), name, 1)); }  // a block holding its name

class Deletes : public ::testing::Test {
protected:
    void SetUp() override {
        freed.clear();
        services.alloc = services.alloc_zeroed = [](host_context *, uint32_t, uint64_t size) { return made(size, &nodes); };
        services.pool_alloc = services.pool_alloc_zeroed = [](void *, uint32_t size) { return pooled++, made(size, &nodes); };
        services.free = [](host_context *, uint32_t, void *block) { freed.push_back(block); };
    }
    void TearDown() override { for (void *block : std::exchange(blocks, {})) free(block); }
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
        freed.clear(), nodes.clear(), pooled = 0;
        char *pool = row.pool ? named('P') : nullptr;
        helper_list list{}, pairs{};
        helper_tree tree{[](const void *item) { return uint32_t(*static_cast<const char *>(item)); },
                         [](const void *a, const void *b) -> int32_t { return a == b; }, nullptr, {}, 0, 0, 0};
        helper_add_str_to_list(&owner, &list, named('a'), pool), helper_add_str_to_list(&owner, &list, nullptr, pool);
        helper_add_2str_to_list(&owner, &pairs, named('b'), named('c'), pool), helper_add_2str_to_list(&owner, &pairs, nullptr, named('d'), pool);
        for (char item : {'2', '1', '3'}) helper_add_to_tree(&owner, &tree, named(item), pool);
        EXPECT_EQ(pooled, row.pool ? 7u : 0u);
        const helper_tree before = tree;
        helper_owner *o = row.has_owner ? &owner : nullptr;
        EXPECT_EQ(helper_delete_str_list(o, &list, row.flag, pool) | helper_delete_2str_list(o, &pairs, row.flag, pool),
                  row.has_owner ? 0 : -1);
        helper_delete_tree(o, &tree, row.flag, pool);
        std::string got;
        for (void *p : freed) {
            const size_t node = std::find(nodes.begin(), nodes.end(), p) - nodes.begin();
            got += node < nodes.size() ? char('A' + node) : *static_cast<char *>(p);
        }
        EXPECT_EQ(got, row.freed);
        EXPECT_EQ(list.count + pairs.count + !list.tail + !pairs.head, row.has_owner ? 2u : 4u);
        EXPECT_EQ(memcmp(&tree, &before, sizeof tree), 0) << "the tree record is left as it was";
    }
}

TEST_F(Deletes, MillionDeepBucketOnASmallStack) {
    std::vector<helper_tree_node> deep(1000000);
    for (size_t i = 1; i < deep.size(); i++) {  // a zigzag: each node on the left or the right of the previous one
        deep[i].parent = &deep[i - 1];
        (i % 2 ? deep[i - 1].left : deep[i - 1].right) = &deep[i];
    }
    static helper_tree tree{};
    tree.roots[0xB] = deep.data();
    pthread_attr_t attr;
    pthread_t thread;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 64 * 1024), 0);
    ASSERT_EQ(pthread_create(&thread, &attr, [](void *o) -> void * { return helper_delete_tree(static_cast<helper_owner *>(o), &tree, 1, nullptr), nullptr; }, &owner), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    ASSERT_EQ(freed.size(), deep.size()) << "items are null: only nodes are released";
    for (void *p : freed) ASSERT_TRUE(p >= deep.data() && p < deep.data() + deep.size());
}

// Only the node of that type goes (unlinked from the head or from its
// predecessor); its data stays; a type not attached releases nothing.
TEST_F(Deletes, OneAttachmentAmongSeveral) {
    scan_file file{};
    file.services = &services;
    int data[4];
    for (uint32_t type : {7, 8, 9, 10}) ASSERT_EQ(kq::attached_data_add(&file, type, &data[type - 7]), 0);
    auto present = [&] {  // types 7-10 as a-d, "-" for one gone
        std::string out;
        for (void *d = nullptr; uint32_t type : {7, 8, 9, 10})
            out += kq::attached_data_find(&file, type, &d) == 0 && d == &data[type - 7] ? char('a' + type - 7) : '-';
        return out;
    };
    for (auto [type, left] : {std::pair{8u, "a-cd"}, {42u, "a-cd"}, {10u, "a-c-"}, {7u, "--c-"}}) {
        freed.clear();
        EXPECT_EQ(kq::attached_data_remove(&file, type), 0);
        EXPECT_EQ(present(), left) << type;
        EXPECT_EQ(freed.size(), type == 42 ? 0u : 1u) << type;
    }
    EXPECT_EQ(kq::attached_data_clear(&file) || file.attached, false);
}

}  // namespace
