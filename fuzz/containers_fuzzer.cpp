// String lists, pair lists and trees against plain models: adds (some with a
// failing host allocation), finds and deletes from the input, on the host
// heap or in a pool. After every operation the host's live bytes must be
// exactly the model's nodes plus the strings and items still held; at the
// end nothing is live.
#include <algorithm>
#include <vector>

#include "linked_host.h"

namespace {

kqhost *host() { return fuzz_host(); }
const helper_owner *owner() { return kqhost_owner(host()); }

// Strings and items are host blocks, so that a delete may release them.
void *host_block(size_t n) {
    return kqhost_services(host())->alloc(kqhost_context(host()), kqhost_instance(host()), n);
}
void host_release(void *p) { kqhost_services(host())->free(kqhost_context(host()), kqhost_instance(host()), p); }

char *host_string(fuzz_input &in) {
    char *s = static_cast<char *>(host_block(4));
    s[0] = char('a' + in.u8() % 4), s[1] = char('a' + in.u8() % 2), s[2] = 0, s[3] = 0;  // few texts: many equal
    return s;
}

struct item {
    uint32_t key;
};
uint32_t item_hash(const void *p) { return static_cast<const item *>(p)->key * 0x9E3779B1u; }
int32_t item_equal(const void *a, const void *b) {
    return static_cast<const item *>(a)->key == static_cast<const item *>(b)->key;
}

struct model {
    void *pool = nullptr;
    helper_list list{}, pairs{};
    helper_tree tree{};
    std::vector<char *> strings;                   // the string list, in order
    std::vector<std::pair<char *, char *>> pair_list;
    std::vector<item *> items;                     // the tree, in the order added
    uint64_t node_bytes = 0;                       // heap nodes held by the containers
    uint64_t most_held = 0;

    uint64_t held_bytes() const {  // the model's idea of every live host byte
        return node_bytes + 4 * (strings.size() + 2 * pair_list.size()) + sizeof(item) * items.size();
    }
    uint64_t node(size_t heap_size) const { return pool ? 0 : heap_size; }
    void reset_tree() {
        tree = helper_tree{};
        tree.hash = item_hash;
        tree.equal = item_equal;
    }
};

// Runs an add with the next host allocation failing or not; true when it should succeed.
bool fail_next(fuzz_input &in) {
    const bool fail = in.u8() % 8 == 0;
    kqhost_fail_alloc_at(host(), fail ? 1 : 0);
    return !fail;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_input in{data, size};
    model m;
    if (in.u8() & 1) m.pool = kqhost_pool_create(host());
    m.reset_tree();
    kqhost_reset_peak(host());
    for (int steps = 0; !in.empty() && steps < 400; steps++) {
        switch (in.u8() % 8) {
        case 0: {  // add a string
            char *s = host_string(in);
            const bool ok = fail_next(in);
            FUZZ_REQUIRE(helper_add_str_to_list(owner(), &m.list, s, m.pool) == (ok ? 0 : -1));
            if (ok) m.strings.push_back(s), m.node_bytes += m.node(sizeof(helper_str_node));
            else host_release(s);
            break;
        }
        case 1: {  // find: the first stored string with the same text
            char probe[3] = {char('a' + in.u8() % 4), char('a' + in.u8() % 2), 0};
            char *expect = nullptr;
            for (char *s : m.strings)
                if (!strcmp(s, probe)) { expect = s; break; }
            FUZZ_REQUIRE(helper_find_str_in_list(&m.list, probe) == expect);
            FUZZ_REQUIRE(m.list.count == m.strings.size());
            break;
        }
        case 2: {  // add a pair
            char *a = host_string(in), *b = host_string(in);
            const bool ok = fail_next(in);
            FUZZ_REQUIRE(helper_add_2str_to_list(owner(), &m.pairs, a, b, m.pool) == (ok ? 0 : -1));
            if (ok) m.pair_list.push_back({a, b}), m.node_bytes += m.node(sizeof(helper_2str_node));
            else host_release(a), host_release(b);
            break;
        }
        case 3: {  // add an item to the tree
            item *it = static_cast<item *>(host_block(sizeof(item)));
            it->key = in.u8() % 32;
            const bool ok = fail_next(in);
            FUZZ_REQUIRE(helper_add_to_tree(owner(), &m.tree, it, m.pool) == (ok ? 0 : -1));
            if (ok) m.items.push_back(it), m.node_bytes += m.node(sizeof(helper_tree_node));
            else host_release(it);
            FUZZ_REQUIRE(m.tree.count == int32_t(m.items.size()));
            break;
        }
        case 4: {  // find in the tree: the first item added with that key
            item probe{uint32_t(in.u8() % 32)};
            item *expect = nullptr;
            for (item *it : m.items)
                if (it->key == probe.key) { expect = it; break; }
            FUZZ_REQUIRE(helper_find_in_tree(&m.tree, &probe) == expect);
            break;
        }
        case 5: {  // delete the string list, releasing the strings or not
            const int32_t release = int32_t(in.u8() % 3);
            FUZZ_REQUIRE(helper_delete_str_list(owner(), &m.list, release, m.pool) == 0);
            if (m.pool) m.list = helper_list{};  // pool nodes stay with the pool
            FUZZ_REQUIRE(!m.list.head && !m.list.tail && m.list.count == 0);
            for (char *s : m.strings)
                if (!release || m.pool) host_release(s);
            m.node_bytes -= m.node(sizeof(helper_str_node)) * m.strings.size();
            m.strings.clear();
            break;
        }
        case 6: {  // delete the pair list
            const int32_t release = int32_t(in.u8() % 3);
            FUZZ_REQUIRE(helper_delete_2str_list(owner(), &m.pairs, release, m.pool) == 0);
            if (m.pool) m.pairs = helper_list{};
            FUZZ_REQUIRE(!m.pairs.head && m.pairs.count == 0);
            for (auto &p : m.pair_list)
                if (!release || m.pool) host_release(p.first), host_release(p.second);
            m.node_bytes -= m.node(sizeof(helper_2str_node)) * m.pair_list.size();
            m.pair_list.clear();
            break;
        }
        default: {  // delete the tree: items are released for the flag 1 only
            const int32_t release = int32_t(in.u8() % 3);
            helper_delete_tree(owner(), &m.tree, release, m.pool);
            for (item *it : m.items)
                if (release != 1 || m.pool) host_release(it);
            m.node_bytes -= m.node(sizeof(helper_tree_node)) * m.items.size();
            m.items.clear();
            m.reset_tree();
            break;
        }
        }
        kqhost_fail_alloc_at(host(), 0);
        FUZZ_REQUIRE(kqhost_live_bytes(host()) == m.held_bytes());
        m.most_held = std::max(m.most_held, m.held_bytes());
    }
    // Whatever is left: delete everything, releasing strings and items.
    helper_delete_str_list(owner(), &m.list, 1, m.pool);
    helper_delete_2str_list(owner(), &m.pairs, 1, m.pool);
    helper_delete_tree(owner(), &m.tree, 1, m.pool);
    if (m.pool) {
        for (char *s : m.strings) host_release(s);
        for (auto &p : m.pair_list) host_release(p.first), host_release(p.second);
        for (item *it : m.items) host_release(it);
        kqhost_pool_destroy(host(), m.pool);
    }
    // Nodes are all the containers hold: at no moment more than the model's
    // most, plus what one step allocates for an add that then fails.
    fuzz_check_peak(m.most_held + 8 + sizeof(helper_2str_node));
    fuzz_check_nothing_live();
    return 0;
}
