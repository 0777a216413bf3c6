// CRC-32 of the ZIP format (reflected polynomial 0xEDB88320).
// Portable: used by the stub (stub checksum, entry data, cipher keys) and natively by tests.
#ifndef TVSFX_CRC32_H
#define TVSFX_CRC32_H

#include <stdint.h>

// Entry i is the CRC of the single byte i from a zero register. The cipher uses it directly.
extern uint32_t crc_table[256];
// Running register of update_crc: preset it to 0xFFFFFFFF, take its complement as the result.
extern uint32_t crc_register;

// How update_crc works; build_crc_table picks the fastest the processor has. Each method gives
// the same register; the tests and the benchmark step down through the slower ones.
enum CrcMethod : uint8_t {
    CRC_BY_TABLES,     // braided table lookups: any processor
    CRC_FOLDING,       // carry-less multiplication (PCLMULQDQ, SSE4.1)
    CRC_FOLDING_WIDE,  // the same on 256-bit registers (VPCLMULQDQ, AVX2)
};
extern CrcMethod crc_method;

// Whether the system saves the SSE registers on a task switch (Windows 95 and NT 4 never do:
// there the first such instruction faults). 1 unless the embedding program knows better and
// clears it before build_crc_table; the AES and SHA-1 choosers read it too.
extern int system_saves_simd_state;

// Fills crc_table and the derived braid tables, and sets crc_method to the fastest the
// processor and system allow. Called once at start-up.
void build_crc_table();
// Advances crc_register over len bytes; same result as the byte-wise table update.
void update_crc(const uint8_t* data, uint32_t len);

#endif
