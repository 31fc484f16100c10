/* String lists, string-pair lists and hashed trees, exported by name. */
#ifndef KQHELP_CONTAINERS_H
#define KQHELP_CONTAINERS_H

#include "kqhelp/host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The first three words of an owner record, as at the start of a scan_file. */
typedef struct helper_owner {
    host_context *ctx;
    uint32_t instance;
    const host_services *services;
} helper_owner;

typedef struct helper_str_node {
    char *string;
    struct helper_str_node *next;
} helper_str_node;

typedef struct helper_2str_node {
    char *first;
    char *second;
    struct helper_2str_node *next;
} helper_2str_node;

/* Zeroed by the caller before first use; holds nodes of one kind only. */
typedef struct helper_list {
    void *head;
    void *tail;
    uint32_t count;
} helper_list;

typedef struct helper_tree_node {
    uint32_t hash;
    struct helper_tree_node *left;
    struct helper_tree_node *right;
    struct helper_tree_node *parent;
    void *item;
} helper_tree_node;

/* Tree callbacks: the item's 32-bit hash (its top four bits pick one of
 * sixteen trees); non-zero when a stored item is the sought one; and an
 * optional order: negative goes left, zero or positive goes right. */
typedef uint32_t (*hash_fn)(const void *item);
typedef int32_t (*equal_fn)(const void *stored, const void *sought);
typedef int32_t (*compare_fn)(uint32_t hash, const void *item, uint32_t node_hash, const void *node_item);

/* The caller fills in the callbacks and zeroes everything else. */
typedef struct helper_tree {
    hash_fn hash;                  /* required */
    equal_fn equal;                /* required to add */
    compare_fn compare;            /* optional: null orders by the hash alone */
    helper_tree_node *roots[16];   /* one per value of hash >> 28 */
    uint32_t reserved;             /* not touched by the tree functions */
    int32_t count;                 /* items added */
    int32_t max_depth;             /* greatest number of nodes passed by an add */
} helper_tree;

/* The functions exported by name (declared in kqhelp.h), as pointer types
 * for hosts that look them up with dlsym. The owner is any record whose
 * first three words are ctx, instance and services (a scan_file is one);
 * pool is a host pool handle, or null for the host heap. Nodes come from
 * host_alloc (lists) or host_alloc_zeroed (trees), or from the pool, whose
 * nodes belong to it: a delete that names a pool releases nothing. Strings
 * and items are stored as given, never copied; when a delete releases them
 * they must be blocks of the same host. A header or tree is used by one
 * thread at a time. */

/* 0 with the string appended (null is stored too; duplicates are kept); -1
 * for a null list or owner or a failed allocation, the list unchanged. */
typedef int32_t (*helper_add_str_to_list_fn)(const helper_owner *owner, helper_list *list, char *string, void *pool);
/* The first stored pointer whose text equals string (strcmp), or null; null
 * for a null list or string. Nodes storing null are stepped over. */
typedef char *(*helper_find_str_in_list_fn)(const helper_list *list, const char *string);
/* 0 with the header zeroed after host_free of every heap node and, when
 * release_strings is non-zero, of each non-null string (first before
 * second). -1 for a null list, or for a null owner when heap nodes would have
 * to be freed (the list is left as it was). */
typedef int32_t (*helper_delete_str_list_fn)(const helper_owner *owner, helper_list *list, int32_t release_strings,
                                             void *pool);
/* Pair lists: as the string-list add and delete above, for first and second. */
typedef int32_t (*helper_add_2str_to_list_fn)(const helper_owner *owner, helper_list *list, char *first,
                                              char *second, void *pool);
typedef int32_t (*helper_delete_2str_list_fn)(const helper_owner *owner, helper_list *list, int32_t release_strings,
                                              void *pool);
/* 0 with the item added (count grows, max_depth may); -1 and nothing
 * allocated for a null owner, tree or item, a tree without hash or equal, or
 * a failed allocation. Equal keys go right; duplicates are kept. */
typedef int32_t (*helper_add_to_tree_fn)(const helper_owner *owner, helper_tree *tree, void *item, void *pool);
/* The stored item that sorts equal and for which equal() is non-zero (the
 * first one met when the tree has no equal), or null. Neither tree nor its hash
 * is tested: pass a set-up tree. */
typedef void *(*helper_find_in_tree_fn)(const helper_tree *tree, const void *item);
/* host_frees every node and, when release_items is exactly 1, each non-null
 * item; nothing for a null owner or tree or with a pool. The record is left
 * as it was (roots point to freed nodes): set it up anew before reuse. */
typedef void (*helper_delete_tree_fn)(const helper_owner *owner, helper_tree *tree, int32_t release_items,
                                      void *pool);

#if defined(__i386__)
KQ_STATIC_ASSERT(sizeof(helper_str_node) == 8, "string node is 8 bytes");
KQ_STATIC_ASSERT(sizeof(helper_2str_node) == 12, "string-pair node is 12 bytes");
KQ_STATIC_ASSERT(sizeof(helper_tree_node) == 20, "tree node is 20 bytes");
KQ_STATIC_ASSERT(sizeof(helper_list) == 12, "list header is 12 bytes");
KQ_STATIC_ASSERT(sizeof(helper_owner) == 12, "owner is the first three words of a scan_file");
KQ_STATIC_ASSERT(offsetof(helper_tree, roots) == 12, "roots follow the three callbacks");
KQ_STATIC_ASSERT(offsetof(helper_tree, count) == 80, "count follows the untouched word");
KQ_STATIC_ASSERT(sizeof(helper_tree) == 88, "tree record is 22 words");
#endif

#ifdef __cplusplus
}
#endif
#endif
