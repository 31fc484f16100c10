// Hashed trees exported by name: buckets, placement, depth, find with and
// without callbacks, refused adds, and deletes with release flags and pools.
#include <string.h>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

struct item {
    uint32_t hash;
    int32_t id;
};

int equal_calls = 0;
uint32_t item_hash(const void *p) { return static_cast<const item *>(p)->hash; }
int32_t same_id(const void *stored, const void *sought) {
    equal_calls++;
    return static_cast<const item *>(stored)->id == static_cast<const item *>(sought)->id;
}
// An order that reverses the hash order: greater hashes go left.
int32_t reversed(uint32_t hash, const void *, uint32_t node_hash, const void *) {
    return hash > node_hash ? -1 : (hash < node_hash ? 1 : 0);
}

class TreeTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        add = exported<helper_add_to_tree_fn>("helper_add_to_tree");
        find = exported<helper_find_in_tree_fn>("helper_find_in_tree");
        erase = exported<helper_delete_tree_fn>("helper_delete_tree");
        ASSERT_TRUE(add && find && erase);
        owner = kqhost_owner(host_);
        memset(&tree, 0, sizeof tree);
        tree.hash = item_hash;
        tree.equal = same_id;
        equal_calls = 0;
    }

    item *host_item(uint32_t hash, int32_t id) {
        auto *p = static_cast<item *>(kqhost_services(host_)->alloc(ctx(), instance(), sizeof(item)));
        *p = {hash, id};
        return p;
    }

    helper_add_to_tree_fn add = nullptr;
    helper_find_in_tree_fn find = nullptr;
    helper_delete_tree_fn erase = nullptr;
    const helper_owner *owner = nullptr;
    helper_tree tree;
};

TEST_F(TreeTest, BucketsByTopBitsAndEqualHashesGoRight) {
    item a{0x10000000, 1}, b{0x10000000, 2}, c{0x0FFFFFFF, 3};
    ASSERT_EQ(add(owner, &tree, &a, nullptr), 0);
    EXPECT_EQ(tree.max_depth, 0);  // a root counts no depth
    ASSERT_EQ(add(owner, &tree, &b, nullptr), 0);
    EXPECT_EQ(tree.max_depth, 1);
    ASSERT_EQ(add(owner, &tree, &c, nullptr), 0);
    EXPECT_EQ(tree.count, 3);
    EXPECT_EQ(tree.max_depth, 1);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC_ZEROED), 3u);
    EXPECT_EQ(kqhost_live_bytes(host_), 3 * sizeof(helper_tree_node));

    const helper_tree_node *root1 = tree.roots[1], *root0 = tree.roots[0];
    ASSERT_TRUE(root1 && root0);
    EXPECT_EQ(root1->item, &a);
    EXPECT_EQ(root1->hash, 0x10000000u);
    EXPECT_EQ(root1->parent, nullptr);
    EXPECT_EQ(root1->left, nullptr);
    ASSERT_NE(root1->right, nullptr);
    EXPECT_EQ(root1->right->item, &b);
    EXPECT_EQ(root1->right->parent, root1);
    EXPECT_EQ(root0->item, &c);
    for (int i = 2; i < 16; i++) EXPECT_EQ(tree.roots[i], nullptr);
    erase(owner, &tree, 0, nullptr);
}

TEST_F(TreeTest, SmallerHashesGoLeftAndDepthIsTheLongestDescent) {
    item items[] = {{50, 1}, {30, 2}, {80, 3}, {10, 4}, {40, 5}, {20, 6}};
    for (item &i : items) ASSERT_EQ(add(owner, &tree, &i, nullptr), 0);
    const helper_tree_node *root = tree.roots[0];
    EXPECT_EQ(root->left->item, &items[1]);
    EXPECT_EQ(root->right->item, &items[2]);
    EXPECT_EQ(root->left->left->item, &items[3]);
    EXPECT_EQ(root->left->right->item, &items[4]);
    EXPECT_EQ(root->left->left->right->item, &items[5]);
    EXPECT_EQ(root->left->left->right->parent, root->left->left);
    EXPECT_EQ(tree.max_depth, 3);
    for (item &i : items) EXPECT_EQ(find(&tree, &i), &i);
    item missing{35, 9};
    EXPECT_EQ(find(&tree, &missing), nullptr);
    item other_bucket{0xF0000032, 1};
    EXPECT_EQ(find(&tree, &other_bucket), nullptr);
    erase(owner, &tree, 0, nullptr);
}

TEST_F(TreeTest, FindWalksPastAnEqualHashOfAnotherItem) {
    item first{0x20000007, 1}, second{0x20000007, 2}, third{0x20000007, 3};
    ASSERT_EQ(add(owner, &tree, &first, nullptr), 0);
    ASSERT_EQ(add(owner, &tree, &second, nullptr), 0);
    equal_calls = 0;
    EXPECT_EQ(find(&tree, &second), &second);
    EXPECT_EQ(equal_calls, 2);  // the first refused, the second accepted
    item sought{0x20000007, 1};  // equal by the callback, not by address
    EXPECT_EQ(find(&tree, &sought), &first);
    EXPECT_EQ(find(&tree, &third), nullptr);

    // Without an equality callback the first equal hash is the answer.
    tree.equal = nullptr;
    EXPECT_EQ(find(&tree, &second), &first);
    EXPECT_EQ(add(owner, &tree, &third, nullptr), -1);  // and nothing can be added
    EXPECT_EQ(tree.count, 2);
    erase(owner, &tree, 0, nullptr);
}

