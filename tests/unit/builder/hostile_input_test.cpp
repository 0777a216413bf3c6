// Hostile and broken input: archives hand-made to lie in their central directory, special
// files in place of inputs and outputs, a build stopped by a signal. Each must end with one
// clear line naming the entry or file, and leave nothing behind.
#include "builder_test_support.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// --- a small ZIP writer that writes whatever it is told -------------------------------------

struct RawEntry {
    std::string name;
    uint16_t method = 0;
    uint16_t flags = 0;
    Bytes data;  // the bytes behind the local header
    uint32_t crc = 0;
    uint32_t compressed = 0;
    uint32_t size = 0;
    int shared_header_of = -1;  // >= 0: no local header of its own, points at that entry's
    Bytes extra;                // in both headers
    Bytes central_extra;        // when not empty: the central header's instead of `extra`
    uint32_t local_crc_flip = 0;  // XORed into the local header's CRC only
};

RawEntry stored(const std::string& name, const std::string& text)
{
    RawEntry e;
    e.name = name;
    e.data.assign(text.begin(), text.end());
    e.crc = crc32_of(e.data.data(), e.data.size());
    e.compressed = e.size = uint32_t(e.data.size());
    return e;
}

void append_header(Bytes& b, uint32_t signature, const RawEntry& e, bool central, uint32_t local_offset)
{
    append_le32(b, signature);
    if (central)
        append_le16(b, 20);  // made by
    append_le16(b, 20);
    append_le16(b, e.flags);
    append_le16(b, e.method);
    const Bytes& extra = central && !e.central_extra.empty() ? e.central_extra : e.extra;
    append_le32(b, 0);  // time and date
    append_le32(b, central ? e.crc : e.crc ^ e.local_crc_flip);
    append_le32(b, e.compressed);
    append_le32(b, e.size);
    append_le16(b, uint32_t(e.name.size()));
    append_le16(b, uint32_t(extra.size()));
    if (central) {
        append_le16(b, 0);  // comment
        append_le16(b, 0);  // disk
        append_le16(b, 0);  // internal attributes
        append_le32(b, 0);  // external attributes
        append_le32(b, local_offset);
    }
    b.insert(b.end(), e.name.begin(), e.name.end());
    b.insert(b.end(), extra.begin(), extra.end());
}

// `count_change` is added to the entry count of the end record.
Bytes make_zip(const std::vector<RawEntry>& entries, int count_change = 0)
{
    Bytes zip;
    std::vector<uint32_t> offsets;
    for (const RawEntry& e : entries) {
        if (e.shared_header_of >= 0) {
            offsets.push_back(offsets.at(size_t(e.shared_header_of)));
            continue;
        }
        offsets.push_back(uint32_t(zip.size()));
        append_header(zip, 0x04034B50, e, false, 0);
        zip.insert(zip.end(), e.data.begin(), e.data.end());
    }
    uint32_t directory = uint32_t(zip.size());
    for (size_t i = 0; i < entries.size(); ++i)
        append_header(zip, 0x02014B50, entries[i], true, offsets[i]);
    append_le32(zip, 0x06054B50);
    append_le32(zip, 0);
    append_le16(zip, uint32_t(int(entries.size()) + count_change));
    append_le16(zip, uint32_t(int(entries.size()) + count_change));
    append_le32(zip, uint32_t(zip.size()) - directory - 12);
    append_le32(zip, directory);
    append_le16(zip, 0);
    return zip;
}

// --- refusals the central directory decides -------------------------------------------------

struct RefusalCase {
    const char* name;
    Bytes (*make)();
    const char* message;
};

void PrintTo(const RefusalCase& c, std::ostream* out)
{
    *out << c.name;
}

// An encrypted stored entry whose sizes are consistent with each other but whose data
// runs over the next entry's local header.
Bytes swallowing_entry()
{
    RawEntry a = stored("a.txt", std::string(17, 'x'));
    a.flags = 1;
    a.compressed = 17 + 30 + 5 + 5;  // and the next local header and its data
    a.size = a.compressed - 12;
    return make_zip({a, stored("b.txt", "hello")});
}

