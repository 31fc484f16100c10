// Slots 39-43 are zlib's inflate entry points: the version and record-size
// checks of slot 39, streamed round trips in small pieces, reuse through
// inflateReset, corrupt input, uncompress, and the kqhelp inflate command.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "support/module_fixture.h"

namespace kqtest {
namespace {

// Text-like data with some repetition, so that it compresses to back-references.
bytes sample(size_t n, uint32_t seed = 1) {
    bytes out(n);
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        out[i] = (i % 97 < 60) ? static_cast<uint8_t>('a' + i % 13) : static_cast<uint8_t>(seed >> 24);
    }
    return out;
}

bytes deflate_all(const bytes &data, int level = Z_DEFAULT_COMPRESSION) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level), Z_OK);
    out.resize(size);
    return out;
}

class InflateTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        init = slot<inflate_init_fn>(SLOT_INFLATE_INIT);
        step = slot<inflate_fn>(SLOT_INFLATE);
        end = slot<inflate_end_fn>(SLOT_INFLATE_END);
        reset = slot<inflate_reset_fn>(SLOT_INFLATE_RESET);
        whole = slot<uncompress_fn>(SLOT_UNCOMPRESS);
        memset(&zs, 0, sizeof zs);
    }

    // Feeds the stream `in_piece` input bytes and `out_piece` output bytes at
    // a time; returns the last status and the output.
    int pump(const bytes &in, size_t in_piece, size_t out_piece, bytes *out) {
        size_t offset = 0;
        uint8_t buffer[4096];
        out_piece = std::min(out_piece, sizeof buffer);
        for (int guard = 0; guard < 10000000; guard++) {
            const size_t give = std::min(in_piece, in.size() - offset);
            zs.next_in = const_cast<uint8_t *>(in.data()) + offset;
            zs.avail_in = static_cast<uInt>(give);
            zs.next_out = buffer;
            zs.avail_out = static_cast<uInt>(out_piece);
            const int status = step(&zs, Z_NO_FLUSH);
            offset += give - zs.avail_in;
            out->insert(out->end(), buffer, buffer + (out_piece - zs.avail_out));
            if (status == Z_BUF_ERROR && offset == in.size()) return status;  // input ran out
            if (status != Z_OK && status != Z_BUF_ERROR) return status;
        }
        return Z_STREAM_ERROR;
    }

    inflate_init_fn init = nullptr;
    inflate_fn step = nullptr;
    inflate_end_fn end = nullptr;
    inflate_reset_fn reset = nullptr;
    uncompress_fn whole = nullptr;
    z_stream zs;
};

TEST_F(InflateTest, SlotsAreZlibsOwnFunctions) {
    EXPECT_EQ(init, &inflateInit_);
    EXPECT_EQ(step, &inflate);
    EXPECT_EQ(end, &inflateEnd);
    EXPECT_EQ(reset, &inflateReset);
    EXPECT_EQ(whole, &uncompress);
#if defined(__i386__)
    EXPECT_EQ(sizeof(z_stream), 56u);
#endif
}

TEST_F(InflateTest, InitRefusesAnotherVersionOrRecordSize) {
    const int size = static_cast<int>(sizeof(z_stream));
    EXPECT_EQ(init(&zs, "2.0.0", size), Z_VERSION_ERROR);
    EXPECT_EQ(init(&zs, "0.9", size), Z_VERSION_ERROR);
    EXPECT_EQ(init(&zs, "", size), Z_VERSION_ERROR);
    EXPECT_EQ(init(&zs, nullptr, size), Z_VERSION_ERROR);
    EXPECT_EQ(init(&zs, ZLIB_VERSION, size - 4), Z_VERSION_ERROR);
    EXPECT_EQ(init(&zs, ZLIB_VERSION, size + 4), Z_VERSION_ERROR);
    EXPECT_EQ(init(&zs, ZLIB_VERSION, 0), Z_VERSION_ERROR);
    // Any version that starts with '1' is accepted, the one the engine was built with too.
    ASSERT_EQ(init(&zs, "1.2.3", size), Z_OK);
    EXPECT_EQ(end(&zs), Z_OK);
    ASSERT_EQ(init(&zs, "1", size), Z_OK);
    EXPECT_EQ(end(&zs), Z_OK);
}

