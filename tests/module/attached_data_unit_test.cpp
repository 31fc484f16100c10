// Removing one attachment among several: only the node of that type goes
// (unlinked from the head or from its predecessor), each type's data stays
// (types the module does not know release nothing).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "module/attached_data.h"

namespace {

std::vector<void *> freed;

TEST(AttachedData, RemoveUnlinksOnlyThatType) {
    host_services services{};
    services.alloc = services.alloc_zeroed = [](host_context *, uint32_t, uint64_t size) { return calloc(1, size); };
    services.free = [](host_context *, uint32_t, void *block) { freed.push_back(block), free(block); };
    scan_file file{};
    file.services = &services;
    int data[4];
    for (uint32_t type : {7, 8, 9, 10}) ASSERT_EQ(kq::attached_data_add(&file, type, &data[type - 7]), 0);
    auto present = [&] {  // types 7-10 as a-d, "-" for one gone
        std::string out;
        for (void *d = nullptr; uint32_t type : {7, 8, 9, 10})
            out += kq::attached_data_find(&file, type, &d) == 0 && d == &data[type - 7] ? char('a' + type - 7) : '-';
        return out;
    };
    for (auto [type, left] : {std::pair{8u, "a-cd"}, {42u, "a-cd"}, {10u, "a-c-"}, {7u, "--c-"}}) {
        freed.clear();
        EXPECT_EQ(kq::attached_data_remove(&file, type), 0);
        EXPECT_EQ(present(), left) << type;
        EXPECT_EQ(freed.size(), type == 42 ? 0u : 1u) << type;
    }
    EXPECT_EQ(kq::attached_data_clear(&file), 0);
    EXPECT_EQ(file.attached, nullptr);
}

}  // namespace
