// Where a stream ends: it is good only when its final block ends within the bytes it was given.
// Zeros the decoder looks at past the input decode as a fixed block's end-of-block code, so a
// stream cut right before that code used to decode "successfully" with all its data; a
// sync-flushed stream has no final block at all. Bytes behind the final block are counted, so
// the builder can leave them out.
#include <gtest/gtest.h>
#include <zlib.h>

#include "harness.h"

namespace {

// Fixed block, final: 'a', a match of 3 at distance 1, the literal 0xFF, end of block. The
// items take 3 + 8 + 12 + 9 = 32 bits, so the 7-bit end-of-block code is the last byte alone.
Bytes fixed_block_ending_in_its_own_byte()
{
    BitWriter out;
    out.put(1, 1);
    out.put(1, 2);
    out.put_code(0x30 + 'a', 8);
    out.put_code(1, 7);  // length symbol 257: 3
    out.put_code(0, 5);  // distance symbol 0: 1
    out.put_code(0x190 + (0xFF - 144), 9);
    out.put_code(0, 7);  // end of block
    return out.finish();
}

// Raw Deflate of `data` flushed with Z_SYNC_FLUSH and never finished: every byte decodes, the
// stream ends with an empty stored block that is not final.
Bytes sync_flushed_without_final_block(const Bytes& data)
{
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(data.size() + 1024);
    z.next_in = const_cast<uint8_t*>(data.data());
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    EXPECT_EQ(deflate(&z, Z_SYNC_FLUSH), Z_OK);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

Bytes without_last_byte(Bytes stream)
{
    stream.pop_back();
    return stream;
}

Bytes with_trailing(Bytes stream, size_t count)
{
    stream.insert(stream.end(), count, 0xA5);
    return stream;
}

struct EndCase {
    const char* name;
    Bytes stream;
    int result;
    uint32_t unused_bytes;  // when result is 0
};

std::vector<EndCase> end_cases()
{
    Bytes text = make_data("text", 100000, 3);
    Bytes fixed = fixed_block_ending_in_its_own_byte();
    Bytes level9 = zlib_deflate(text, 9);
    return {
        {"FixedBlockWhole", fixed, INFLATE_OK, 0},
        {"FixedBlockWithoutItsEndOfBlockByte", without_last_byte(fixed), INFLATE_DATA_ERROR, 0},
        {"FixedBlockWithTrailingBytes", with_trailing(fixed, 3), INFLATE_OK, 3},
        {"DynamicBlocksWithTrailingBytes", with_trailing(level9, 40000), INFLATE_OK, 40000},
        {"SyncFlushedWithoutFinalBlock", sync_flushed_without_final_block(text), INFLATE_DATA_ERROR, 0},
        {"EmptySyncFlushedStream", sync_flushed_without_final_block({}), INFLATE_DATA_ERROR, 0},
    };
}

class StreamEnds : public testing::TestWithParam<EndCase> {};

TEST_P(StreamEnds, GoodOnlyWhenTheFinalBlockEndsWithinTheInput)
{
    const EndCase& c = GetParam();
    for (bool fast : {true, false}) {
        for (uint32_t chunk : {28672u, 1u, 5u}) {
            SCOPED_TRACE(testing::Message() << (fast ? "fast" : "careful") << ", chunk " << chunk);
            DecodeOptions options;
            options.fast_loop = fast;
            options.chunk = chunk;
            DecodeRun run = decode_stream(c.stream, options);
            EXPECT_EQ(run.result, c.result);
            EXPECT_EQ(run.problems, "");
            if (c.result == INFLATE_OK) {
                EXPECT_EQ(run.unused_bytes, c.unused_bytes);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, StreamEnds, testing::ValuesIn(end_cases()),
                         [](const testing::TestParamInfo<EndCase>& case_info) { return std::string(case_info.param.name); });

// The decoder looks ahead by a table's width, more than a short code takes: a stream whose
// last code ends in its last bits must not count that lookahead as taken. zlib's own streams
// of every length up to 300 bytes, fixed and dynamic, cover every bit position of the end.
TEST(StreamEnds, LookaheadPastTheEndIsNotTaken)
{
    Bytes text = make_data("text", 300, 5);
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY}) {
        for (size_t size = 0; size <= text.size(); ++size) {
            Bytes data(text.begin(), text.begin() + long(size));
            Bytes stream = zlib_deflate(data, 9, strategy);
            for (bool fast : {true, false}) {
                DecodeOptions options;
                options.fast_loop = fast;
                options.chunk = 7;
                DecodeRun run = decode_stream(stream, options);
                ASSERT_EQ(run.result, INFLATE_OK) << "strategy " << strategy << ", size " << size;
                ASSERT_EQ(run.unused_bytes, 0u) << "strategy " << strategy << ", size " << size;
                ASSERT_TRUE(run.output == data) << "strategy " << strategy << ", size " << size;
            }
        }
    }
}

}  // namespace
