// SHA-1 (FIPS 180-4), HMAC (RFC 2104) and PBKDF2 (RFC 8018) over it.
//
// Blocks are compressed in one of two ways, chosen once by build_sha1_method:
// - the SHA extensions: four rounds per instruction, the message schedule in two more;
// - plain integer code elsewhere, the message schedule kept as a ring of sixteen words.
//
// PBKDF2 costs 1000 HMACs of a 20-byte message per 20 bytes of key material, so it never
// goes through sha1_add: each HMAC is exactly two compressions of prepared blocks, from the
// pad states the key left behind.
#include "sha1.h"

#include <string.h>

#include "crc32.h"  // system_saves_simd_state

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define SHA1_HAVE_INSTRUCTIONS 1
#endif

Sha1Method sha1_method;

static const uint32_t SHA1_INITIAL[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
enum { SHA1_LENGTH_OFFSET = SHA1_BLOCK_SIZE - 8 };  // where the last block holds the bit count

static uint32_t rotl32(uint32_t value, int bits)
{
    return (value << bits) | (value >> (32 - bits));
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

// --- portable compression --------------------------------------------------------------------

static void compress_portable(uint32_t* state, const uint8_t* data, size_t blocks)
{
    static const uint32_t round_constant[4] = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xCA62C1D6u};
    for (; blocks > 0; --blocks, data += SHA1_BLOCK_SIZE) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = get_be32(data + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        for (int i = 0; i < 80; ++i) {
            // the schedule as a ring of sixteen words
            if (i >= 16)
                w[i & 15] = rotl32(w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ w[i & 15], 1);
            uint32_t f;
            if (i < 20)
                f = ((c ^ d) & b) ^ d;
            else if (i < 40 || i >= 60)
                f = b ^ c ^ d;
            else
                f = (b & c) | ((b | c) & d);
            uint32_t t = rotl32(a, 5) + f + e + round_constant[i / 20] + w[i & 15];
            e = d;
            d = c;
            c = rotl32(b, 30);
            b = a;
            a = t;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

// --- SHA extensions ----------------------------------------------------------------------------

#ifdef SHA1_HAVE_INSTRUCTIONS
#define SHANI_TARGET __attribute__((target("sha,ssse3,sse4.1")))

// Rounds 4g..4g+3. The E value of the group runs in `now`, the next group's in `next`; the
// message words are a ring of four registers: msg[g % 4] holds the words of group g, and the
// words of group g + 4 are made from groups g .. g + 3 in three steps spread over the groups
// (sha1msg1 at g + 1, XOR at g + 2, sha1msg2 at g + 3).
#define SHA1_GROUP(g, now, next)                                                    \
    do {                                                                            \
        now = _mm_sha1nexte_epu32(now, msg[(g) % 4]);                               \
        next = abcd;                                                                \
        if ((g) >= 3 && (g) <= 18)                                                  \
            msg[((g) + 1) % 4] = _mm_sha1msg2_epu32(msg[((g) + 1) % 4], msg[(g) % 4]); \
        abcd = _mm_sha1rnds4_epu32(abcd, now, (g) / 5);                             \
        if ((g) >= 1 && (g) <= 16)                                                  \
            msg[((g) + 3) % 4] = _mm_sha1msg1_epu32(msg[((g) + 3) % 4], msg[(g) % 4]); \
        if ((g) >= 2 && (g) <= 17)                                                  \
            msg[((g) + 2) % 4] = _mm_xor_si128(msg[((g) + 2) % 4], msg[(g) % 4]);     \
    } while (0)

SHANI_TARGET static void compress_shani(uint32_t* state, const uint8_t* data, size_t blocks)
{
    const __m128i byte_swap = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i*)state), 0x1B);
    __m128i e0 = _mm_set_epi32((int)state[4], 0, 0, 0);
    for (; blocks > 0; --blocks, data += SHA1_BLOCK_SIZE) {
        __m128i abcd_saved = abcd, e0_saved = e0, e1;
        __m128i msg[4];
        for (int i = 0; i < 4; ++i)
            msg[i] = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(data + 16 * i)), byte_swap);
        e0 = _mm_add_epi32(e0, msg[0]);
        e1 = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
        SHA1_GROUP(1, e1, e0);
        SHA1_GROUP(2, e0, e1);
        SHA1_GROUP(3, e1, e0);
        SHA1_GROUP(4, e0, e1);
        SHA1_GROUP(5, e1, e0);
        SHA1_GROUP(6, e0, e1);
        SHA1_GROUP(7, e1, e0);
        SHA1_GROUP(8, e0, e1);
        SHA1_GROUP(9, e1, e0);
        SHA1_GROUP(10, e0, e1);
        SHA1_GROUP(11, e1, e0);
        SHA1_GROUP(12, e0, e1);
        SHA1_GROUP(13, e1, e0);
        SHA1_GROUP(14, e0, e1);
        SHA1_GROUP(15, e1, e0);
        SHA1_GROUP(16, e0, e1);
        SHA1_GROUP(17, e1, e0);
        SHA1_GROUP(18, e0, e1);
        SHA1_GROUP(19, e1, e0);
        e0 = _mm_sha1nexte_epu32(e0, e0_saved);
        abcd = _mm_add_epi32(abcd, abcd_saved);
    }
    _mm_storeu_si128((__m128i*)state, _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = (uint32_t)_mm_extract_epi32(e0, 3);
}

