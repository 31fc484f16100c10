#include "support/fault_walks.h"

#include <gtest/gtest.h>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

// Blocks live before the walk (the caller's own) stay; nothing else may.
void expect_clean(kqhost *host, uint64_t live, const std::string &run) {
    EXPECT_EQ(kqhost_live_blocks(host), live) << "blocks left behind, " << run;
    EXPECT_EQ(kqhost_misuse_count(host), 0u) << run;
}

}  // namespace

uint64_t expect_survives_alloc_failures(kqhost *host, const walk_fn &walk) {
    const uint64_t live = kqhost_live_blocks(host), before = allocations(host);
    const std::string expected = walk();
    const uint64_t needed = allocations(host) - before;
    expect_clean(host, live, "clean run");
    EXPECT_GT(needed, 0u) << "the walk allocates nothing: the fault walk tests nothing";
    for (uint64_t nth = 1; nth <= needed + 1; nth++) {
        kqhost_fail_alloc_at(host, nth);
        const std::string got = walk();
        kqhost_fail_alloc_at(host, 0);
        expect_clean(host, live, "allocation " + std::to_string(nth) + " of " + std::to_string(needed) + " failing");
        if (nth > needed) {
            EXPECT_EQ(got, expected) << "no allocation failed: the same answers";
        }
    }
    return needed;
}

std::string expect_survives_read_failures(kqhost *host, const walk_fn &walk) {
    const uint64_t live = kqhost_live_blocks(host);
    kqhost_fail_reads(host, 1);
    const std::string failed = walk();
    kqhost_fail_reads(host, 0);
    expect_clean(host, live, "reads failing");
    kqhost_fail_seeks(host, 1);
    walk();
    kqhost_fail_seeks(host, 0);
    expect_clean(host, live, "seeks failing");
    for (uint64_t max : {1u, 100u, 4096u}) {
        kqhost_short_reads(host, max);
        walk();
        kqhost_short_reads(host, 0);
        expect_clean(host, live, "reads cut to " + std::to_string(max) + " bytes");
    }
    return failed;
}

}  // namespace kqtest
