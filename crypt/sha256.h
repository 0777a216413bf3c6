// SHA-256 (FIPS 180-4): the digest a split package carries for each of its data volumes.
// Portable, no Win32: the stub checks the volumes with it, the builder writes their digests.
#ifndef TVSFX_SHA256_H
#define TVSFX_SHA256_H

#include <stddef.h>
#include <stdint.h>

enum { SHA256_BLOCK_SIZE = 64, SHA256_DIGEST_SIZE = 32 };

struct Sha256 {
    uint32_t state[8];
    uint8_t block[SHA256_BLOCK_SIZE];  // the bytes of a block not yet complete
    uint32_t block_used;
    uint64_t length;  // bytes hashed so far (sha256_finish adds its padding)
};

void sha256_start(Sha256* hash);
void sha256_add(Sha256* hash, const uint8_t* data, size_t length);
void sha256_finish(Sha256* hash, uint8_t* digest);

#endif