void build_sha1_method()
{
    unsigned int a, b, c, d;
    // SSSE3 and SSE4.1 come with every processor that has the SHA extensions.
    if (system_saves_simd_state && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA))
        sha1_method = SHA1_BY_INSTRUCTIONS;
    else
        sha1_method = SHA1_PORTABLE;
}
#else
void build_sha1_method()
{
    sha1_method = SHA1_PORTABLE;
}
#endif

static void compress(uint32_t* state, const uint8_t* data, size_t blocks)
{
#ifdef SHA1_HAVE_INSTRUCTIONS
    if (sha1_method == SHA1_BY_INSTRUCTIONS) {
        compress_shani(state, data, blocks);
        return;
    }
#endif
    compress_portable(state, data, blocks);
}

// --- hashing -----------------------------------------------------------------------------------

void sha1_start(Sha1* hash)
{
    memcpy(hash->state, SHA1_INITIAL, sizeof hash->state);
    hash->block_used = 0;
    hash->length = 0;
}

void sha1_add(Sha1* hash, const uint8_t* data, size_t length)
{
    hash->length += length;
    if (hash->block_used > 0) {
        size_t take = SHA1_BLOCK_SIZE - hash->block_used;
        if (take > length)
            take = length;
        memcpy(hash->block + hash->block_used, data, take);
        hash->block_used += (uint32_t)take;
        data += take;
        length -= take;
        if (hash->block_used < SHA1_BLOCK_SIZE)
            return;
        compress(hash->state, hash->block, 1);
        hash->block_used = 0;
    }
    size_t blocks = length / SHA1_BLOCK_SIZE;
    compress(hash->state, data, blocks);
    data += blocks * SHA1_BLOCK_SIZE;
    length -= blocks * SHA1_BLOCK_SIZE;
    memcpy(hash->block, data, length);
    hash->block_used = (uint32_t)length;
}

static void put_state(uint8_t* digest, const uint32_t* state)
{
    for (int i = 0; i < 5; ++i)
        put_be32(digest + 4 * i, state[i]);
}

// Puts the bit count of `length` bytes into the last 8 bytes of a padded block.
static void put_bit_length(uint8_t* block, uint64_t length)
{
    put_be32(block + SHA1_LENGTH_OFFSET, (uint32_t)(length >> 29));
    put_be32(block + SHA1_LENGTH_OFFSET + 4, (uint32_t)(length << 3));
}

void sha1_finish(Sha1* hash, uint8_t* digest)
{
    uint8_t* block = hash->block;
    uint32_t used = hash->block_used;
    block[used++] = 0x80;
    if (used > SHA1_LENGTH_OFFSET) {
        memset(block + used, 0, SHA1_BLOCK_SIZE - used);
        compress(hash->state, block, 1);
        used = 0;
    }
    memset(block + used, 0, SHA1_LENGTH_OFFSET - used);
    put_bit_length(block, hash->length);
    compress(hash->state, block, 1);
    put_state(digest, hash->state);
}

// --- HMAC --------------------------------------------------------------------------------------

enum { HMAC_INNER_PAD = 0x36, HMAC_OUTER_PAD = 0x5C };

// The state after one block of the key XORed with pad.
static void compress_pad(uint32_t* state, const uint8_t* key_block, uint8_t pad)
{
    uint8_t block[SHA1_BLOCK_SIZE];
    for (int i = 0; i < SHA1_BLOCK_SIZE; ++i)
        block[i] = (uint8_t)(key_block[i] ^ pad);
    memcpy(state, SHA1_INITIAL, 5 * sizeof(uint32_t));
    compress(state, block, 1);
    wipe_memory(block, sizeof block);
}

// The inner hash back at the start of a message: just after the inner pad block.
static void restart_inner(HmacSha1* mac)
{
    memcpy(mac->inner.state, mac->inner_start, sizeof mac->inner.state);
    mac->inner.block_used = 0;
    mac->inner.length = SHA1_BLOCK_SIZE;
}

