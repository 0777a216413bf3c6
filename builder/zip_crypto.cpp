#include "zip_crypto.h"

#include <random>
#include <zlib.h>

namespace {

// One step of the CRC-32 register with the ZIP polynomial; zlib's table is that one.
uint32_t crc_step(uint32_t crc, uint8_t byte)
{
    static const z_crc_t* table = get_crc_table();
    return uint32_t(table[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}

void update_keys(ZipCipher& c, uint8_t plain)
{
    c.key0 = crc_step(c.key0, plain);
    c.key1 = (c.key1 + (c.key0 & 0xFF)) * 134775813u + 1;
    c.key2 = crc_step(c.key2, uint8_t(c.key1 >> 24));
}

uint8_t keystream_byte(const ZipCipher& c)
{
    uint16_t temp = uint16_t(c.key2 | 2);
    return uint8_t((temp * (temp ^ 1)) >> 8);
}

}  // namespace

void init_cipher(ZipCipher& cipher, const std::string& password)
{
    cipher = ZipCipher{0x12345678u, 0x23456789u, 0x34567890u};
    for (unsigned char c : password)
        update_keys(cipher, c);
}

void encrypt_bytes(ZipCipher& cipher, uint8_t* data, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        uint8_t plain = data[i];
        data[i] = plain ^ keystream_byte(cipher);
        update_keys(cipher, plain);
    }
}

std::array<uint8_t, ENCRYPTION_HEADER_SIZE> make_encryption_header(ZipCipher& cipher, const std::string& password,
                                                                  uint8_t check_byte)
{
    // The random bytes only have to differ between entries and runs so that equal data
    // does not encrypt equally; std::random_device reads the system's entropy source.
    static std::random_device entropy;
    std::array<uint8_t, ENCRYPTION_HEADER_SIZE> header;
    for (size_t i = 0; i + 1 < header.size(); ++i)
        header[i] = uint8_t(entropy());
    header.back() = check_byte;
    init_cipher(cipher, password);
    encrypt_bytes(cipher, header.data(), header.size());
    return header;
}
