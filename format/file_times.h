// Extra field records that state a file's modification time exactly, beside the DOS time
// (local wall-clock time of the maker's zone, 2-second steps). Portable: the stub reads them
// from the local header, the builder copies and writes them.
#ifndef TVSFX_FORMAT_FILE_TIMES_H
#define TVSFX_FORMAT_FILE_TIMES_H

#include <stdint.h>

#include "byte_order.h"

// 0x000A NTFS times: a reserved u32, then attributes (tag u16, size u16); tag 1 of size 24
// holds modification, access and creation time as FILETIMEs (100 ns since 1601, UTC).
// 0x5455 extended timestamp: a flags byte, then for bit 0 the modification time as 32-bit
// Unix seconds (UTC); the local header's form may carry access and creation time after it.
// 0x5855 Info-ZIP's older Unix field (still written by macOS tools): access time, then
// modification time, 32-bit Unix seconds each; the local form adds user and group ids.
// 0x000D PKWARE's Unix field: access time, modification time (32-bit Unix seconds), user and
// group id (u16 each), then a link target or device numbers.
enum : uint16_t {
    EXTRA_NTFS_TIMES = 0x000A,
    EXTRA_PKWARE_UNIX = 0x000D,
    EXTRA_UNIX_TIME = 0x5455,
    EXTRA_OLD_UNIX = 0x5855,
};
enum {
    NTFS_TIME_TAG = 1,
    NTFS_TIMES_ATTRIBUTE_SIZE = 24,
    NTFS_MTIME_END = 16,  // reserved, tag, size, modification time
    NTFS_TIMES_FIELD_SIZE = 8 + 24,
    UNIX_TIME_HAS_MTIME = 1,
    UNIX_MTIME_END = 5,   // flags, modification time
    UNIX_TIME_FIELD_SIZE = 5,
    OLD_UNIX_MTIME_END = 8,      // access time, modification time: the central form whole
    PKWARE_UNIX_FIXED_SIZE = 12, // the times and ids every such record has
    PKWARE_UNIX_MTIME_END = 8,
    // The most of a record exact_file_time reads: a reader keeps this much of each record.
    EXACT_TIME_READ_SIZE = NTFS_MTIME_END,
};
static_assert(UNIX_MTIME_END <= EXACT_TIME_READ_SIZE && OLD_UNIX_MTIME_END <= EXACT_TIME_READ_SIZE &&
                  PKWARE_UNIX_MTIME_END <= EXACT_TIME_READ_SIZE,
              "every modification time lies within the bytes a reader keeps of a record");

// Which record a file time comes from; a higher one wins, whatever order the records come in.
// NTFS times count 100 ns, the others seconds; Info-ZIP's extended timestamp replaced its older
// Unix field, and both come before PKWARE's Unix field, the order Info-ZIP's unzip reads them.
// Every exact field comes before the DOS time, which depends on the maker's zone.
enum {
    TIME_FROM_DOS = 0,
    TIME_FROM_PKWARE_UNIX = 1,
    TIME_FROM_OLD_UNIX = 2,
    TIME_FROM_UNIX = 3,
    TIME_FROM_NTFS = 4,
};

#define FILETIME_PER_SECOND 10000000ll
#define FILETIME_UNIX_EPOCH 116444736000000000ll  // 1970-01-01 in 100 ns since 1601
#define UNIX_TIME_WRAP 4294967296ll               // 2^32: a 32-bit time's readings lie this far apart

