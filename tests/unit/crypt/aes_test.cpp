// AES, SHA-1, HMAC-SHA1 and PBKDF2 against their published test vectors and against libcrypto,
// once per method the processor has (tables and AES-NI, portable and SHA extensions); and the
// entry cipher against AES entries that 7-Zip writes.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "byte_order.h"
#include "crc32.h"
#include "zip_aes.h"

namespace {

std::vector<uint8_t> hex(const std::string& text)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::vector<uint8_t> bytes_of(const std::string& text)
{
    return {text.begin(), text.end()};
}

// --- the methods ---------------------------------------------------------------------------------

struct Methods {
    AesMethod aes;
    Sha1Method sha1;
    const char* name;
};

// Every combination this processor runs; the table and portable methods always.
std::vector<Methods> available_methods()
{
    build_zip_aes();
    std::vector<Methods> methods = {{AES_BY_TABLES, SHA1_PORTABLE, "portable"}};
    if (aes_method == AES_BY_INSTRUCTIONS && sha1_method == SHA1_BY_INSTRUCTIONS)
        methods.push_back({AES_BY_INSTRUCTIONS, SHA1_BY_INSTRUCTIONS, "instructions"});
    return methods;
}

class CipherTest : public ::testing::TestWithParam<Methods> {
protected:
    void SetUp() override
    {
        build_zip_aes();
        aes_method = GetParam().aes;
        sha1_method = GetParam().sha1;
    }
    void TearDown() override { build_zip_aes(); }
};

// Where the system does not save the SSE registers (the stub asks it at start-up), every
// chooser keeps to its portable method, whatever this processor offers.
TEST(MethodChoice, WithoutSavedSimdStateEveryChooserTakesItsPortableMethod)
{
    system_saves_simd_state = 0;
    build_crc_table();
    build_zip_aes();
    EXPECT_EQ(crc_method, CRC_BY_TABLES);
    EXPECT_EQ(aes_method, AES_BY_TABLES);
    EXPECT_EQ(sha1_method, SHA1_PORTABLE);
    system_saves_simd_state = 1;
    build_crc_table();
    build_zip_aes();
}

// --- published vectors ---------------------------------------------------------------------------

TEST_P(CipherTest, AesMatchesFips197)
{
    const struct {
        const char *key, *cipher;
    } cases[] = {
        {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> key = hex(c.key), block = hex("00112233445566778899aabbccddeeff");
        AesKey expanded;
        aes_expand_key(&expanded, key.data(), uint32_t(key.size()));
        aes_encrypt_block(&expanded, block.data(), block.data());
        EXPECT_EQ(block, hex(c.cipher)) << key.size() * 8 << "-bit key";
    }
}

TEST_P(CipherTest, Sha1MatchesFips180)
{
    const struct {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const auto& c : cases) {
        Sha1 hash;
        sha1_start(&hash);
        // in uneven pieces, so that blocks are completed from the buffer and taken whole
        for (size_t at = 0, step = 1; at < c.message.size(); at += step, step = step * 3 % 997 + 1)
            sha1_add(&hash, reinterpret_cast<const uint8_t*>(c.message.data()) + at,
                     std::min(step, c.message.size() - at));
        std::vector<uint8_t> digest(SHA1_DIGEST_SIZE);
        sha1_finish(&hash, digest.data());
        EXPECT_EQ(digest, hex(c.digest)) << c.message.size() << " bytes";
    }
}

TEST_P(CipherTest, HmacSha1MatchesRfc2202)
{
    const struct {
        std::vector<uint8_t> key, data;
        const char* digest;
    } cases[] = {
        {std::vector<uint8_t>(20, 0x0b), bytes_of("Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00"},
        {bytes_of("Jefe"), bytes_of("what do ya want for nothing?"), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {std::vector<uint8_t>(20, 0xaa), std::vector<uint8_t>(50, 0xdd), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {std::vector<uint8_t>(80, 0xaa), bytes_of("Test Using Larger Than Block-Size Key - Hash Key First"),
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {std::vector<uint8_t>(80, 0xaa),
         bytes_of("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
    for (const auto& c : cases) {
        HmacSha1 mac;
        hmac_sha1_start(&mac, c.key.data(), c.key.size());
        hmac_sha1_add(&mac, c.data.data(), c.data.size());
        std::vector<uint8_t> digest(SHA1_DIGEST_SIZE);
        hmac_sha1_finish(&mac, digest.data());
        EXPECT_EQ(digest, hex(c.digest)) << c.digest;
    }
}

TEST_P(CipherTest, Pbkdf2MatchesRfc6070)
{
    const struct {
        std::string password, salt;
        uint32_t iterations;
        const char* key;
    } cases[] = {
        {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> expected = hex(c.key), key(expected.size());
        pbkdf2_sha1(reinterpret_cast<const uint8_t*>(c.password.data()), c.password.size(),
                    reinterpret_cast<const uint8_t*>(c.salt.data()), c.salt.size(), c.iterations, key.data(),
                    key.size());
        EXPECT_EQ(key, expected) << c.key;
    }
}

// --- against libcrypto ---------------------------------------------------------------------------

std::vector<uint8_t> random_bytes(std::mt19937& rng, size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes)
        b = uint8_t(rng());
    return bytes;
}

// Counter mode as the ZIP format counts: the keystream is libcrypto's AES of the counter
// blocks 1, 2, 3, ... (a little-endian counter; libcrypto's own counter mode counts big-endian).
std::vector<uint8_t> reference_counter_mode(const std::vector<uint8_t>& key, std::vector<uint8_t> data)
{
    const EVP_CIPHER* cipher = key.size() == 16 ? EVP_aes_128_ecb() : key.size() == 24 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    for (size_t at = 0; at < data.size(); at += 16) {
        uint8_t block[16] = {0}, stream[16];
        put_u32(block, uint32_t(at / 16 + 1));
        int length = 0;
        EVP_EncryptUpdate(ctx, stream, &length, block, 16);
        for (size_t i = 0; i < 16 && at + i < data.size(); ++i)
            data[at + i] ^= stream[i];
    }
    EVP_CIPHER_CTX_free(ctx);
    return data;
}

TEST_P(CipherTest, EntryCipherMatchesLibcrypto)
{
    std::mt19937 rng(24);
    for (uint32_t strength = AES_STRENGTH_128; strength <= AES_STRENGTH_256; ++strength) {
        for (size_t size : {0u, 1u, 15u, 16u, 17u, 64u, 100u, 28672u, 70001u}) {
            std::vector<uint8_t> password = random_bytes(rng, 1 + rng() % 99), salt = random_bytes(rng, aes_salt_size(strength));
            std::vector<uint8_t> plain = random_bytes(rng, size), data = plain;
            ZipAes aes;
            uint8_t verifier[AES_VERIFIER_SIZE], code[AES_CODE_SIZE];
            zip_aes_start(&aes, password.data(), password.size(), strength, salt.data(), verifier);
            // chunks of a multiple of 16 bytes and a last odd one, as the stub reads them
            for (size_t at = 0; at < size; at += 4096)
                zip_aes_encrypt(&aes, data.data() + at, std::min<size_t>(4096, size - at));
            zip_aes_finish(&aes, code);

            size_t key_size = aes_key_size(strength);
            std::vector<uint8_t> derived(2 * key_size + 2);
            PKCS5_PBKDF2_HMAC_SHA1(reinterpret_cast<const char*>(password.data()), int(password.size()), salt.data(),
                                   int(salt.size()), 1000, int(derived.size()), derived.data());
            std::vector<uint8_t> key(derived.begin(), derived.begin() + long(key_size));
            EXPECT_EQ(data, reference_counter_mode(key, plain)) << strength << "/" << size;
            uint8_t digest[20];
            unsigned int digest_length = 0;
            HMAC(EVP_sha1(), derived.data() + key_size, int(key_size), data.data(), data.size(), digest, &digest_length);
            EXPECT_EQ(std::vector<uint8_t>(code, code + 10), std::vector<uint8_t>(digest, digest + 10));
            EXPECT_EQ(std::vector<uint8_t>(verifier, verifier + 2),
                      std::vector<uint8_t>(derived.end() - 2, derived.end()));

            // and back, in chunks of any length, as a spanned archive's disks cut them
            zip_aes_start(&aes, password.data(), password.size(), strength, salt.data(), verifier);
            for (size_t at = 0, step = 1; at < size; at += step, step = step * 7 % 4099 + 1)
                zip_aes_decrypt(&aes, data.data() + at, std::min(step, size - at));
            uint8_t check[AES_CODE_SIZE];
            zip_aes_finish(&aes, check);
            zip_aes_wipe(&aes);
            EXPECT_EQ(data, plain);
            EXPECT_TRUE(zip_aes_codes_equal(code, check));
        }
    }
}

TEST(EntryCipher, CodesDifferingInAnyByteAreUnequal)
{
    uint8_t a[AES_CODE_SIZE] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    for (int i = 0; i < AES_CODE_SIZE; ++i) {
        uint8_t b[AES_CODE_SIZE];
        memcpy(b, a, sizeof b);
        b[i] ^= 0x80;
        EXPECT_FALSE(zip_aes_codes_equal(a, b)) << i;
    }
    EXPECT_TRUE(zip_aes_codes_equal(a, a));
}

INSTANTIATE_TEST_SUITE_P(Methods, CipherTest, ::testing::ValuesIn(available_methods()),
                         [](const ::testing::TestParamInfo<Methods>& method) { return std::string(method.param.name); });

// --- entries that 7-Zip writes -------------------------------------------------------------------

std::vector<uint8_t> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One stored AES entry of 7-Zip, taken apart by its local header: the 0x9901 record gives the
// strength; decrypting with the right password gives the verifier, the text and the code.
TEST(EntryCipher, DecryptsStoredEntriesOfSevenZip)
{
    build_zip_aes();
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "Zeile " + std::to_string(i) + ": mit AES verschluesselt\n";
    for (uint32_t strength = AES_STRENGTH_128; strength <= AES_STRENGTH_256; ++strength) {
        std::string dir = ::testing::TempDir() + "aes_7z_" + std::to_string(strength);
        ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str()), 0);
        std::ofstream(dir + "/plain.txt", std::ios::binary) << text;
        std::string command = "cd " + dir + " && 7zz a -tzip -mx=0 -mem=AES" + std::to_string(64 + 64 * strength) +
                              " -pgeheim a.zip plain.txt >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::vector<uint8_t> zip = read_file(dir + "/a.zip");
        ASSERT_EQ(get_u16(&zip[8]), METHOD_AES);
        size_t name_length = get_u16(&zip[26]), extra_length = get_u16(&zip[28]);
        const uint8_t* extra = &zip[30 + name_length];
        ASSERT_EQ(get_u16(extra), EXTRA_AES);
        ASSERT_EQ(extra[8], strength);
        ASSERT_EQ(get_u16(extra + 9), METHOD_STORED);
        const uint8_t* salt = extra + extra_length;
        const uint8_t* data = salt + aes_salt_size(strength) + AES_VERIFIER_SIZE;
        ASSERT_EQ(get_u32(&zip[18]), text.size() + aes_overhead(strength));

        ZipAes aes;
        uint8_t verifier[AES_VERIFIER_SIZE], code[AES_CODE_SIZE];
        zip_aes_start(&aes, bytes_of("geheim").data(), 6, strength, salt, verifier);
        EXPECT_EQ(get_u16(verifier), get_u16(data - AES_VERIFIER_SIZE));
        std::vector<uint8_t> body(data, data + text.size());
        zip_aes_decrypt(&aes, body.data(), body.size());
        zip_aes_finish(&aes, code);
        EXPECT_EQ(std::string(body.begin(), body.end()), text);
        EXPECT_TRUE(zip_aes_codes_equal(code, data + text.size()));

        // a wrong password gives another verifier (this one by 65,535 to 1, checked once)
        zip_aes_start(&aes, bytes_of("Geheim").data(), 6, strength, salt, verifier);
        EXPECT_NE(get_u16(verifier), get_u16(data - AES_VERIFIER_SIZE));
        zip_aes_wipe(&aes);
    }
}

}  // namespace