// A non-ASCII name gains a Unicode name field in both headers; with the input's own extra
// fields nearly 64 KiB long, their 16-bit length would wrap.
Bytes extra_fields_near_the_limit()
{
    RawEntry a = stored("\xC3\xA4.txt", "x");
    a.flags = 0x800;  // the name is UTF-8
    a.extra = {0xFE, 0xCA, 0, 0};
    put_le16(a.extra, 2, 65522);
    a.extra.resize(4 + 65522, 0);
    return make_zip({a});
}

// Deflate data (one stored block of 1000 bytes) that ends before the header's size, with
// the CRC of what it gives.
Bytes deflate_shorter_than_its_size()
{
    RawEntry a;
    a.name = "short.bin", a.method = 8;
    Bytes plain(1000, 'z');
    a.data = {0x01, 0xE8, 0x03, 0x17, 0xFC};
    a.data.insert(a.data.end(), plain.begin(), plain.end());
    a.crc = crc32_of(plain.data(), plain.size());
    a.compressed = uint32_t(a.data.size()), a.size = 2000;
    return make_zip({a});
}

// Deflate data of "Zeile fuer" and its CRC: `stream` bytes of a fixed block whose last byte
// holds only the end-of-block code, or a sync-flushed stream of "hello hello hello hello"
// that never has a final block. Every byte of the text decodes from either.
Bytes deflate_entry(const std::string& name, const Bytes& stream, const std::string& text)
{
    RawEntry a;
    a.name = name, a.method = 8, a.data = stream;
    a.crc = crc32_of(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    a.compressed = uint32_t(stream.size()), a.size = uint32_t(text.size());
    return make_zip({stored("a.txt", "x"), a});
}

Bytes deflate_without_its_end_of_block()
{
    return deflate_entry("cut.txt", {0x8B, 0x4A, 0xCD, 0xCC, 0x49, 0x55, 0x48, 0x2B, 0x4D, 0x2D, 0x02}, "Zeile fuer");
}

Bytes sync_flushed_without_final_block()
{
    return deflate_entry("flushed.txt", {0xCA, 0x48, 0xCD, 0xC9, 0xC9, 0x57, 0xC8, 0x40, 0x27, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF},
                         "hello hello hello hello");
}

// An AES entry (data never read: the headers are refused first) whose records say `local`
// and `central` key strength.
Bytes aes_entry(uint8_t local, uint8_t central)
{
    RawEntry a;
    a.name = "geheim.txt", a.method = 99, a.flags = 1;
    a.data = Bytes(60, 0x5A);
    a.compressed = 60, a.size = 20;
    a.extra = {0x01, 0x99, 7, 0, 2, 0, 'A', 'E', local, 8, 0};
    a.central_extra = {0x01, 0x99, 7, 0, 2, 0, 'A', 'E', central, 8, 0};
    return make_zip({a});
}

Bytes local_crc_differs()
{
    RawEntry a = stored("a.txt", "hello");
    a.local_crc_flip = 0x100;
    return make_zip({a});
}

Bytes too_large_in_total()
{
    // Deflate gives at most 1032 bytes per byte, so 3 GB need 2.9 MB: claimed, not present.
    RawEntry a, b;
    a.name = "a.bin", b.name = "b.bin";
    a.method = b.method = 8;
    a.size = b.size = 3000000000u;
    a.compressed = b.compressed = 3000000000u / 1032 + 1;
    return make_zip({a, b});
}

class CentralDirectoryRefusalTest : public BuilderTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(CentralDirectoryRefusalTest, RefusesNamingTheEntry)
{
    write_bytes(at("input.zip"), GetParam().make());
    std::vector<std::string> before = list_folder(dir.path());
    RunResult r = build(at("input.zip"), at("out.exe"));
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_EQ(list_folder(dir.path()), before) << "neither the output nor a temporary file";
    for (char c : r.err)
        EXPECT_TRUE(uint8_t(c) >= 0x20 || c == '\n') << "a control byte reached the terminal: " << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Archives, CentralDirectoryRefusalTest,
    ::testing::Values(
        RefusalCase{"DuplicateName", [] { return make_zip({stored("a.txt", "x"), stored("a.txt", "y")}); },
                    "entry \"a.txt\" appears twice (entries 1 and 2)"},
        RefusalCase{"DuplicateWithOtherSeparator",
                    [] { return make_zip({stored("d/a.txt", "x"), stored("d\\a.txt", "y")}); },
                    "entry \"d\\a.txt\" and \"d/a.txt\" (entries 1 and 2) name the same path"},
        RefusalCase{"DuplicateInCaseOnly",
                    [] { return make_zip({stored("Docs/A.txt", "x"), stored("docs/a.TXT", "y")}); },
                    "entry \"docs/a.TXT\" and \"Docs/A.txt\" name the same file on Windows"},
        RefusalCase{"FileAndFolderInCaseOnly", [] { return make_zip({stored("a", "x"), stored("A/b", "y")}); },
                    "entry \"A/b\" needs a folder where \"a\" is a file"},
        RefusalCase{"FileAndFolderOfOneName", [] { return make_zip({stored("d/a/b", "y"), stored("d/a", "x")}); },
                    "entry \"d/a/b\" needs a folder where \"d/a\" is a file"},
        RefusalCase{"SharedLocalHeader",
                    [] {
                        RawEntry b = stored("a.txt", "x");
                        b.name = "b.txt";
                        b.shared_header_of = 0;
                        return make_zip({stored("a.txt", "x"), b});
                    },
                    "entry \"b.txt\" shares its local header with entry \"a.txt\""},
        RefusalCase{"StoredSizesDisagree",
                    [] {
                        RawEntry a = stored("a.txt", "hello");
                        a.size = 10;
                        return make_zip({a});
                    },
                    "entry \"a.txt\" is stored, yet its compressed size 5 is not its size 10"},
        RefusalCase{"StoredEncryptedWithoutItsHeader",
                    [] {
                        RawEntry a = stored("a.txt", std::string(17, 'x'));
                        a.flags = 1;
                        return make_zip({a});
                    },
                    "entry \"a.txt\" is stored, yet its compressed size 17 is not its size 17 plus 12"},
        RefusalCase{"StoredEncryptedSwallowsTheNextEntry", swallowing_entry,
                    "entry \"a.txt\": its data (57 bytes) runs into entry \"b.txt\""},
        RefusalCase{"DataPastTheDirectory",
                    [] {
                        RawEntry a = stored("a.txt", "hello");
                        a.compressed = a.size = 1000;
                        return make_zip({a});
                    },
                    "entry \"a.txt\": its data (1000 bytes) runs past the start of the central directory"},
        RefusalCase{"MoreThanDeflateCanGive",
                    [] {
                        RawEntry a;
                        a.name = "bomb.bin", a.method = 8, a.data = {0x03, 0x00};
                        a.compressed = 2, a.size = 1000000;
                        return make_zip({a});
                    },
                    "entry \"bomb.bin\" claims 1000000 bytes from 2 compressed bytes"},
        RefusalCase{"ExtraFieldsThatWouldWrap", extra_fields_near_the_limit,
                    "entry \"\u00E4.txt\": its local header's extra fields would take 65541 bytes, more than the "
                    "65535 a ZIP header holds"},
        RefusalCase{"DeflateShorterThanItsSize", deflate_shorter_than_its_size,
                    "entry \"short.bin\": its data gives 1000 bytes, the header says 2000"},
        RefusalCase{"DeflateWithoutItsEndOfBlock", deflate_without_its_end_of_block,
                    "entry \"cut.txt\": its Deflate data is damaged (the final block does not end within the data)"},
        RefusalCase{"SyncFlushedWithoutFinalBlock", sync_flushed_without_final_block,
                    "entry \"flushed.txt\": its Deflate data is damaged (the final block does not end within the "
                    "data)"},
        RefusalCase{"AesStrengthDiffersFromTheCentralRecord", [] { return aes_entry(1, 3); },
                    "entry \"geheim.txt\": the AES extra fields (0x9901) of its local header and the central "
                    "directory disagree"},
        RefusalCase{"LocalCrcDiffersFromTheCentralOne", local_crc_differs,
                    "entry \"a.txt\": the local header gives CRC-32 0x3610A786, the central directory 0x3610A686"},
        // 6 GB in all is no limit any more (ZIP64), but data that is only claimed still is.
        RefusalCase{"MoreThan4GiBInTotalWithoutTheData", too_large_in_total,
                    "entry \"a.bin\": its data (2906977 bytes) runs past the start of the central directory"},
        RefusalCase{"CountAboveTheRecords",
                    [] { return make_zip({stored("a.txt", "x"), stored("b.txt", "y")}, 1); },
                    "a central directory of 102 bytes cannot hold its 3 entries"},
        RefusalCase{"RecordsBeyondTheCount",
                    [] { return make_zip({stored("a.txt", "x"), stored("b.txt", "y")}, -1); },
                    "51 bytes of the central directory follow its 1 entries"},
        RefusalCase{"EscapeSequenceInName",
                    [] { return make_zip({stored("\x1b]0;owned\x07.txt", "x"), stored("\x1b]0;owned\x07.txt", "y")}); },
                    "entry \"\\x1B]0;owned\\x07.txt\" appears twice"},
        RefusalCase{"NulInName",
                    [] { return make_zip({stored(std::string("a\0b", 3), "x"), stored(std::string("a\0b", 3), "y")}); },
                    "entry \"a\\x00b\" appears twice"}),
    [](const ::testing::TestParamInfo<RefusalCase>& case_info) { return std::string(case_info.param.name); });

// The local header of the entry named `name` in a built file: its offset.
size_t local_header_of(const Bytes& file, const std::string& name)
{
    for (size_t at = 0; at + 30 + name.size() <= file.size(); ++at) {
        if (le32(file, at) == 0x04034B50 && le16(file, at + 26) == name.size() &&
            std::equal(name.begin(), name.end(), file.begin() + long(at + 30)))
            return at;
    }
    return std::string::npos;
}

// Bytes behind the final block are no part of the entry: the builder leaves them out, says so
// naming the entry, and the package's entry is exactly its stream, which `tvsfx test` accepts.
TEST_F(BuilderTest, BytesBehindTheFinalBlockAreLeftOutWithAWarning)
{
    Bytes stream = {0x8B, 0x4A, 0xCD, 0xCC, 0x49, 0x55, 0x48, 0x2B, 0x4D, 0x2D, 0x02, 0x00, 1, 2, 3, 4, 5};
    write_bytes(at("input.zip"), deflate_entry("tail.txt", stream, "Zeile fuer"));
    RunResult r = build(at("input.zip"), at("out.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_NE(r.err.find("entry \"tail.txt\": the 5 bytes behind the end of its Deflate data are left out"),
              std::string::npos)
        << r.err;
    Bytes file = read_bytes(at("out.exe"));
    size_t local = local_header_of(file, "tail.txt");
    ASSERT_NE(local, std::string::npos);
    EXPECT_EQ(le32(file, local + 18), 12u) << "the compressed size is the stream's";
    EXPECT_TRUE(std::equal(stream.begin(), stream.begin() + 12, file.begin() + long(local + 30 + 8 + le16(file, local + 28))));
    RunResult tested = run({tvsfx_path(), "test", at("out.exe")});
    EXPECT_EQ(tested.exit_code, 0) << tested.all();
}

// Limits for a child: 60 CPU seconds and `kib` KiB of address space. Far above what a
// correct run needs, far below what the faults took (50 minutes; the claimed gigabytes).
std::string limited(const std::string& command, int kib)
{
    return "ulimit -t 60 && ulimit -v " + std::to_string(kib) + " && " + command;
}

TEST_F(BuilderTest, OneHugeEntryNamedThousandsOfTimesIsRefusedBeforeAnyData)
{
    // 65,534 central records of one 4 GiB entry: each would be decompressed and copied.
    RawEntry big;
    // 4.2 MB of data is enough for Deflate to give 4 GiB; the archive is about 7 MB.
    big.name = "big.bin", big.method = 8, big.data = Bytes(4200000, 0);
    big.compressed = 4200000, big.size = 0xFFFFFFF0u;
    RawEntry again = big;
    again.data.clear();
    again.shared_header_of = 0;
    std::vector<RawEntry> entries(65534, again);
    entries[0] = big;
    write_bytes(at("bomb.zip"), make_zip(entries));
    RunResult r = run_shell(limited("'" + tvsfx_path() + "' build --stub '" + stub_path() + "' -o '" + at("out.exe") +
                                    "' '" + at("bomb.zip") + "'", 800000));
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.err.find("entry \"big.bin\" appears twice (entries 1 and 2)"), std::string::npos) << r.err;
    EXPECT_EQ(list_folder(dir.path()), std::vector<std::string>{"bomb.zip"});
}

