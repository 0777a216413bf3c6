// The AES block cipher, forward direction only: counter mode encrypts and decrypts with the
// same forward cipher, so no inverse tables or inverse key schedule exist.
// Portable, no Win32: the stub decrypts with it, the builder encrypts with it.
#ifndef TVSFX_AES_H
#define TVSFX_AES_H

#include <stddef.h>
#include <stdint.h>

enum { AES_BLOCK_SIZE = 16, AES_MAX_ROUNDS = 14, AES_MAX_KEY_SIZE = 32 };

// An expanded key. A round key word holds four key bytes in memory order (byte 0 in bits
// 0..7), so the schedule's bytes lie in memory exactly as the AES instructions load them.
struct AesKey {
    uint32_t words[4 * (AES_MAX_ROUNDS + 1)];
    uint32_t rounds;  // 10, 12 or 14 for keys of 16, 24 or 32 bytes
};

// How blocks are encrypted; choose_aes_method picks the fastest the processor and system
// allow. The tests and the benchmark step down to the table method.
enum AesMethod : uint8_t {
    AES_BY_TABLES,        // four 1 KiB round tables: any processor
    AES_BY_INSTRUCTIONS,  // AES-NI
};
extern AesMethod aes_method;

// Builds the S-box and the round tables (no image bytes) and sets aes_method. Once, before
// the first key.
void build_aes_tables();
// Expands a key of 16, 24 or 32 bytes.
void aes_expand_key(AesKey* key, const uint8_t* bytes, uint32_t size);
// Encrypts one 16-byte block (in and out may be the same).
void aes_encrypt_block(const AesKey* key, const uint8_t* in, uint8_t* out);
// Counter mode: XORs data with the encrypted counter blocks counter, counter + 1, ...; the
// counter block is the 32-bit counter in little-endian order followed by twelve zero bytes.
// length is a multiple of 16 except for the last call of a stream. Returns the next counter.
uint32_t aes_xor_counter_blocks(const AesKey* key, uint32_t counter, uint8_t* data, size_t length);

#endif
