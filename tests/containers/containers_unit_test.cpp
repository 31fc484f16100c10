// Deletes through a stand-in host that records every block handed back: the
// order (per node its strings, first before second, or its item, then the
// node; nodes from head to tail, children before parents), and a bucket a
// million nodes deep deleted on a small stack, so with neither recursion nor
// a stack of its own (laid out by hand: adds would take quadratic time).
#include <gtest/gtest.h>
#include <pthread.h>
#include <stdlib.h>

#include <vector>

#include "kqhelp/kqhelp.h"

namespace {

std::vector<void *> freed;

class Deletes : public ::testing::Test {
protected:
    void SetUp() override {
        freed.clear();
        services.alloc = services.alloc_zeroed = [](host_context *, uint32_t, uint64_t size) { return calloc(1, size); };
        services.free = [](host_context *, uint32_t, void *block) { freed.push_back(block); };
    }
    void TearDown() override {
        for (void *block : owned) free(block);
    }
    template <class T> T *block(T value) { return static_cast<T *>(owned.emplace_back(new (calloc(1, sizeof(T))) T(value))); }

    host_services services{};
    helper_owner owner{nullptr, 7, &services};
    std::vector<void *> owned;
};

TEST_F(Deletes, PairListStringsThenNodeFromHeadToTail) {
    helper_list list{};
    char *a = block('a'), *b = block('b'), *c = block('c');
    ASSERT_EQ(helper_add_2str_to_list(&owner, &list, a, b, nullptr) | helper_add_2str_to_list(&owner, &list, nullptr, c, nullptr), 0);
    owned.insert(owned.end(), {list.head, list.tail});
    ASSERT_EQ(helper_delete_2str_list(&owner, &list, 1, nullptr), 0);
    EXPECT_EQ(freed, (std::vector<void *>{a, b, owned[3], c, owned[4]}));
}

TEST_F(Deletes, TreeItemThenNodeChildrenBeforeParents) {
    helper_tree tree{};
    tree.hash = [](const void *item) { return *static_cast<const uint32_t *>(item); };
    tree.equal = [](const void *a, const void *b) -> int32_t { return a == b; };
    for (uint32_t h : {0x10u, 0x08u, 0x20u}) ASSERT_EQ(helper_add_to_tree(&owner, &tree, block(h), nullptr), 0);
    helper_tree_node *root = tree.roots[0], *left = root->left, *right = root->right;
    owned.insert(owned.end(), {root, left, right});
    helper_delete_tree(&owner, &tree, 1, nullptr);
    EXPECT_EQ(freed, (std::vector<void *>{owned[1], left, owned[2], right, owned[0], root}));
}

TEST_F(Deletes, MillionDeepBucketOnASmallStack) {
    std::vector<helper_tree_node> nodes(1000000);
    for (size_t i = 1; i < nodes.size(); i++) {  // a zigzag: each node on the left or the right of the previous one
        nodes[i].parent = &nodes[i - 1];
        (i % 2 ? nodes[i - 1].left : nodes[i - 1].right) = &nodes[i];
    }
    helper_tree tree{};
    tree.roots[0xB] = nodes.data();
    struct job {
        helper_owner *owner;
        helper_tree *tree;
    } work{&owner, &tree};
    pthread_attr_t attr;
    pthread_t thread;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 64 * 1024), 0);
    auto run = [](void *arg) -> void * {
        helper_delete_tree(static_cast<job *>(arg)->owner, static_cast<job *>(arg)->tree, 1, nullptr);
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, &work), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    ASSERT_EQ(freed.size(), nodes.size()) << "items are null: only nodes are released";
    for (void *p : freed) ASSERT_TRUE(p >= nodes.data() && p < nodes.data() + nodes.size());
}

}  // namespace
