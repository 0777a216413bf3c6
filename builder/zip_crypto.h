// Traditional PKWARE encryption (the "ZipCrypto" stream cipher of the ZIP application note),
// the only encryption the stub can undo.
#ifndef TVSFX_ZIP_CRYPTO_H
#define TVSFX_ZIP_CRYPTO_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

enum { ENCRYPTION_HEADER_SIZE = 12 };

struct ZipCipher {
    uint32_t key0;
    uint32_t key1;
    uint32_t key2;
};

void init_cipher(ZipCipher& cipher, const std::string& password);
void encrypt_bytes(ZipCipher& cipher, uint8_t* data, size_t size);

// The 12-byte header that starts an encrypted entry: 11 random bytes and the check byte,
// encrypted with a freshly initialised cipher, which then continues with the entry's data.
std::array<uint8_t, ENCRYPTION_HEADER_SIZE> make_encryption_header(ZipCipher& cipher, const std::string& password,
                                                                  uint8_t check_byte);

#endif
