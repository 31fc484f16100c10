// String lists and string-pair lists exported by name: order, find, host
// calls for heap and pool nodes, release flags and allocation failures.
#include <string.h>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

class StringListTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        add = exported<helper_add_str_to_list_fn>("helper_add_str_to_list");
        find = exported<helper_find_str_in_list_fn>("helper_find_str_in_list");
        erase = exported<helper_delete_str_list_fn>("helper_delete_str_list");
        add2 = exported<helper_add_2str_to_list_fn>("helper_add_2str_to_list");
        erase2 = exported<helper_delete_2str_list_fn>("helper_delete_2str_list");
        ASSERT_TRUE(add && find && erase && add2 && erase2);
        owner = kqhost_owner(host_);
    }

    // A string from the host heap, as strings released by a delete must be.
    char *host_string(const char *text) {
        const host_services *s = kqhost_services(host_);
        auto *copy = static_cast<char *>(s->alloc(ctx(), instance(), strlen(text) + 1));
        strcpy(copy, text);
        return copy;
    }

    std::vector<const char *> strings_of(const helper_list &list) {
        std::vector<const char *> out;
        for (auto *n = static_cast<const helper_str_node *>(list.head); n; n = n->next) out.push_back(n->string);
        return out;
    }

    helper_add_str_to_list_fn add = nullptr;
    helper_find_str_in_list_fn find = nullptr;
    helper_delete_str_list_fn erase = nullptr;
    helper_add_2str_to_list_fn add2 = nullptr;
    helper_delete_2str_list_fn erase2 = nullptr;
    const helper_owner *owner = nullptr;
};

TEST_F(StringListTest, AppendsInOrderAndFindsTheFirstStored) {
    char a1[] = "alpha", b[] = "beta", a2[] = "alpha";
    helper_list list{};
    EXPECT_EQ(find(&list, "alpha"), nullptr);  // empty: nothing to compare with
    ASSERT_EQ(add(owner, &list, a1, nullptr), 0);
    ASSERT_EQ(add(owner, &list, b, nullptr), 0);
    ASSERT_EQ(add(owner, &list, a2, nullptr), 0);
    EXPECT_EQ(list.count, 3u);
    EXPECT_EQ(strings_of(list), (std::vector<const char *>{a1, b, a2}));
    EXPECT_EQ(static_cast<helper_str_node *>(list.tail)->string, a2);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC), 3u);
    EXPECT_EQ(kqhost_live_bytes(host_), 3 * sizeof(helper_str_node));

    EXPECT_EQ(find(&list, "alpha"), a1);
    EXPECT_EQ(find(&list, "beta"), b);
    EXPECT_EQ(find(&list, "gamma"), nullptr);
    EXPECT_EQ(find(&list, "alph"), nullptr);
    EXPECT_EQ(find(nullptr, "alpha"), nullptr);

    EXPECT_EQ(erase(owner, &list, 0, nullptr), 0);  // nodes only: the strings are on the stack
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(calls(KQHOST_CALL_FREE), 3u);
}

TEST_F(StringListTest, NullListIsRefused) {
    char s[] = "x";
    EXPECT_EQ(add(owner, nullptr, s, nullptr), -1);
    EXPECT_EQ(add2(owner, nullptr, s, s, nullptr), -1);
    EXPECT_EQ(erase(owner, nullptr, 1, nullptr), -1);
    EXPECT_EQ(erase2(owner, nullptr, 1, nullptr), -1);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC) + calls(KQHOST_CALL_FREE), 0u);
}

TEST_F(StringListTest, FailedAllocationLeavesTheListUnchanged) {
    char a[] = "a", b[] = "b";
    helper_list list{};
    ASSERT_EQ(add(owner, &list, a, nullptr), 0);
    const helper_list before = list;
    kqhost_fail_alloc_at(host_, 1);
    EXPECT_EQ(add(owner, &list, b, nullptr), -1);
    EXPECT_EQ(memcmp(&list, &before, sizeof list), 0);
    EXPECT_EQ(static_cast<helper_str_node *>(list.head)->next, nullptr);

    void *pool = kqhost_pool_create(host_);
    helper_list pairs{};
    kqhost_fail_alloc_at(host_, 1);
    EXPECT_EQ(add2(owner, &pairs, a, b, pool), -1);
    EXPECT_EQ(pairs.head, nullptr);
    EXPECT_EQ(pairs.tail, nullptr);
    EXPECT_EQ(pairs.count, 0u);
    kqhost_pool_destroy(host_, pool);
    EXPECT_EQ(erase(owner, &list, 0, nullptr), 0);
}

