// String lists and hashed trees exported by name: the tree against a literal
// model of its placement rules on random items, the lists against the order
// they were filled in, deletes as rows of release flag, pool and frees, and
// the shared allocation-failure walk over both.
#include <string.h>

#include <random>

#include "support/fault_walks.h"
#include "support/module_fixture.h"

// An export of the loaded module, called through the name it is exported by.
#define EXPORT(name) exported<name##_fn>(#name)

namespace kqtest {
namespace {

struct item {
    uint32_t hash;
    int32_t id;
};
uint32_t item_hash(const void *p) { return static_cast<const item *>(p)->hash; }
int32_t same_id(const void *stored, const void *sought) {
    return static_cast<const item *>(stored)->id == static_cast<const item *>(sought)->id;
}
// An order that reverses the hash order: greater hashes go left.
int32_t reversed(uint32_t hash, const void *, uint32_t node_hash, const void *) {
    return hash > node_hash ? -1 : hash < node_hash ? 1 : 0;
}
helper_tree tree_of(bool reverse = false) {
    helper_tree t{};
    t.hash = item_hash, t.equal = same_id, t.compare = reverse ? reversed : nullptr;
    return t;
}

// The tree as its rules say: sixteen binary trees by the hash's top bits; an
// add walks down (negative order left, otherwise right) to a free place,
// counting the nodes it passed; a find walks the same way and, on order zero,
// takes the node when there is no equality callback or it says equal, and
// goes right otherwise.
struct model_tree {
    struct node {
        const item *value;
        int left, right;
    };
    std::vector<node> nodes;
    int roots[16], max_depth = 0;
    bool reverse, with_equal;

    model_tree(bool reverse, bool with_equal) : reverse(reverse), with_equal(with_equal) { std::fill_n(roots, 16, -1); }
    int order(const item *a, const item *b) const { return (reverse ? -1 : 1) * ((a->hash > b->hash) - (a->hash < b->hash)); }
    void add(const item *v) {
        int *place = &roots[v->hash >> 28], depth = 0;
        for (; *place >= 0; depth++) place = order(v, nodes[*place].value) < 0 ? &nodes[*place].left : &nodes[*place].right;
        *place = int(nodes.size());  // before the push: place may point into nodes
        nodes.push_back({v, -1, -1});
        max_depth = std::max(max_depth, depth);
    }
    const item *find(const item *v) const {
        for (int at = roots[v->hash >> 28]; at >= 0;) {
            const int o = order(v, nodes[at].value);
            if (o == 0 && (!with_equal || nodes[at].value->id == v->id)) return nodes[at].value;
            at = o < 0 ? nodes[at].left : nodes[at].right;
        }
        return nullptr;
    }
    // Does the module's subtree at n have the model's shape and items?
    bool same_shape(const helper_tree_node *n, int at, const helper_tree_node *parent) const {
        if (!n || at < 0) return !n && at < 0;
        const node &e = nodes[at];
        return n->item == e.value && n->hash == e.value->hash && n->parent == parent && same_shape(n->left, e.left, n) &&
               same_shape(n->right, e.right, n);
    }
};

class Containers : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        owner = kqhost_owner(host_);
    }
    // A block from the host heap, as blocks released by a delete must be.
    void *host_copy(const void *value, size_t size) {
        return memcpy(kqhost_services(host_)->alloc(ctx(), instance(), size), value, size);
    }
    void *host_string(const char *text) { return host_copy(text, strlen(text) + 1); }
    const helper_owner *owner = nullptr;
};

TEST_F(Containers, TreeAgreesWithModel) {
    std::mt19937 rng(5);
    for (int round = 0; round < 300; round++) {
        const bool reverse = round % 3 == 1, with_equal = round % 3 != 2;
        helper_tree tree = tree_of(reverse);
        model_tree model(reverse, with_equal);
        std::vector<item> items(rng() % 60);
        for (size_t i = 0; i < items.size(); i++) {
            const uint32_t hashes[] = {0, 1, 0x0FFFFFFF, 0x10000000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, uint32_t(rng())};
            items[i] = {hashes[rng() % 8] ^ (rng() % 4 == 0 ? uint32_t(rng() % 3) : 0), int32_t(i % 7)};
            ASSERT_EQ(EXPORT(helper_add_to_tree)(owner, &tree, &items[i], nullptr), 0);
            model.add(&items[i]);
        }
        tree.equal = with_equal ? same_id : nullptr;
        EXPECT_EQ(tree.count, int32_t(items.size()));
        EXPECT_EQ(tree.max_depth, model.max_depth);
        for (int b = 0; b < 16; b++) EXPECT_TRUE(model.same_shape(tree.roots[b], model.roots[b], nullptr)) << b;
        for (const item &i : items) {
            const item twin{i.hash, i.id}, other{i.hash ^ 0x1000, i.id + 1};
            EXPECT_EQ(EXPORT(helper_find_in_tree)(&tree, &twin), model.find(&twin));
            EXPECT_EQ(EXPORT(helper_find_in_tree)(&tree, &other), model.find(&other));
        }
        EXPORT(helper_delete_tree)(owner, &tree, 0, nullptr);
        ASSERT_EQ(live_blocks(), 0u) << round;
    }
}

