// Slots 39-43 hand zlib's inflate to the engine: the slots are zlib's own
// functions (its contract is zlib's to test), and a stream inflates through
// them in small pieces.
#include <string.h>
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
#if defined(__i386__)
    EXPECT_EQ(sizeof(z_stream), 56u) << "the record the engine hands over";
#endif
    bytes data(20000);
    for (size_t i = 0; i < data.size(); i++) data[i] = uint8_t(i % 97 < 60 ? 'a' + i % 13 : i * 7);
    uLongf packed_size = compressBound(uLong(data.size()));
    bytes packed(packed_size), out(data.size() + 1);
    ASSERT_EQ(compress(packed.data(), &packed_size, data.data(), uLong(data.size())), Z_OK);
    z_stream zs;
    memset(&zs, 0, sizeof zs);
    ASSERT_EQ(call<SLOT_INFLATE_INIT>(api_, &zs, ZLIB_VERSION, int(sizeof zs)), Z_OK);
    int status = Z_OK;
    for (size_t in = 0; status == Z_OK;) {
        zs.next_in = packed.data() + in, zs.avail_in = uInt(std::min<size_t>(7, packed_size - in));
        zs.next_out = out.data() + zs.total_out, zs.avail_out = 13;
        status = call<SLOT_INFLATE>(api_, &zs, Z_NO_FLUSH);
        in = zs.total_in;
    }
    EXPECT_EQ(status, Z_STREAM_END);
    EXPECT_EQ(zs.total_out, data.size());
    EXPECT_EQ(memcmp(out.data(), data.data(), data.size()), 0);
    EXPECT_EQ(call<SLOT_INFLATE_RESET>(api_, &zs), Z_OK);
    EXPECT_EQ(call<SLOT_INFLATE_END>(api_, &zs), Z_OK);
    uLongf size = uLongf(out.size());
    EXPECT_EQ(call<SLOT_UNCOMPRESS>(api_, out.data(), &size, packed.data(), packed_size), Z_OK);
    EXPECT_EQ(size, data.size());
}

}  // namespace
}  // namespace kqtest
