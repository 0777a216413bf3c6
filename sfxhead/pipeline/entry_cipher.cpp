// The current entry's cipher: the chunks the pipeline reads are decrypted here, by the
// traditional cipher or by AES, whose keys are wiped when the entry ends.
#include "entry_cipher.h"

#include <string.h>

#include "byte_order.h"
#include "crypt.h"
#include "globals.h"
#include "reader.h"
#include "zip_aes.h"

static ZipAes aes_keys;

bool start_entry_cipher(const char* password)
{
    uint8_t header[AES_MAX_SALT_SIZE + AES_VERIFIER_SIZE];
    UINT header_size = aes_salt_size(entry_aes_strength) + AES_VERIFIER_SIZE;
    if (_lread(archive_handle, header, header_size) != header_size)
        report_read_error(READ_ERROR_ENCRYPTION_HEADER);
    entry_header.compressed_size -= aes_overhead(entry_aes_strength);
    uint8_t verifier[AES_VERIFIER_SIZE];
    zip_aes_start(&aes_keys, (const uint8_t*)password, strlen(password), entry_aes_strength, header, verifier);
    static_assert(AES_VERIFIER_SIZE == 2, "the verifier compares as one 16-bit value");
    if (get_u16(verifier) == get_u16(header + aes_salt_size(entry_aes_strength)))
        return true;
    wipe_entry_keys();
    return false;
}

void decrypt_entry_chunk(uint8_t* data, uint32_t length)
{
    if (entry_aes_strength != 0)
        zip_aes_decrypt(&aes_keys, data, length);
    else
        decrypt_buffer(data, length);
}

bool aes_code_matches(const uint8_t* stored_code)
{
    uint8_t code[AES_CODE_SIZE];
    zip_aes_finish(&aes_keys, code);
    wipe_entry_keys();
    return zip_aes_codes_equal(code, stored_code);
}

void wipe_entry_keys()
{
    zip_aes_wipe(&aes_keys);
}
