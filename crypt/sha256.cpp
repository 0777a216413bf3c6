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

// The working variables a..h stay in place: in round i, a is v[(0 - i) & 7], b is
// v[(1 - i) & 7] and so on, so the round's shift of all eight is only a change of index, and
// after 64 rounds (a multiple of 8) every variable is back at its own place.
static void compress_block(uint32_t* state, const uint8_t* data)
{
    uint32_t w[16];
    for (int i = 0; i < 16; ++i)
        w[i] = get_be32(data + 4 * i);
    uint32_t v[8];
    memcpy(v, state, sizeof v);
    for (int i = 0; i < 64; ++i) {
#define V(n) v[((n) - i) & 7]
        if (i >= 16) {
            uint32_t w15 = w[(i + 1) & 15], w2 = w[(i + 14) & 15];
            uint32_t s0 = rotr32(w15, 7) ^ rotr32(w15, 18) ^ (w15 >> 3);
            uint32_t s1 = rotr32(w2, 17) ^ rotr32(w2, 19) ^ (w2 >> 10);
            w[i & 15] += s0 + w[(i + 9) & 15] + s1;
        }
        uint32_t e = V(4), a = V(0);
        uint32_t t1 = V(7) + (rotr32(e, 6) ^ rotr32(e, 11) ^ rotr32(e, 25)) + ((e & V(5)) ^ (~e & V(6))) +
                      ROUND_CONSTANT[i] + w[i & 15];
        uint32_t t2 = (rotr32(a, 2) ^ rotr32(a, 13) ^ rotr32(a, 22)) + ((a & V(1)) ^ (a & V(2)) ^ (V(1) & V(2)));
        V(3) += t1;      // d + t1 becomes the next round's e
        V(7) = t1 + t2;  // and t1 + t2 its a
#undef V
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

// Byte by byte into the block: the loop is the smallest code, and the compression costs
// far more per byte than the copy.
void sha256_add(Sha256* hash, const uint8_t* data, size_t length)
{
    hash->length += length;
    for (size_t i = 0; i < length; ++i) {
        hash->block[hash->block_used++] = data[i];
        if (hash->block_used == SHA256_BLOCK_SIZE) {
            compress_block(hash->state, hash->block);
            hash->block_used = 0;
        }
    }
}

// The padding byte by byte: 0x80, zeros up to the place of the bit count in the last block,
// then the count, big-endian (the count is taken before the padding adds to the length).
void sha256_finish(Sha256* hash, uint8_t* digest)
{
    uint64_t bits = hash->length * 8;
    uint8_t byte = 0x80;
    do {
        sha256_add(hash, &byte, 1);
        byte = 0;
    } while (hash->block_used != SHA256_LENGTH_OFFSET);
    for (int i = 56; i >= 0; i -= 8) {
        byte = (uint8_t)(bits >> i);
        sha256_add(hash, &byte, 1);
    }
    for (int i = 0; i < 8; ++i)
        put_be32(digest + 4 * i, hash->state[i]);
}
