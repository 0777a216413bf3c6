// The exact time fields as stub and builder read them (format/file_times.h): which field wins,
// what a malformed one gives, and the reading of 32-bit Unix times before 1970 and after 2038
// that writers store cut to 32 bits. Expected moments are written out as dates, computed
// independently with timegm.
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file_times.h"

namespace {

using Bytes = std::vector<uint8_t>;

int64_t utc(int year, int month, int day, int hour = 12, int minute = 34, int second = 56)
{
    struct tm t = {};
    t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
    t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
    return int64_t(timegm(&t));
}

uint16_t dos_date(int year, int month, int day) { return uint16_t((year - 1980) << 9 | month << 5 | day); }
uint16_t dos_time(int hour, int minute, int second) { return uint16_t(hour << 11 | minute << 5 | second / 2); }

void put32(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> 8 * i));
}

// The records' bodies as their writers lay them out; `seconds` is stored cut to 32 bits.
Bytes extended_timestamp(int64_t seconds) { Bytes b{1}; put32(b, uint32_t(seconds)); return b; }
Bytes old_unix(int64_t seconds) { Bytes b; put32(b, 0); put32(b, uint32_t(seconds)); return b; }
Bytes pkware_unix(int64_t seconds) { Bytes b = old_unix(seconds); put32(b, 0x03E803E8); return b; }
Bytes ntfs(int64_t seconds)
{
    Bytes b;
    put32(b, 0);
    put32(b, 24u << 16 | 1);
    int64_t ticks = seconds * 10000000 + 116444736000000000;
    for (int i = 0; i < 3; ++i)
        put32(b, uint32_t(ticks)), put32(b, uint32_t(ticks >> 32));
    return b;
}

int64_t seconds_of(int64_t filetime) { return (filetime - FILETIME_UNIX_EPOCH) / FILETIME_PER_SECOND; }

struct ReadingCase {
    const char* id;
    uint16_t field;
    Bytes body;
    int year, month, day;  // the entry's DOS date (12:34:56 local, wherever)
    int kind;              // TIME_FROM_* expected
    int64_t expected;      // seconds since 1970, when kind is not TIME_FROM_DOS
};

