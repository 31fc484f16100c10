// String lists and hashed trees exported by name: the tree against a literal
// model of its placement rules on random items, the lists against the order
// they were filled in, deletes as rows of release flag, pool and frees, and
// the shared allocation-failure walk over both.
#include <string.h>

#include <random>

#include "support/fault_walks.h"
#include "support/module_fixture.h"

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

// The tree as its rules say: sixteen binary trees by the hash's top bits;
// an add walks down (negative order left, otherwise right) to a free place
// and counts the nodes it passed; a find walks the same way and, on order
// zero, takes the node when there is no equality callback or it says equal,
// and goes right otherwise.
struct model_tree {
    struct node {
        const item *value;
        int left = -1, right = -1, parent = -1;
    };
    std::vector<node> nodes;
    int roots[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    int max_depth = 0;
    bool reverse = false, with_equal = true;

    int order(const item *a, const item *b) const {
        const int o = a->hash < b->hash ? -1 : a->hash > b->hash ? 1 : 0;
        return reverse ? -o : o;
    }
    void add(const item *v) {
        int *place = &roots[v->hash >> 28], parent = -1, depth = 0;
        while (*place >= 0) {
            parent = *place;
            depth++;
            place = order(v, nodes[parent].value) < 0 ? &nodes[parent].left : &nodes[parent].right;
        }
        *place = int(nodes.size());  // before the push: place may point into nodes
        nodes.push_back({v, -1, -1, parent});
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
};

// Does the module's subtree at n have the model's shape and items?
bool same_shape(const helper_tree_node *n, const model_tree &m, int at, const helper_tree_node *parent) {
    if (!n || at < 0) return !n && at < 0;
    const model_tree::node &e = m.nodes[at];
    return n->item == e.value && n->hash == e.value->hash && n->parent == parent && same_shape(n->left, m, e.left, n) &&
           same_shape(n->right, m, e.right, n);
}

class Containers : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        owner = kqhost_owner(host_);
        add = exported<helper_add_to_tree_fn>("helper_add_to_tree");
        find = exported<helper_find_in_tree_fn>("helper_find_in_tree");
        erase = exported<helper_delete_tree_fn>("helper_delete_tree");
        add_str = exported<helper_add_str_to_list_fn>("helper_add_str_to_list");
        find_str = exported<helper_find_str_in_list_fn>("helper_find_str_in_list");
        erase_str = exported<helper_delete_str_list_fn>("helper_delete_str_list");
        add_2str = exported<helper_add_2str_to_list_fn>("helper_add_2str_to_list");
        erase_2str = exported<helper_delete_2str_list_fn>("helper_delete_2str_list");
        ASSERT_TRUE(add && find && erase && add_str && find_str && erase_str && add_2str && erase_2str);
    }
    // A block from the host heap, as blocks released by a delete must be.
    template <class T> T *host_copy(const T &value) {
        T *p = static_cast<T *>(kqhost_services(host_)->alloc(ctx(), instance(), sizeof(T)));
        return &(*p = value);
    }
    char *host_string(const char *text) {
        char *p = static_cast<char *>(kqhost_services(host_)->alloc(ctx(), instance(), strlen(text) + 1));
        return strcpy(p, text);
    }
    const helper_owner *owner = nullptr;
    helper_add_to_tree_fn add;
    helper_find_in_tree_fn find;
    helper_delete_tree_fn erase;
    helper_add_str_to_list_fn add_str;
    helper_find_str_in_list_fn find_str;
    helper_delete_str_list_fn erase_str;
    helper_add_2str_to_list_fn add_2str;
    helper_delete_2str_list_fn erase_2str;
};