TEST_F(BuilderTest, DirectoryClaimingGigabytesIsNotReadIntoMemory)
{
    // A sparse file of 1.6 GB whose end record claims a 1.5 GiB central directory of one entry.
    Bytes end(22, 0);
    put_le32(end, 0, 0x06054B50);
    end[8] = end[10] = 1;
    put_le32(end, 12, 0x60000000);
    put_le32(end, 16, 0x00100000);
    std::string path = at("sparse.zip");
    write_bytes(path, {});
    fs::resize_file(path, 0x60100000);
    RunResult appended = run_shell("printf '" + [&] {
        std::string s;
        for (uint8_t b : end) {
            char o[8];
            std::snprintf(o, sizeof o, "\\%03o", b);
            s += o;
        }
        return s;
    }() + "' >> '" + path + "'");
    ASSERT_EQ(appended.exit_code, 0);
    RunResult r = run_shell(limited("'" + tvsfx_path() + "' build --stub '" + stub_path() + "' -o '" + at("out.exe") +
                                    "' '" + path + "'", 800000));
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.err.find("damaged ZIP (bad central directory record"), std::string::npos) << r.err;
}

TEST_F(BuilderTest, InspectReadsASparseClaimInChunks)
{
    // archive_offset claims 512 MB of checksummed stub; the file holds it only as a hole.
    ASSERT_EQ(build(make_sample_folder(), at("out.exe")).exit_code, 0) << "";
    Bytes exe = read_bytes(at("out.exe"));
    RecordView record = read_record(exe);
    put_le32(exe, record.offset + 12, 0x20000000);  // archive_offset
    write_bytes(at("sparse.exe"), exe);
    fs::resize_file(at("sparse.exe"), 0x20001000);
    RunResult r = run_shell(limited("'" + tvsfx_path() + "' inspect '" + at("sparse.exe") + "'", 300000));
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.out.find("check stub checksum: FAILED"), std::string::npos) << r.out;
}