// Each refused add alone: it answers -1 and allocates nothing.
TEST_F(Containers, RefusedCalls) {
    item i{1, 1};
    char s[] = "x";
    helper_tree good = tree_of(), no_equal = good, no_hash = good;
    no_equal.equal = nullptr, no_hash.hash = nullptr;
    for (auto [o, t, v] : {std::tuple{owner, &no_equal, &i}, {nullptr, &good, &i}, {owner, nullptr, &i}, {owner, &good, nullptr}, {owner, &no_hash, &i}})
        EXPECT_EQ(EXPORT(helper_add_to_tree)(o, t, v, nullptr), -1);
    EXPECT_EQ(EXPORT(helper_add_str_to_list)(owner, nullptr, s, nullptr), -1);
    EXPECT_EQ(EXPORT(helper_add_2str_to_list)(owner, nullptr, s, s, nullptr), -1);
    EXPECT_EQ(EXPORT(helper_delete_str_list)(owner, nullptr, 1, nullptr), -1);
    EXPECT_EQ(EXPORT(helper_delete_2str_list)(owner, nullptr, 1, nullptr), -1);
    EXPECT_EQ(EXPORT(helper_find_str_in_list)(nullptr, "x"), nullptr);
    EXPECT_EQ(allocations(host_), 0u);
}

// Lists keep their order and find the first string stored that is equal.
TEST_F(Containers, ListsKeepOrder) {
    char a1[] = "alpha", b[] = "beta", a2[] = "alpha";
    helper_list list{}, pairs{};
    EXPECT_EQ(EXPORT(helper_find_str_in_list)(&list, "alpha"), nullptr);
    for (char *s : {a1, (char *)nullptr, b, a2}) ASSERT_EQ(EXPORT(helper_add_str_to_list)(owner, &list, s, nullptr), 0);
    ASSERT_EQ(EXPORT(helper_add_2str_to_list)(owner, &pairs, nullptr, b, nullptr), 0);
    ASSERT_EQ(EXPORT(helper_add_2str_to_list)(owner, &pairs, a1, a2, nullptr), 0);
    std::vector<const char *> order;
    for (auto *n = static_cast<const helper_str_node *>(list.head); n; n = n->next) order.push_back(n->string);
    EXPECT_EQ(order, (std::vector<const char *>{a1, nullptr, b, a2}));
    EXPECT_TRUE(list.count == 4 && static_cast<helper_str_node *>(list.tail)->string == a2);
    auto *head = static_cast<helper_2str_node *>(pairs.head);
    EXPECT_TRUE(head->second == b && head->next == pairs.tail && static_cast<helper_2str_node *>(pairs.tail)->first == a1);
    EXPECT_EQ(EXPORT(helper_find_str_in_list)(&list, "alpha"), a1);
    EXPECT_EQ(EXPORT(helper_find_str_in_list)(&list, "beta"), b) << "steps over the null string";
    EXPECT_EQ(EXPORT(helper_find_str_in_list)(&list, "alph"), nullptr);
    EXPECT_EQ(kqhost_live_bytes(host_), 4 * sizeof(helper_str_node) + 2 * sizeof(helper_2str_node));
    EXPECT_EQ(EXPORT(helper_delete_str_list)(owner, &list, 0, nullptr) | EXPORT(helper_delete_2str_list)(owner, &pairs, 0, nullptr), 0);
    EXPECT_TRUE(!list.head && !list.tail && !list.count && !pairs.head && !pairs.tail && !pairs.count);
}

