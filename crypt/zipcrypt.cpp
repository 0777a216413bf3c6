// The traditional PKWARE stream cipher. Its key update steps a CRC-32 register, so it uses
// the same table as the entry checksum.
#include "crypt.h"

#include "crc32.h"

uint32_t key0, key1, key2;

static uint32_t crc_step(uint32_t crc, uint8_t byte)
{
    return crc_table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

void update_keys(uint8_t plain)
{
    key0 = crc_step(key0, plain);
    key1 = (key1 + (key0 & 0xFF)) * 134775813u + 1;
    key2 = crc_step(key2, (uint8_t)(key1 >> 24));
}

void init_keys(const char* password)
{
    key0 = 305419896u;
    key1 = 591751049u;
    key2 = 878082192u;
    for (const char* p = password; *p; ++p)
        update_keys((uint8_t)*p);
}

// The product stays in 32 bits: temp is below 2^16, so temp * (temp ^ 1) cannot overflow.
uint8_t decrypt_byte()
{
    uint32_t temp = (key2 & 0xFFFF) | 2;
    return (uint8_t)((temp * (temp ^ 1)) >> 8);
}

void decrypt_buffer(uint8_t* data, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i) {
        data[i] ^= decrypt_byte();
        update_keys(data[i]);
    }
}

void encrypt_buffer(uint8_t* data, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i) {
        uint8_t plain = data[i];
        data[i] = plain ^ decrypt_byte();
        update_keys(plain);
    }
}