TEST_F(BuilderTest, ExactlyTheEntryLimitReadsBack)
{
    // 65,535 entries fill the end record's count; the builder must take its own file back.
    RunResult made = run_shell("cd '" + dir.path() + "' && python3 -c \"import zipfile\n"
                               "with zipfile.ZipFile('many.zip', 'w') as z:\n"
                               "    [z.writestr('f%05d' % i, b'') for i in range(65535)]\"");
    ASSERT_EQ(made.exit_code, 0) << made.all();
    RunResult first = build(at("many.zip"), at("first.exe"));
    ASSERT_EQ(first.exit_code, 0) << first.all();
    RunResult second = build(at("first.exe"), at("second.exe"));
    ASSERT_EQ(second.exit_code, 0) << second.all();
    CentralView second_directory = read_central_directory(read_bytes(at("second.exe")));
    EXPECT_EQ(second_directory.entries.size(), 65535u);
    EXPECT_FALSE(second_directory.zip64_end) << "exactly 65,535 entries stay classic, as the builder always wrote them";
    RunResult inspect = run({tvsfx_path(), "inspect", at("second.exe")});
    EXPECT_NE(inspect.out.find("check archive walk: ok (65535 entries)"), std::string::npos) << inspect.out;
}

// --- what inspect flags in a built file -----------------------------------------------------

