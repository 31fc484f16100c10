// Deleting a tree whose one bucket is a million nodes deep must use neither
// recursion nor a stack of its own: it runs here on a thread with a small
// stack. The nodes are laid out by hand (building such a tree through adds
// takes quadratic time) and served by a counting stand-in for the host.
#include <gtest/gtest.h>
#include <pthread.h>

#include <vector>

#include "kqhelp/kqhelp.h"

namespace {

struct arena_host {
    std::vector<helper_tree_node> nodes;
    uint64_t frees = 0, foreign = 0;
};

arena_host *current = nullptr;

void count_free(host_context *, uint32_t, void *block) {
    auto *node = static_cast<helper_tree_node *>(block);
    if (node >= current->nodes.data() && node < current->nodes.data() + current->nodes.size())
        current->frees++;
    else
        current->foreign++;
}

struct delete_job {
    helper_owner owner;
    helper_tree *tree;
};

void *run_delete(void *arg) {
    auto *job = static_cast<delete_job *>(arg);
    helper_delete_tree(&job->owner, job->tree, 1, nullptr);
    return nullptr;
}

TEST(TreeDelete, MillionDeepBucketOnASmallStack) {
    constexpr size_t n = 1000000;
    arena_host arena;
    arena.nodes.assign(n, helper_tree_node{});
    current = &arena;
    // A zigzag: each node hangs on the left or the right of the previous one.
    for (size_t i = 0; i < n; i++) {
        helper_tree_node &node = arena.nodes[i];
        node.hash = 0xB0000000u;
        if (i > 0) {
            node.parent = &arena.nodes[i - 1];
            (i % 2 ? node.parent->left : node.parent->right) = &node;
        }
    }
    helper_tree tree{};
    tree.roots[0xB] = &arena.nodes[0];

    host_services services{};
    services.free = count_free;
    delete_job job{{nullptr, 0, &services}, &tree};

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 64 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, run_delete, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);

    EXPECT_EQ(arena.frees, n);  // items are null: only nodes are released
    EXPECT_EQ(arena.foreign, 0u);
    current = nullptr;
}

}  // namespace
