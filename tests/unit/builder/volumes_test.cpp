// Spanned self-extractors (`--multi-volume --span`): the disk folders, their labels and file
// names, the sizes, and the archive cut so that the stub can read it. The disks are read
// back here as the stub reads them, one stream whose headers never cross a disk, and as a
// split archive by 7-Zip.
#include "builder_test_support.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {

// Disk 1 holds the whole stub (at most 80 KiB) and the start of the archive.
constexpr size_t kSpan = 96 * 1024;
constexpr uint32_t kLocal = 0x04034B50, kCentral = 0x02014B50, kEnd = 0x06054B50;
constexpr uint32_t kSpanning = 0x08074B50, kOneSegment = 0x30304B50;

Bytes noise(size_t size, uint32_t seed)
{
    std::mt19937 g(seed);
    Bytes b(size);
    for (uint8_t& x : b)
        x = uint8_t(g());
    return b;
}

std::string label_of(int number)
{
    char text[16];
    std::snprintf(text, sizeof text, "PKBACK# %03d", number);
    return text;
}

struct Disk {
    std::string label;
    std::vector<std::string> files;  // without the label file
    uint64_t used = 0;               // bytes of all its files
    Bytes archive_file;              // the file that holds its part of the archive
    size_t part_offset = 0;          // where that part starts in it
};

// The disks of a set and their archive parts joined into the stream the stub reads.
struct SpannedSet {
    std::vector<Disk> disks;
    Bytes stream;
    std::vector<size_t> starts;  // where each disk's part begins in `stream`

    size_t disk_of(size_t offset) const
    {
        return size_t(std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin()) - 1;
    }
    size_t file_offset(size_t offset) const
    {
        size_t d = disk_of(offset);
        return offset - starts[d] + disks[d].part_offset;
    }
};

SpannedSet read_set(const std::string& dir, const std::string& name, bool exe_volumes)
{
    SpannedSet set;
    for (int n = 1; exists(dir + "/disk" + std::to_string(n)); ++n) {
        std::string folder = dir + "/disk" + std::to_string(n);
        Disk d;
        Bytes label = read_bytes(folder + "/.windows-label");
        d.label.assign(label.begin(), label.end());
        for (const std::string& f : list_folder(folder)) {
            if (f == ".windows-label")
                continue;
            d.files.push_back(f);
            d.used += fs::file_size(folder + "/" + f);
        }
        d.archive_file = read_bytes(folder + "/" + name + (exe_volumes ? ".EXE" : ".ZIP"));
        if (n == 1 && exe_volumes)
            d.part_offset = read_record(d.archive_file).archive_offset;
        set.starts.push_back(set.stream.size());
        set.stream.insert(set.stream.end(), d.archive_file.begin() + long(d.part_offset), d.archive_file.end());
        set.disks.push_back(std::move(d));
    }
    return set;
}

struct StreamEntry {
    std::string name;
    uint16_t flags, method;
    uint32_t crc, compressed, uncompressed;
    size_t data;
};

// The stream as the stub walks it, and the ranges it reads or steps over without changing
// disks: signatures with local headers, names, extra fields and encryption headers; a
// directory with its data; a descriptor after the disk where its entry's data ended; and
// (APPNOTE) every record of the central directory.
struct StreamView {
    std::vector<StreamEntry> entries;
    std::vector<std::pair<size_t, size_t>> whole;
    std::vector<size_t> central;
    size_t end_record = 0;
};

