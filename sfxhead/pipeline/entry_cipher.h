// The cipher state of the current entry: the traditional cipher's keys (crypt.h) or an AES
// entry's keys, from the password check in front of its data to the end of its data.
#ifndef TVSFX_ENTRY_CIPHER_H
#define TVSFX_ENTRY_CIPHER_H

#include <stdint.h>

// Reads the AES entry's salt and verifier at the archive position, takes them and the code
// off the compressed size, and derives the keys from the password; true when the verifier
// matches. A wrong password leaves no keys behind.
bool start_entry_cipher(const char* password);
// Decrypts a chunk of the current entry's data in place, with the cipher the entry uses.
void decrypt_entry_chunk(uint8_t* data, uint32_t length);
// Compares the AES entry's code, read from behind its data, with the one computed over the
// data; wipes the keys either way. True when they match.
bool aes_code_matches(const uint8_t* stored_code);
// Clears the AES keys (after an entry that ended early).
void wipe_entry_keys();

#endif