TEST_F(BuilderTest, InspectFlagsAnEntryThatSwallowsTheNext)
{
    // Encrypted entries, whose data inspect cannot check: only the walk can tell.
    write_bytes(at("in.zip"), make_zip({stored("a.txt", "first"), stored("b.txt", "second"), stored("c.txt", "x")}));
    ASSERT_EQ(build(at("in.zip"), at("out.exe"), {"--password", "secret", "--encryption", "zipcrypto"}).exit_code, 0);
    Bytes exe = read_bytes(at("out.exe"));
    std::vector<LocalEntry> walk = walk_local_headers(exe, read_record(exe).archive_offset);
    ASSERT_EQ(walk.size(), 3u);
    // a.txt now reaches to the end of b.txt: the walk meets two entries, the end record lists three.
    uint32_t swallowed = uint32_t(walk[1].data_offset + walk[1].compressed_size - walk[0].data_offset);
    put_le32(exe, walk[0].offset + 18, swallowed);
    put_le32(exe, walk[0].offset + 22, swallowed - 12);
    write_bytes(at("out.exe"), exe);
    RunResult r = run({tvsfx_path(), "inspect", at("out.exe")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.out.find("check archive walk: FAILED (the walk meets 2 entries, the end record lists 3"),
              std::string::npos)
        << r.out;
}

class Deflate64Test : public BuilderTest {
protected:
    void SetUp() override
    {
        if (!have_program("7zz"))
            GTEST_SKIP() << "7zz is not installed";
        std::string text;
        for (int i = 0; i < 20000; ++i)
            text += std::to_string(i * 7919 % 10007) + " ";
        fs::create_directories(at("src"));
        write_text(at("src/text.txt"), text);
        RunResult made = run_shell("cd '" + at("src") + "' && 7zz a -tzip -mm=Deflate64 ../d64.zip text.txt >/dev/null");
        ASSERT_EQ(made.exit_code, 0) << made.all();
    }
    // Flips a byte in the middle of the entry's data.
    void damage(const std::string& path, size_t archive_start)
    {
        Bytes b = read_bytes(path);
        std::vector<LocalEntry> walk = walk_local_headers(b, archive_start);
        ASSERT_EQ(walk.size(), 1u);
        ASSERT_EQ(walk[0].method, 9);
        b.at(walk[0].data_offset + walk[0].compressed_size / 2) ^= 0x5A;
        write_bytes(path, b);
    }
};

TEST_F(Deflate64Test, DamagedEntryIsRefusedByBuild)
{
    ASSERT_EQ(build(at("d64.zip"), at("good.exe")).exit_code, 0) << "the undamaged archive builds";
    damage(at("d64.zip"), 0);
    RunResult r = build(at("d64.zip"), at("out.exe"));
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.err.find("entry \"text.txt\": its Deflate64 data"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(at("out.exe")));
}

TEST_F(Deflate64Test, DamagedEntryIsFlaggedByInspect)
{
    ASSERT_EQ(build(at("d64.zip"), at("out.exe")).exit_code, 0);
    RunResult good = run({tvsfx_path(), "inspect", at("out.exe")});
    EXPECT_EQ(good.exit_code, 0) << good.out;
    damage(at("out.exe"), read_record(read_bytes(at("out.exe"))).archive_offset);
    RunResult r = run({tvsfx_path(), "inspect", at("out.exe")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.out.find("check archive walk: FAILED (entry \"text.txt\": its Deflate64 data"), std::string::npos)
        << r.out;
}

// --- special files ----------------------------------------------------------------------------

struct SpecialFileCase {
    const char* name;
    // The command's arguments after tvsfx; FIFO stands for the FIFO's path, IN for a folder.
    std::vector<std::string> args;
    const char* message;
};

void PrintTo(const SpecialFileCase& c, std::ostream* out)
{
    *out << c.name;
}

class SpecialFileTest : public BuilderTest, public ::testing::WithParamInterface<SpecialFileCase> {};

TEST_P(SpecialFileTest, IsRefusedWithoutBlocking)
{
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    std::string in = make_sample_folder();
    // timeout ends a builder that blocks in open(); its exit status 124 fails the test.
    std::vector<std::string> argv = {"timeout", "60", tvsfx_path()};
    for (const std::string& a : GetParam().args)
        argv.push_back(a == "FIFO" ? at("fifo") : a == "IN" ? in : a == "OUT" ? at("out.exe") : a == "STUB" ? stub_path() : a);
    RunResult r = run(argv);
    EXPECT_TRUE(r.exit_code == 1 || r.exit_code == 2) << r.all();
    std::string message = GetParam().message;
    message.replace(message.find("FIFO"), 4, at("fifo"));  // the first FIFO is the path
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_FALSE(exists(at("out.exe")));
    struct stat st;
    ASSERT_EQ(lstat(at("fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO is still a FIFO";
}

INSTANTIATE_TEST_SUITE_P(
    Fifos, SpecialFileTest,
    ::testing::Values(
        SpecialFileCase{"Input", {"build", "--stub", "STUB", "-o", "OUT", "FIFO"}, "input FIFO is a FIFO, not a regular file"},
        SpecialFileCase{"Inspect", {"inspect", "FIFO"}, "file FIFO is a FIFO, not a regular file"},
        SpecialFileCase{"Stub", {"build", "--stub", "FIFO", "-o", "OUT", "IN"}, "stub FIFO is a FIFO, not a regular file"},
        SpecialFileCase{"Output", {"build", "--stub", "STUB", "-o", "FIFO", "IN"},
                        "output FIFO is a FIFO; the builder writes only regular files"}),
    [](const ::testing::TestParamInfo<SpecialFileCase>& case_info) { return std::string(case_info.param.name); });

TEST_F(BuilderTest, OutputThatIsTheInputIsRefused)
{
    write_bytes(at("same.zip"), make_zip({stored("a.txt", "x")}));
    Bytes before = read_bytes(at("same.zip"));
    RunResult r = build(at("same.zip"), at("same.zip"));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("is the input itself"), std::string::npos) << r.err;
    EXPECT_EQ(read_bytes(at("same.zip")), before);
}

TEST_F(BuilderTest, OutputThatIsTheStubIsRefused)
{
    Bytes stub = read_bytes(stub_path());
    write_bytes(at("stub.exe"), stub);
    ASSERT_EQ(::link(at("stub.exe").c_str(), at("other-name.exe").c_str()), 0);
    for (const char* output : {"stub.exe", "other-name.exe"}) {
        RunResult r = build(make_sample_folder(), at(output), {}, at("stub.exe"));
        EXPECT_EQ(r.exit_code, 1) << r.all();
        EXPECT_NE(r.err.find("is the stub"), std::string::npos) << r.err;
        EXPECT_EQ(read_bytes(at("stub.exe")), stub) << "the stub is left as it was";
    }
}

TEST_F(BuilderTest, OutputNameAtTheFileSystemLimitIsWritten)
{
    std::string input = make_sample_folder();
    for (size_t length : {248u, 255u}) {
        std::string name = std::string(length - 4, 'n') + ".exe";
        RunResult r = build(input, at(name));
        EXPECT_EQ(r.exit_code, 0) << length << ": " << r.all();
        EXPECT_TRUE(exists(at(name))) << length;
    }
}

TEST_F(BuilderTest, OutputInsideTheInputFolderIsRefused)
{
    std::string in = make_sample_folder();
    std::vector<std::string> before = list_folder(in);
    RunResult r = build(in, in + "/sub/../out.exe");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("lies inside the input folder"), std::string::npos) << r.err;
    EXPECT_EQ(list_folder(in), before);
}

TEST_F(BuilderTest, ReplacedOutputKeepsItsPermissions)
{
    write_text(at("out.exe"), "old");
    ASSERT_EQ(chmod(at("out.exe").c_str(), 0640), 0);
    ASSERT_EQ(build(make_sample_folder(), at("out.exe")).exit_code, 0);
    struct stat st;
    ASSERT_EQ(stat(at("out.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// --- a full disk while a large file is streamed ----------------------------------------------

// A file over the 64 MiB kept in memory is streamed through a temporary file (compressed) or
// straight into the output (stored). When the disk fills, the message must give the system's
// reason, not a guess. Without root the file-size limit (EFBIG) stands in for a full disk; as
// root a 2 MB tmpfs in a private mount namespace gives the real ENOSPC.
struct DiskFullCase {
    const char* name;
    const char* level;
    bool tmpfs;          // a real full disk (needs root), else the file-size limit
    const char* writes;  // what the message says could not be written
    const char* reason;
};

void PrintTo(const DiskFullCase& c, std::ostream* out)
{
    *out << c.name;
}

class DiskFullTest : public BuilderTest, public ::testing::WithParamInterface<DiskFullCase> {};

TEST_P(DiskFullTest, MessageGivesTheSystemsReason)
{
    const DiskFullCase& c = GetParam();
    // 4 MiB that Deflate cannot shrink, then a hole up to just over 64 MiB.
    fs::create_directories(at("in"));
    write_bytes(at("in/big.bin"), noise_bytes(4u << 20, 21));
    fs::resize_file(at("in/big.bin"), (64u << 20) + 4096);
    fs::create_directories(at("small"));
    std::string output = at("small/out.exe");
    std::string build_command = "'" + tvsfx_path() + "' build --level " + c.level + " --stub '" + stub_path() +
                                "' -o '" + output + "' '" + at("in") + "'";
    RunResult r;
    if (c.tmpfs) {
        if (run_shell("unshare -m true").exit_code != 0)
            GTEST_SKIP() << "no private mount namespace (needs root)";
        // The listing runs inside the namespace: the tmpfs goes with it.
        r = run_shell("unshare -m sh -c \"mount -t tmpfs -o size=2m tvsfx-test '" + at("small") + "' && { " +
                      build_command + "; echo exit \\$?; ls -A '" + at("small") + "'; }\"");
        EXPECT_NE(r.out.find("exit 1\n"), std::string::npos) << r.all();
        EXPECT_EQ(r.out.substr(r.out.find("exit 1\n") + 7), "") << "left on the full disk";
    } else {
        // The limit is in blocks of 512 or 1024 bytes (the shell decides): 1 or 2 MiB.
        r = run_shell("trap '' XFSZ; ulimit -f 2048 && exec " + build_command);
        EXPECT_EQ(r.exit_code, 1) << r.all();
        EXPECT_TRUE(list_folder(at("small")).empty());
    }
    std::string expected = std::string("cannot write ") + (c.writes[0] == '/' ? output : c.writes) + ": " + c.reason;
    EXPECT_NE(r.err.find(expected), std::string::npos) << "expected: " << expected << "\n" << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    LargeFile, DiskFullTest,
    ::testing::Values(
        DiskFullCase{"CompressedOverTheSizeLimit", "1", false, "the temporary file of big.bin", "File too large"},
        DiskFullCase{"StoredOverTheSizeLimit", "0", false, "/", "File too large"},
        DiskFullCase{"CompressedOnAFullDisk", "1", true, "the temporary file of big.bin", "No space left on device"},
        DiskFullCase{"StoredOnAFullDisk", "0", true, "/", "No space left on device"}),
    [](const ::testing::TestParamInfo<DiskFullCase>& case_info) { return std::string(case_info.param.name); });

// --- a build ended by a signal ----------------------------------------------------------------

// The build waits on a stopped terminal (StoppedTerminal) with its temporary files in place
// until the signal ends it, whatever the machine's speed.
struct SignalCase {
    const char* name;
    int signal_number;
    bool spanned;
};

void PrintTo(const SignalCase& c, std::ostream* out)
{
    *out << c.name;
}

class SignalTest : public BuilderTest, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(SignalTest, LeavesNothingBehind)
{
    const SignalCase& c = GetParam();
    std::string input = make_sample_folder();
    fs::create_directories(at("out"));
    // A spanned build into a folder it has to make: the folder goes too.
    std::string output = c.spanned ? at("out/new/dist") : at("out/out.exe");
    std::vector<std::string> args{tvsfx_path(), "build", "--stub", stub_path(), "-o", output};
    if (c.spanned)
        args.insert(args.end(), {"--multi-volume", "--span", "1M"});
    args.push_back(input);

    StoppedTerminal terminal;
    ASSERT_TRUE(terminal.ok());
    pid_t pid = terminal.start(args);
    ASSERT_GT(pid, 0);

    // The temporary output, or the work folder of a spanned build, shows the build under way.
    bool seen = wait_until(has_entries, c.spanned ? at("out/new/dist") : at("out"));
    kill(pid, c.signal_number);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(seen) << "the build made no temporary file or folder";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal_number) << "status " << status;
    std::vector<std::string> left = list_folder(at("out"));
    EXPECT_TRUE(left.empty()) << "left: " << left.front();
}

INSTANTIATE_TEST_SUITE_P(
    DuringBuild, SignalTest,
    ::testing::Values(SignalCase{"PlainInterrupt", SIGINT, false}, SignalCase{"PlainTerminate", SIGTERM, false},
                      SignalCase{"PlainHangUp", SIGHUP, false}, SignalCase{"PlainQuit", SIGQUIT, false},
                      SignalCase{"SpannedInterrupt", SIGINT, true}, SignalCase{"SpannedTerminate", SIGTERM, true},
                      SignalCase{"SpannedHangUp", SIGHUP, true}, SignalCase{"SpannedQuit", SIGQUIT, true}),
    [](const ::testing::TestParamInfo<SignalCase>& case_info) { return std::string(case_info.param.name); });

}  // namespace