TEST_F(Containers, TreeAgreesWithModel) {
    std::mt19937 rng(5);
    for (int round = 0; round < 300; round++) {
        const bool reverse = round % 3 == 1, with_equal = round % 3 != 2;
        helper_tree tree{};
        tree.hash = item_hash;
        tree.equal = same_id;
        tree.compare = reverse ? reversed : nullptr;
        model_tree model;
        model.reverse = reverse, model.with_equal = with_equal;
        std::vector<item> items(rng() % 60);
        for (size_t i = 0; i < items.size(); i++) {
            const uint32_t hashes[] = {0, 1, 0x0FFFFFFF, 0x10000000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, uint32_t(rng())};
            items[i] = {hashes[rng() % 8] ^ (rng() % 4 == 0 ? uint32_t(rng() % 3) : 0), int32_t(i % 7)};
            ASSERT_EQ(add(owner, &tree, &items[i], nullptr), 0);
            model.add(&items[i]);
        }
        tree.equal = with_equal ? same_id : nullptr;
        EXPECT_EQ(tree.count, int32_t(items.size()));
        EXPECT_EQ(tree.max_depth, model.max_depth);
        for (int b = 0; b < 16; b++) EXPECT_TRUE(same_shape(tree.roots[b], model, model.roots[b], nullptr)) << b;
        for (const item &i : items) {
            const item twin{i.hash, i.id}, other{i.hash ^ 0x1000, i.id + 1};
            EXPECT_EQ(find(&tree, &twin), model.find(&twin));
            EXPECT_EQ(find(&tree, &other), model.find(&other));
        }
        erase(owner, &tree, 0, nullptr);
        ASSERT_EQ(live_blocks(), 0u) << round;
    }
}

// Refused adds change nothing and allocate nothing; a tree without an
// equality callback takes no items.
TEST_F(Containers, RefusedAdds) {
    helper_tree tree{};
    tree.hash = item_hash;
    item i{1, 1};
    EXPECT_EQ(add(owner, &tree, &i, nullptr), -1) << "no equality callback";
    tree.equal = same_id;
    EXPECT_EQ(add(nullptr, &tree, &i, nullptr), -1);
    EXPECT_EQ(add(owner, nullptr, &i, nullptr), -1);
    EXPECT_EQ(add(owner, &tree, nullptr, nullptr), -1);
    tree.hash = nullptr;
    EXPECT_EQ(add(owner, &tree, &i, nullptr), -1);
    EXPECT_EQ(allocations(host_), 0u);
    char s[] = "x";
    EXPECT_EQ(add_str(owner, nullptr, s, nullptr), -1);
    EXPECT_EQ(add_2str(owner, nullptr, s, s, nullptr), -1);
    EXPECT_EQ(erase_str(owner, nullptr, 1, nullptr), -1);
    EXPECT_EQ(erase_2str(owner, nullptr, 1, nullptr), -1);
    EXPECT_EQ(find_str(nullptr, "x"), nullptr);
}

// Lists keep their order and find the first string stored that is equal.
TEST_F(Containers, ListsKeepOrder) {
    char a1[] = "alpha", b[] = "beta", a2[] = "alpha";
    helper_list list{}, pairs{};
    EXPECT_EQ(find_str(&list, "alpha"), nullptr);
    for (char *s : {a1, (char *)nullptr, b, a2}) ASSERT_EQ(add_str(owner, &list, s, nullptr), 0);
    ASSERT_EQ(add_2str(owner, &pairs, nullptr, b, nullptr), 0);
    ASSERT_EQ(add_2str(owner, &pairs, a1, a2, nullptr), 0);
    EXPECT_EQ(list.count, 4u);
    std::vector<const char *> order;
    for (auto *n = static_cast<const helper_str_node *>(list.head); n; n = n->next) order.push_back(n->string);
    EXPECT_EQ(order, (std::vector<const char *>{a1, nullptr, b, a2}));
    EXPECT_EQ(static_cast<helper_str_node *>(list.tail)->string, a2);
    auto *head = static_cast<helper_2str_node *>(pairs.head);
    EXPECT_EQ(head->second, b);
    EXPECT_EQ(head->next, pairs.tail);
    EXPECT_EQ(static_cast<helper_2str_node *>(pairs.tail)->first, a1);
    EXPECT_EQ(find_str(&list, "alpha"), a1);
    EXPECT_EQ(find_str(&list, "beta"), b) << "steps over the null string";
    EXPECT_EQ(find_str(&list, "alph"), nullptr);
    EXPECT_EQ(kqhost_live_bytes(host_), 4 * sizeof(helper_str_node) + 2 * sizeof(helper_2str_node));
    EXPECT_EQ(erase_str(owner, &list, 0, nullptr), 0);
    EXPECT_EQ(erase_2str(owner, &pairs, 0, nullptr), 0);
    EXPECT_TRUE(!list.head && !list.tail && !list.count && !pairs.head && !pairs.tail && !pairs.count);
}