// Every moment is the file's true time; the DOS date beside it is what the writer put there
// (1980-01-01 for a time before 1980).
std::vector<ReadingCase> reading_cases()
{
    const int64_t y2038 = utc(2038, 6, 1), y2050 = utc(2050, 3, 4), y2107 = utc(2107, 7, 8);
    const int64_t y1965 = utc(1965, 1, 2), y1910 = utc(1910, 1, 2), y2024 = utc(2024, 5, 6);
    const int64_t last_signed = utc(2038, 1, 19, 3, 14, 7), first_after = last_signed + 1;
    return {
        {"ExtendedIn2024", EXTRA_UNIX_TIME, extended_timestamp(y2024), 2024, 5, 6, TIME_FROM_UNIX, y2024},
        {"ExtendedLastSignedSecond", EXTRA_UNIX_TIME, extended_timestamp(last_signed), 2038, 1, 19, TIME_FROM_UNIX,
         last_signed},
        {"ExtendedFirstSecondAfter2038", EXTRA_UNIX_TIME, extended_timestamp(first_after), 2038, 1, 19,
         TIME_FROM_UNIX, first_after},
        {"ExtendedIn2038", EXTRA_UNIX_TIME, extended_timestamp(y2038), 2038, 6, 1, TIME_FROM_UNIX, y2038},
        {"ExtendedIn2050", EXTRA_UNIX_TIME, extended_timestamp(y2050), 2050, 3, 4, TIME_FROM_UNIX, y2050},
        // Past 2106-02-07 even the unsigned reading wraps: only the DOS time tells.
        {"ExtendedIn2107", EXTRA_UNIX_TIME, extended_timestamp(y2107), 2107, 7, 8, TIME_FROM_UNIX, y2107},
        {"ExtendedBefore1970", EXTRA_UNIX_TIME, extended_timestamp(y1965), 1980, 1, 1, TIME_FROM_UNIX, y1965},
        {"ExtendedIn1910", EXTRA_UNIX_TIME, extended_timestamp(y1910), 1980, 1, 1, TIME_FROM_UNIX, y1910},
        // A DOS date off by the maker's zone (a day at most) picks the same reading.
        {"ExtendedDosADayLater", EXTRA_UNIX_TIME, extended_timestamp(y2050), 2050, 3, 5, TIME_FROM_UNIX, y2050},
        {"OldUnixIn2024", EXTRA_OLD_UNIX, old_unix(y2024), 2024, 5, 6, TIME_FROM_OLD_UNIX, y2024},
        {"OldUnixIn2050", EXTRA_OLD_UNIX, old_unix(y2050), 2050, 3, 4, TIME_FROM_OLD_UNIX, y2050},
        {"PkwareUnixIn2024", EXTRA_PKWARE_UNIX, pkware_unix(y2024), 2024, 5, 6, TIME_FROM_PKWARE_UNIX, y2024},
        {"PkwareUnixIn2107", EXTRA_PKWARE_UNIX, pkware_unix(y2107), 2107, 7, 8, TIME_FROM_PKWARE_UNIX, y2107},
        {"NtfsIn2050", EXTRA_NTFS_TIMES, ntfs(y2050), 2050, 3, 4, TIME_FROM_NTFS, y2050},
        // Malformed: the DOS time counts.
        {"ExtendedWithoutModificationTime", EXTRA_UNIX_TIME, Bytes{2, 1, 2, 3, 4}, 2024, 5, 6, TIME_FROM_DOS, 0},
        {"ExtendedCut", EXTRA_UNIX_TIME, Bytes{1, 1, 2}, 2024, 5, 6, TIME_FROM_DOS, 0},
        {"OldUnixAccessTimeOnly", EXTRA_OLD_UNIX, Bytes{1, 2, 3, 4}, 2024, 5, 6, TIME_FROM_DOS, 0},
        {"PkwareUnixWithoutIds", EXTRA_PKWARE_UNIX, old_unix(y2024), 2024, 5, 6, TIME_FROM_DOS, 0},
        {"OtherRecord", 0x7075, extended_timestamp(y2024), 2024, 5, 6, TIME_FROM_DOS, 0},
    };
}

class TimeReadingTest : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(TimeReadingTest, GivesTheFilesMoment)
{
    const ReadingCase& c = GetParam();
    int64_t filetime = -1;
    int64_t dos_seconds = dos_time_seconds(dos_date(c.year, c.month, c.day), dos_time(12, 34, 56));
    int kind = exact_file_time(c.field, c.body.data(), uint32_t(c.body.size()), dos_seconds, &filetime);
    ASSERT_EQ(kind, c.kind);
    if (kind != TIME_FROM_DOS) {
        EXPECT_EQ(seconds_of(filetime), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Fields, TimeReadingTest, ::testing::ValuesIn(reading_cases()),
                         [](const ::testing::TestParamInfo<ReadingCase>& case_info) { return std::string(case_info.param.id); });

// The DOS time read as UTC, against timegm, over the years a DOS date holds (leap days of 2000
// and none in 2100 included).
TEST(DosTimeSeconds, MatchesTheCalendar)
{
    const int days[][3] = {{1980, 1, 1}, {1980, 3, 1}, {1999, 12, 31}, {2000, 2, 29}, {2000, 3, 1}, {2038, 1, 19},
                           {2099, 12, 31}, {2100, 2, 28}, {2100, 3, 1}, {2104, 2, 29}, {2107, 12, 31}};
    for (const auto& d : days)
        EXPECT_EQ(dos_time_seconds(dos_date(d[0], d[1], d[2]), dos_time(23, 59, 58)), utc(d[0], d[1], d[2], 23, 59, 58))
            << d[0] << "-" << d[1] << "-" << d[2];
}

}  // namespace
