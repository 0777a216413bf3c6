// The builder's raw Deflate blocks: what deflate_raw writes inflates back, and inflate_raw
// refuses a stream that is cut short, damaged, or longer than the stub's area, even when the
// longer stream is complete.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raw_deflate.h"

namespace {

struct InflateCase {
    const char* name;
    size_t plain_size;  // bytes compressed
    size_t limit;
    size_t cut;  // stored bytes dropped from the end
    const char* error;  // "" when it must inflate
};

const InflateCase INFLATE_CASES[] = {
    {"exactly full", 4100, 4100, 0, ""},
    {"empty", 0, 4100, 0, ""},
    {"one byte over the area, stream complete", 4101, 4100, 0, "decodes to more than 4100 bytes"},
    {"far over the area", 70000, 65535, 0, "decodes to more than 65535 bytes"},
    {"cut short", 3000, 4100, 2, "not a complete raw Deflate stream"},
};

std::vector<uint8_t> text_of(size_t size)
{
    std::vector<uint8_t> plain(size);
    for (size_t i = 0; i < size; ++i)
        plain[i] = uint8_t("Tarvel 0123456789\r\n"[i % 19] + (i / 97) % 3);
    return plain;
}

}  // namespace

TEST(RawDeflate, InflatesWhatFitsAndRefusesTheRest)
{
    for (const InflateCase& c : INFLATE_CASES) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> plain = text_of(c.plain_size);
        std::vector<uint8_t> stored = deflate_raw(plain.data(), plain.size(), "the test block");
        ASSERT_GT(stored.size(), c.cut);
        stored.resize(stored.size() - c.cut);
        std::vector<uint8_t> back;
        std::string error;
        bool ok = inflate_raw(stored.data(), stored.size(), c.limit, back, error);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(ok, *c.error == 0);
        if (ok) {
            EXPECT_EQ(back, plain);
        }
    }
}

TEST(RawDeflate, RefusesDataThatIsNoDeflateStream)
{
    const uint8_t reserved_block_type[] = {0x07, 0x00, 0x00};  // final block of type 3
    std::vector<uint8_t> back;
    std::string error;
    EXPECT_FALSE(inflate_raw(reserved_block_type, sizeof reserved_block_type, 100, back, error));
    EXPECT_EQ(error, "not a complete raw Deflate stream");
}
