// SHA-256 against the NIST example vectors (FIPS 180-4 and its long-message test) and against
// coreutils' sha256sum on large random data fed in uneven pieces, so a fault in the padding,
// the length field or the carry of a partial block between calls shows up.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "sha256.h"

namespace {

std::string hex_text(const uint8_t* bytes, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// The digest of `data` fed in pieces of `piece` bytes (0: all at once).
std::string digest_of(const std::string& data, size_t piece = 0)
{
    Sha256 hash;
    sha256_start(&hash);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data());
    size_t left = data.size();
    size_t step = piece == 0 ? left : piece;
    while (left > 0) {
        size_t n = left < step ? left : step;
        sha256_add(&hash, p, n);
        p += n;
        left -= n;
    }
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_finish(&hash, digest);
    return hex_text(digest, sizeof digest);
}

struct Vector {
    const char* name;
    std::string message;
    const char* digest;
};

// NIST's examples (SHA256.pdf, SHA2_Additional.pdf): one block, two blocks, a message whose
// padding needs a block of its own, the empty message, one byte and a million bytes; then the
// lengths around the bit count's place in the last block (55, 56, 64 bytes; as sha256sum gives).
const std::vector<Vector>& vectors()
{
    static const std::vector<Vector> table = {
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"448_bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"896_bits",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"one_byte_bd", "\xbd", "68325720aabd7c82f30f554b313d0570c95accbb7dc4b5aae11204c08ffe732b"},
        {"million_a", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {"55_zeros", std::string(55, '\0'), "02779466cdec163811d078815c633f21901413081449002f24aa3e80f0b88ef7"},
        {"56_zeros", std::string(56, '\0'), "d4817aa5497628e7c77e6b606107042bbba3130888c5f47a375e6179be789fbb"},
        {"64_zeros", std::string(64, '\0'), "f5a5fd42d16a20302798ef6ed309979b43003d2320d9f0e8ea9831a92759fb4b"},
    };
    return table;
}

class Sha256VectorTest : public ::testing::TestWithParam<Vector> {};

TEST_P(Sha256VectorTest, GivesPublishedDigest)
{
    EXPECT_EQ(digest_of(GetParam().message), GetParam().digest);
}

// Pieces of 1, 3, 63 and 65 bytes cross the block boundary at every offset.
TEST_P(Sha256VectorTest, DigestDoesNotDependOnPieces)
{
    for (size_t piece : {1, 3, 63, 65}) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(digest_of(GetParam().message, piece), GetParam().digest);
    }
}

INSTANTIATE_TEST_SUITE_P(Nist, Sha256VectorTest, ::testing::ValuesIn(vectors()),
                         [](const ::testing::TestParamInfo<Vector>& p) { return std::string(p.param.name); });

// 24 MiB and a few bytes of random data, as sha256sum sees the file and as we hash it in the
// pieces the stub reads (28,672 bytes) and in odd ones.
TEST(Sha256Test, MatchesSha256sumOnLargeRandomData)
{
    std::mt19937_64 random(20261211);
    std::string data(24 * 1024 * 1024 + 37, '\0');
    for (size_t i = 0; i + 8 <= data.size(); i += 8) {
        uint64_t value = random();
        std::memcpy(&data[i], &value, 8);
    }
    std::string path = ::testing::TempDir() + "sha256_random.bin";
    std::ofstream(path, std::ios::binary).write(data.data(), std::streamsize(data.size()));
    std::FILE* tool = popen(("sha256sum " + path).c_str(), "r");
    ASSERT_NE(tool, nullptr);
    char line[200] = {0};
    ASSERT_NE(std::fgets(line, sizeof line, tool), nullptr);
    ASSERT_EQ(pclose(tool), 0);
    std::remove(path.c_str());
    std::string expected(line, 64);
    EXPECT_EQ(digest_of(data, 28672), expected);
    EXPECT_EQ(digest_of(data, 1000003), expected);
}

}  // namespace
