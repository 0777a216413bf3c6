// Differential tests against zlib's encoder: every level and strategy, small and large
// windows, data kinds that give stored, fixed and dynamic blocks, and sizes around the
// 28,672-byte output piece and the 65,536-byte window.
#include <gtest/gtest.h>
#include <zlib.h>

#include "harness.h"

namespace {

struct Compressor {
    const char* name;
    int level;
    int strategy;
    int window_bits;
    int mem_level;
};

const Compressor compressors[] = {
    {"level6", 6, Z_DEFAULT_STRATEGY, 15, 8},
    {"stored", 0, Z_DEFAULT_STRATEGY, 15, 8},
    {"level1", 1, Z_DEFAULT_STRATEGY, 15, 8},
    {"level9", 9, Z_DEFAULT_STRATEGY, 15, 9},
    {"filtered", 6, Z_FILTERED, 15, 8},
    {"huffman", 6, Z_HUFFMAN_ONLY, 15, 8},
    {"rle", 6, Z_RLE, 15, 8},
    {"fixed", 6, Z_FIXED, 15, 8},
    {"window512", 9, Z_DEFAULT_STRATEGY, 9, 1},
};

struct StreamCase {
    std::string kind;
    size_t size;
    Compressor compressor;
};

void PrintTo(const StreamCase& c, std::ostream* os)
{
    *os << c.kind << " " << c.size << " " << c.compressor.name;
}

std::string case_name(const testing::TestParamInfo<StreamCase>& case_info)
{
    return case_info.param.kind + "_" + std::to_string(case_info.param.size) + "_" + case_info.param.compressor.name;
}

std::vector<StreamCase> small_cases()
{
    std::vector<StreamCase> cases;
    for (const char* kind : {"text", "binary", "random", "runs", "mixed"}) {
        for (size_t size : {0, 1, 100, 28671, 28672, 28673, 65535, 65536, 65537, 200000}) {
            for (const Compressor& c : compressors)
                cases.push_back({kind, size, c});
        }
    }
    return cases;
}

std::vector<StreamCase> large_cases()
{
    std::vector<StreamCase> cases;
    for (const char* kind : {"text", "binary", "mixed"}) {
        for (int c : {0, 2, 7})
            cases.push_back({kind, 3000000, compressors[c]});
    }
    return cases;
}

class ZlibStreams : public testing::TestWithParam<StreamCase> {
protected:
    void SetUp() override
    {
        const StreamCase& c = GetParam();
        data = make_data(c.kind, c.size);
        stream = zlib_deflate(data, c.compressor.level, c.compressor.strategy, c.compressor.window_bits,
                              c.compressor.mem_level);
    }
    Bytes data, stream;
};

void expect_decodes(const Bytes& stream, const Bytes& data, const DecodeOptions& options)
{
    DecodeRun run = decode_stream(stream, options);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.problems, "");
    ASSERT_EQ(run.output.size(), data.size());
    EXPECT_TRUE(run.output == data) << "first difference at "
                                    << (std::mismatch(run.output.begin(), run.output.end(), data.begin()).first -
                                        run.output.begin());
    EXPECT_LE(run.bytes_taken, stream.size());
}

TEST_P(ZlibStreams, DecodesLikeZlib)
{
    expect_decodes(stream, data, {});
}

TEST_P(ZlibStreams, DecodesWithTinyInputChunks)
{
    for (uint32_t chunk : {1u, 7u, 1000u}) {
        SCOPED_TRACE(chunk);
        DecodeOptions options;
        options.chunk = chunk;
        expect_decodes(stream, data, options);
    }
}

