// Split packages: NAME.exe holds the stub and the configuration, the archive lies in data
// volumes beside it (NAME.z01, NAME.z02, ...), read one after another as the disks of a
// spanned archive. The volumes are outside what signing NAME.exe covers, so the program
// carries a table of them, with the size and the SHA-256 of each, inside its attached
// section; the stub checks a volume whole before it uses any byte of it.
//
// The table lies directly in front of the configuration block (it ends at config_offset, so
// the stub checksum and an Authenticode signature cover it):
//
//   per volume, in order:  u64 size, u8 sha256[32], u8 name length, the name's bytes, a NUL
//   then the trailer:      u32 volume count, u32 size of the entries above, u32 SPLIT_TRAILER_ID
//
// A name is a plain file name in the program's own folder (no folder part, no drive), in the
// ANSI code page; its NUL lets the stub use it where it lies. All numbers are little-endian.
// Portable, no Win32: the stub and the builder both include it.
#ifndef TVSFX_FORMAT_SPLIT_VOLUMES_H
#define TVSFX_FORMAT_SPLIT_VOLUMES_H

#include <stdint.h>

enum {
    SPLIT_ENTRY_FIXED_SIZE = 8 + 32 + 1,  // size, SHA-256, name length
    SPLIT_TRAILER_SIZE = 12,
    SPLIT_NAME_MAX = 200,        // bytes; room left in a 260-character path for the folder
    SPLIT_VOLUMES_MAX = 999,     // .z01 ... .z999
    // The largest table: the stub reads it whole into one block.
    SPLIT_TABLE_MAX = SPLIT_VOLUMES_MAX * (SPLIT_ENTRY_FIXED_SIZE + SPLIT_NAME_MAX + 1),
};

// "TVSP" read as a little-endian u32.
enum : uint32_t { SPLIT_TRAILER_ID = 0x50535654 };

// Whether a table name stays in the program's folder: not empty, no separator, no drive
// colon, no control character, not "." or "..".
inline bool is_plain_volume_name(const uint8_t* name, unsigned length)
{
    if (length == 0 || length > SPLIT_NAME_MAX)
        return false;
    bool only_dots = true;
    for (unsigned i = 0; i < length; ++i) {
        uint8_t c = name[i];
        if (c < 0x20 || c == '\\' || c == '/' || c == ':')
            return false;
        only_dots = only_dots && c == '.';
    }
    return !only_dots;
}

#endif