StreamView walk_stream(const Bytes& s)
{
    StreamView v;
    EXPECT_TRUE(le32(s, 0) == kSpanning || le32(s, 0) == kOneSegment);
    v.whole.push_back({0, 4});
    size_t at = 4;
    while (at + 30 <= s.size() && le32(s, at) == kLocal) {
        StreamEntry e{};
        e.flags = le16(s, at + 6);
        e.method = le16(s, at + 8);
        e.crc = le32(s, at + 14);
        e.compressed = le32(s, at + 18);
        e.uncompressed = le32(s, at + 22);
        size_t name_size = le16(s, at + 26), extra_size = le16(s, at + 28);
        e.name.assign(s.begin() + long(at + 30), s.begin() + long(at + 30 + name_size));
        e.data = at + 30 + name_size + extra_size;
        size_t data_end = e.data + e.compressed;
        size_t next = data_end + ((e.flags & 8) ? 16 : 0);
        if (e.name.back() == '/') {
            v.whole.push_back({at, next});
        } else {
            v.whole.push_back({at, e.data + ((e.flags & 1) ? 12 : 0)});
            if (e.flags & 8)
                v.whole.push_back({data_end - 1, next});
        }
        v.entries.push_back(e);
        at = next;
    }
    while (at + 46 <= s.size() && le32(s, at) == kCentral) {
        size_t size = 46 + size_t(le16(s, at + 28)) + le16(s, at + 30) + le16(s, at + 32);
        v.whole.push_back({at, at + size});
        v.central.push_back(at);
        at += size;
    }
    EXPECT_EQ(le32(s, at), kEnd) << "end record where the directory ends";
    v.end_record = at;
    v.whole.push_back({at, at + 22 + le16(s, at + 20)});
    EXPECT_EQ(v.whole.back().second, s.size()) << "the stream ends with the end record";
    return v;
}

Bytes inflate_all(const uint8_t* data, size_t size)
{
    Bytes out;
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = uInt(size);
    uint8_t chunk[1 << 16];
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        status = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
    }
    EXPECT_EQ(status, Z_STREAM_END);
    inflateEnd(&z);
    return out;
}

// Every plain entry's data, read from the joined stream, is the source file.
void check_entries_against(const Bytes& s, const StreamView& v, const std::string& source)
{
    size_t files = 0;
    for (const StreamEntry& e : v.entries) {
        if (e.name.back() == '/' || (e.flags & 1))
            continue;
        SCOPED_TRACE(e.name);
        const uint8_t* data = s.data() + e.data;
        Bytes plain = e.method == 8 ? inflate_all(data, e.compressed) : Bytes(data, data + e.compressed);
        EXPECT_EQ(plain, read_bytes(source + "/" + e.name));
        EXPECT_EQ(crc32_of(plain.data(), plain.size()), e.crc);
        ++files;
    }
    EXPECT_GT(files, 0u);
}

// The central directory as a spanned archive carries it: each header's disk number and
// offset lead to its local header in that disk's file; the end record, on the last disk,
// names that disk and where the directory starts.
void check_directory(const SpannedSet& set, const StreamView& v)
{
    const Bytes& s = set.stream;
    size_t e = v.end_record, last = set.disks.size() - 1;
    ASSERT_FALSE(v.central.empty());
    EXPECT_EQ(set.disk_of(e), last);
    EXPECT_EQ(le16(s, e + 4), last);
    EXPECT_EQ(le16(s, e + 6), set.disk_of(v.central.front()));
    EXPECT_EQ(le32(s, e + 16), set.file_offset(v.central.front()));
    size_t on_last = size_t(std::count_if(v.central.begin(), v.central.end(),
                                          [&](size_t c) { return set.disk_of(c) == last; }));
    EXPECT_EQ(le16(s, e + 8), on_last);
    EXPECT_EQ(le16(s, e + 10), v.central.size());
    for (size_t i = 0; i < v.central.size(); ++i) {
        size_t c = v.central[i];
        const Disk& d = set.disks.at(le16(s, c + 34));
        size_t local = le32(s, c + 42);
        ASSERT_EQ(le32(d.archive_file, local), kLocal) << "central header " << i;
        std::string name(d.archive_file.begin() + long(local + 30),
                         d.archive_file.begin() + long(local + 30 + le16(d.archive_file, local + 26)));
        EXPECT_EQ(name, v.entries.at(i).name);
    }
}

