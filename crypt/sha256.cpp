// SHA-256 (FIPS 180-4), in plain integer code: the stub carries it, so it is kept small (one
// loop of 64 rounds, the message schedule as a ring of sixteen words) rather than fast. It
// hashes a split package's volumes once per run, at disk speed on any machine of today.
#include "sha256.h"

#include <string.h>

static const uint32_t SHA256_INITIAL[8] = {0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
                                           0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u};

// The first 32 bits of the fractional parts of the cube roots of the first 64 primes.
static const uint32_t ROUND_CONSTANT[64] = {
    0x428A2F98u, 0x71374491u, 0xB5C0FBCFu, 0xE9B5DBA5u, 0x3956C25Bu, 0x59F111F1u, 0x923F82A4u, 0xAB1C5ED5u,
    0xD807AA98u, 0x12835B01u, 0x243185BEu, 0x550C7DC3u, 0x72BE5D74u, 0x80DEB1FEu, 0x9BDC06A7u, 0xC19BF174u,
    0xE49B69C1u, 0xEFBE4786u, 0x0FC19DC6u, 0x240CA1CCu, 0x2DE92C6Fu, 0x4A7484AAu, 0x5CB0A9DCu, 0x76F988DAu,
    0x983E5152u, 0xA831C66Du, 0xB00327C8u, 0xBF597FC7u, 0xC6E00BF3u, 0xD5A79147u, 0x06CA6351u, 0x14292967u,
    0x27B70A85u, 0x2E1B2138u, 0x4D2C6DFCu, 0x53380D13u, 0x650A7354u, 0x766A0ABBu, 0x81C2C92Eu, 0x92722C85u,
    0xA2BFE8A1u, 0xA81A664Bu, 0xC24B8B70u, 0xC76C51A3u, 0xD192E819u, 0xD6990624u, 0xF40E3585u, 0x106AA070u,
    0x19A4C116u, 0x1E376C08u, 0x2748774Cu, 0x34B0BCB5u, 0x391C0CB3u, 0x4ED8AA4Au, 0x5B9CCA4Fu, 0x682E6FF3u,
    0x748F82EEu, 0x78A5636Fu, 0x84C87814u, 0x8CC70208u, 0x90BEFFFAu, 0xA4506CEBu, 0xBEF9A3F7u, 0xC67178F2u,
};

enum { SHA256_LENGTH_OFFSET = SHA256_BLOCK_SIZE - 8 };  // where the last block holds the bit count

static uint32_t rotr32(uint32_t value, int bits)
{
    return (value >> bits) | (value << (32 - bits));
}

static uint32_t get_be32(const uint8_t* p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static void put_be32(uint8_t* p, uint32_t value)
{
    p[0] = (uint8_t)(value >> 24);
    p[1] = (uint8_t)(value >> 16);
    p[2] = (uint8_t)(value >> 8);
    p[3] = (uint8_t)value;
}

static void compress_block(uint32_t* state, const uint8_t* data)
{
    uint32_t w[16];
    for (int i = 0; i < 16; ++i)
        w[i] = get_be32(data + 4 * i);
    uint32_t v[8];
    memcpy(v, state, sizeof v);  // a b c d e f g h
    for (int i = 0; i < 64; ++i) {
        if (i >= 16) {
            uint32_t w15 = w[(i + 1) & 15], w2 = w[(i + 14) & 15];
            uint32_t s0 = rotr32(w15, 7) ^ rotr32(w15, 18) ^ (w15 >> 3);
            uint32_t s1 = rotr32(w2, 17) ^ rotr32(w2, 19) ^ (w2 >> 10);
            w[i & 15] += s0 + w[(i + 9) & 15] + s1;
        }
        uint32_t e = v[4];
        uint32_t t1 = v[7] + (rotr32(e, 6) ^ rotr32(e, 11) ^ rotr32(e, 25)) + ((e & v[5]) ^ (~e & v[6])) +
                      ROUND_CONSTANT[i] + w[i & 15];
        uint32_t a = v[0];
        uint32_t t2 = (rotr32(a, 2) ^ rotr32(a, 13) ^ rotr32(a, 22)) + ((a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]));
        memmove(v + 1, v, 7 * sizeof v[0]);
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i)
        state[i] += v[i];
}

void sha256_start(Sha256* hash)
{
    memcpy(hash->state, SHA256_INITIAL, sizeof hash->state);
    hash->block_used = 0;
    hash->length = 0;
}

void sha256_add(Sha256* hash, const uint8_t* data, size_t length)
{
    hash->length += length;
    while (length > 0) {
        size_t take = SHA256_BLOCK_SIZE - hash->block_used;
        if (take > length)
            take = length;
        memcpy(hash->block + hash->block_used, data, take);
        hash->block_used += (uint32_t)take;
        data += take;
        length -= take;
        if (hash->block_used == SHA256_BLOCK_SIZE) {
            compress_block(hash->state, hash->block);
            hash->block_used = 0;
        }
    }
}

void sha256_finish(Sha256* hash, uint8_t* digest)
{
    uint64_t bits = hash->length * 8;
    uint8_t pad[SHA256_BLOCK_SIZE + 8] = {0x80};
    // The 0x80 byte and the zeros up to the bit count, which ends a block.
    size_t pad_length = (SHA256_LENGTH_OFFSET - 1 - hash->block_used + SHA256_BLOCK_SIZE) % SHA256_BLOCK_SIZE + 1;
    for (int i = 0; i < 8; ++i)
        pad[pad_length + i] = (uint8_t)(bits >> (56 - 8 * i));
    sha256_add(hash, pad, pad_length + 8);
    for (int i = 0; i < 8; ++i)
        put_be32(digest + 4 * i, hash->state[i]);
}
