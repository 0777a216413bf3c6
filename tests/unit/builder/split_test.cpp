// Split packages (`--split SIZE`): NAME.exe and the volumes NAME.z01, NAME.z02, ... beside it.
// The layout is read back with the tests' own readers: the volumes' names and sizes, the
// volume table (size and SHA-256 of each, as sha256sum gives them) inside the part the stub
// checksum covers, and the volumes joined into the stream the stub walks. `tvsfx test` names a
// missing, damaged or swapped volume; bad --split values are refused before anything is written.
#include "builder_test_support.h"

#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kSplitFlags = 0x20001000;  // SFX_SPLIT_VOLUMES | SFX_MULTI_VOLUME
constexpr size_t kVolume = 128 * 1024;

struct TableEntry {
    uint64_t size;
    std::string sha256;  // hex
    std::string name;
};

std::string hex_of(const uint8_t* p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < n; ++i)
        text += std::string{digits[p[i] >> 4], digits[p[i] & 15]};
    return text;
}

// The table that ends at config_offset: entries of u64 size, 32-byte SHA-256, u8 name length,
// the name and a NUL; then the count, the entries' size and "TVSP".
std::vector<TableEntry> read_table(const Bytes& exe, uint32_t config_offset, size_t& table_start)
{
    size_t trailer = config_offset - 12;
    EXPECT_EQ(std::string(exe.begin() + long(trailer + 8), exe.begin() + long(trailer + 12)), "TVSP");
    uint32_t count = le32(exe, trailer), size = le32(exe, trailer + 4);
    table_start = trailer - size;
    std::vector<TableEntry> table;
    size_t at = table_start;
    for (uint32_t i = 0; i < count; ++i) {
        TableEntry e;
        e.size = uint64_t(le32(exe, at)) | uint64_t(le32(exe, at + 4)) << 32;
        e.sha256 = hex_of(exe.data() + at + 8, 32);
        size_t length = exe.at(at + 40);
        e.name.assign(exe.begin() + long(at + 41), exe.begin() + long(at + 41 + length));
        EXPECT_EQ(exe.at(at + 41 + length), 0) << "the name's NUL";
        at += 41 + length + 1;
        table.push_back(e);
    }
    EXPECT_EQ(at, trailer) << "entries fill the table";
    return table;
}

std::string sha256sum_of(const std::string& path)
{
    RunResult r = run({"sha256sum", path});
    return r.out.substr(0, 64);
}

class SplitTest : public BuilderTest {
protected:
    // About 450 KB that deflate cannot shrink, a text that it can, an empty folder.
    std::string make_input()
    {
        std::string root = at("in");
        fs::create_directories(root + "/leer");
        fs::create_directories(root + "/daten");
        write_bytes(root + "/daten/a.bin", noise_bytes(300000, 1));
        write_bytes(root + "/daten/b.bin", noise_bytes(150000, 2));
        std::string text;
        for (int i = 0; i < 30000; ++i)
            text += "Zeile " + std::to_string(i) + "\n";
        write_text(root + "/text.txt", text);
        return root;
    }
    RunResult build_split(const std::string& output, const std::string& size = "128k")
    {
        return build(make_input(), output, {"--split", size});
    }
    std::vector<std::string> volumes_in(const std::string& folder)
    {
        std::vector<std::string> names;
        for (const std::string& n : list_folder(folder)) {
            if (n.find(".z") != std::string::npos)
                names.push_back(n);
        }
        return names;
    }
};

TEST_F(SplitTest, VolumesBesideTheProgramAndTheirTableInsideIt)
{
    fs::create_directories(at("out"));
    RunResult r = build_split(at("out/Paket.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    std::vector<std::string> names = volumes_in(at("out"));
    ASSERT_GE(names.size(), 3u);
    for (size_t i = 0; i < names.size(); ++i) {
        std::string number = std::to_string(i + 1);
        EXPECT_EQ(names[i], "Paket.z" + std::string(number.size() < 2 ? "0" : "") + number);
        if (i + 1 < names.size()) {
            EXPECT_EQ(fs::file_size(at("out/" + names[i])), kVolume) << names[i];
        }
    }

    Bytes exe = read_bytes(at("out/Paket.exe"));
    RecordView rec = read_record(exe);
    EXPECT_EQ(rec.flags & kSplitFlags, kSplitFlags);
    size_t table_start = 0;
    std::vector<TableEntry> table = read_table(exe, rec.config_offset, table_start);
    ASSERT_EQ(table.size(), names.size());
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].name, names[i]);
        EXPECT_EQ(table[i].size, fs::file_size(at("out/" + names[i])));
        EXPECT_EQ(table[i].sha256, sha256sum_of(at("out/" + names[i])));
    }
    // Inside the attached section and in front of archive_offset: the stub checksum and a
    // signature of the program cover it; the program holds nothing of the archive.
    PeView pe = read_pe(exe);
    const Section& last = pe.sections.back();
    EXPECT_GE(table_start, last.raw_pointer);
    EXPECT_LE(rec.archive_offset, uint64_t(last.raw_pointer) + last.raw_size);
    EXPECT_LE(uint64_t(last.raw_pointer) + last.raw_size, exe.size());

    // The volumes joined are the stream the stub walks: every file of the input, in order.
    Bytes stream;
    for (const std::string& n : names) {
        Bytes part = read_bytes(at("out/" + n));
        stream.insert(stream.end(), part.begin(), part.end());
    }
    EXPECT_EQ(le32(stream, 0), 0x08074B50u) << "spanning marker";
    std::vector<LocalEntry> entries = walk_local_headers(stream, 4);
    std::vector<std::string> entry_names;
    for (const LocalEntry& e : entries)
        entry_names.push_back(e.name);
    EXPECT_EQ(entry_names, (std::vector<std::string>{"daten/a.bin", "daten/b.bin", "leer/", "text.txt"}));
}

