// String lists and hashed trees exported by name: the tree against a literal
// model of its placement rules on random items, the lists against the order
// they were filled in, and the shared allocation-failure walk over both.
#include <algorithm>
#include <random>

#include "support/fault_walks.h"
#include "support/module_fixture.h"

// An export of the loaded module, called through the name it is exported by.
#define EXPORT(name) exported<name##_fn>(#name)

namespace kqtest {
namespace {

struct item { uint32_t hash; int32_t id; };
uint32_t item_hash(const void *p) { return static_cast<const item *>(p)->hash; }
int32_t same_id(const void *stored, const void *sought) { return static_cast<const item *>(stored)->id == static_cast<const item *>(sought)->id; }
// An order that reverses the hash order: greater hashes go left.
int32_t reversed(uint32_t hash, const void *, uint32_t node, const void *) { return hash > node ? -1 : hash < node ? 1 : 0; }
helper_tree tree_of(bool reverse = false) { return {item_hash, same_id, reverse ? reversed : nullptr, {}, 0, 0, 0}; }

// The tree as its rules say: sixteen binary trees by the hash's top bits; an
// add walks down (negative order left, otherwise right) to a free place,
// counting the nodes it passed; a find walks the same way and, on order zero,
// takes the node when there is no equality callback or it says equal, and
// goes right otherwise.
struct model_tree {
    struct node { const item *value; int left, right; };
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
    void SetUp() override { ModuleTest::SetUp(), owner = kqhost_owner(host_); }
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

// Each refused call alone: -1 (null for a find), and nothing allocated.
TEST_F(Containers, RefusedCalls) {
    item i{1, 1};
    char s[] = "x";
    helper_tree good = tree_of(), no_equal = good, no_hash = good;
    no_equal.equal = nullptr, no_hash.hash = nullptr;
    for (auto [o, t, v] : {std::tuple{owner, &no_equal, &i}, {nullptr, &good, &i}, {owner, nullptr, &i}, {owner, &good, nullptr}, {owner, &no_hash, &i}})
        EXPECT_EQ(EXPORT(helper_add_to_tree)(o, t, v, nullptr), -1);
    EXPECT_EQ(EXPORT(helper_add_str_to_list)(owner, nullptr, s, nullptr) + EXPORT(helper_add_2str_to_list)(owner, nullptr, s, s, nullptr) +
                  EXPORT(helper_delete_str_list)(owner, nullptr, 1, nullptr) + EXPORT(helper_delete_2str_list)(owner, nullptr, 1, nullptr), -4);
    EXPECT_TRUE(EXPORT(helper_find_str_in_list)(nullptr, "x") == nullptr && allocations(host_) == 0);
}

// Lists keep their order and find the first string stored that is equal,
// stepping over null strings; nodes are as large as their records. Then every
// allocation of the fill failed in turn: the add says -1 and leaves the
// container as it was.
TEST_F(Containers, FillsAndAllocationFailures) {
    item items[] = {{0x10, 1}, {0x20, 2}, {0x10, 3}, {0xF0000000, 4}};
    char a1[] = "alpha", b[] = "beta", a2[] = "alpha", *strings[] = {a1, nullptr, b, a2};
    auto walk = [&] {
        helper_list list{}, pairs{};
        helper_tree tree = tree_of();
        std::string d;
        for (int k = 0; k < 4; k++)
            d += std::to_string(EXPORT(helper_add_str_to_list)(owner, &list, strings[k], nullptr)) +
                 std::to_string(EXPORT(helper_add_2str_to_list)(owner, &pairs, strings[k], b, nullptr)) +
                 std::to_string(EXPORT(helper_add_to_tree)(owner, &tree, &items[k], nullptr));
        d += " " + std::to_string(list.count) + std::to_string(pairs.count) + std::to_string(tree.count) + " ";
        for (auto *p = static_cast<helper_str_node *>(list.head); p; p = p->next) d += char('0' + (std::find(strings, strings + 4, p->string) - strings));
        for (const char *s : {"alpha", "beta", "alph"}) d += EXPORT(helper_find_str_in_list)(&list, s) == (*s == 'a' ? a1 : b) ? "+" : "-";
        for (const item &i : items) d += EXPORT(helper_find_in_tree)(&tree, &i) == &i ? "+" : "-";
        d += " " + std::to_string(kqhost_live_bytes(host_));
        EXPORT(helper_delete_str_list)(owner, &list, 0, nullptr), EXPORT(helper_delete_2str_list)(owner, &pairs, 0, nullptr);
        EXPORT(helper_delete_tree)(owner, &tree, 0, nullptr);
        return d;
    };
    EXPECT_EQ(walk(), "000000000000 444 0123++-++++ " + std::to_string(4 * (sizeof(helper_str_node) + sizeof(helper_2str_node) + sizeof(helper_tree_node))));
    expect_survives_alloc_failures(host_, walk);
}

}  // namespace
}  // namespace kqtest
