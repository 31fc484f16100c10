#include "support/fault_walks.h"

#include "support/module_fixture.h"

namespace kqtest {
namespace {

using fault_fn = void (*)(kqhost *, uint64_t);

// The walk with one fault set: blocks live before it (the caller's own) stay, nothing else may.
std::string faulted(kqhost *host, const walk_fn &walk, fault_fn set, uint64_t value, const std::string &run) {
    const uint64_t live = kqhost_live_blocks(host);
    set(host, value);
    const std::string got = walk();
    set(host, 0);
    EXPECT_EQ(kqhost_live_blocks(host), live) << "blocks left behind, " << run;
    EXPECT_EQ(kqhost_misuse_count(host), 0u) << run;
    return got;
}

}  // namespace

uint64_t expect_survives_alloc_failures(kqhost *host, const walk_fn &walk) {
    const uint64_t before = allocations(host);
    const std::string expected = faulted(host, walk, kqhost_fail_alloc_at, 0, "clean run");
    const uint64_t needed = allocations(host) - before;
    EXPECT_GT(needed, 0u) << "the walk allocates nothing: the fault walk tests nothing";
    for (uint64_t nth = 1; nth <= needed; nth++)
        faulted(host, walk, kqhost_fail_alloc_at, nth, "allocation " + std::to_string(nth) + " of " + std::to_string(needed) + " failing");
    EXPECT_EQ(faulted(host, walk, kqhost_fail_alloc_at, needed + 1, "past the last allocation"), expected)
        << "no allocation failed: the same answers";
    return needed;
}

std::string expect_survives_read_failures(kqhost *host, const walk_fn &walk) {
    const std::string failed = faulted(host, walk, [](kqhost *h, uint64_t on) { kqhost_fail_reads(h, int(on)); }, 1,
                                       "reads failing");
    faulted(host, walk, [](kqhost *h, uint64_t on) { kqhost_fail_seeks(h, int(on)); }, 1, "seeks failing");
    for (uint64_t max : {1u, 100u, 4096u})
        faulted(host, walk, kqhost_short_reads, max, "reads cut to " + std::to_string(max) + " bytes");
    return failed;
}

}  // namespace kqtest