// inspect --json lists each volume's name, size and SHA-256 as the table holds them.
TEST_F(SplitTest, InspectJsonListsTheVolumes)
{
    fs::create_directories(at("out"));
    ASSERT_EQ(build_split(at("out/Paket.exe")).exit_code, 0);
    std::string script = "import json, sys\n"
                         "r = json.load(sys.stdin)\n"
                         "print(r['checks']['volumes'])\n"
                         "for v in r['volumes']: print(v['name'], v['size'], v['sha256'])\n";
    write_text(at("volumes.py"), script);
    RunResult json = run_shell("'" + tvsfx_path() + "' inspect --json '" + at("out/Paket.exe") + "' | python3 '" +
                               at("volumes.py") + "'");
    ASSERT_EQ(json.exit_code, 0) << json.all();
    std::string expected = "ok\n";
    for (const std::string& n : volumes_in(at("out")))
        expected += n + " " + std::to_string(fs::file_size(at("out/" + n))) + " " + sha256sum_of(at("out/" + n)) + "\n";
    EXPECT_EQ(json.out, expected);
}

TEST_F(SplitTest, TableIsCoveredByTheStubChecksum)
{
    fs::create_directories(at("out"));
    ASSERT_EQ(build_split(at("out/Paket.exe")).exit_code, 0);
    Bytes exe = read_bytes(at("out/Paket.exe"));
    size_t table_start = 0;
    read_table(exe, read_record(exe).config_offset, table_start);
    exe[table_start + 8] ^= 0x01;  // the first volume's SHA-256
    write_bytes(at("out/Paket.exe"), exe);
    RunResult r = run({tvsfx_path(), "inspect", at("out/Paket.exe")});
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.out.find("check stub checksum: FAILED"), std::string::npos) << r.out;
}

TEST_F(SplitTest, RebuildWithFewerVolumesRemovesTheOldOnes)
{
    fs::create_directories(at("out"));
    ASSERT_EQ(build_split(at("out/Paket.exe"), "64k").exit_code, 0);
    size_t many = volumes_in(at("out")).size();
    RunResult r = build(at("in"), at("out/Paket.exe"), {"--split", "256k"});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    std::vector<std::string> now = volumes_in(at("out"));
    EXPECT_LT(now.size(), many);
    RunResult tested = run({tvsfx_path(), "test", at("out/Paket.exe")});
    EXPECT_EQ(tested.exit_code, 0) << tested.all();
    EXPECT_EQ(list_folder(at("out")).size(), now.size() + 1) << "the program and its volumes, nothing else";
}