struct piece_case {
    size_t raw_size;
    size_t in_piece;
    size_t out_piece;
    int level;
};

void PrintTo(const piece_case &c, std::ostream *os) {
    *os << c.raw_size << " bytes, level " << c.level << ", pieces in " << c.in_piece << " out " << c.out_piece;
}

class InflatePieces : public InflateTest, public ::testing::WithParamInterface<piece_case> {};

TEST_P(InflatePieces, RoundTrip) {
    const piece_case &c = GetParam();
    const bytes raw = sample(c.raw_size, static_cast<uint32_t>(c.raw_size));
    const bytes packed = deflate_all(raw, c.level);
    ASSERT_EQ(init(&zs, ZLIB_VERSION, sizeof(z_stream)), Z_OK);
    bytes out;
    EXPECT_EQ(pump(packed, c.in_piece, c.out_piece, &out), Z_STREAM_END);
    EXPECT_EQ(out, raw);
    EXPECT_EQ(zs.total_out, raw.size());
    EXPECT_EQ(end(&zs), Z_OK);
    EXPECT_EQ(live_blocks(), 0u);  // zlib's memory is libc's, not the host's
    EXPECT_EQ(calls(KQHOST_CALL_ALLOC) + calls(KQHOST_CALL_ALLOC_ZEROED), 0u);
}

INSTANTIATE_TEST_SUITE_P(Pieces, InflatePieces,
                         ::testing::Values(piece_case{0, 1, 1, 6}, piece_case{1, 1, 1, 6},
                                           piece_case{5000, 1, 7, 9}, piece_case{70000, 13, 1, 1},
                                           piece_case{70000, 3, 3, 0}, piece_case{200000, 4096, 4096, 9},
                                           piece_case{100000, 1 << 20, 100, 6}));

TEST_F(InflateTest, ResetStartsANewStreamInTheSameRecord) {
    const bytes first = sample(30000, 7), second = sample(12345, 8);
    ASSERT_EQ(init(&zs, ZLIB_VERSION, sizeof(z_stream)), Z_OK);
    bytes out;
    ASSERT_EQ(pump(deflate_all(first), 100, 1000, &out), Z_STREAM_END);
    EXPECT_EQ(out, first);
    ASSERT_EQ(reset(&zs), Z_OK);
    EXPECT_EQ(zs.total_in, 0u);
    out.clear();
    ASSERT_EQ(pump(deflate_all(second), 64, 512, &out), Z_STREAM_END);
    EXPECT_EQ(out, second);
    // A reset also recovers a stream that failed.
    ASSERT_EQ(reset(&zs), Z_OK);
    out.clear();
    EXPECT_EQ(pump(bytes{0x78, 0x9C, 0xFF, 0xFF, 0xFF}, 5, 100, &out), Z_DATA_ERROR);
    ASSERT_EQ(reset(&zs), Z_OK);
    out.clear();
    ASSERT_EQ(pump(deflate_all(first), 1 << 20, 4096, &out), Z_STREAM_END);
    EXPECT_EQ(out, first);
    EXPECT_EQ(end(&zs), Z_OK);
}