TEST_F(StringListTest, ReleaseFlagReleasesNonNullStrings) {
    for (int32_t flag : {1, 2, -1}) {
        helper_list list{};
        ASSERT_EQ(add(owner, &list, host_string("one"), nullptr), 0);
        ASSERT_EQ(add(owner, &list, nullptr, nullptr), 0);  // a null string is stored as it is
        ASSERT_EQ(add(owner, &list, host_string("two"), nullptr), 0);
        EXPECT_STREQ(find(&list, "two"), "two");  // steps over the null string
        kqhost_reset_counters(host_);
        EXPECT_EQ(erase(owner, &list, flag, nullptr), 0);
        EXPECT_EQ(calls(KQHOST_CALL_FREE), 5u) << "flag " << flag;  // two strings, three nodes
        EXPECT_EQ(live_blocks(), 0u);
    }
}

TEST_F(StringListTest, PairListsReleaseFirstThenSecond) {
    helper_list list{};
    char *second = host_string("second only");
    char *first = host_string("first");
    char *other = host_string("second");
    ASSERT_EQ(add2(owner, &list, nullptr, second, nullptr), 0);
    ASSERT_EQ(add2(owner, &list, first, other, nullptr), 0);
    EXPECT_EQ(list.count, 2u);
    auto *head = static_cast<helper_2str_node *>(list.head);
    EXPECT_EQ(head->first, nullptr);
    EXPECT_EQ(head->second, second);
    EXPECT_EQ(head->next, list.tail);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC), 3u + 2u);
    EXPECT_EQ(kqhost_live_bytes(host_), strlen("second only") + 1 + strlen("first") + 1 + strlen("second") + 1 +
                                            2 * sizeof(helper_2str_node));
    kqhost_reset_counters(host_);
    EXPECT_EQ(erase2(owner, &list, 1, nullptr), 0);
    EXPECT_EQ(calls(KQHOST_CALL_FREE), 3u + 2u);  // three non-null strings, two nodes
    EXPECT_EQ(list.count, 0u);
}

TEST_F(StringListTest, PoolNodesAreNeverReleased) {
    void *pool = kqhost_pool_create(host_);
    char *kept = host_string("kept");
    helper_list list{}, pairs{};
    ASSERT_EQ(add(owner, &list, kept, pool), 0);
    ASSERT_EQ(add(owner, &list, kept, pool), 0);
    ASSERT_EQ(add2(owner, &pairs, kept, kept, pool), 0);
    EXPECT_EQ(calls(KQHOST_CALL_POOL_ALLOC), 3u);
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC), 1u);  // only the string above
    EXPECT_EQ(find(&list, "kept"), kept);

    EXPECT_EQ(erase(owner, &list, 1, pool), 0);
    EXPECT_EQ(erase2(owner, &pairs, 1, pool), 0);
    EXPECT_EQ(calls(KQHOST_CALL_FREE), 0u);  // not even the strings
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(pairs.tail, nullptr);
    kqhost_pool_destroy(host_, pool);
    kqhost_services(host_)->free(ctx(), instance(), kept);
}

TEST_F(StringListTest, DeletingAnEmptyListOnlyResetsIt) {
    helper_list list{};
    list.count = 7;  // a stale count is cleared too
    EXPECT_EQ(erase(owner, &list, 1, nullptr), 0);
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(calls(KQHOST_CALL_FREE), 0u);
}

TEST_F(StringListTest, AScanFileServesAsOwner) {
    scan_file *file = create({'x'});
    ASSERT_NE(file, nullptr);
    char s[] = "s";
    helper_list list{};
    const auto *as_owner = reinterpret_cast<const helper_owner *>(file);
    ASSERT_EQ(add(as_owner, &list, s, nullptr), 0);
    EXPECT_EQ(erase(as_owner, &list, 0, nullptr), 0);
}

}  // namespace
}  // namespace kqtest