// 7-Zip reads a split archive named NAME.z01, NAME.z02, ..., NAME.zip through its central
// directory's disk numbers and offsets. (Info-ZIP's `zip -s 0` would join it too, but it
// loses the data of an entry that runs over three or more disks, its own splits included.)
void check_with_7zip(const SpannedSet& set, const std::string& folder, const std::string& password)
{
    fs::create_directories(folder);
    for (size_t i = 0; i < set.disks.size(); ++i) {
        char name[16];
        std::snprintf(name, sizeof name, i + 1 == set.disks.size() ? "set.zip" : "set.z%02zu", i + 1);
        write_bytes(folder + "/" + name, set.disks[i].archive_file);
    }
    std::vector<std::string> seven = {"7zz", "t", folder + "/set.zip"};
    if (!password.empty())
        seven.push_back("-p" + password);
    RunResult tested = run(seven);
    EXPECT_EQ(tested.exit_code, 0) << tested.all();
    EXPECT_NE(tested.out.find("Volumes = " + std::to_string(set.disks.size())), std::string::npos) << tested.out;
}

class SpannedTest : public BuilderTest {
protected:
    RunResult build_set(const std::string& input, const std::string& folder, std::vector<std::string> args,
                        size_t span = kSpan)
    {
        args.insert(args.begin(), {"--multi-volume", "--span", std::to_string(span)});
        return build(input, folder, args);
    }

    // Small files of uneven sizes (so record boundaries meet disk ends in many places),
    // files that span whole disks, a compressible one, an empty file and an empty folder.
    std::string make_uneven_folder()
    {
        std::string root = at("in");
        fs::create_directories(root + "/small");
        fs::create_directories(root + "/empty");
        std::mt19937 sizes(7);
        for (int i = 0; i < 40; ++i)
            write_bytes(root + "/small/s" + std::to_string(i) + ".bin", noise(sizes() % 9000 + 1, uint32_t(i)));
        write_bytes(root + "/big1.bin", noise(150000, 100));
        write_bytes(root + "/big2.bin", noise(70000, 101));
        std::string text;
        for (int i = 0; i < 20000; ++i)
            text += "line " + std::to_string(i) + "\n";
        write_text(root + "/text.txt", text);
        write_text(root + "/nothing.txt", "");
        return root;
    }
};

struct LayoutCase {
    const char* name;
    bool exe_volumes;
    const char* builder_password;  // --password: AES salt and verifier in front of the data
    const char* input_password;    // an input ZIP encrypted by Info-ZIP: descriptors after the data
    const char* encryption;        // --encryption zipcrypto: 12-byte encryption headers instead
};

void PrintTo(const LayoutCase& c, std::ostream* out)
{
    *out << c.name;
}

class VolumeLayoutTest : public SpannedTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(VolumeLayoutTest, DisksHoldTheArchiveAsTheStubReadsIt)
{
    const LayoutCase& c = GetParam();
    std::string input = make_uneven_folder();
    std::vector<std::string> args{"--name", "setup"};
    if (c.exe_volumes)
        args.push_back("--exe-volumes");
    if (c.builder_password)
        args.insert(args.end(), {"--password", c.builder_password});
    if (c.encryption)
        args.insert(args.end(), {"--encryption", c.encryption});
    if (c.input_password) {
        ASSERT_EQ(run_shell("cd '" + input + "' && zip -q -r -P " + c.input_password + " ../input.zip .").exit_code,
                  0);
        input = at("input.zip");
    }
    RunResult r = build_set(input, at("disks"), args);
    ASSERT_EQ(r.exit_code, 0) << r.all();

