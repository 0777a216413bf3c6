// SHA-1, HMAC-SHA1 and PBKDF2-HMAC-SHA1: the key derivation and the authentication code of
// AES-encrypted ZIP entries. Portable, no Win32: the stub and the builder both use it.
#ifndef TVSFX_SHA1_H
#define TVSFX_SHA1_H

#include <stddef.h>
#include <stdint.h>

enum { SHA1_BLOCK_SIZE = 64, SHA1_DIGEST_SIZE = 20 };

struct Sha1 {
    uint32_t state[5];
    uint8_t block[SHA1_BLOCK_SIZE];  // the bytes of a block not yet complete
    uint32_t block_used;
    uint64_t length;  // bytes hashed so far
};

// How blocks are compressed; build_sha1_method picks the fastest the processor allows.
enum Sha1Method : uint8_t {
    SHA1_PORTABLE,          // eighty rounds in plain integer code: any processor
    SHA1_BY_INSTRUCTIONS,   // SHA extensions (SHA-NI with SSSE3 and SSE4.1)
};
extern Sha1Method sha1_method;
// Sets sha1_method once (after system_saves_simd_state is settled, crc32.h).
void build_sha1_method();

void sha1_start(Sha1* hash);
void sha1_add(Sha1* hash, const uint8_t* data, size_t length);
void sha1_finish(Sha1* hash, uint8_t* digest);

// HMAC-SHA1 with the key's inner and outer pads already compressed, so a message costs only
// its own blocks and one outer block.
struct HmacSha1 {
    Sha1 inner;                 // runs over the message
    uint32_t inner_start[5];    // state after the inner pad
    uint32_t outer_start[5];    // state after the outer pad
};

void hmac_sha1_start(HmacSha1* mac, const uint8_t* key, size_t key_length);
void hmac_sha1_add(HmacSha1* mac, const uint8_t* data, size_t length);
void hmac_sha1_finish(HmacSha1* mac, uint8_t* digest);

// PBKDF2 (RFC 8018) with HMAC-SHA1: fills out[0..out_length) from password and salt.
void pbkdf2_sha1(const uint8_t* password, size_t password_length, const uint8_t* salt, size_t salt_length,
                 uint32_t iterations, uint8_t* out, size_t out_length);

// Overwrites memory with zeros in a way the compiler cannot drop as a dead store.
void wipe_memory(void* memory, size_t size);

#endif