// Deletes: nodes go back unless they came from a pool; strings and items
// only for release flag 1 (any non-zero flag for strings), never from a pool.
struct release_row {
    int32_t flag;
    bool pool;
    uint64_t list_frees, pair_frees, tree_frees;  // of 3 strings + 3 nodes, 3 strings + 2 nodes, 6 items + 7 nodes
};

TEST_F(Containers, DeleteReleases) {
    const release_row rows[] = {{1, false, 6, 5, 13}, {2, false, 6, 5, 7}, {-1, false, 6, 5, 7},
                                {0, false, 3, 2, 7},  {1, true, 0, 0, 0}};
    for (const release_row &row : rows) {
        SCOPED_TRACE("flag " + std::to_string(row.flag) + (row.pool ? " pool" : ""));
        void *pool = row.pool ? kqhost_pool_create(host_) : nullptr;
        std::vector<void *> mine;
        auto keep = [&](auto *p) { return mine.push_back(p), p; };
        helper_list list{}, pairs{};
        helper_tree tree{};
        tree.hash = item_hash;
        tree.equal = same_id;
        for (const char *s : {"one", "two", "three"}) add_str(owner, &list, keep(host_string(s)), pool);
        add_2str(owner, &pairs, nullptr, keep(host_string("second")), pool);
        add_2str(owner, &pairs, keep(host_string("first")), keep(host_string("other")), pool);
        for (uint32_t h : {0x50000000u, 0x40000000u, 0x5FFFFFFFu, 0x50000000u, 1u, 0x5000FFFFu})
            add(owner, &tree, keep(host_copy(item{h, int32_t(h & 7)})), pool);
        item placeholder{0x70000000, 99};
        add(owner, &tree, &placeholder, pool);
        tree.roots[7]->item = nullptr;  // a null item is never released
        const helper_tree before = tree;
        kqhost_reset_counters(host_);
        erase_str(nullptr, &list, row.flag, nullptr), erase_2str(nullptr, &pairs, row.flag, nullptr);
        erase(nullptr, &tree, row.flag, nullptr), erase(owner, nullptr, row.flag, nullptr);
        EXPECT_EQ(calls(KQHOST_CALL_FREE), 0u) << "no owner: nothing is deleted";
        EXPECT_EQ(list.count + pairs.count, 5u);
        for (auto [erase_one, frees] : {std::pair<std::function<void()>, uint64_t>{[&] { erase_str(owner, &list, row.flag, pool); }, row.list_frees},
                                        {[&] { erase_2str(owner, &pairs, row.flag, pool); }, row.pair_frees},
                                        {[&] { erase(owner, &tree, row.flag, pool); }, row.tree_frees}}) {
            kqhost_reset_counters(host_);
            erase_one();
            EXPECT_EQ(calls(KQHOST_CALL_FREE), frees);
        }
        EXPECT_EQ(memcmp(&tree, &before, sizeof tree), 0) << "the tree record is left as it was";
        if (pool) kqhost_pool_destroy(host_, pool);
        const bool strings_go = row.flag != 0 && !row.pool, items_go = row.flag == 1 && !row.pool;
        EXPECT_EQ(live_blocks(), (strings_go ? 0u : 6u) + (items_go ? 0u : 6u));
        for (size_t i = 0; i < mine.size(); i++)
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
        helper_tree tree{};
        tree.hash = item_hash;
        tree.equal = same_id;
        std::string results;
        for (const item &i : items) {
            results += std::to_string(add_str(owner, &list, s, nullptr)) + std::to_string(add_2str(owner, &pairs, s, s, nullptr));
            results += std::to_string(add(owner, &tree, const_cast<item *>(&i), nullptr));
        }
        uint32_t n = 0;
        for (auto *p = static_cast<helper_str_node *>(list.head); p; p = p->next) n++;
        results += " " + std::to_string(n) + "/" + std::to_string(list.count) + " " + std::to_string(tree.count);
        for (const item &i : items) results += find(&tree, &i) == &i ? "+" : "-";
        erase_str(owner, &list, 0, nullptr);
        erase_2str(owner, &pairs, 0, nullptr);
        erase(owner, &tree, 0, nullptr);
        return results;
    });
}

}  // namespace
}  // namespace kqtest
