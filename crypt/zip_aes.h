// The AES encryption of ZIP entries (method 99 with the 0x9901 extra field, zip_format.h):
// key derivation from password and salt, counter-mode encryption, and the authentication code
// over the encrypted data. Portable, no Win32: the stub decrypts with it, the builder
// encrypts with it, `tvsfx test` checks with it.
#ifndef TVSFX_ZIP_AES_H
#define TVSFX_ZIP_AES_H

#include <stddef.h>
#include <stdint.h>

#include "aes.h"
#include "sha1.h"
#include "zip_format.h"

// PBKDF2-HMAC-SHA1 iterations the format fixes.
enum { AES_KEY_ITERATIONS = 1000 };

// The cipher state of one entry. Its keys are secret: zip_aes_wipe clears them after the entry.
struct ZipAes {
    AesKey key;
    HmacSha1 mac;  // over the encrypted data
    uint32_t counter;  // the next counter block; the first is 1
    // The keystream block a chunk ended inside (a spanned archive's chunk ends where its disk
    // does): the next chunk goes on with its bytes from stream_used; 16 when none is left.
    uint8_t stream[AES_BLOCK_SIZE];
    uint32_t stream_used;
};

// Derives the entry's AES key, authentication key and 2-byte password verifier from the
// password and the salt (aes_salt_size(strength) bytes); strength 1..3. The caller compares
// the verifier with the stored one (or stores it) before any data is touched.
void zip_aes_start(ZipAes* aes, const uint8_t* password, size_t password_length, uint32_t strength,
                   const uint8_t* salt, uint8_t* verifier);
// Decrypts in place, adding the encrypted bytes to the code first. Chunks of any length
// continue each other.
void zip_aes_decrypt(ZipAes* aes, uint8_t* data, size_t length);
// Encrypts in place, then adds the encrypted bytes to the code.
void zip_aes_encrypt(ZipAes* aes, uint8_t* data, size_t length);
// The entry's authentication code (AES_CODE_SIZE bytes).
void zip_aes_finish(ZipAes* aes, uint8_t* code);
// True when two codes are equal; takes the same time wherever they differ.
bool zip_aes_codes_equal(const uint8_t* a, const uint8_t* b);
// Clears the keys and round keys.
void zip_aes_wipe(ZipAes* aes);

// Builds the AES and SHA-1 tables and chooses their methods; once, before the first entry.
void build_zip_aes();

#endif
