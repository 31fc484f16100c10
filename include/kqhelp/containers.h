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

typedef uint32_t (*helper_hash_fn)(const void *item);
typedef int32_t (*helper_equal_fn)(const void *stored, const void *sought);
typedef int32_t (*helper_compare_fn)(uint32_t hash, const void *item, uint32_t node_hash, const void *node_item);

/* The caller fills in the callbacks and zeroes everything else. */
typedef struct helper_tree {
    helper_hash_fn hash;
    helper_equal_fn equal;
    helper_compare_fn compare;
    helper_tree_node *roots[16];
    uint32_t reserved;
    int32_t count;
    int32_t max_depth;
} helper_tree;

#if defined(__i386__)
KQ_STATIC_ASSERT(sizeof(helper_str_node) == 8, "string node is 8 bytes");
KQ_STATIC_ASSERT(sizeof(helper_2str_node) == 12, "string-pair node is 12 bytes");
KQ_STATIC_ASSERT(sizeof(helper_tree_node) == 20, "tree node is 20 bytes");
KQ_STATIC_ASSERT(sizeof(helper_list) == 12, "list header is 12 bytes");
#endif

#ifdef __cplusplus
}
#endif
#endif
