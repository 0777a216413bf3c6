// CRC-32 of the ZIP format: reflected polynomial 0xEDB88320, register preset to 0xFFFFFFFF by
// the users, result complemented by them.
//
// Three ways, the fastest the processor has chosen once by build_crc_table:
// - wide folding (VPCLMULQDQ on 256-bit registers, with AVX2 and the system saving their state):
//   four 256-bit lanes folded 128 bytes per step, then folded down to 128 bits;
// - folding with carry-less multiplication (PCLMULQDQ): four 128-bit lanes folded 64 bytes
//   per step;
//   both end with the reduction of 128 bits to 32 (Barrett). Several times the speed of any
//   table method.
// - braiding (Kadatch and Jenkins, as zlib does it) everywhere else: the data is read as BRAID_LANES
//   interleaved lanes of machine words; each lane's register skips the other lanes' words in
//   one step through braid_tables, so the lanes' table lookups do not wait for each other. The
//   last block of words and the tail go serially. The braid tables (4 or 8 KiB) are derived
//   from crc_table at start-up: no image bytes.
#include "crc32.h"

#include <string.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define CRC_HAVE_FOLDING 1
#endif

uint32_t crc_table[256];
uint32_t crc_register;
CrcMethod crc_method;
int system_saves_simd_state = 1;

enum : uint32_t { CRC_POLYNOMIAL = 0xEDB88320u };

// --- braided update ----------------------------------------------------------------------------

typedef size_t CrcWord;  // 4 bytes on the 32-bit stub, 8 natively
// Six lanes of 8-byte words measured best natively (see Tried); the 32-bit build keeps zlib's
// five lanes of 4-byte words, which leave registers for the table index arithmetic.
enum {
    WORD_BYTES = sizeof(CrcWord),
    BRAID_LANES = WORD_BYTES == 8 ? 6 : 5,
    BRAID_BLOCK = BRAID_LANES * WORD_BYTES,
};

// braid_tables[k][b]: the register after byte b at position k of a word, followed by the rest
// of that word and the other lanes' words (BRAID_LANES - 1 of them) as zeros, from a zero
// register.
static uint32_t braid_tables[WORD_BYTES][256];

static inline uint32_t shift_zero_byte(uint32_t crc)
{
    return (crc >> 8) ^ crc_table[crc & 0xFF];
}

static inline CrcWord load_word(const uint8_t* p)
{
    CrcWord word;
    memcpy(&word, p, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#error "the braided CRC reads little-endian words"
#endif
    return word;
}

// The register after the bytes of word (a register already XORed in), from a zero register.
static inline uint32_t crc_of_word(CrcWord word)
{
    for (int k = 0; k < WORD_BYTES; ++k)
        word = (word >> 8) ^ crc_table[word & 0xFF];
    return (uint32_t)word;
}

// The four table lookups of one 32-bit half of a word, tables k0 .. k0 + 3. Taking the word as
// 32-bit halves lets the compiler take bytes with byte-register moves instead of 64-bit shifts.
static inline uint32_t braid_half(uint32_t half, int k0)
{
    return braid_tables[k0][half & 0xFF] ^ braid_tables[k0 + 1][(half >> 8) & 0xFF] ^
           braid_tables[k0 + 2][(half >> 16) & 0xFF] ^ braid_tables[k0 + 3][half >> 24];
}

// One lane's step: the register after the word's bytes, with the other lanes' words as zeros.
static inline uint32_t braid_step(CrcWord word)
{
    uint32_t crc = braid_half((uint32_t)word, 0);
    if (WORD_BYTES == 8)
        crc ^= braid_half((uint32_t)((uint64_t)word >> 32), 4);
    return crc;
}

// The lane loop is unrolled by hand (pragma) so that the stub's -O2 build gets the code an -O3
// build would: rolled, the lanes live in memory and the update runs at a third of the speed.
static uint32_t update_braided(uint32_t crc, const uint8_t* data, uint32_t len)
{
    uint32_t blocks = len / BRAID_BLOCK;
    if (blocks > 1) {
        uint32_t lane[BRAID_LANES] = {crc};
        for (uint32_t i = 1; i < blocks; ++i, data += BRAID_BLOCK) {
#pragma GCC unroll 8
            for (int j = 0; j < BRAID_LANES; ++j)
                lane[j] = braid_step(lane[j] ^ load_word(data + j * WORD_BYTES));
        }
        // The last block joins the lanes, one word after the other.
        crc = 0;
        for (int j = 0; j < BRAID_LANES; ++j)
            crc = crc_of_word(crc ^ lane[j] ^ load_word(data + j * WORD_BYTES));
        data += BRAID_BLOCK;
        len -= blocks * BRAID_BLOCK;
    }
    for (; len > 0; --len)
        crc = crc_table[(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    return crc;
}

// --- folding with carry-less multiplication ----------------------------------------------------

#ifdef CRC_HAVE_FOLDING
// Fold constants x^k mod P (bit-reflected, shifted by one) for the reflected polynomial, as in
// Intel's paper "Fast CRC Computation for Generic Polynomials Using PCLMULQDQ": folding a lane
// forward by d bits takes x^(d+32) for its low and x^(d-32) for its high 64 bits.
//   x^(1024+32), x^(1024-32): fold 128 bytes     x^(256+32), x^(256-32): fold 32 bytes
//   x^(512+32), x^(512-32): fold 64 bytes        x^(128+32), x^(128-32): fold 16 bytes
//   x^64: 128 to 64 bits                         P' and mu: Barrett reduction to 32 bits
#define FOLD_TARGET __attribute__((target("pclmul,sse4.1")))
#define WIDE_FOLD_TARGET __attribute__((target("vpclmulqdq,avx2,pclmul,sse4.1")))
#define FOLD_CONSTANTS(low, high) (long long)(high), (long long)(low)

FOLD_TARGET static inline __m128i fold_lane(__m128i lane, __m128i constants, __m128i data)
{
    __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
    __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), data);
}

FOLD_TARGET static inline __m128i load_128(const uint8_t* p) { return _mm_loadu_si128((const __m128i*)p); }

// Folds the 16-byte steps left in len (a multiple of 16) into x1, then reduces 128 bits to 64
// and those by Barrett reduction to 32.
FOLD_TARGET static inline uint32_t finish_folding(__m128i x1, const uint8_t* data, uint32_t len)
{
    const __m128i fold_16 = _mm_set_epi64x(FOLD_CONSTANTS(0x01751997d0, 0x00ccaa009e));
    const __m128i fold_8 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i barrett = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low_32 = _mm_setr_epi32(~0, 0, ~0, 0);
    for (; len >= 16; len -= 16, data += 16)
        x1 = fold_lane(x1, fold_16, load_128(data));

    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, fold_16, 0x10));
    x = _mm_xor_si128(_mm_srli_si128(x, 4), _mm_clmulepi64_si128(_mm_and_si128(x, low_32), fold_8, 0x00));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low_32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low_32), barrett, 0x00);
    return (uint32_t)_mm_extract_epi32(_mm_xor_si128(x, t), 1);
}

