// Integrity checks of the program's own file, run by start-up and the run sequence.
#ifndef TVSFX_SELFCHECK_H
#define TVSFX_SELFCHECK_H

#include <stdint.h>

// Verifies the CRC-32 of the stub part [0 or e_lfanew + 248, length) of the own file, with the
// record's stub_crc bytes counted as zero; returns only on success (else the header error).
void check_stub_crc(uint32_t length, uint32_t stored_crc, const uint8_t* marker);
// True when the file on disk carries the entry point the builder recorded.
bool check_entry_point();
// Verifies the end record's signature at end_record_offset; returns only on success.
void check_archive_end();

#endif