// Deletes: nodes go back unless they came from a pool; strings and items
// only for release flag 1 (any non-zero flag for strings), never from a pool;
// without an owner nothing is deleted.
TEST_F(Containers, DeleteReleases) {
    const struct {
        int32_t flag;
        bool pool;
        uint64_t list_frees, pair_frees, tree_frees;  // of 3 strings + 3 nodes, 3 strings + 2 nodes, 6 items + 7 nodes
    } rows[] = {{1, false, 6, 5, 13}, {2, false, 6, 5, 7}, {-1, false, 6, 5, 7}, {0, false, 3, 2, 7}, {1, true, 0, 0, 0}};
    for (const auto &row : rows) {
        SCOPED_TRACE("flag " + std::to_string(row.flag) + (row.pool ? " pool" : ""));
        void *pool = row.pool ? kqhost_pool_create(host_) : nullptr;
        std::vector<void *> mine;
        auto keep = [&](void *p) { return mine.push_back(p), static_cast<char *>(p); };
        helper_list list{}, pairs{};
        helper_tree tree = tree_of();
        for (const char *s : {"one", "two", "three"}) EXPORT(helper_add_str_to_list)(owner, &list, keep(host_string(s)), pool);
        EXPORT(helper_add_2str_to_list)(owner, &pairs, nullptr, keep(host_string("second")), pool);
        EXPORT(helper_add_2str_to_list)(owner, &pairs, keep(host_string("first")), keep(host_string("other")), pool);
        for (uint32_t h : {0x50000000u, 0x40000000u, 0x5FFFFFFFu, 0x50000000u, 1u, 0x5000FFFFu}) {
            const item i{h, int32_t(h & 7)};
            EXPORT(helper_add_to_tree)(owner, &tree, keep(host_copy(&i, sizeof i)), pool);
        }
        item placeholder{0x70000000, 99};
        EXPORT(helper_add_to_tree)(owner, &tree, &placeholder, pool);
        tree.roots[7]->item = nullptr;  // a null item is never released
        const helper_tree before = tree;
        kqhost_reset_counters(host_);
        EXPORT(helper_delete_str_list)(nullptr, &list, row.flag, nullptr), EXPORT(helper_delete_2str_list)(nullptr, &pairs, row.flag, nullptr);
        EXPORT(helper_delete_tree)(nullptr, &tree, row.flag, nullptr), EXPORT(helper_delete_tree)(owner, nullptr, row.flag, nullptr);
        EXPECT_EQ(calls(KQHOST_CALL_FREE), 0u);
        EXPECT_EQ(list.count + pairs.count, 5u);
        for (auto [erase, frees] : {std::pair<std::function<void()>, uint64_t>{[&] { EXPORT(helper_delete_str_list)(owner, &list, row.flag, pool); }, row.list_frees},
                                    {[&] { EXPORT(helper_delete_2str_list)(owner, &pairs, row.flag, pool); }, row.pair_frees},
                                    {[&] { EXPORT(helper_delete_tree)(owner, &tree, row.flag, pool); }, row.tree_frees}}) {
            kqhost_reset_counters(host_);
            erase();
            EXPECT_EQ(calls(KQHOST_CALL_FREE), frees);
        }
        EXPECT_EQ(memcmp(&tree, &before, sizeof tree), 0) << "the tree record is left as it was";
        if (pool) kqhost_pool_destroy(host_, pool);
        const bool strings_go = row.flag != 0 && !row.pool, items_go = row.flag == 1 && !row.pool;
        EXPECT_EQ(live_blocks(), (strings_go ? 0u : 6u) + (items_go ? 0u : 6u));
        for (size_t i = 0; i < mine.size(); i++)  // what the deletes left: 6 strings, then 6 items
            if (i < 6 ? !strings_go : !items_go) kqhost_services(host_)->free(ctx(), instance(), mine[i]);
    }
}

// Every allocation of a list, a pair list and a tree being filled, failed
// in turn: the add says -1 and leaves the container as it was.
TEST_F(Containers, AllocationFailures) {
    item items[] = {{0x10, 1}, {0x20, 2}, {0x10, 3}, {0xF0000000, 4}};
    char s[] = "s";
    expect_survives_alloc_failures(host_, [&] {
        helper_list list{}, pairs{};
        helper_tree tree = tree_of();
        std::string results;
        for (item &i : items)
            results += std::to_string(EXPORT(helper_add_str_to_list)(owner, &list, s, nullptr)) +
                       std::to_string(EXPORT(helper_add_2str_to_list)(owner, &pairs, s, s, nullptr)) +
                       std::to_string(EXPORT(helper_add_to_tree)(owner, &tree, &i, nullptr));
        uint32_t n = 0;
        for (auto *p = static_cast<helper_str_node *>(list.head); p; p = p->next) n++;
        results += " " + std::to_string(n) + "/" + std::to_string(list.count) + " " + std::to_string(tree.count);
        for (const item &i : items) results += EXPORT(helper_find_in_tree)(&tree, &i) == &i ? "+" : "-";
        EXPORT(helper_delete_str_list)(owner, &list, 0, nullptr);
        EXPORT(helper_delete_2str_list)(owner, &pairs, 0, nullptr);
        EXPORT(helper_delete_tree)(owner, &tree, 0, nullptr);
        return results;
    });
}

}  // namespace
}  // namespace kqtest