// len >= 64 and a multiple of 16.
FOLD_TARGET static uint32_t update_folded(uint32_t crc, const uint8_t* data, uint32_t len)
{
    const __m128i fold_64 = _mm_set_epi64x(FOLD_CONSTANTS(0x0154442bd4, 0x01c6e41596));
    const __m128i fold_16 = _mm_set_epi64x(FOLD_CONSTANTS(0x01751997d0, 0x00ccaa009e));

    __m128i x1 = _mm_xor_si128(load_128(data), _mm_cvtsi32_si128((int)crc));
    __m128i x2 = load_128(data + 16), x3 = load_128(data + 32), x4 = load_128(data + 48);
    for (data += 64, len -= 64; len >= 64; len -= 64, data += 64) {
        x1 = fold_lane(x1, fold_64, load_128(data));
        x2 = fold_lane(x2, fold_64, load_128(data + 16));
        x3 = fold_lane(x3, fold_64, load_128(data + 32));
        x4 = fold_lane(x4, fold_64, load_128(data + 48));
    }
    x1 = fold_lane(x1, fold_16, x2);
    x1 = fold_lane(x1, fold_16, x3);
    x1 = fold_lane(x1, fold_16, x4);
    return finish_folding(x1, data, len);
}

WIDE_FOLD_TARGET static inline __m256i fold_wide_lane(__m256i lane, __m256i constants, __m256i data)
{
    __m256i low = _mm256_clmulepi64_epi128(lane, constants, 0x00);
    __m256i high = _mm256_clmulepi64_epi128(lane, constants, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(low, high), data);
}

WIDE_FOLD_TARGET static inline __m256i load_256(const uint8_t* p) { return _mm256_loadu_si256((const __m256i*)p); }

// len >= 128 and a multiple of 16. The same folding with each instruction on two 128-bit
// halves at once: four 256-bit lanes, 128 bytes per step.
WIDE_FOLD_TARGET static uint32_t update_folded_wide(uint32_t crc, const uint8_t* data, uint32_t len)
{
    const __m256i fold_128 = _mm256_set_epi64x(FOLD_CONSTANTS(0x01e88ef372, 0x014a7fe880),
                                               FOLD_CONSTANTS(0x01e88ef372, 0x014a7fe880));
    const __m256i fold_32 = _mm256_set_epi64x(FOLD_CONSTANTS(0x00f1da05aa, 0x015a546366),
                                              FOLD_CONSTANTS(0x00f1da05aa, 0x015a546366));
    const __m128i fold_16 = _mm_set_epi64x(FOLD_CONSTANTS(0x01751997d0, 0x00ccaa009e));

    __m256i x1 = _mm256_xor_si256(load_256(data), _mm256_zextsi128_si256(_mm_cvtsi32_si128((int)crc)));
    __m256i x2 = load_256(data + 32), x3 = load_256(data + 64), x4 = load_256(data + 96);
    for (data += 128, len -= 128; len >= 128; len -= 128, data += 128) {
        x1 = fold_wide_lane(x1, fold_128, load_256(data));
        x2 = fold_wide_lane(x2, fold_128, load_256(data + 32));
        x3 = fold_wide_lane(x3, fold_128, load_256(data + 64));
        x4 = fold_wide_lane(x4, fold_128, load_256(data + 96));
    }
    x1 = fold_wide_lane(x1, fold_32, x2);
    x1 = fold_wide_lane(x1, fold_32, x3);
    x1 = fold_wide_lane(x1, fold_32, x4);
    for (; len >= 32; len -= 32, data += 32)
        x1 = fold_wide_lane(x1, fold_32, load_256(data));
    __m128i x = fold_lane(_mm256_castsi256_si128(x1), fold_16, _mm256_extracti128_si256(x1, 1));
    return finish_folding(x, data, len);
}

