// Packages past the classic ZIP limits: more than 65,535 entries and a file over 4 GiB. The
// builder writes ZIP64 records exactly there; unzip, 7-Zip and the stub's own decoder (tvsfx
// test) must read the result, and the builder's memory must not grow with the file.
#include "builder_test_support.h"

#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Cases that take more than about a minute run only when asked for (make large).
bool large_tests_wanted()
{
    const char* wanted = std::getenv("TVSFX_LARGE");
    return wanted != nullptr && std::string(wanted) == "1";
}

void expect_tools_accept(const std::string& exe)
{
    RunResult u = run({"unzip", "-tq", exe});
    EXPECT_EQ(u.exit_code, 0) << u.all();
    EXPECT_NE(u.out.find("No errors detected"), std::string::npos) << u.all();
    RunResult s = run({"7zz", "t", "-tzip", exe});
    EXPECT_EQ(s.exit_code, 0) << s.all();
    EXPECT_NE(s.out.find("Everything is Ok"), std::string::npos) << s.all();
    EXPECT_EQ(s.all().find("WARNING"), std::string::npos) << s.all();
    RunResult t = run({tvsfx_path(), "test", exe});
    EXPECT_EQ(t.exit_code, 0) << t.all();
}

// 70,000 small files in 70 folders: the end record's 16-bit count cannot hold them, so the
// ZIP64 end record and its locator carry the count; no entry needs a ZIP64 record.
TEST_F(BuilderTest, MoreThan65535EntriesGetTheZip64EndRecord)
{
    const int files = 70000;
    for (int i = 0; i < files; ++i) {
        std::string folder = at("in/d" + std::to_string(i / 1000));
        if (i % 1000 == 0)
            fs::create_directories(folder);
        write_text(folder + "/f" + std::to_string(i) + ".txt", std::to_string(i));
    }
    RunResult r = build(at("in"), at("out.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    Bytes f = read_bytes(at("out.exe"));
    CentralView central = read_central_directory(f);
    EXPECT_TRUE(central.zip64_end);
    EXPECT_EQ(central.entries.size(), size_t(files));
    EXPECT_EQ(le16(f, central.end_record + 8), 0xFFFF) << "the classic count defers to the ZIP64 end record";
    EXPECT_EQ(le16(f, central.end_record + 10), 0xFFFF);
    std::vector<LocalEntry> locals = walk_local_headers(f, read_record(f).archive_offset);
    ASSERT_EQ(locals.size(), size_t(files));
    for (size_t i = 0; i < locals.size(); ++i) {
        ASSERT_FALSE(locals[i].zip64) << locals[i].name;
        ASSERT_FALSE(central.entries[i].zip64) << central.entries[i].name;
    }
    EXPECT_EQ(read_record(f).end_record_offset, central.end_record) << "the stub checks the classic end record";
    expect_tools_accept(at("out.exe"));
    RunResult inspected = run({tvsfx_path(), "inspect", at("out.exe")});
    EXPECT_NE(inspected.out.find("check archive walk: ok (70000 entries)"), std::string::npos) << inspected.all();
}

// A sparse file of 4.5 GiB of zeros beside a small one: the big entry's sizes go to ZIP64
// records (both sizes in its local header, the marked one in the central header), the small
// one stays classic, and the stub record's total carries its high part. The builder's peak
// memory stays that of a small build: the file is never held whole.
TEST_F(BuilderTest, FileOver4GiBGetsZip64SizesAndFlatMemory)
{
    if (!large_tests_wanted())
        GTEST_SKIP() << "a 4.5 GiB file takes minutes; TVSFX_LARGE=1 (make large) runs it";
    const uint64_t big = 0x120000000ull;  // 4.5 GiB
    fs::create_directories(at("in"));
    write_text(at("in/big.bin"), "");
    fs::resize_file(at("in/big.bin"), big);
    write_text(at("in/small.txt"), "klein\n");
    long peak = peak_memory_kib({tvsfx_path(), "build", "-q", "--stub", stub_path(), "-o", at("out.exe"), at("in")});
    fs::remove(at("in/big.bin"));
    EXPECT_LT(peak, 256 * 1024) << "peak " << peak << " KiB";

    Bytes f = read_bytes(at("out.exe"));
    EXPECT_LT(f.size(), size_t(16) << 20) << "zeros compress";
    RecordView rec = read_record(f);
    EXPECT_EQ(rec.total_size, uint32_t(big + 6));
    EXPECT_EQ(rec.total_size_high, uint32_t((big + 6) >> 32));
    std::vector<LocalEntry> locals = walk_local_headers(f, rec.archive_offset);
    CentralView central = read_central_directory(f);
    ASSERT_EQ(locals.size(), 2u);
    ASSERT_EQ(central.entries.size(), 2u);
    EXPECT_TRUE(locals[0].zip64);
    EXPECT_EQ(locals[0].uncompressed_size, big);
    EXPECT_EQ(le32(f, locals[0].offset + 22), 0xFFFFFFFFu) << "the local header's size fields are marked";
    EXPECT_GE(locals[0].version_needed, 45);
    EXPECT_TRUE(central.entries[0].zip64);
    EXPECT_EQ(central.entries[0].uncompressed_size, big);
    EXPECT_EQ(central.entries[0].compressed_size, locals[0].compressed_size);
    EXPECT_FALSE(locals[1].zip64);
    EXPECT_FALSE(central.entries[1].zip64);
    EXPECT_FALSE(central.zip64_end) << "the directory itself fits the classic end record";
    expect_tools_accept(at("out.exe"));
}

}  // namespace