    SpannedSet set = read_set(at("disks"), "SETUP", c.exe_volumes);
    ASSERT_GE(set.disks.size(), 4u);
    std::string ext = c.exe_volumes ? "SETUP.EXE" : "SETUP.ZIP";
    for (size_t i = 0; i < set.disks.size(); ++i) {
        SCOPED_TRACE("disk " + std::to_string(i + 1));
        EXPECT_EQ(set.disks[i].label, label_of(int(i + 1)));
        std::vector<std::string> names{ext};
        if (i == 0 && !c.exe_volumes)
            names = {"SETUP.EXE", "SETUP.ZIP"};
        EXPECT_EQ(set.disks[i].files, names);
        EXPECT_LE(set.disks[i].used, kSpan);
    }
    StreamView v = walk_stream(set.stream);
    // A disk is filled up when entry data runs across its end: only whole pieces move on. Which
    // disk ends inside data depends on the stub's size, so every disk end is looked at.
    size_t data_crossings = 0;
    for (size_t d = 0; d + 1 < set.disks.size(); ++d) {
        size_t boundary = set.starts[d + 1];
        bool inside_data = std::any_of(v.entries.begin(), v.entries.end(), [&](const StreamEntry& e) {
            // The encryption header goes with the local header, the last data byte with the
            // descriptor; the bytes between may be split anywhere.
            size_t data_start = e.data + ((e.flags & 1) ? 12 : 0);
            size_t split_end = e.data + e.compressed - ((e.flags & 8) ? 1 : 0);
            return data_start < boundary && boundary < split_end;
        });
        if (inside_data) {
            ++data_crossings;
            EXPECT_EQ(set.disks[d].used, kSpan) << "disk " << d + 1 << " ends inside entry data";
        }
    }
    EXPECT_GT(data_crossings, 0u) << "the folder is made so that entry data crosses a disk end";
    EXPECT_EQ(le32(set.stream, 0), kSpanning);
    for (const auto& [begin, end] : v.whole)
        EXPECT_EQ(set.disk_of(begin), set.disk_of(end - 1)) << "range " << begin << ".." << end << " split";
    bool descriptors =
        std::any_of(v.entries.begin(), v.entries.end(), [](const StreamEntry& e) { return (e.flags & 8) != 0; });
    EXPECT_EQ(descriptors, c.input_password != nullptr);
    if (!c.builder_password && !c.input_password)
        check_entries_against(set.stream, v, at("in"));
    check_directory(set, v);
    std::string password = c.builder_password ? c.builder_password : c.input_password ? c.input_password : "";
    check_with_7zip(set, at("split"), password);
}

INSTANTIATE_TEST_SUITE_P(Kinds, VolumeLayoutTest,
                         ::testing::Values(LayoutCase{"ZipVolumes", false, nullptr, nullptr},
                                           LayoutCase{"ExeVolumes", true, nullptr, nullptr},
                                           LayoutCase{"EncryptedExeVolumes", true, "geheim", nullptr},
                                           LayoutCase{"ZipCryptoExeVolumes", true, "geheim", nullptr, "zipcrypto"},
                                           LayoutCase{"EncryptedInputWithDescriptors", false, nullptr, "secret"}),
                         [](const ::testing::TestParamInfo<LayoutCase>& case_info) { return std::string(case_info.param.name); });

// A header that would cross the end of disk 2 ends that disk early and starts disk 3.
// The first build finds where disk 2 starts in the stream; the second sizes a.bin so that
// b.bin's header would begin 10 bytes before disk 2's end.
TEST_F(SpannedTest, HeaderThatWouldCrossADiskStartsTheNext)
{
    auto make_input = [&](size_t a_size) {
        fs::remove_all(at("in"));
        fs::create_directories(at("in"));
        write_bytes(at("in/a.bin"), noise(a_size, 1));
        write_bytes(at("in/b.bin"), noise(5000, 2));
        return at("in");
    };
    ASSERT_EQ(build_set(make_input(100000), at("probe"), {}).exit_code, 0);
    size_t disk2_start = read_set(at("probe"), "PROBE", false).starts.at(1);
    const size_t kHeader = 30 + 5 + 9;  // "b.bin" and its extended timestamp
    size_t a_size = disk2_start + kSpan - 10 - 4 - kHeader;
    RunResult r = build_set(make_input(a_size), at("disks"), {});
    ASSERT_EQ(r.exit_code, 0) << r.all();

    SpannedSet set = read_set(at("disks"), "DISKS", false);
    ASSERT_EQ(set.disks.size(), 3u);
    EXPECT_EQ(set.starts[1], disk2_start);
    EXPECT_EQ(set.disks[1].used, kSpan - 10) << "disk 2 ends where b.bin's header would have begun";
    const Bytes& disk3 = set.disks[2].archive_file;
    EXPECT_EQ(le32(disk3, 0), kLocal);
    EXPECT_EQ(std::string(disk3.begin() + 30, disk3.begin() + 35), "b.bin");
    check_entries_against(set.stream, walk_stream(set.stream), at("in"));
}