TEST_F(SplitTest, WithoutSplitThePackageIsOneFile)
{
    fs::create_directories(at("out"));
    RunResult r = build(make_input(), at("out/Paket.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_EQ(list_folder(at("out")), std::vector<std::string>{"Paket.exe"});
    EXPECT_EQ(read_record(read_bytes(at("out/Paket.exe"))).flags & kSplitFlags, 0u);
}

// The volumes renamed as a split ZIP's segments (.z01 ... and the last as .zip) are a set that
// 7-Zip reads: the disk numbers and the offsets on each disk are right in the central headers
// and the end records. With more than 65,535 entries they include the ZIP64 end record and its
// locator, which the cutting must keep whole and give their disks too.
class SplitSetForToolsTest : public SplitTest, public ::testing::WithParamInterface<int> {};

TEST_P(SplitSetForToolsTest, SevenZipReadsTheRenamedVolumes)
{
    const int files = GetParam();
    for (int i = 0; i < files; ++i) {
        std::string folder = at("in/d" + std::to_string(i / 1000));
        if (i % 1000 == 0)
            fs::create_directories(folder);
        write_text(folder + "/f" + std::to_string(i) + ".txt", std::to_string(i) + " " + std::to_string(i * 7919));
    }
    fs::create_directories(at("out"));
    RunResult r = build(at("in"), at("out/Paket.exe"), {"--split", "128k"});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    std::vector<std::string> names = volumes_in(at("out"));
    ASSERT_GE(names.size(), 2u);
    fs::create_directories(at("set"));
    for (size_t i = 0; i < names.size(); ++i) {
        std::string number = std::to_string(i + 1);
        std::string segment = i + 1 == names.size() ? "set.zip" : "set.z" + std::string(i < 9 ? "0" : "") + number;
        fs::copy_file(at("out/" + names[i]), at("set/" + segment));
    }
    RunResult seven = run({"7zz", "t", at("set/set.zip")});
    EXPECT_EQ(seven.exit_code, 0) << seven.all();
    EXPECT_NE(seven.out.find("Files: " + std::to_string(files)), std::string::npos) << seven.out;
    EXPECT_EQ(seven.all().find("WARNING"), std::string::npos) << seven.all();
    RunResult tested = run({tvsfx_path(), "test", at("out/Paket.exe")});
    EXPECT_EQ(tested.exit_code, 0) << tested.all();
}

INSTANTIATE_TEST_SUITE_P(EntryCounts, SplitSetForToolsTest, ::testing::Values(3000, 66000),
                         [](const ::testing::TestParamInfo<int>& p) {
                             return p.param > 65535 ? std::string("WithZip64EndRecord") : std::string("Classic");
                         });

// id, how the set is spoilt, what `tvsfx test` says
struct SpoiltSet {
    const char* name;
    void (*spoil)(const std::string& folder);
    const char* message;
};

void PrintTo(const SpoiltSet& c, std::ostream* out)
{
    *out << c.name;
}

void remove_second(const std::string& folder)
{
    fs::remove(folder + "/Paket.z02");
}

void flip_in_third(const std::string& folder)
{
    Bytes b = read_bytes(folder + "/Paket.z03");
    b[5000] ^= 0x40;
    write_bytes(folder + "/Paket.z03", b);
}

void swap_first_two(const std::string& folder)
{
    fs::rename(folder + "/Paket.z01", folder + "/tmp");
    fs::rename(folder + "/Paket.z02", folder + "/Paket.z01");
    fs::rename(folder + "/tmp", folder + "/Paket.z02");
}

void cut_last(const std::string& folder)
{
    std::vector<std::string> names;
    for (const std::string& n : list_folder(folder))
        names.push_back(n);
    std::string last = folder + "/" + names.back();
    Bytes b = read_bytes(last);
    b.pop_back();
    write_bytes(last, b);
}

class SpoiltSetTest : public SplitTest, public ::testing::WithParamInterface<SpoiltSet> {};

TEST_P(SpoiltSetTest, TestNamesTheVolume)
{
    fs::create_directories(at("out"));
    ASSERT_EQ(build_split(at("out/Paket.exe")).exit_code, 0);
    GetParam().spoil(at("out"));
    RunResult r = run({tvsfx_path(), "test", at("out/Paket.exe")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.all();
    RunResult inspected = run({tvsfx_path(), "inspect", at("out/Paket.exe")});
    EXPECT_EQ(inspected.exit_code, 1);
    EXPECT_NE(inspected.out.find("check volumes: FAILED"), std::string::npos) << inspected.out;
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, SpoiltSetTest,
    ::testing::Values(SpoiltSet{"missing", remove_second, "volume Paket.z02 is missing beside the program"},
                      SpoiltSet{"damaged", flip_in_third, "volume Paket.z03: its SHA-256 differs"},
                      SpoiltSet{"swapped", swap_first_two, "volume Paket.z01: its SHA-256 differs"},
                      SpoiltSet{"short", cut_last, "bytes, the package expects"}),
    [](const ::testing::TestParamInfo<SpoiltSet>& p) { return std::string(p.param.name); });

struct SplitRefusal {
    std::vector<std::string> args;
    const char* output;
    const char* message;
};

void PrintTo(const SplitRefusal& c, std::ostream* out)
{
    *out << c.message;
}

class SplitRefusalTest : public SplitTest, public ::testing::WithParamInterface<SplitRefusal> {};

TEST_P(SplitRefusalTest, FailsWithoutWritingAnything)
{
    fs::create_directories(at("out"));
    RunResult r = build(make_sample_folder(), at(std::string("out/") + GetParam().output), GetParam().args);
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_TRUE(list_folder(at("out")).empty()) << "nothing written, no work folder left";
}

INSTANTIATE_TEST_SUITE_P(
    Options, SplitRefusalTest,
    ::testing::Values(
        SplitRefusal{{"--split", "12q"}, "p.exe", "--split needs bytes per volume"},
        SplitRefusal{{"--split", "0"}, "p.exe", "--split needs bytes per volume"},
        SplitRefusal{{"--split", "4G"}, "p.exe", "--split needs bytes per volume"},
        SplitRefusal{{"--split", "floppy"}, "p.exe", "--split needs bytes per volume"},
        SplitRefusal{{"--split", "1000"}, "p.exe", "below the smallest volume"},
        SplitRefusal{{"--split", "200k", "--multi-volume"}, "p.exe", "does not go with --multi-volume"},
        SplitRefusal{{"--split", "200k"}, "P\xC3\xA4" "ckchen.exe", "must be plain ASCII"},
        SplitRefusal{{"--flags", "20000000"}, "p.exe", "only --split writes"}));

}  // namespace
