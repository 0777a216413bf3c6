// Extra field records that state a file's modification time exactly, beside the DOS time
// (local wall-clock time of the maker's zone, 2-second steps). Portable: the stub reads them
// from the local header, the builder copies and writes them.
#ifndef TVSFX_FORMAT_FILE_TIMES_H
#define TVSFX_FORMAT_FILE_TIMES_H

#include <stdint.h>

#include "byte_order.h"

// 0x000A NTFS times: a reserved u32, then attributes (tag u16, size u16); tag 1 of size 24
// holds modification, access and creation time as FILETIMEs (100 ns since 1601, UTC).
// 0x5455 extended timestamp: a flags byte, then for bit 0 the modification time as signed
// Unix seconds (UTC); the local header's form may carry access and creation time after it.
enum : uint16_t { EXTRA_NTFS_TIMES = 0x000A, EXTRA_UNIX_TIME = 0x5455 };
enum {
    NTFS_TIME_TAG = 1,
    NTFS_TIMES_ATTRIBUTE_SIZE = 24,
    NTFS_MTIME_END = 16,  // reserved, tag, size, modification time
    NTFS_TIMES_FIELD_SIZE = 8 + 24,
    UNIX_TIME_HAS_MTIME = 1,
    UNIX_MTIME_END = 5,   // flags, modification time
    UNIX_TIME_FIELD_SIZE = 5,
};
// Which record a file time comes from; a higher one wins.
enum { TIME_FROM_DOS = 0, TIME_FROM_UNIX = 1, TIME_FROM_NTFS = 2 };

#define FILETIME_PER_SECOND 10000000ll
#define FILETIME_UNIX_EPOCH 116444736000000000ll  // 1970-01-01 in 100 ns since 1601

// The modification time a record states, as a FILETIME value in *time; its TIME_FROM_*
// kind, or TIME_FROM_DOS for another record or one too short or malformed. `size` is the
// record's size; `data` holds at least its first min(size, NTFS_MTIME_END) bytes.
inline int exact_file_time(uint16_t id, const uint8_t* data, uint32_t size, int64_t* time)
{
    if (id == EXTRA_NTFS_TIMES && size >= NTFS_TIMES_FIELD_SIZE && get_u16(data + 4) == NTFS_TIME_TAG &&
        get_u16(data + 6) >= NTFS_TIMES_ATTRIBUTE_SIZE) {
        *time = (int64_t)get_u64(data + 8);
        return *time > 0 ? TIME_FROM_NTFS : TIME_FROM_DOS;
    }
    if (id == EXTRA_UNIX_TIME && size >= UNIX_MTIME_END && (data[0] & UNIX_TIME_HAS_MTIME)) {
        *time = (int64_t)(int32_t)get_u32(data + 1) * FILETIME_PER_SECOND + FILETIME_UNIX_EPOCH;
        return TIME_FROM_UNIX;
    }
    return TIME_FROM_DOS;
}

#endif