// The register state the system saves on a task switch (XCR0): SSE and AVX both, or 256-bit
// registers must not be used.
static bool system_saves_avx_state()
{
    uint32_t low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & 6) == 6;
}

static CrcMethod fastest_crc_method()
{
    unsigned int a, b, c, d;
    if (!system_saves_simd_state || !__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_PCLMUL) || !(c & bit_SSE4_1))
        return CRC_BY_TABLES;
    bool avx_usable = (c & bit_OSXSAVE) && (c & bit_AVX) && system_saves_avx_state();
    if (avx_usable && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2) && (c & bit_VPCLMULQDQ))
        return CRC_FOLDING_WIDE;
    return CRC_FOLDING;
}
#endif

// --- tables and entry point --------------------------------------------------------------------

void build_crc_table()
{
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? (value >> 1) ^ CRC_POLYNOMIAL : value >> 1;
        crc_table[i] = value;
    }
    for (uint32_t b = 0; b < 256; ++b) {
        for (int k = 0; k < WORD_BYTES; ++k) {
            uint32_t value = crc_table[b];
            for (int zeros = WORD_BYTES - 1 - k + (BRAID_LANES - 1) * WORD_BYTES; zeros > 0; --zeros)
                value = shift_zero_byte(value);
            braid_tables[k][b] = value;
        }
    }
#ifdef CRC_HAVE_FOLDING
    crc_method = fastest_crc_method();
#endif
}

void update_crc(const uint8_t* data, uint32_t len)
{
    uint32_t crc = crc_register;
#ifdef CRC_HAVE_FOLDING
    uint32_t folded = len & ~15u;
    if (crc_method == CRC_FOLDING_WIDE && len >= 128)
        crc = update_folded_wide(crc, data, folded);
    else if (crc_method != CRC_BY_TABLES && len >= 64)
        crc = update_folded(crc, data, folded);
    else
        folded = 0;
    data += folded;
    len -= folded;
#endif
    crc_register = update_braided(crc, data, len);
}

// Tried (x86-64, gcc 12 -O2, 8 MB of C headers in 28,672-byte pieces, best of 12, MB/s, zlib
// 1.2.13's braided crc32 in the same runs):
// - Slicing-by-16 (the earlier update, 16 KiB of tables): 3,295-3,370 vs zlib 5,712-5,922.
// - Braided, lanes of machine words: 3 lanes 5,220 (zlib 5,845), 4 lanes 5,391 (5,697), 5 lanes
//   5,130 (5,824), 6 lanes 3,940 (4,245), 8 lanes 5,504 (5,768): within noise of each other at
//   0.88-0.95 of zlib. Folding: 12,400-14,360, 2.4-2.95 times zlib.
// - The braided lane loop rolled, as the stub's -O2 builds it: 1,380-1,820, 0.23-0.30 of zlib
//   (the -O3 host build had unrolled it, so only the benchmark saw 0.90). Unrolled by pragma:
//   -O2 and -O3 alike.
// - Words taken as 32-bit halves (byte-register moves), lanes unrolled (random data): 4 lanes
//   0.99-1.00 of zlib, 5 lanes 0.95-0.99, 6 lanes 1.02, 8 lanes 1.00-1.02; in the benchmark
//   (text) 6 lanes 5,871-5,903 vs zlib 5,927-5,973 (0.99), 4 lanes 1.00, 8 lanes 0.99. Kept 6:
//   the table method is at zlib's speed, as its byte lookups are the same per byte.
// - Eight 128-bit folding lanes (128 bytes per step) instead of four: 14,669 vs 14,734, no gain:
//   the carry-less multiplications' throughput is the limit, not their latency.
// - 256-bit lanes (VPCLMULQDQ, kept): 28,200-29,250, 4.8 times zlib; 512-bit lanes (AVX-512):
//   57,200-57,700, 9.5 times, not kept: the 256-bit path already runs far ahead of the decoder,
//   and AVX-512 would add a third state check and a fourth method to test.