// The fast loop must not change anything observable: same output, and refill_input called at
// the same moments (measured as the output produced before each call). Only the bytes taken at
// the very end may differ: the careful path looks ahead by its table's width (at most 15 bits)
// even for a shorter last code.
TEST_P(ZlibStreams, FastLoopChangesNothingObservable)
{
    for (uint32_t chunk : {28672u, 1001u}) {
        SCOPED_TRACE(chunk);
        DecodeOptions options;
        options.chunk = chunk;
        DecodeRun fast = decode_stream(stream, options);
        options.fast_loop = false;
        DecodeRun careful = decode_stream(stream, options);
        EXPECT_EQ(fast.result, careful.result);
        EXPECT_TRUE(fast.output == careful.output);
        EXPECT_LE(fast.bytes_taken, careful.bytes_taken);
        EXPECT_LE(careful.bytes_taken, fast.bytes_taken + 2);
        EXPECT_EQ(fast.refill_marks, careful.refill_marks);
    }
}

INSTANTIATE_TEST_SUITE_P(Small, ZlibStreams, testing::ValuesIn(small_cases()), case_name);

class LargeZlibStreams : public ZlibStreams {};

TEST_P(LargeZlibStreams, DecodesLikeZlib)
{
    expect_decodes(stream, data, {});
    DecodeOptions options;
    options.chunk = 4099;
    expect_decodes(stream, data, options);
}

INSTANTIATE_TEST_SUITE_P(MultiMegabyte, LargeZlibStreams, testing::ValuesIn(large_cases()), case_name);

// Every chunk size from 1 to 64 bytes: refills land at every position relative to the fast
// loop's input margin, including right after the careful path took bytes of the old chunk.
TEST(ChunkSizes, EveryBoundaryPosition)
{
    struct {
        const char* kind;
        int level, strategy;
    } streams[] = {{"text", 6, Z_DEFAULT_STRATEGY}, {"binary", 9, Z_DEFAULT_STRATEGY},
                   {"mixed", 6, Z_FIXED}, {"runs", 1, Z_DEFAULT_STRATEGY}, {"text", 6, Z_HUFFMAN_ONLY}};
    for (auto& s : streams) {
        Bytes data = make_data(s.kind, 20000, 77);
        Bytes stream = zlib_deflate(data, s.level, s.strategy);
        for (uint32_t chunk = 1; chunk <= 64; ++chunk) {
            SCOPED_TRACE(testing::Message() << s.kind << " level " << s.level << " chunk " << chunk);
            DecodeOptions options;
            options.chunk = chunk;
            expect_decodes(stream, data, options);
        }
    }
}

// A truncated stream fails with result 1, takes no byte beyond the declared size, and what it
// passed on is the true output except for at most the last match (decoded from missing bits).
TEST(TruncatedStreams, FailWithoutReadingPastTheDeclaredSize)
{
    Bytes data = make_data("text", 300000, 7);
    Bytes stream = zlib_deflate(data, 6);
    for (int tenth : {1, 5, 9}) {
        for (uint32_t chunk : {28672u, 997u}) {
            SCOPED_TRACE(testing::Message() << "cut at " << tenth << "/10, chunk " << chunk);
            DecodeOptions options;
            options.chunk = chunk;
            options.declared = (int64_t)(stream.size() * tenth / 10);
            DecodeRun run = decode_stream(stream, options);
            EXPECT_EQ(run.result, 1);
            EXPECT_EQ(run.problems, "");
            EXPECT_EQ(run.bytes_taken, (uint32_t)options.declared);
            size_t same = std::mismatch(run.output.begin(), run.output.end(), data.begin()).first - run.output.begin();
            EXPECT_GE(same + 258, run.output.size());
            EXPECT_LT(run.output.size(), data.size());
        }
    }
}

// Bytes after the stream inside the declared size are never needed.
TEST(TrailingBytes, StreamEndsAtItsFinalBlock)
{
    Bytes data = make_data("binary", 100000, 3);
    Bytes stream = zlib_deflate(data, 9);
    Bytes padded = stream;
    padded.insert(padded.end(), 5000, 0xEE);
    DecodeRun run = decode_stream(padded);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.output == data);
    EXPECT_LE(run.bytes_taken, stream.size() + 2);
}

}  // namespace