// Seconds from 1970 to a DOS date and time read as if it were UTC: off by the maker's zone
// offset (hours), which is nothing beside the 136 years between two readings of a 32-bit
// time. Month 0 counts as January. Only 32-bit arithmetic before the last step, so the stub
// needs no 64-bit division.
inline int64_t dos_time_seconds(uint16_t dos_date, uint16_t dos_time)
{
    static const uint16_t days_before_month[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    uint32_t year = 1980 + (dos_date >> 9);
    uint32_t month = (dos_date >> 5) & 0x0F;
    month = month == 0 ? 1 : month > 12 ? 12 : month;
    uint32_t leap_days = (year - 1969) / 4 - (year > 2100);  // Feb 29ths before `year`; 2100 has none
    bool leap_year = year % 4 == 0 && year != 2100;
    uint32_t days = (year - 1970) * 365 + leap_days + days_before_month[month - 1] + (leap_year && month > 2) +
                    (dos_date & 0x1F) - 1;
    uint32_t seconds = (uint32_t)(dos_time >> 11) * 3600 + ((dos_time >> 5) & 0x3F) * 60 + (dos_time & 0x1F) * 2;
    return (int64_t)days * 86400 + seconds;
}

// A 32-bit Unix time as one of its readings value + k * 2^32 (k = -1, 0, 1): the one nearest
// the entry's DOS time. Writers store times after 2038-01-19 cut to 32 bits (zip 3.0, Go), so
// taken as signed they land in 1901-1970, taken as unsigned times before 1970 land after 2038;
// the DOS time (1980-2107) always has the right century. A DOS time in 1980 is where writers
// put every earlier time, so it tells nothing: then the field's own signed reading counts.
inline int64_t nearest_unix_time(uint32_t value, int64_t dos_seconds)
{
    const int64_t dos_floor_end = (11 * 365 + 3) * 86400ll;  // 1981-01-01: 1970-1980 hold 3 leap days
    if (dos_seconds < dos_floor_end)
        return (int32_t)value;
    int64_t best = (int64_t)value - UNIX_TIME_WRAP;
    for (int64_t candidate = value; candidate <= (int64_t)value + UNIX_TIME_WRAP; candidate += UNIX_TIME_WRAP) {
        int64_t off = candidate - dos_seconds, best_off = best - dos_seconds;
        if ((off < 0 ? -off : off) < (best_off < 0 ? -best_off : best_off))
            best = candidate;
    }
    return best;
}

inline int64_t unix_to_filetime(int64_t seconds)
{
    return seconds * FILETIME_PER_SECOND + FILETIME_UNIX_EPOCH;
}

// The modification time a record states, as a FILETIME value in *time; its TIME_FROM_*
// kind, or TIME_FROM_DOS for another record or one too short or malformed. `size` is the
// record's size; `data` holds at least its first min(size, EXACT_TIME_READ_SIZE) bytes.
// `dos_seconds` is the entry's DOS time (dos_time_seconds), which picks the reading of a
// 32-bit Unix time.
inline int exact_file_time(uint16_t id, const uint8_t* data, uint32_t size, int64_t dos_seconds, int64_t* time)
{
    if (id == EXTRA_NTFS_TIMES && size >= NTFS_TIMES_FIELD_SIZE && get_u16(data + 4) == NTFS_TIME_TAG &&
        get_u16(data + 6) >= NTFS_TIMES_ATTRIBUTE_SIZE) {
        *time = (int64_t)get_u64(data + 8);
        return *time > 0 ? TIME_FROM_NTFS : TIME_FROM_DOS;
    }
    int kind = TIME_FROM_DOS;
    uint32_t seconds = 0;
    if (id == EXTRA_UNIX_TIME && size >= UNIX_MTIME_END && (data[0] & UNIX_TIME_HAS_MTIME)) {
        kind = TIME_FROM_UNIX;
        seconds = get_u32(data + 1);
    } else if (id == EXTRA_OLD_UNIX && size >= OLD_UNIX_MTIME_END) {
        kind = TIME_FROM_OLD_UNIX;
        seconds = get_u32(data + 4);
    } else if (id == EXTRA_PKWARE_UNIX && size >= PKWARE_UNIX_FIXED_SIZE) {
        kind = TIME_FROM_PKWARE_UNIX;
        seconds = get_u32(data + 4);
    }
    if (kind != TIME_FROM_DOS)
        *time = unix_to_filetime(nearest_unix_time(seconds, dos_seconds));
    return kind;
}

#endif