class DescriptorGapTest : public SpannedTest, public ::testing::WithParamInterface<size_t> {
protected:
    // An Info-ZIP archive of a.bin and b.bin, encrypted, so each entry has a descriptor.
    std::string make_input(size_t a_size)
    {
        fs::remove_all(at("in"));
        fs::create_directories(at("in"));
        write_bytes(at("in/a.bin"), noise(a_size, 1));
        write_bytes(at("in/b.bin"), noise(3000, 2));
        fs::remove(at("input.zip"));
        EXPECT_EQ(run_shell("cd '" + at("in") + "' && zip -q -0 -X -P pw ../input.zip a.bin b.bin").exit_code, 0);
        return at("input.zip");
    }
};

// The stub steps over a descriptor on the disk where the entry's data ended. a.bin's data
// is sized to end GetParam() bytes before disk 2's end: 0 (the descriptor would begin the
// next disk), 5 (it would cross) or 16 (it fits exactly).
TEST_P(DescriptorGapTest, DescriptorStaysWithTheEndOfItsData)
{
    ASSERT_EQ(build_set(make_input(100000), at("probe"), {}).exit_code, 0);
    SpannedSet probe = read_set(at("probe"), "PROBE", false);
    size_t data_start = walk_stream(probe.stream).entries.at(0).data;
    size_t disk2_end = probe.starts.at(1) + kSpan;
    size_t a_size = disk2_end - GetParam() - data_start - 12;
    RunResult r = build_set(make_input(a_size), at("disks"), {});
    ASSERT_EQ(r.exit_code, 0) << r.all();

    SpannedSet set = read_set(at("disks"), "DISKS", false);
    StreamView v = walk_stream(set.stream);
    ASSERT_EQ(v.entries.size(), 2u);
    const StreamEntry& a = v.entries[0];
    ASSERT_TRUE(a.flags & 8);
    size_t data_end = a.data + a.compressed;
    ASSERT_EQ(data_end, a_size + data_start + 12) << "a.bin's data starts where the probe said";
    EXPECT_EQ(set.disk_of(data_end + 15), set.disk_of(data_end - 1));
    EXPECT_EQ(le32(set.stream, data_end), kSpanning) << "descriptor signature";
    for (const Disk& d : set.disks)
        EXPECT_LE(d.used, kSpan);
    check_with_7zip(set, at("split"), "pw");
}

INSTANTIATE_TEST_SUITE_P(Gaps, DescriptorGapTest, ::testing::Values(size_t(0), size_t(5), size_t(16)));

// Disk 1's program carries the record of a spanned file: the flags, the archive's start,
// no end record to check; inspect passes it.
struct RecordCase {
    const char* name;
    std::vector<std::string> args;
    uint32_t flags;
};

void PrintTo(const RecordCase& c, std::ostream* out)
{
    *out << c.name;
}

class SpannedRecordTest : public SpannedTest, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(SpannedRecordTest, DiskOneProgramIsASpannedSelfExtractor)
{
    const RecordCase& c = GetParam();
    std::string in = make_uneven_folder();
    RunResult r = build_set(in, at("set"), c.args, 200 * 1024);
    ASSERT_EQ(r.exit_code, 0) << r.all();
    bool exe_volumes = (c.flags & 0x8000) != 0;
    Bytes exe = read_bytes(at("set/disk1/SET.EXE"));
    RecordView rec = read_record(exe);
    EXPECT_EQ(rec.flags, c.flags);
    EXPECT_EQ(rec.end_record_offset, 0u);
    SpannedSet set = read_set(at("set"), "SET", exe_volumes);
    uint64_t total = 0;
    for (const StreamEntry& e : walk_stream(set.stream).entries)
        total += e.uncompressed;
    EXPECT_EQ(rec.total_size, total);
    read_config_fields(exe);  // one Deflate stream from config_offset up to archive_offset

