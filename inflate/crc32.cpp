// CRC-32 of the ZIP format: reflected polynomial 0xEDB88320, register preset to 0xFFFFFFFF by
// the users, result complemented by them.
//
// The update is slicing-by-8: eight table lookups per eight bytes instead of one per byte,
// which makes the CRC of the output cost a fraction of the decoding instead of about as much.
// The seven extra tables are derived from crc_table at start-up, so they cost no image bytes.
#include "crc32.h"

#include <string.h>

uint32_t crc_table[256];
uint32_t crc_register;

// crc_slices[k][i]: the register after byte i followed by k + 1 zero bytes, from a zero register.
static uint32_t crc_slices[7][256];

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
        for (int k = 0; k < 7; ++k) {
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
    for (; len >= 8; len -= 8, data += 8) {
        uint32_t low = load_le32(data) ^ crc;
        uint32_t high = load_le32(data + 4);
        crc = crc_slices[6][low & 0xFF] ^ crc_slices[5][(low >> 8) & 0xFF] ^
              crc_slices[4][(low >> 16) & 0xFF] ^ crc_slices[3][low >> 24] ^
              crc_slices[2][high & 0xFF] ^ crc_slices[1][(high >> 8) & 0xFF] ^
              crc_slices[0][(high >> 16) & 0xFF] ^ crc_table[high >> 24];
    }
    for (; len > 0; --len)
        crc = crc_table[(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    crc_register = crc;
}
