// Slots 39-43 are zlib's own entry points with no wrapper: zlib's contract is
// zlib's to test; what the module owns is that each slot holds the right one.
#include <zlib.h>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

TEST_F(ModuleTest, InflateSlotsAreZlibs) {
    EXPECT_EQ(kqhelp::slot<SLOT_INFLATE_INIT>(api_), &inflateInit_);
    EXPECT_EQ(kqhelp::slot<SLOT_INFLATE>(api_), &inflate);
    EXPECT_EQ(kqhelp::slot<SLOT_INFLATE_END>(api_), &inflateEnd);
    EXPECT_EQ(kqhelp::slot<SLOT_INFLATE_RESET>(api_), &inflateReset);
    EXPECT_EQ(kqhelp::slot<SLOT_UNCOMPRESS>(api_), &uncompress);
}

}  // namespace
}  // namespace kqtest