void hmac_sha1_start(HmacSha1* mac, const uint8_t* key, size_t key_length)
{
    uint8_t key_block[SHA1_BLOCK_SIZE] = {0};
    // A key longer than a block is replaced by its hash.
    if (key_length > SHA1_BLOCK_SIZE) {
        sha1_start(&mac->inner);
        sha1_add(&mac->inner, key, key_length);
        sha1_finish(&mac->inner, key_block);
    } else {
        memcpy(key_block, key, key_length);
    }
    compress_pad(mac->inner_start, key_block, HMAC_INNER_PAD);
    compress_pad(mac->outer_start, key_block, HMAC_OUTER_PAD);
    wipe_memory(key_block, sizeof key_block);
    restart_inner(mac);
}

void hmac_sha1_add(HmacSha1* mac, const uint8_t* data, size_t length)
{
    sha1_add(&mac->inner, data, length);
}

// The one block that hashes a 20-byte message behind a pad block: the message, 0x80, zeros
// and the bit count of 84 bytes.
static void pad_digest_block(uint8_t* block)
{
    memset(block + SHA1_DIGEST_SIZE, 0, SHA1_BLOCK_SIZE - SHA1_DIGEST_SIZE);
    block[SHA1_DIGEST_SIZE] = 0x80;
    put_bit_length(block, SHA1_BLOCK_SIZE + SHA1_DIGEST_SIZE);
}

// The outer hash over the inner digest that block holds, padded; the result back into block.
static void finish_outer(const uint32_t* outer_start, uint8_t* block)
{
    uint32_t state[5];
    memcpy(state, outer_start, sizeof state);
    compress(state, block, 1);
    put_state(block, state);
}

void hmac_sha1_finish(HmacSha1* mac, uint8_t* digest)
{
    uint8_t block[SHA1_BLOCK_SIZE];
    sha1_finish(&mac->inner, block);
    pad_digest_block(block);
    finish_outer(mac->outer_start, block);
    memcpy(digest, block, SHA1_DIGEST_SIZE);
}

// --- PBKDF2 ------------------------------------------------------------------------------------

// Block `index` of the derived key: U1 = HMAC(salt || index), Uj = HMAC(Uj-1), T = U1 ^ ... ^ Uc.
static void derive_block(HmacSha1* mac, const uint8_t* salt, size_t salt_length, uint32_t index, uint32_t iterations,
                         uint8_t* t)
{
    uint8_t u[SHA1_BLOCK_SIZE];
    uint8_t index_bytes[4];
    put_be32(index_bytes, index);
    restart_inner(mac);
    hmac_sha1_add(mac, salt, salt_length);
    hmac_sha1_add(mac, index_bytes, sizeof index_bytes);
    hmac_sha1_finish(mac, u);
    memcpy(t, u, SHA1_DIGEST_SIZE);
    pad_digest_block(u);
    for (uint32_t j = 1; j < iterations; ++j) {
        uint32_t state[5];
        memcpy(state, mac->inner_start, sizeof state);
        compress(state, u, 1);
        put_state(u, state);
        finish_outer(mac->outer_start, u);
        for (int i = 0; i < SHA1_DIGEST_SIZE; ++i)
            t[i] ^= u[i];
    }
    wipe_memory(u, sizeof u);
}

void pbkdf2_sha1(const uint8_t* password, size_t password_length, const uint8_t* salt, size_t salt_length,
                 uint32_t iterations, uint8_t* out, size_t out_length)
{
    HmacSha1 mac;
    hmac_sha1_start(&mac, password, password_length);
    for (uint32_t index = 1; out_length > 0; ++index) {
        uint8_t t[SHA1_DIGEST_SIZE];
        derive_block(&mac, salt, salt_length, index, iterations, t);
        size_t count = out_length < SHA1_DIGEST_SIZE ? out_length : (size_t)SHA1_DIGEST_SIZE;
        memcpy(out, t, count);
        wipe_memory(t, sizeof t);
        out += count;
        out_length -= count;
    }
    wipe_memory(&mac, sizeof mac);
}

void wipe_memory(void* memory, size_t size)
{
    volatile uint8_t* p = (volatile uint8_t*)memory;
    while (size-- > 0)
        *p++ = 0;
}

// Tried (x86-64, gcc 12 -O2, SHA-1 over 32 MiB; the stub's size limit decides):
// - One loop per round function instead of the eighty rounds in one loop: 486 MB/s against
//   about 330 MB/s, 156 bytes more in the stub.
// - Fully unrolled rounds (macros, five per step): 560-660 MB/s, but 1.7 KB more in the stub.
// - PBKDF2 with the key's four blocks side by side (their chains of compressions overlap in
//   the processor): 0.27 ms CPU per AES-256 key with the SHA extensions instead of 0.40, for
//   160 bytes more in the stub, which went to the keystream of chunks that end inside a
//   block (spanned archives).
