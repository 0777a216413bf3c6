#include <gtest/gtest.h>
#include <zlib.h>

#include "crc32.h"
#include "harness.h"

namespace {

uint32_t our_crc(const uint8_t* data, size_t len)
{
    crc_register = 0xFFFFFFFFu;
    update_crc(data, (uint32_t)len);
    return ~crc_register;
}

class Crc32 : public testing::Test {
protected:
    void SetUp() override { build_crc_table(); }
};

TEST_F(Crc32, TableEntryIsTheCrcOfOneByte)
{
    EXPECT_EQ(crc_table[0], 0u);
    EXPECT_EQ(crc_table[1], 0x77073096u);
    EXPECT_EQ(crc_table[128], 0xEDB88320u);
    EXPECT_EQ(crc_table[255], 0x2D02EF8Du);
}

TEST_F(Crc32, MatchesZlibForEveryShortLengthAndAlignment)
{
    Bytes data = make_data("random", 4200, 9);
    for (size_t offset = 0; offset < 8; ++offset) {
        for (size_t len = 0; len <= 100; ++len) {
            EXPECT_EQ(our_crc(data.data() + offset, len), crc32(0, data.data() + offset, (uInt)len))
                << "offset " << offset << " length " << len;
        }
    }
    EXPECT_EQ(our_crc(data.data() + 3, 4197), crc32(0, data.data() + 3, 4197));
}

// The pipeline updates in 28,672-byte pieces plus a tail; pieces of any size chain.
TEST_F(Crc32, PiecewiseUpdatesChain)
{
    Bytes data = make_data("binary", 100000, 4);
    uint32_t whole = crc32(0, data.data(), (uInt)data.size());
    for (size_t piece : {1u, 7u, 8u, 13u, 28672u}) {
        crc_register = 0xFFFFFFFFu;
        for (size_t at = 0; at < data.size(); at += piece)
            update_crc(data.data() + at, (uint32_t)std::min(piece, data.size() - at));
        EXPECT_EQ(~crc_register, whole) << "piece " << piece;
    }
}

// Every method the processor has (wide folding, folding, braided tables, each with its
// byte-wise tail) against zlib, on random lengths and alignments, from random registers too.
TEST_F(Crc32, EveryMethodAgreesWithZlib)
{
    Bytes data = make_data("random", 70000, 11);
    uint32_t state = 99;
    auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    const CrcMethod fastest = crc_method;
    for (int round = 0; round < 400; ++round) {
        size_t offset = next() % 64;
        size_t len = round < 200 ? next() % 300 : next() % (data.size() - 64);
        uint32_t start = next();
        uint32_t expected = (uint32_t)crc32(start, data.data() + offset, (uInt)len);
        for (int method = CRC_BY_TABLES; method <= fastest; ++method) {
            crc_method = (CrcMethod)method;
            crc_register = ~start;
            update_crc(data.data() + offset, (uint32_t)len);
            EXPECT_EQ(~crc_register, expected) << "method " << method << ", offset " << offset << " length " << len;
        }
    }
    crc_method = fastest;
}

// The cipher uses crc_table directly, one byte at a time: the table update and the sliced
// update give the same register.
TEST_F(Crc32, SlicedUpdateEqualsByteUpdate)
{
    Bytes data = make_data("text", 1000, 2);
    uint32_t reg = 0x12345678u;
    for (uint8_t b : data)
        reg = crc_table[(reg ^ b) & 0xFF] ^ (reg >> 8);
    crc_register = 0x12345678u;
    update_crc(data.data(), (uint32_t)data.size());
    EXPECT_EQ(crc_register, reg);
}

}  // namespace
