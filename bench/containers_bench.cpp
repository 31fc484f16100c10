// Trees and string lists exported by name, called directly (linked module
// objects) with the reference host's allocator behind them.
#include <benchmark/benchmark.h>

#include <vector>

#include "kqhost.h"

namespace {

uint32_t hash_of(const void *p) { return *static_cast<const uint32_t *>(p); }
int32_t same(const void *a, const void *b) { return a == b; }

std::vector<uint32_t> random_keys(size_t n) {
    std::vector<uint32_t> keys(n);
    uint32_t x = 2463534242u;
    for (uint32_t &k : keys) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        k = x;
    }
    return keys;
}

// Adds n items with random hashes, finds each once, deletes the tree.
void BM_TreeAddFindDelete(benchmark::State &state) {
    const size_t n = static_cast<size_t>(state.range(0));
    kqhost *host = kqhost_create();
    std::vector<uint32_t> keys = random_keys(n);
    for (auto _ : state) {
        helper_tree tree{};
        tree.hash = hash_of;
        tree.equal = same;
        for (uint32_t &k : keys) helper_add_to_tree(kqhost_owner(host), &tree, &k, nullptr);
        for (uint32_t &k : keys) benchmark::DoNotOptimize(helper_find_in_tree(&tree, &k));
        helper_delete_tree(kqhost_owner(host), &tree, 0, nullptr);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
    kqhost_destroy(host);
}
BENCHMARK(BM_TreeAddFindDelete)->Arg(1000)->Arg(100000);

// One bucket, rising hashes: the worst case, a chain. Adds are quadratic
// (unbalanced by design); the delete stays linear.
void BM_TreeDegenerateChain(benchmark::State &state) {
    const size_t n = static_cast<size_t>(state.range(0));
    kqhost *host = kqhost_create();
    std::vector<uint32_t> keys(n);
    for (size_t i = 0; i < n; i++) keys[i] = 0x40000000u + static_cast<uint32_t>(i);
    for (auto _ : state) {
        helper_tree tree{};
        tree.hash = hash_of;
        tree.equal = same;
        for (uint32_t &k : keys) helper_add_to_tree(kqhost_owner(host), &tree, &k, nullptr);
        helper_delete_tree(kqhost_owner(host), &tree, 0, nullptr);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
    kqhost_destroy(host);
}
BENCHMARK(BM_TreeDegenerateChain)->Arg(1000)->Arg(4000);

void BM_StringListFindLast(benchmark::State &state) {
    const size_t n = static_cast<size_t>(state.range(0));
    kqhost *host = kqhost_create();
    std::vector<std::string> texts;
    for (size_t i = 0; i < n; i++) texts.push_back("detection/name/" + std::to_string(i));
    helper_list list{};
    for (std::string &t : texts) helper_add_str_to_list(kqhost_owner(host), &list, t.data(), nullptr);
    for (auto _ : state) benchmark::DoNotOptimize(helper_find_str_in_list(&list, texts.back().c_str()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
    helper_delete_str_list(kqhost_owner(host), &list, 0, nullptr);
    kqhost_destroy(host);
}
BENCHMARK(BM_StringListFindLast)->Arg(100)->Arg(10000);

}  // namespace
