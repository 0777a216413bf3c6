// AES entries of ZIP archives as the common ZIP tools write them: PBKDF2-HMAC-SHA1 with 1000
// iterations turns password and salt into 2 * key size + 2 bytes (AES key, authentication
// key, password verifier, in that order); the data is AES in counter mode with a
// little-endian counter starting at 1; the code is HMAC-SHA1 over the encrypted data,
// truncated to its first 10 bytes.
#include "zip_aes.h"

#include <string.h>

enum { MAX_DERIVED_SIZE = 2 * AES_MAX_KEY_SIZE + AES_VERIFIER_SIZE };
static_assert(aes_key_size(AES_STRENGTH_256) == AES_MAX_KEY_SIZE, "the strongest key fills AesKey");
static_assert(aes_salt_size(AES_STRENGTH_256) == AES_MAX_SALT_SIZE, "the largest salt");
static_assert((int)AES_CODE_SIZE <= (int)SHA1_DIGEST_SIZE, "the code is a truncated HMAC-SHA1");

void build_zip_aes()
{
    build_aes_tables();
    build_sha1_method();
}

void zip_aes_start(ZipAes* aes, const uint8_t* password, size_t password_length, uint32_t strength,
                   const uint8_t* salt, uint8_t* verifier)
{
    uint32_t key_size = aes_key_size(strength);
    uint8_t derived[MAX_DERIVED_SIZE];
    pbkdf2_sha1(password, password_length, salt, aes_salt_size(strength), AES_KEY_ITERATIONS, derived,
                2 * key_size + AES_VERIFIER_SIZE);
    aes_expand_key(&aes->key, derived, key_size);
    hmac_sha1_start(&aes->mac, derived + key_size, key_size);
    memcpy(verifier, derived + 2 * key_size, AES_VERIFIER_SIZE);
    aes->counter = 1;
    aes->stream_used = AES_BLOCK_SIZE;
    wipe_memory(derived, sizeof derived);
}

// XORs the keystream onto a chunk: first what is left of the block the last chunk ended in,
// then whole blocks, then a last part block whose rest is kept for the next chunk.
static void xor_keystream(ZipAes* aes, uint8_t* data, size_t length)
{
    for (; length > 0 && aes->stream_used < AES_BLOCK_SIZE; --length)
        *data++ ^= aes->stream[aes->stream_used++];
    size_t whole = length & ~(size_t)(AES_BLOCK_SIZE - 1);
    aes->counter = aes_xor_counter_blocks(&aes->key, aes->counter, data, whole);
    if (whole == length)
        return;
    memset(aes->stream, 0, sizeof aes->stream);
    aes->counter = aes_xor_counter_blocks(&aes->key, aes->counter, aes->stream, AES_BLOCK_SIZE);
    aes->stream_used = 0;
    for (data += whole, length -= whole; length > 0; --length)
        *data++ ^= aes->stream[aes->stream_used++];
}

void zip_aes_decrypt(ZipAes* aes, uint8_t* data, size_t length)
{
    hmac_sha1_add(&aes->mac, data, length);
    xor_keystream(aes, data, length);
}

void zip_aes_encrypt(ZipAes* aes, uint8_t* data, size_t length)
{
    xor_keystream(aes, data, length);
    hmac_sha1_add(&aes->mac, data, length);
}

void zip_aes_finish(ZipAes* aes, uint8_t* code)
{
    uint8_t digest[SHA1_DIGEST_SIZE];
    hmac_sha1_finish(&aes->mac, digest);
    memcpy(code, digest, AES_CODE_SIZE);
}

bool zip_aes_codes_equal(const uint8_t* a, const uint8_t* b)
{
    uint8_t difference = 0;
    for (int i = 0; i < AES_CODE_SIZE; ++i)
        difference |= (uint8_t)(a[i] ^ b[i]);
    return difference == 0;
}

void zip_aes_wipe(ZipAes* aes)
{
    wipe_memory(aes, sizeof *aes);
}