TEST_F(TreeTest, CompareCallbackOrdersTheTree) {
    tree.compare = reversed;
    item low{0x30000001, 1}, high{0x30000009, 2}, same{0x30000001, 3};
    ASSERT_EQ(add(owner, &tree, &low, nullptr), 0);
    ASSERT_EQ(add(owner, &tree, &high, nullptr), 0);
    ASSERT_EQ(add(owner, &tree, &same, nullptr), 0);
    const helper_tree_node *root = tree.roots[3];
    EXPECT_EQ(root->left->item, &high);   // greater goes left under this order
    EXPECT_EQ(root->right->item, &same);  // a zero result goes right
    EXPECT_EQ(find(&tree, &high), &high);
    EXPECT_EQ(find(&tree, &same), &same);
    erase(owner, &tree, 0, nullptr);
}

TEST_F(TreeTest, RefusedAddsTouchNothing) {
    item i{1, 1};
    EXPECT_EQ(add(nullptr, &tree, &i, nullptr), -1);
    EXPECT_EQ(add(owner, nullptr, &i, nullptr), -1);
    EXPECT_EQ(add(owner, &tree, nullptr, nullptr), -1);
    tree.hash = nullptr;
    EXPECT_EQ(add(owner, &tree, &i, nullptr), -1);
    tree.hash = item_hash;
    tree.equal = nullptr;
    EXPECT_EQ(add(owner, &tree, &i, nullptr), -1);
    tree.equal = same_id;
    kqhost_fail_alloc_at(host_, 1);
    EXPECT_EQ(add(owner, &tree, &i, nullptr), -1);
    EXPECT_EQ(tree.count, 0);
    EXPECT_EQ(tree.roots[0], nullptr);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC_ZEROED), 1u);  // only the failed one
}

struct release_case {
    int32_t flag;
    uint64_t item_frees;
};

void PrintTo(const release_case &c, std::ostream *os) { *os << "flag " << c.flag; }

class TreeReleaseTest : public TreeTest, public ::testing::WithParamInterface<release_case> {};

TEST_P(TreeReleaseTest, DeleteReleasesNodesAndItemsOnlyForFlagOne) {
    const uint32_t hashes[] = {0x50000000, 0x40000000, 0x5FFFFFFF, 0x50000000, 0x00000001, 0x5000FFFF};
    std::vector<item *> items;
    for (uint32_t h : hashes) {
        items.push_back(host_item(h, static_cast<int32_t>(items.size())));
        ASSERT_EQ(add(owner, &tree, items.back(), nullptr), 0);
    }
    item placeholder{0x70000000, 99};
    ASSERT_EQ(add(owner, &tree, &placeholder, nullptr), 0);
    tree.roots[7]->item = nullptr;  // a null item is never released
    const helper_tree before = tree;
    kqhost_reset_counters(host_);
    erase(owner, &tree, GetParam().flag, nullptr);
    EXPECT_EQ(calls(KQHOST_CALL_FREE), 7u + GetParam().item_frees);
    EXPECT_EQ(memcmp(&tree, &before, sizeof tree), 0) << "the record itself is left as it was";
    if (GetParam().item_frees == 0)
        for (item *i : items) kqhost_services(host_)->free(ctx(), instance(), i);
}

INSTANTIATE_TEST_SUITE_P(Flags, TreeReleaseTest,
                         ::testing::Values(release_case{1, 6}, release_case{2, 0}, release_case{0, 0},
                                           release_case{-1, 0}));

TEST_F(TreeTest, PoolTreesAreNeverReleased) {
    void *pool = kqhost_pool_create(host_);
    item a{0x10, 1}, b{0x20, 2};
    ASSERT_EQ(add(owner, &tree, &a, pool), 0);
    ASSERT_EQ(add(owner, &tree, &b, pool), 0);
    EXPECT_EQ(calls(KQHOST_CALL_POOL_ALLOC_ZEROED), 2u);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC_ZEROED), 0u);
    EXPECT_EQ(tree.roots[0]->right->parent, tree.roots[0]);
    erase(owner, &tree, 1, pool);
    EXPECT_EQ(calls(KQHOST_CALL_FREE), 0u);
    EXPECT_EQ(find(&tree, &b), &b);  // the nodes still stand in the pool
    erase(nullptr, &tree, 1, nullptr);
    erase(owner, nullptr, 1, nullptr);
    EXPECT_EQ(calls(KQHOST_CALL_FREE), 0u);
    kqhost_pool_destroy(host_, pool);
}

TEST_F(TreeTest, DegenerateBucketBuildsAndDeletes) {
    // Rising hashes in one bucket make a chain to the right; alternating
    // extremes make a zigzag. Both delete completely.
    constexpr int n = 1500;
    std::vector<item> chain(n), zigzag(n);
    for (int i = 0; i < n; i++) {
        chain[i] = {0x60000000u + static_cast<uint32_t>(i), i};
        ASSERT_EQ(add(owner, &tree, &chain[i], nullptr), 0);
        const uint32_t step = static_cast<uint32_t>(i / 2);
        zigzag[i] = {i % 2 ? 0x90000000u + step : 0x9FFFFFFFu - step, i};
        ASSERT_EQ(add(owner, &tree, &zigzag[i], nullptr), 0);
    }
    EXPECT_EQ(tree.max_depth, n - 1);
    EXPECT_EQ(find(&tree, &chain[n - 1]), &chain[n - 1]);
    EXPECT_EQ(find(&tree, &zigzag[n - 1]), &zigzag[n - 1]);
    erase(owner, &tree, 0, nullptr);
    EXPECT_EQ(calls(KQHOST_CALL_FREE), 2u * n);
}

}  // namespace
}  // namespace kqtest
