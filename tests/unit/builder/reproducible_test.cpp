// The same input and options give the same bytes: whatever the thread count, the order in
// which the file system lists the files, their permissions, the time zone and, with
// SOURCE_DATE_EPOCH set, their modification times after it.
#include "builder_test_support.h"

#include <filesystem>
#include <sys/stat.h>
#include <utime.h>

namespace fs = std::filesystem;

namespace {

// 2020-01-01 00:00:00 UTC.
constexpr long SOURCE_DATE = 1577836800;

void set_mtime(const std::string& path, long seconds)
{
    struct utimbuf times = {seconds, seconds};
    ASSERT_EQ(utime(path.c_str(), &times), 0) << path;
}

// Files of several sizes and kinds, created in the order given (file systems list files in
// creation or hash order, never sorted).
void make_tree(const std::string& root, const std::vector<std::string>& names, long mtime, mode_t mode)
{
    for (const std::string& name : names) {
        fs::create_directories(fs::path(root + "/" + name).parent_path());
        std::string text;
        for (size_t i = 0; i < 300 * name.size(); ++i)
            text += name + " " + std::to_string(i * i) + "\n";
        write_text(root + "/" + name, text);
        chmod((root + "/" + name).c_str(), mode);
        set_mtime(root + "/" + name, mtime);
    }
}

TEST_F(BuilderTest, ThreadCountDoesNotChangeTheBytes)
{
    std::string in = at("in");
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i)
        names.push_back("dir" + std::to_string(i % 4) + "/file" + std::to_string(i) + ".txt");
    make_tree(in, names, SOURCE_DATE, 0644);
    // One file above the in-memory limit (64 MiB), so the streamed path runs beside the others.
    std::string big;
    for (int i = 0; big.size() <= (64u << 20); ++i)
        big += "row " + std::to_string(i) + " of the large file\n";
    write_text(in + "/big.txt", big);

    ASSERT_EQ(build(in, at("j1.exe"), {"-j", "1", "--level", "1"}).exit_code, 0);
    ASSERT_EQ(build(in, at("j7.exe"), {"-j", "7", "--level", "1"}).exit_code, 0);
    EXPECT_EQ(read_bytes(at("j1.exe")), read_bytes(at("j7.exe")));
    // And the default level too, on the small files alone.
    fs::remove(in + "/big.txt");
    ASSERT_EQ(build(in, at("d1.exe"), {"-j", "1"}).exit_code, 0);
    ASSERT_EQ(build(in, at("d3.exe"), {"-j", "3"}).exit_code, 0);
    EXPECT_EQ(read_bytes(at("d1.exe")), read_bytes(at("d3.exe")));
    RunResult tested = run({tvsfx_path(), "test", at("d3.exe")});
    EXPECT_EQ(tested.exit_code, 0) << tested.all();
}

TEST_F(BuilderTest, SameFolderInAnotherOrderAndTimeZoneGivesTheSameBytes)
{
    std::vector<std::string> names = {"b.txt", "a/z.txt", "a/y.txt", "c/d/e.txt", "A.txt"};
    std::vector<std::string> reversed(names.rbegin(), names.rend());
    // Times after SOURCE_DATE_EPOCH are capped to it; one file older than it keeps its own.
    make_tree(at("first"), names, SOURCE_DATE + 86400 * 300, 0644);
    make_tree(at("second"), reversed, SOURCE_DATE + 86400 * 900, 0600);
    for (const char* folder : {"first", "second"}) {
        set_mtime(at(folder) + "/a/y.txt", 1262304000);  // 2010-01-01 00:00:00 UTC
        fs::create_directories(at(folder) + "/empty");
        set_mtime(at(folder) + "/empty", SOURCE_DATE + 5000);
    }

    std::string tvsfx = tvsfx_path(), stub = stub_path();
    auto build_with = [&](const std::string& folder, const char* tz) {
        return run_shell("SOURCE_DATE_EPOCH=" + std::to_string(SOURCE_DATE) + " TZ=" + tz + " '" + tvsfx +
                         "' build -q --stub '" + stub + "' -o '" + at(folder + ".exe") + "' '" + at(folder) + "'");
    };
    RunResult first = build_with("first", "UTC");
    ASSERT_EQ(first.exit_code, 0) << first.all();
    RunResult second = build_with("second", "America/New_York");
    ASSERT_EQ(second.exit_code, 0) << second.all();
    Bytes one = read_bytes(at("first.exe"));
    EXPECT_EQ(one, read_bytes(at("second.exe")));

    // The times are the capped ones, in UTC: 2020-01-01 00:00:00 and 2010-01-01 00:00:00.
    for (const LocalEntry& e : walk_local_headers(one, read_record(one).archive_offset)) {
        SCOPED_TRACE(e.name);
        bool old = e.name == "a/y.txt";
        EXPECT_EQ(e.date, old ? (30 << 9 | 1 << 5 | 1) : (40 << 9 | 1 << 5 | 1));
        EXPECT_EQ(e.time, 0);
        // The extended timestamp carries the same capped moment.
        ASSERT_EQ(e.extra.size(), 9u);
        EXPECT_EQ(Bytes(e.extra.begin(), e.extra.begin() + 5), (Bytes{0x55, 0x54, 5, 0, 1}));
        EXPECT_EQ(le32(e.extra, 5), old ? 1262304000u : uint32_t(SOURCE_DATE));
    }
}

TEST_F(BuilderTest, RefusesAMalformedSourceDateEpoch)
{
    std::string in = make_sample_folder();
    RunResult r = run_shell("SOURCE_DATE_EPOCH=yesterday '" + tvsfx_path() + "' build --stub '" + stub_path() +
                            "' -o '" + at("out.exe") + "' '" + in + "'");
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.err.find("SOURCE_DATE_EPOCH"), std::string::npos) << r.all();
    EXPECT_FALSE(exists(at("out.exe")));
}

}  // namespace
