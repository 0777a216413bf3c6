// CRC-32 of the ZIP format (reflected polynomial 0xEDB88320).
// Portable: used by the stub (stub checksum, entry data, cipher keys) and natively by tests.
#ifndef TVSFX_CRC32_H
#define TVSFX_CRC32_H

#include <stdint.h>

// Entry i is the CRC of the single byte i from a zero register. The cipher uses it directly.
extern uint32_t crc_table[256];
// Running register of update_crc: preset it to 0xFFFFFFFF, take its complement as the result.
extern uint32_t crc_register;

// Fills crc_table (and the derived tables of the sliced update). Called once at start-up.
void build_crc_table();
// Advances crc_register over len bytes; same result as the byte-wise table update.
void update_crc(const uint8_t* data, uint32_t len);

#endif