TEST_F(InflateTest, CorruptStreamsAreDataErrors) {
    const bytes raw = sample(20000, 3);
    const bytes packed = deflate_all(raw);
    struct damage {
        size_t offset;
        uint8_t xor_with;
    };
    // header check bits, the method nibble, a block in the middle, the Adler-32 trailer
    const damage cases[] = {{1, 0x01}, {0, 0x0F}, {packed.size() / 2, 0xFF}, {packed.size() - 1, 0x01}};
    for (const damage &d : cases) {
        bytes bad = packed;
        bad[d.offset] ^= d.xor_with;
        ASSERT_EQ(init(&zs, ZLIB_VERSION, sizeof(z_stream)), Z_OK);
        bytes out;
        EXPECT_EQ(pump(bad, 997, 4096, &out), Z_DATA_ERROR) << "damage at " << d.offset;
        EXPECT_NE(zs.msg, nullptr);
        EXPECT_EQ(end(&zs), Z_OK);
    }
    // A raw deflate stream without the zlib header is refused too: the window is zlib-wrapped.
    ASSERT_EQ(init(&zs, ZLIB_VERSION, sizeof(z_stream)), Z_OK);
    bytes out;
    EXPECT_EQ(pump(bytes(packed.begin() + 2, packed.end()), 4096, 4096, &out), Z_DATA_ERROR);
    EXPECT_EQ(end(&zs), Z_OK);
    // A truncated stream never ends: inflate asks for more input.
    ASSERT_EQ(init(&zs, ZLIB_VERSION, sizeof(z_stream)), Z_OK);
    out.clear();
    EXPECT_EQ(pump(bytes(packed.begin(), packed.begin() + packed.size() / 2), 100, 4096, &out), Z_BUF_ERROR);
    EXPECT_EQ(end(&zs), Z_OK);
}

TEST_F(InflateTest, UncompressWholeBuffers) {
    const bytes raw = sample(50000, 5);
    const bytes packed = deflate_all(raw);
    bytes out(raw.size());
    uLongf length = out.size();
    ASSERT_EQ(whole(out.data(), &length, packed.data(), packed.size()), Z_OK);
    EXPECT_EQ(length, raw.size());
    EXPECT_EQ(out, raw);

    length = raw.size() - 1;  // one byte short
    EXPECT_EQ(whole(out.data(), &length, packed.data(), packed.size()), Z_BUF_ERROR);
    length = out.size();
    EXPECT_EQ(whole(out.data(), &length, packed.data(), packed.size() - 10), Z_DATA_ERROR);  // truncated
    bytes bad = packed;
    bad[bad.size() - 2] ^= 0x40;
    length = out.size();
    EXPECT_EQ(whole(out.data(), &length, bad.data(), bad.size()), Z_DATA_ERROR);
}

std::string write_file(const std::string &name, const bytes &data) {
    mkdir((std::string(KQHELP_BINARY_DIR) + "/test-data").c_str(), 0755);
    const std::string path = temp_path(name);
    FILE *f = fopen(path.c_str(), "wb");
    if (f) {
        fwrite(data.data(), 1, data.size(), f);
        fclose(f);
    }
    return path;
}

TEST_F(InflateTest, ToolStreamsAndReportsCorruptInput) {
    const bytes raw = sample(100000, 11);
    const bytes packed = deflate_all(raw);
    const std::string good = write_file("inflate-good.z", packed);
    std::string out;
    ASSERT_EQ(run_command(tool_command("inflate " + good), &out), 0);
    EXPECT_EQ(out, std::string(raw.begin(), raw.end()));
    ASSERT_EQ(run_command(tool_command("inflate --raw-size 100000 " + good), &out), 0);
    EXPECT_EQ(out, std::string(raw.begin(), raw.end()));
    EXPECT_EQ(run_command(tool_command("inflate --raw-size 99999 " + good + " 2>&1"), &out), 1);
    EXPECT_NE(out.find("more than 99999 bytes"), std::string::npos) << out;

    bytes bad = packed;
    bad[packed.size() / 2] ^= 0xFF;
    const std::string corrupt = write_file("inflate-corrupt.z", bad);
    EXPECT_EQ(run_command(tool_command("inflate " + corrupt + " 2>&1 >/dev/null"), &out), 1);
    EXPECT_NE(out.find("corrupt zlib stream"), std::string::npos) << out;
    const std::string truncated = write_file("inflate-truncated.z", bytes(packed.begin(), packed.begin() + 100));
    EXPECT_EQ(run_command(tool_command("inflate " + truncated + " 2>&1 >/dev/null"), &out), 1);
    EXPECT_NE(out.find("truncated"), std::string::npos) << out;
    EXPECT_EQ(run_command(tool_command("inflate 2>/dev/null"), &out), 2);
    EXPECT_EQ(run_command(tool_command("inflate --raw-size x " + good + " 2>/dev/null"), &out), 2);
}

}  // namespace
}  // namespace kqtest
