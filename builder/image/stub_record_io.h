// Finding and filling the stub's StubRecord, and the stub checksum it carries.
#ifndef TVSFX_STUB_RECORD_IO_H
#define TVSFX_STUB_RECORD_IO_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "format/stub_record.h"

// The values the builder decides; the marker stays as compiled, the reserved fields get
// the fixed values 0, 8, 0 and `complete` 0xFFFF.
struct RecordValues {
    uint32_t archive_offset;
    uint32_t config_offset;
    uint32_t end_record_offset;
    uint64_t total_size;  // written as total_size and total_size_high
    uint32_t flags;
    uint32_t entry_point;
    bool with_stub_crc;  // false writes stub_crc 0, which the stub takes as "not checked"
    uint32_t license_offset = 0;  // the licence text's stored form; 0 = no licence page
    uint32_t license_size = 0;
};

// A licence text of `size` stored bytes at `offset` (none when size is 0).
void set_license_location(RecordValues& values, uint32_t offset, uint32_t size);

// Offset of the first occurrence of the marker in data[0, size), or -1. The stub takes the
// first occurrence too, so both always agree on which bytes are the record.
long find_stub_marker(const uint8_t* data, size_t size);

// Fills the record at `record_offset` of the stub part (file bytes 0 up to archive_offset;
// its size is the checksum's length). stub_crc is computed last, over the final bytes.
void fill_stub_record(std::vector<uint8_t>& stub_part, size_t record_offset, const RecordValues& values);

// CRC-32 over stub_part from its start position to its end, with the 4 stub_crc bytes of
// the record at `record_offset` counted as zero. The start is e_lfanew + 248 when
// SFX_CRC_AFTER_HEADERS is set in `flags`, else 0.
uint32_t compute_stub_crc(const std::vector<uint8_t>& stub_part, size_t record_offset, uint32_t flags);

// "SFX_OVERWRITE | SFX_AUTO | 0x00010000": known bits by name, the rest in hex.
std::string describe_flags(uint32_t flags);

// The language the flags choose, as --language names it: "de", "en" or "auto".
const char* language_name(uint32_t flags);

struct FlagName {
    uint32_t mask;
    const char* name;    // the SFX_ name
    const char* option;  // the builder's option that sets it, without the dashes
};
extern const FlagName flag_names[];
extern const size_t flag_name_count;

#endif
