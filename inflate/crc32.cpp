// CRC-32 of the ZIP format: reflected polynomial 0xEDB88320, register preset to 0xFFFFFFFF by
// the users, result complemented by them.
//
// The update is slicing-by-16: sixteen independent table lookups per sixteen bytes instead of
// a chain of one per byte, which makes the CRC of the output cost a fraction of the decoding
// instead of about as much. The fifteen extra tables (15 KiB) are derived from crc_table at
// start-up, so they cost no image bytes.
#include "crc32.h"

#include <string.h>

uint32_t crc_table[256];
uint32_t crc_register;

// crc_slices[k][i]: the register after byte i followed by k + 1 zero bytes, from a zero register.
enum { CRC_SLICES = 15 };
static uint32_t crc_slices[CRC_SLICES][256];

enum : uint32_t { CRC_POLYNOMIAL = 0xEDB88320u };

void build_crc_table()
{
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? (value >> 1) ^ CRC_POLYNOMIAL : value >> 1;
        crc_table[i] = value;
    }
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = crc_table[i];
        for (int k = 0; k < CRC_SLICES; ++k) {
            value = (value >> 8) ^ crc_table[value & 0xFF];
            crc_slices[k][i] = value;
        }
    }
}

static inline uint32_t load_le32(const uint8_t* p)
{
    uint32_t value;
    memcpy(&value, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    value = __builtin_bswap32(value);
#endif
    return value;
}

void update_crc(const uint8_t* data, uint32_t len)
{
    uint32_t crc = crc_register;
    for (; len >= 16; len -= 16, data += 16) {
        uint32_t w0 = load_le32(data) ^ crc;
        uint32_t w1 = load_le32(data + 4);
        uint32_t w2 = load_le32(data + 8);
        uint32_t w3 = load_le32(data + 12);
        crc = crc_slices[14][w0 & 0xFF] ^ crc_slices[13][(w0 >> 8) & 0xFF] ^
              crc_slices[12][(w0 >> 16) & 0xFF] ^ crc_slices[11][w0 >> 24] ^
              crc_slices[10][w1 & 0xFF] ^ crc_slices[9][(w1 >> 8) & 0xFF] ^
              crc_slices[8][(w1 >> 16) & 0xFF] ^ crc_slices[7][w1 >> 24] ^
              crc_slices[6][w2 & 0xFF] ^ crc_slices[5][(w2 >> 8) & 0xFF] ^
              crc_slices[4][(w2 >> 16) & 0xFF] ^ crc_slices[3][w2 >> 24] ^
              crc_slices[2][w3 & 0xFF] ^ crc_slices[1][(w3 >> 8) & 0xFF] ^
              crc_slices[0][(w3 >> 16) & 0xFF] ^ crc_table[w3 >> 24];
    }
    for (; len > 0; --len)
        crc = crc_table[(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    crc_register = crc;
}
