// Deflate64 streams made by 7-Zip: matches farther back than 32 KiB and the 64 KiB window.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

struct Deflate64Case {
    const char* name;
    Bytes data;
};

// A random block repeated: its only matches are exactly block bytes back.
Bytes far_repeats(size_t block, int copies, uint32_t seed)
{
    Bytes one = make_data("random", block, seed), data;
    for (int i = 0; i < copies; ++i)
        data.insert(data.end(), one.begin(), one.end());
    return data;
}

TEST(Deflate64, SevenZipStreamsDecode)
{
    const Deflate64Case cases[] = {
        {"text", make_data("text", 400000, 31)},
        {"binary", make_data("binary", 300000, 32)},
        {"mixed", make_data("mixed", 300000, 33)},
        {"runs", make_data("runs", 200000, 34)},
        {"text, then random", [] {
             Bytes d = make_data("text", 100000, 35), r = make_data("random", 70000, 36);
             d.insert(d.end(), r.begin(), r.end());
             return d;
         }()},
        {"repeats 40000 back", far_repeats(40000, 3, 36)},
        {"repeats 65000 back", far_repeats(65000, 2, 37)},
    };
    if (!have_7zz())
        GTEST_SKIP() << "7zz is not available";
    for (const Deflate64Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes stream;
        ASSERT_TRUE(sevenzip_deflate64(c.data, &stream));
        for (bool fast : {true, false}) {
            for (uint32_t chunk : {28672u, 999u}) {
                SCOPED_TRACE(testing::Message() << (fast ? "fast" : "careful") << ", chunk " << chunk);
                DecodeOptions options;
                options.deflate64 = true;
                options.chunk = chunk;
                options.fast_loop = fast;
                DecodeRun run = decode_stream(stream, options);
                EXPECT_EQ(run.result, 0);
                EXPECT_EQ(run.problems, "");
                EXPECT_TRUE(run.output == c.data);
            }
        }
        // Far repeats compress to a fraction only with distances above 32 KiB.
        if (std::string(c.name).rfind("repeats", 0) == 0) {
            EXPECT_LT(stream.size(), c.data.size() / 2 + 1000);
        }
    }
}

}  // namespace
