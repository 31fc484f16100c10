// Singly linked lists of string pointers and of string-pointer pairs. The
// caller owns the header and the strings; nodes come from the host heap or
// from a pool. Strings are never copied.
#include <string.h>

#include "containers/owner.h"
#include "module/slots.h"

namespace {

template <class Node> int32_t append(const helper_owner *owner, helper_list *list, const Node &value, void *pool) {
    if (!list || !owner) return -1;
    auto *node = static_cast<Node *>(kq::container_node(owner, pool, sizeof(Node), false));
    if (!node) return -1;  // the list stays as it was
    *node = value;
    node->next = nullptr;
    if (list->tail)
        static_cast<Node *>(list->tail)->next = node;
    else
        list->head = node;
    list->tail = node;
    list->count++;
    return 0;
}

void release_strings(const kq::host_ref &host, helper_str_node *node) { host.free(node->string); }

void release_strings(const kq::host_ref &host, helper_2str_node *node) {
    host.free(node->first);  // first before second
    host.free(node->second);
}

template <class Node> int32_t delete_all(const helper_owner *owner, helper_list *list, int32_t release, void *pool) {
    if (!list) return -1;
    // Pool nodes, and the strings of a pool-built list, belong to the pool.
    if (list->head && !pool) {
        if (!owner) return -1;  // nothing could be returned to the host
        const kq::host_ref host = kq::host_of(owner);
        for (auto *node = static_cast<Node *>(list->head); node;) {
            Node *next = node->next;
            if (release) release_strings(host, node);
            host.free(node);
            node = next;
        }
    }
    list->head = nullptr;
    list->tail = nullptr;
    list->count = 0;
    return 0;
}

}  // namespace

extern "C" {

int32_t helper_add_str_to_list(const helper_owner *owner, helper_list *list, char *string, void *pool) {
    return append(owner, list, helper_str_node{string, nullptr}, pool);
}

int32_t helper_add_2str_to_list(const helper_owner *owner, helper_list *list, char *first, char *second, void *pool) {
    return append(owner, list, helper_2str_node{first, second, nullptr}, pool);
}

char *helper_find_str_in_list(const helper_list *list, const char *string) {
    if (!list || !string) return nullptr;
    for (auto *node = static_cast<const helper_str_node *>(list->head); node; node = node->next)
        if (node->string && strcmp(node->string, string) == 0) return node->string;  // the first one stored
    return nullptr;
}

int32_t helper_delete_str_list(const helper_owner *owner, helper_list *list, int32_t release_strings, void *pool) {
    return delete_all<helper_str_node>(owner, list, release_strings, pool);
}

int32_t helper_delete_2str_list(const helper_owner *owner, helper_list *list, int32_t release_strings, void *pool) {
    return delete_all<helper_2str_node>(owner, list, release_strings, pool);
}

}  // extern "C"