    PeView pe = read_pe(exe);
    const Section& attached = pe.sections.back();
    EXPECT_EQ(attached.name, "_tarvel_");
    EXPECT_EQ(attached.raw_pointer, rec.config_offset);
    EXPECT_EQ(attached.raw_size % pe.file_alignment, 0u);
    EXPECT_GE(attached.raw_pointer + attached.raw_size, rec.archive_offset) << "the section holds the configuration";
    EXPECT_LE(attached.raw_pointer + attached.raw_size, exe.size());
    EXPECT_EQ(pe.checksum, pe_checksum(exe, pe.pe_offset + 88));
    if (exe_volumes)
        EXPECT_EQ(le32(exe, rec.archive_offset), kSpanning) << "the archive follows the configuration";
    else
        EXPECT_EQ(exe.size(), attached.raw_pointer + attached.raw_size) << "no archive bytes in the program";

    RunResult inspected = run({tvsfx_path(), "inspect", at("set/disk1/SET.EXE")});
    EXPECT_EQ(inspected.exit_code, 0) << inspected.out;
    EXPECT_NE(inspected.out.find("check end record: skipped"), std::string::npos) << inspected.out;
}

INSTANTIATE_TEST_SUITE_P(Kinds, SpannedRecordTest,
                         ::testing::Values(RecordCase{"ZipVolumes", {}, 0x00001800},
                                           RecordCase{"ExeVolumes", {"--exe-volumes", "--auto"}, 0x00009A00}),
                         [](const ::testing::TestParamInfo<RecordCase>& case_info) { return std::string(case_info.param.name); });

// An archive that fits on disk 1 is one disk with the temporary spanning marker in front.
TEST_F(SpannedTest, ArchiveThatFitsIsOneDisk)
{
    std::string in = make_sample_folder();
    RunResult r = build_set(in, at("one"), {});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_EQ(list_folder(at("one")), std::vector<std::string>({"disk1"}));
    SpannedSet set = read_set(at("one"), "ONE", false);
    EXPECT_EQ(le32(set.stream, 0), kOneSegment);
    StreamView v = walk_stream(set.stream);
    check_entries_against(set.stream, v, in);
    check_directory(set, v);
    RunResult tested = run({"unzip", "-t", at("one/disk1/ONE.ZIP")});
    EXPECT_EQ(tested.exit_code, 0) << tested.all();
}

// A file too large to compress in memory goes through an unnamed scratch file. For a spanned
// build into a folder that is not there yet, the scratch file must not wait for that folder,
// whichever worker gets to its file first.
TEST_F(SpannedTest, LargeFileIntoAFolderNotYetMade)
{
    std::string in = make_sample_folder();
    write_bytes(in + "/large.bin", Bytes(65 * 1024 * 1024 + 1, 'z'));
    RunResult r = build_set(in, at("new/disks"), {"-j", "2"});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_EQ(list_folder(at("new/disks")).front(), "disk1");
}

struct SpanCase {
    const char* text;
    uint64_t bytes;
};

void PrintTo(const SpanCase& c, std::ostream* out)
{
    *out << c.text;
}

class SpanSizeTest : public SpannedTest, public ::testing::WithParamInterface<SpanCase> {};

