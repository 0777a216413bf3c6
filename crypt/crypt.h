// Traditional PKWARE encryption of ZIP entries: the three-key stream cipher.
// Portable, no Win32: the stub decrypts with it, the builder encrypts with it.
#ifndef TVSFX_CRYPT_H
#define TVSFX_CRYPT_H

#include <stdint.h>

#include "zip_format.h"  // ENCRYPTION_HEADER_SIZE

extern uint32_t key0, key1, key2;

// Sets the keys from the password (crc_table must be built).
void init_keys(const char* password);
// Advances the keys with one plain byte.
void update_keys(uint8_t plain);
// The keystream byte for the next cipher byte.
uint8_t decrypt_byte();
// Decrypts length bytes in place, advancing the keys with each plain byte.
void decrypt_buffer(uint8_t* data, uint32_t length);
// Encrypts length bytes in place, advancing the keys with each plain byte.
void encrypt_buffer(uint8_t* data, uint32_t length);

#endif
