// CRC-32 of the ZIP format (reflected polynomial 0xEDB88320).
// Portable: used by the stub (stub checksum, entry data, cipher keys) and natively by tests.
#ifndef TVSFX_CRC32_H
#define TVSFX_CRC32_H

#include <stdint.h>

// Entry i is the CRC of the single byte i from a zero register. The cipher uses it directly.
extern uint32_t crc_table[256];
// Running register of update_crc: preset it to 0xFFFFFFFF, take its complement as the result.
extern uint32_t crc_register;

// True when update_crc folds with carry-less multiplication (set by build_crc_table when the
// processor has PCLMULQDQ and SSE4.1). The tests clear it to check the portable path.
extern bool crc_folding;

// Fills crc_table and the derived braid tables, and picks the folding path where the
// processor has it. Called once at start-up.
void build_crc_table();
// Advances crc_register over len bytes; same result as the byte-wise table update.
void update_crc(const uint8_t* data, uint32_t len);

#endif
