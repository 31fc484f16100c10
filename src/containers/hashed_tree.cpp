// Sixteen unbalanced binary search trees, picked by the top four bits of an
// item's hash and ordered by the hash or by the caller's compare callback.
// Equal keys go right. No single-item removal and no rebalancing.
#include "containers/owner.h"
#include "module/slots.h"

namespace {

constexpr uint32_t bucket_of(uint32_t hash) { return hash >> 28; }

// Where an item sorts relative to a node: negative left, else right.
int32_t side(const helper_tree *tree, uint32_t hash, const void *item, const helper_tree_node *node) {
    if (tree->compare) return tree->compare(hash, item, node->hash, node->item);
    return hash < node->hash ? -1 : (hash > node->hash ? 1 : 0);
}

}  // namespace

extern "C" {

int32_t helper_add_to_tree(const helper_owner *owner, helper_tree *tree, void *item, void *pool) {
    if (!tree || !item || !owner || !tree->hash || !tree->equal) return -1;
    auto *node = static_cast<helper_tree_node *>(kq::container_node(owner, pool, sizeof(helper_tree_node), true));
    if (!node) return -1;
    node->hash = tree->hash(item);
    node->item = item;
    tree->count++;

    helper_tree_node **link = &tree->roots[bucket_of(node->hash)];
    helper_tree_node *parent = nullptr;
    int32_t depth = 0;
    while (*link) {
        parent = *link;
        if (++depth > tree->max_depth) tree->max_depth = depth;
        link = side(tree, node->hash, item, parent) < 0 ? &parent->left : &parent->right;
    }
    node->parent = parent;
    *link = node;
    return 0;
}

void *helper_find_in_tree(const helper_tree *tree, const void *item) {
    const uint32_t hash = tree->hash(item);
    for (const helper_tree_node *node = tree->roots[bucket_of(hash)]; node;) {
        const int32_t r = side(tree, hash, item, node);
        if (r < 0) {
            node = node->left;
        } else if (r > 0) {
            node = node->right;
        } else {
            if (!tree->equal || tree->equal(node->item, item)) return node->item;
            node = node->right;  // an equal key that is another item: duplicates sit to the right
        }
    }
    return nullptr;
}

void helper_delete_tree(const helper_owner *owner, helper_tree *tree, int32_t release_items, void *pool) {
    if (!owner || !tree || pool) return;  // pool nodes belong to the pool
    const kq::host_ref host = kq::host_of(owner);
    // Post-order without recursion or a stack: descend to a leaf, unlink and
    // release it, climb to its parent. Each edge is walked down and up once,
    // so a degenerate tree of any depth takes linear time and constant stack.
    for (helper_tree_node *root : tree->roots) {
        for (helper_tree_node *node = root; node;) {
            if (node->left) {
                node = node->left;
                continue;
            }
            if (node->right) {
                node = node->right;
                continue;
            }
            helper_tree_node *parent = node->parent;
            if (parent) {
                if (parent->left == node)
                    parent->left = nullptr;
                else
                    parent->right = nullptr;
            }
            if (release_items == 1) host.free(node->item);
            host.free(node);
            node = parent;
        }
    }
    // The record keeps its roots, count and max depth; the caller sets it up
    // anew before using it again.
}

}  // extern "C"