// Disk 2 lies inside one large file's data, so it is filled to exactly the span.
TEST_P(SpanSizeTest, FillsDiskTwoToTheSpan)
{
    fs::create_directories(at("in"));
    write_bytes(at("in/big.bin"), noise(3500000, 3));
    RunResult r = build(at("in"), at("disks"), {"--multi-volume", "--span", GetParam().text});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_EQ(fs::file_size(at("disks/disk2/DISKS.ZIP")), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SpanSizeTest,
                         ::testing::Values(SpanCase{"98304", 98304}, SpanCase{"300k", 307200},
                                           SpanCase{"1M", 1048576}, SpanCase{"floppy", 1457664}),
                         [](const ::testing::TestParamInfo<SpanCase>& case_info) {
                             return std::string(case_info.param.text[0] == 'f' ? "floppy" : "n") + case_info.param.text;
                         });

TEST_F(SpannedTest, NameComesFromOptionFolderOrSetup)
{
    std::string in = make_sample_folder();
    ASSERT_EQ(build_set(in, at("out/Disks"), {}).exit_code, 0);
    ASSERT_EQ(build_set(in, at("out/my floppy set"), {}).exit_code, 0);
    ASSERT_EQ(build_set(in, at("out/x"), {"--name", "Inst_2"}).exit_code, 0);
    EXPECT_EQ(list_folder(at("out/Disks/disk1")),
              std::vector<std::string>({".windows-label", "DISKS.EXE", "DISKS.ZIP"}));
    EXPECT_EQ(list_folder(at("out/my floppy set/disk1")),
              std::vector<std::string>({".windows-label", "SETUP.EXE", "SETUP.ZIP"}));
    EXPECT_EQ(list_folder(at("out/x/disk1")), std::vector<std::string>({".windows-label", "INST_2.EXE", "INST_2.ZIP"}));
}

// A new build replaces every disk of an earlier one; a failed build leaves them as they were.
TEST_F(SpannedTest, RebuildReplacesEarlierDisksAndAFailureKeepsThem)
{
    ASSERT_EQ(build_set(make_uneven_folder(), at("disks"), {}).exit_code, 0);
    ASSERT_GE(list_folder(at("disks")).size(), 4u);
    ASSERT_EQ(build_set(make_sample_folder("small"), at("disks"), {}).exit_code, 0);
    EXPECT_EQ(list_folder(at("disks")), std::vector<std::string>({"disk1"}));
    Bytes before = read_bytes(at("disks/disk1/DISKS.ZIP"));

    // A central header larger than a disk (the largest extra field and a long comment): it
    // cannot lie on one.
    std::string script = "import struct, zipfile\n"
                         "z = zipfile.ZipFile('" + at("big-extra.zip") + "', 'w')\n"
                         "info = zipfile.ZipInfo('x.bin')\n"
                         "info.extra = struct.pack('<HH', 0xCAFE, 65531) + bytes(65531)\n"
                         "info.comment = bytes(40000)\n"
                         "z.writestr(info, b'data')\n"
                         "z.close()\n";
    write_text(at("make.py"), script);
    ASSERT_EQ(run({"python3", at("make.py")}).exit_code, 0);
    RunResult r = build_set(at("big-extra.zip"), at("disks"), {});
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find("does not fit on a disk"), std::string::npos) << r.err;
    EXPECT_EQ(list_folder(at("disks")), std::vector<std::string>({"disk1"})) << "no work folder left behind";
    EXPECT_EQ(read_bytes(at("disks/disk1/DISKS.ZIP")), before);
}

struct SpanRefusal {
    std::vector<std::string> args;
    const char* message;
};

void PrintTo(const SpanRefusal& c, std::ostream* out)
{
    *out << c.message;
}

class SpanRefusalTest : public SpannedTest, public ::testing::WithParamInterface<SpanRefusal> {};

TEST_P(SpanRefusalTest, FailsWithoutWritingDisks)
{
    RunResult r = build(make_sample_folder(), at("disks"), GetParam().args);
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_FALSE(exists(at("disks")));
}

INSTANTIATE_TEST_SUITE_P(
    Options, SpanRefusalTest,
    ::testing::Values(SpanRefusal{{"--span", "200k"}, "give --multi-volume too"},
                      SpanRefusal{{"--multi-volume", "--span", "1000"}, "below the smallest disk"},
                      SpanRefusal{{"--multi-volume", "--span", "12q"}, "--span needs bytes per disk"},
                      SpanRefusal{{"--multi-volume", "--span", "0"}, "--span needs bytes per disk"},
                      SpanRefusal{{"--name", "SETUP"}, "--name names the program on the disks"},
                      SpanRefusal{{"--multi-volume", "--span", "200k", "--name", "INSTALLER"}, "8.3 name"},
                      SpanRefusal{{"--multi-volume", "--span", "200k", "--name", "A.B"}, "8.3 name"}));

TEST_F(SpannedTest, NominalFloppySizeGetsAWarning)
{
    RunResult r = build_set(make_sample_folder(), at("disks"), {}, 1440 * 1024);
    EXPECT_EQ(r.exit_code, 0) << r.all();
    EXPECT_NE(r.err.find("warning: --span 1440k is more than a formatted 1.44 MB floppy holds"), std::string::npos)
        << r.err;
}

}  // namespace
