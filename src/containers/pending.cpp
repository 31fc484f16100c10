// Lists and trees are not built yet: every add is refused.
#include "module/slots.h"

extern "C" {
int32_t helper_add_str_to_list(const helper_owner *, helper_list *, char *, void *) { return -1; }
char *helper_find_str_in_list(const helper_list *, const char *) { return nullptr; }
int32_t helper_delete_str_list(const helper_owner *, helper_list *, int32_t, void *) { return -1; }
int32_t helper_add_2str_to_list(const helper_owner *, helper_list *, char *, char *, void *) { return -1; }
int32_t helper_delete_2str_list(const helper_owner *, helper_list *, int32_t, void *) { return -1; }
int32_t helper_add_to_tree(const helper_owner *, helper_tree *, void *, void *) { return -1; }
void *helper_find_in_tree(const helper_tree *, const void *) { return nullptr; }
void helper_delete_tree(const helper_owner *, helper_tree *, int32_t, void *) {}
}
