// What other ZIP readers read, the builder reads too: archives behind other bytes, the exact
// time fields of every producer (also after 2038), names from Info-ZIP's NTFS host, symbolic
// links, folders marked by attribute alone, and refusals that name their real cause. The
// fixtures are hand-made here or come from zip and Python; the packages are checked with
// unzip, `tvsfx inspect` and the tests' own header walk.
#include <algorithm>
#include <ctime>

#include "builder_test_support.h"

namespace {

// One stored entry with the header fields these readings depend on.
struct Entry {
    std::string name;
    std::string data = "x";
    uint16_t made_by = 20;         // host 0 (MS-DOS), version 2.0
    uint32_t external = 0;         // external attributes
    uint16_t date = (44 << 9) | (5 << 5) | 6;  // 2024-05-06
    uint16_t time = (12 << 11) | (34 << 5) | 28;  // 12:34:56
    Bytes local_extra, central_extra;
};

// A stored-only archive; with `prefix` in front, its offsets count from the archive's start
// unless `adjusted` (then from the file's start, as `zip -A` makes them).
Bytes make_zip(const std::vector<Entry>& entries, const std::string& prefix = "", bool adjusted = false)
{
    Bytes out(prefix.begin(), prefix.end()), central;
    uint32_t base = adjusted ? 0 : uint32_t(prefix.size());
    for (const Entry& e : entries) {
        Bytes fields;
        append_le16(fields, 0);  // flags
        append_le16(fields, 0);  // stored
        append_le16(fields, e.time);
        append_le16(fields, e.date);
        append_le32(fields, crc32_of(reinterpret_cast<const uint8_t*>(e.data.data()), e.data.size()));
        append_le32(fields, uint32_t(e.data.size()));
        append_le32(fields, uint32_t(e.data.size()));
        append_le16(fields, uint32_t(e.name.size()));
        uint32_t offset = uint32_t(out.size()) - base;
        append_le32(out, 0x04034B50);
        append_le16(out, 20);
        out.insert(out.end(), fields.begin(), fields.end());
        append_le16(out, uint32_t(e.local_extra.size()));
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.insert(out.end(), e.local_extra.begin(), e.local_extra.end());
        out.insert(out.end(), e.data.begin(), e.data.end());
        append_le32(central, 0x02014B50);
        append_le16(central, e.made_by);
        append_le16(central, 20);
        central.insert(central.end(), fields.begin(), fields.end());
        append_le16(central, uint32_t(e.central_extra.size()));
        append_le16(central, 0);  // comment
        append_le16(central, 0);  // disk
        append_le16(central, 0);  // internal attributes
        append_le32(central, e.external);
        append_le32(central, offset);
        central.insert(central.end(), e.name.begin(), e.name.end());
        central.insert(central.end(), e.central_extra.begin(), e.central_extra.end());
    }
    uint32_t directory_offset = uint32_t(out.size()) - base;
    out.insert(out.end(), central.begin(), central.end());
    append_le32(out, 0x06054B50);
    append_le32(out, 0);
    append_le16(out, uint32_t(entries.size()));
    append_le16(out, uint32_t(entries.size()));
    append_le32(out, uint32_t(central.size()));
    append_le32(out, directory_offset);
    append_le16(out, 0);
    return out;
}

std::vector<std::string> package_names(const std::string& exe)
{
    Bytes file = read_bytes(exe);
    std::vector<std::string> names;
    for (const LocalEntry& e : walk_local_headers(file, read_record(file).archive_offset))
        names.push_back(e.name);
    return names;
}

// --- bytes in front of the archive -----------------------------------------------------------

const char* const LAUNCHER = "#!/bin/sh\nexec java -jar \"$0\" \"$@\"\n";

struct FrontCase {
    const char* id;
    std::string prepare;  // shell command in the test folder that makes `input.zip`
};

class BytesInFrontTest : public BuilderTest, public ::testing::WithParamInterface<FrontCase> {};

// Both kinds of offsets build, and the package's own offsets are right: unzip finds no bytes
// to account for, and every file comes out whole.
TEST_P(BytesInFrontTest, ArchiveIsReadAndPackageOffsetsAreExact)
{
    write_text(at("a.txt"), "alpha\n");
    write_text(at("b.txt"), std::string(5000, 'b'));
    RunResult made = run_shell("cd '" + dir.path() + "' && zip -q plain.zip a.txt b.txt && " + GetParam().prepare);
    ASSERT_EQ(made.exit_code, 0) << made.all();
    RunResult r = build(at("input.zip"), at("out.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    RunResult tested = run({"unzip", "-t", at("out.exe")});
    EXPECT_EQ(tested.exit_code, 0) << tested.all();
    EXPECT_EQ(tested.all().find("warning"), std::string::npos) << "offsets off by some bytes: " << tested.all();
    RunResult content = run({"unzip", "-p", at("out.exe"), "a.txt"});
    EXPECT_EQ(content.out, "alpha\n");
    EXPECT_EQ(package_names(at("out.exe")), (std::vector<std::string>{"a.txt", "b.txt"}));
}

INSTANTIATE_TEST_SUITE_P(
    Producers, BytesInFrontTest,
    ::testing::Values(
        FrontCase{"NoPrefix", "cp plain.zip input.zip"},
        FrontCase{"PrefixOffsetsFromArchive", std::string("printf '") + "prefix that could be an executable jar file" +
                                                  "' > input.zip && cat plain.zip >> input.zip"},
        FrontCase{"PrefixAdjustedByZipA",
                  "printf 'prefix that could be an executable jar file' > input.zip && cat plain.zip >> input.zip && "
                  "zip -q -A input.zip"},
        FrontCase{"LauncherScript", "printf '%s' '" + std::string(LAUNCHER) + "' > input.zip && cat plain.zip >> input.zip"}),
    [](const ::testing::TestParamInfo<FrontCase>& case_info) { return std::string(case_info.param.id); });

// Hand-made: a prefix of 70,000 bytes (more than an end record's search reaches) in front of
// each kind of offsets.
TEST_F(BuilderTest, LongPrefixWithEitherKindOfOffsets)
{
    for (bool adjusted : {false, true}) {
        std::vector<Entry> entries = {{"one.txt", "1"}, {"two/two.txt", "22"}};
        write_bytes(at("input.zip"), make_zip(entries, std::string(70000, 'M'), adjusted));
        RunResult r = build(at("input.zip"), at("out.exe"));
        ASSERT_EQ(r.exit_code, 0) << "adjusted " << adjusted << ": " << r.all();
        EXPECT_EQ(run({"unzip", "-p", at("out.exe"), "two/two.txt"}).out, "22");
    }
}

// --- exact times --------------------------------------------------------------------------

Bytes field(uint16_t id, const Bytes& body)
{
    Bytes f;
    append_le16(f, id);
    append_le16(f, uint32_t(body.size()));
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

int64_t utc(int year, int month, int day)
{
    struct tm t = {};
    t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
    t.tm_hour = 12, t.tm_min = 34, t.tm_sec = 56;
    return int64_t(timegm(&t));
}

Bytes extended(int64_t t) { Bytes b{1}; append_le32(b, uint32_t(t)); return field(0x5455, b); }
Bytes old_unix(int64_t t, bool ids) { Bytes b; append_le32(b, uint32_t(t)); append_le32(b, uint32_t(t)); if (ids) append_le32(b, 501); return field(0x5855, b); }
Bytes pkware_unix(int64_t t) { Bytes b; append_le32(b, uint32_t(t)); append_le32(b, uint32_t(t)); append_le32(b, 0); return field(0x000D, b); }
Bytes joined(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
uint16_t dos_date(int year, int month, int day) { return uint16_t((year - 1980) << 9 | month << 5 | day); }

struct TimeCase {
    const char* id;
    Entry entry;
    const char* shown;  // what inspect shows for the entry in the package
};

std::vector<TimeCase> time_cases()
{
    auto with = [](int year, Bytes local, Bytes central) {
        Entry e{"f.txt"};
        e.date = dos_date(year, year == 2107 ? 7 : 3, year == 2107 ? 8 : 4);
        e.local_extra = local;
        e.central_extra = central;
        return e;
    };
    return {
        {"Extended2050", with(2050, extended(utc(2050, 3, 4)), extended(utc(2050, 3, 4))),
         "time=\"2050-03-04 12:34:56 UTC\" time_from=unix "},
        {"Extended2107", with(2107, extended(utc(2107, 7, 8)), {}), "time=\"2107-07-08 12:34:56 UTC\" time_from=unix "},
        // macOS tools: Info-ZIP's older Unix field, with ids in the local header, without in the central one.
        {"OldUnixLocal2024", with(2024, old_unix(utc(2024, 3, 4), true), old_unix(utc(2024, 3, 4), false)),
         "time=\"2024-03-04 12:34:56 UTC\" time_from=unix-old "},
        // Only in the central record: copied into the local header the stub reads.
        {"OldUnixCentralOnly2050", with(2050, {}, old_unix(utc(2050, 3, 4), false)),
         "time=\"2050-03-04 12:34:56 UTC\" time_from=unix-old "},
        {"PkwareUnix2038", with(2038, pkware_unix(utc(2038, 3, 4)), {}), "time=\"2038-03-04 12:34:56 UTC\" time_from=unix-pkware "},
        // Two fields that disagree: the extended timestamp wins over the older ones.
        {"ExtendedBeforeOldUnix", with(2024, joined(old_unix(utc(2024, 1, 1), true), extended(utc(2024, 3, 4))), {}),
         "time=\"2024-03-04 12:34:56 UTC\" time_from=unix "},
    };
}

class ExactTimeTest : public BuilderTest, public ::testing::WithParamInterface<TimeCase> {};

TEST_P(ExactTimeTest, PackageStatesTheMakersMoment)
{
    const TimeCase& c = GetParam();
    write_bytes(at("input.zip"), make_zip({c.entry}));
    RunResult r = build(at("input.zip"), at("out.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    RunResult inspected = run({tvsfx_path(), "inspect", at("out.exe")});
    EXPECT_NE(inspected.out.find(c.shown), std::string::npos) << inspected.out;
}

INSTANTIATE_TEST_SUITE_P(Fields, ExactTimeTest, ::testing::ValuesIn(time_cases()),
                         [](const ::testing::TestParamInfo<TimeCase>& case_info) { return std::string(case_info.param.id); });

// zip 3.0 stores the extended timestamp cut to 32 bits; the DOS date beside it picks the century.
TEST_F(BuilderTest, ZipTimesAfter2038ComeOutInTheirYear)
{
    if (!have_program("zip"))
        GTEST_SKIP() << "zip is not installed";
    const char* dates[] = {"2038-06-01", "2050-03-04", "2107-07-08"};
    std::string make = "cd '" + dir.path() + "' && mkdir src && cd src";
    for (const char* d : dates)
        make += std::string(" && echo x > f") + d + " && TZ=UTC touch -d " + d + "T12:34:56 f" + d;
    make += " && TZ=UTC zip -q ../input.zip f*";
    RunResult made = run_shell(make);
    ASSERT_EQ(made.exit_code, 0) << made.all();
    ASSERT_EQ(build(at("input.zip"), at("out.exe")).exit_code, 0);
    RunResult inspected = run({tvsfx_path(), "inspect", at("out.exe")});
    for (const char* d : dates)
        EXPECT_NE(inspected.out.find("time=\"" + std::string(d) + " 12:34:56 UTC\" time_from=unix name=\"f" + d),
                  std::string::npos)
            << d << "\n" << inspected.out;
}

// A folder's files outside 1970-2038 get NTFS times, which no reader can take for another century.
TEST_F(BuilderTest, FolderTimesOutsideTheSigned32BitRangeAreKept)
{
    const char* dates[][2] = {{"1965-01-02", "ntfs"}, {"2024-05-06", "unix"}, {"2050-03-04", "ntfs"}};
    std::string make = "cd '" + dir.path() + "' && mkdir src";
    for (const auto& d : dates)
        make += std::string(" && echo x > src/f") + d[0] + " && TZ=UTC touch -d " + d[0] + "T12:34:56 src/f" + d[0];
    ASSERT_EQ(run_shell(make).exit_code, 0);
    RunResult r = build(at("src"), at("out.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    RunResult inspected = run({tvsfx_path(), "inspect", at("out.exe")});
    for (const auto& d : dates)
        EXPECT_NE(inspected.out.find("time=\"" + std::string(d[0]) + " 12:34:56 UTC\" time_from=" + d[1] + " name=\"f" +
                                     d[0]),
                  std::string::npos)
            << d[0] << "\n" << inspected.out;
}

// --- hosts, links, folders and the messages that name them -------------------------------

const std::string SHIFT_JIS_LIST = "\x88\xEA\x97\x97\x95\x5C.txt";  // "一覧表.txt": 表 is 95 5C

struct EntryCase {
    const char* id;
    std::vector<Entry> entries;
    std::vector<std::string> options;
    int exit_code;
    std::vector<std::string> said;          // in stderr
    std::vector<std::string> not_said;      // nowhere in stderr
    std::vector<std::string> package;       // the package's names, when it builds
};

std::vector<EntryCase> entry_cases()
{
    auto host = [](uint8_t h) { return uint16_t(h << 8 | 20); };
    Entry link{"docs/latest", "v2/notes.txt", host(3), 0120777u << 16};
    Entry dos_folder{"def", "", host(0), 0x10};
    Entry unix_marked{"def", "", host(3), 0x10};
    return {
        {"Host11ReadAsOemCodePage", {{"\x81" "ber.txt", "x", host(11)}}, {}, 0, {}, {}, {"\xFC" "ber.txt"}},
        {"Host11ShiftJisSplitAtBackslash", {{SHIFT_JIS_LIST, "x", host(11)}}, {}, 1,
         {"made on Windows (NTFS, Info-ZIP), read as CP437", "0x5C", "--input-codepage CP932"}, {}, {}},
        {"UnixShiftJisSplitAtBackslash", {{SHIFT_JIS_LIST, "x", host(3)}}, {}, 1,
         {"read as CP1252", "--input-codepage CP932"}, {}, {}},
        {"Host11ShiftJisGivenItsCodePage", {{SHIFT_JIS_LIST, "x", host(11)}},
         {"--input-codepage", "CP932", "--codepage", "CP932"}, 0, {}, {}, {SHIFT_JIS_LIST}},
        // CP437 "café\menu.txt" with a backslash separator: é is 0x82, and 82 5C is a GBK character.
        {"BackslashAfterLeadByteInCp437", {{"caf\x82\\menu.txt", "x", host(0)}}, {}, 1,
         {"--input-codepage CP936", "--input-codepage CP437 if the '\\' is meant as a folder separator"}, {}, {}},
        {"BackslashSeparatorTakenWhenGiven", {{"caf\x82\\menu.txt", "x", host(0)}}, {"--input-codepage", "CP437"}, 0,
         {}, {}, {"caf\xE9\\menu.txt"}},
        {"SymbolicLinkIsNamed", {{"a.txt"}, link}, {}, 0,
         {"entry \"docs/latest\" is a symbolic link", "holds the path it points to"}, {}, {"a.txt", "docs/latest"}},
        {"FolderByDosAttribute", {dos_folder, {"def/foo"}}, {}, 0, {}, {}, {"def/", "def/foo"}},
        {"FolderByAttributeFromNtfsHosts", {{"a", "", host(10), 0x10}, {"b", "", host(11), 0x10}, {"c", "", host(14), 0x10}},
         {}, 0, {}, {}, {"a/", "b/", "c/"}},
        // On Unix the low byte is no MS-DOS attribute: the entry stays a file, and the clash says so without "case".
        {"UnixEntryIsNoFolderByAttribute", {unix_marked, {"def/foo"}}, {}, 1,
         {"entry \"def/foo\" needs a folder where \"def\" is a file; rename one of them"}, {"upper and lower case"}, {}},
        {"FileAndFolderClashInCase", {{"def"}, {"DEF/foo"}}, {}, 1,
         {"needs a folder where \"def\" is a file (Windows does not tell upper and lower case apart)"}, {}, {}},
        {"FileAndFolderOfOneName", {{"a/b", ""}, {"a/b/", ""}}, {}, 1,
         {"entry \"a/b/\" (a folder) and \"a/b\" (a file) (entries 1 and 2) name the same path"}, {"appears twice"}, {}},
    };
}

class EntryReadingTest : public BuilderTest, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(EntryReadingTest, BuildsAsOtherReadersReadOrNamesTheCause)
{
    const EntryCase& c = GetParam();
    write_bytes(at("input.zip"), make_zip(c.entries));
    RunResult r = build(at("input.zip"), at("out.exe"), c.options);
    ASSERT_EQ(r.exit_code, c.exit_code) << r.all();
    for (const std::string& text : c.said)
        EXPECT_NE(r.err.find(text), std::string::npos) << text << "\n" << r.err;
    for (const std::string& text : c.not_said)
        EXPECT_EQ(r.err.find(text), std::string::npos) << text << "\n" << r.err;
    if (c.exit_code == 0)
        EXPECT_EQ(package_names(at("out.exe")), c.package);
    else
        EXPECT_FALSE(exists(at("out.exe")));
}

INSTANTIATE_TEST_SUITE_P(Entries, EntryReadingTest, ::testing::ValuesIn(entry_cases()),
                         [](const ::testing::TestParamInfo<EntryCase>& case_info) { return std::string(case_info.param.id); });

}  // namespace
