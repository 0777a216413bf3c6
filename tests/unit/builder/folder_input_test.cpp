// Folder input: the builder writes the ZIP itself. The round trip through unzip must give
// back the tree, empty folders and modification times (to the 2 seconds of DOS times).
#include "builder_test_support.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

time_t modification_time(const std::string& path)
{
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_mtime;
}

void set_modification_time(const std::string& path, time_t when)
{
    struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// Relative paths of every file and folder under root, sorted.
std::vector<std::string> tree_of(const std::string& root)
{
    std::vector<std::string> paths;
    for (const auto& e : fs::recursive_directory_iterator(root))
        paths.push_back(fs::relative(e.path(), root).string() + (e.is_directory() ? "/" : ""));
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST_F(BuilderTest, FolderRoundTripKeepsTreeEmptyFoldersAndTimes)
{
    std::string in = make_sample_folder();
    Bytes noise = noise_bytes(5000, 7);
    write_bytes(in + "/docs/noise.bin", noise);
    write_text(in + "/docs/zero.txt", "");
    // An odd second: DOS times have 2-second steps and zip rounds up.
    const time_t odd = 1700000001, even = 1700000000 + 86400 * 3;
    for (const char* name : {"readme.txt", "docs/note.txt", "docs/noise.bin", "docs/zero.txt"})
        set_modification_time(in + "/" + name, std::string(name) == "readme.txt" ? even : odd);

    RunResult r = build(in, at("out.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    RunResult unzipped = run({"unzip", "-q", at("out.exe"), "-d", at("extracted")});
    ASSERT_EQ(unzipped.exit_code, 0) << unzipped.all();

    EXPECT_EQ(tree_of(at("extracted")), tree_of(in));
    for (const char* name : {"readme.txt", "docs/note.txt", "docs/noise.bin", "docs/deep/data.txt"})
        EXPECT_EQ(read_bytes(at(std::string("extracted/") + name)), read_bytes(in + "/" + name)) << name;
    EXPECT_EQ(modification_time(at("extracted/readme.txt")), even);
    // unzip takes the exact time of the extended timestamp; the DOS time alone rounds up.
    EXPECT_EQ(modification_time(at("extracted/docs/note.txt")), odd);

    RunResult seven = run({"7zz", "x", "-tzip", "-o" + at("by7z"), at("out.exe")});
    ASSERT_EQ(seven.exit_code, 0) << seven.all();
    EXPECT_EQ(tree_of(at("by7z")), tree_of(in));
    EXPECT_EQ(read_bytes(at("by7z/docs/noise.bin")), noise);
}

TEST_F(BuilderTest, FolderEntriesAreSortedCompressedWhenItHelpsAndPlain)
{
    std::string in = make_sample_folder();
    Bytes noise = noise_bytes(5000, 99);
    write_bytes(in + "/noise.bin", noise);
    ASSERT_EQ(build(in, at("out.exe")).exit_code, 0);
    Bytes f = read_bytes(at("out.exe"));
    std::vector<LocalEntry> locals = walk_local_headers(f, read_record(f).archive_offset);
    std::vector<std::string> names;
    for (const LocalEntry& e : locals)
        names.push_back(e.name);
    EXPECT_EQ(names, std::vector<std::string>({"docs/deep/data.txt", "docs/note.txt", "empty/", "noise.bin",
                                               "readme.txt"}));
    for (const LocalEntry& e : locals) {
        SCOPED_TRACE(e.name);
        bool compressible = e.name == "readme.txt" || e.name == "docs/deep/data.txt";
        EXPECT_EQ(e.method, compressible ? 8 : 0);
        if (e.method == 8) {
            EXPECT_LT(e.compressed_size, e.uncompressed_size);
        }
        EXPECT_EQ(e.flags, 0) << "no encryption, no descriptor";
        // Only the extended timestamp: flags "modification time", then the file's time.
        ASSERT_EQ(e.extra.size(), 9u);
        EXPECT_EQ(Bytes(e.extra.begin(), e.extra.begin() + 5), (Bytes{0x55, 0x54, 5, 0, 1}));
    }
}

// The extended timestamp's 32 bits mean the same to every reader from 1970 up to 2038-01-19
// 03:14:07 UTC; a file outside that range gets NTFS times (100 ns since 1601) instead, the
// moment in all three, unless SOURCE_DATE_EPOCH caps it into range.
TEST_F(BuilderTest, FolderFilesGetAnExtendedTimestampWithinItsRange)
{
    const struct {
        long long modified;
        const char* source_date;  // SOURCE_DATE_EPOCH, or none
        long long stated;         // the field's time
        bool ntfs;                // NTFS times rather than an extended timestamp
    } cases[] = {
        {0, nullptr, 0, false},
        {1700000001, nullptr, 1700000001, false},
        {1700000001, "1600000001", 1600000001, false},
        {0x7FFFFFFF, nullptr, 0x7FFFFFFF, false},
        {-86400, nullptr, -86400, true},
        {0x80000000LL, nullptr, 0x80000000LL, true},
        {4102444800LL, nullptr, 4102444800LL, true},               // 2100
        {4102444800LL, "1600000000", 1600000000, false},           // 2100, capped into range
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.modified);
        std::string in = at("in");
        fs::remove_all(in);
        fs::create_directories(in);
        write_text(in + "/f.txt", "x");
        struct timespec times[2] = {{time_t(c.modified), 0}, {time_t(c.modified), 0}};
        if (utimensat(AT_FDCWD, (in + "/f.txt").c_str(), times, 0) != 0 ||
            modification_time(in + "/f.txt") != time_t(c.modified))
            GTEST_SKIP() << "this file system cannot hold the time " << c.modified;
        if (c.source_date)
            setenv("SOURCE_DATE_EPOCH", c.source_date, 1);
        RunResult r = build(in, at("out.exe"));
        unsetenv("SOURCE_DATE_EPOCH");
        ASSERT_EQ(r.exit_code, 0) << r.all();
        Bytes f = read_bytes(at("out.exe"));
        std::vector<LocalEntry> locals = walk_local_headers(f, read_record(f).archive_offset);
        ASSERT_EQ(locals.size(), 1u);
        Bytes field = {0x55, 0x54, 5, 0, 1, 0, 0, 0, 0};
        put_le32(field, 5, uint32_t(c.stated));
        if (c.ntfs) {
            field.assign(4 + 32, 0);
            put_le16(field, 0, 0x000A), put_le16(field, 2, 32), put_le16(field, 8, 1), put_le16(field, 10, 24);
            uint64_t ticks = uint64_t(c.stated * 10000000 + 116444736000000000LL);
            for (size_t at = 12; at < field.size(); at += 8)
                put_le32(field, at, uint32_t(ticks)), put_le32(field, at + 4, uint32_t(ticks >> 32));
        }
        EXPECT_EQ(locals[0].extra, field);
        // The central record carries the same field (unzip and 7-Zip read it there).
        size_t copies = 0;
        for (auto at = f.begin(); (at = std::search(at, f.end(), field.begin(), field.end())) != f.end(); ++at)
            ++copies;
        EXPECT_EQ(copies, 2u);
        RunResult inspected = run({tvsfx_path(), "inspect", at("out.exe")});
        EXPECT_NE(inspected.out.find(c.ntfs ? "time_from=ntfs" : "time_from=unix"), std::string::npos)
            << inspected.out;
    }
}

TEST_F(BuilderTest, FolderNamesAreConvertedToTheCodePage)
{
    std::string in = at("in");
    fs::create_directories(in);
    write_text(in + "/Müller.txt", "x");
    ASSERT_EQ(build(in, at("out.exe")).exit_code, 0);
    Bytes f = read_bytes(at("out.exe"));
    EXPECT_EQ(walk_local_headers(f, read_record(f).archive_offset).at(0).name, "M\xFCller.txt");
}

TEST_F(BuilderTest, SymbolicLinkInsideTheFolderIsStoredAsItsTarget)
{
    std::string in = make_sample_folder();
    fs::create_symlink("readme.txt", in + "/link.txt");
    fs::create_directory_symlink("docs", in + "/docs-link");
    ASSERT_EQ(build(in, at("out.exe")).exit_code, 0);
    ASSERT_EQ(run({"unzip", "-q", at("out.exe"), "-d", at("x")}).exit_code, 0);
    EXPECT_EQ(read_bytes(at("x/link.txt")), read_bytes(in + "/readme.txt"));
    EXPECT_EQ(read_bytes(at("x/docs-link/note.txt")), read_bytes(in + "/docs/note.txt"));
}

struct BadFolderCase {
    const char* name;
    void (*prepare)(const std::string& folder, const std::string& outside);
    const char* message;
    std::vector<std::string> args = {};  // build options
};

void PrintTo(const BadFolderCase& c, std::ostream* out)
{
    *out << c.name;
}

class BadFolderTest : public BuilderTest, public ::testing::WithParamInterface<BadFolderCase> {};

TEST_P(BadFolderTest, IsRefusedNamingTheFile)
{
    std::string in = make_sample_folder();
    write_text(at("outside.txt"), "secret");
    GetParam().prepare(in, at("outside.txt"));
    RunResult r = build(in, at("out.exe"), GetParam().args);
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_FALSE(exists(at("out.exe")));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, BadFolderTest,
    ::testing::Values(
        BadFolderCase{"LinkOutside", [](const std::string& in, const std::string& outside) {
                          fs::create_symlink(outside, in + "/escape.txt");
                      },
                      "escape.txt: symbolic link to"},
        BadFolderCase{"BrokenLink", [](const std::string& in, const std::string&) {
                          fs::create_symlink("nowhere", in + "/broken.txt");
                      },
                      "broken.txt: broken symbolic link"},
        BadFolderCase{"LinkLoop", [](const std::string& in, const std::string&) {
                          fs::create_directory_symlink("..", in + "/docs/up");
                      },
                      "docs/up: symbolic link loop"},
        BadFolderCase{"NameTooLong", [](const std::string& in, const std::string&) {
                          std::string path = in + "/" + std::string(200, 'a');
                          fs::create_directories(path);
                          write_text(path + "/" + std::string(55, 'b') + ".txt", "x");
                      },
                      "the stub takes at most 259", {"--win9x"}},
        BadFolderCase{"FileAndFolderInCaseOnly", [](const std::string& in, const std::string&) {
                          write_text(in + "/x", "file");
                          fs::create_directory(in + "/X");
                          write_text(in + "/X/y", "in the folder");
                      },
                      "needs a folder where \"x\" is a file"},
        BadFolderCase{"Fifo", [](const std::string& in, const std::string&) {
                          ASSERT_EQ(mkfifo((in + "/pipe").c_str(), 0600), 0);
                      },
                      "pipe: neither a file nor a folder"},
        BadFolderCase{"WindowsForbiddenName", [](const std::string& in, const std::string&) {
                          write_text(in + "/time 12:30.txt", "x");
                      },
                      "time 12:30.txt\": the name holds a character Windows does not allow"},
        BadFolderCase{"LinkFanOut", [](const std::string& in, const std::string&) {
                          // Two links per level to the next, 30 levels: 2^30 paths to the last.
                          for (int level = 0; level <= 30; ++level) {
                              std::string folder = in + "/n" + std::to_string(level);
                              fs::create_directory(folder);
                              if (level == 30) {
                                  write_text(folder + "/end.txt", "x");
                                  continue;
                              }
                              for (const char* link : {"/a", "/b"})
                                  fs::create_directory_symlink("../n" + std::to_string(level + 1), folder + link);
                          }
                      },
                      ": more than 4096 symbolic links followed in"},
        BadFolderCase{"ThousandLevels", [](const std::string& in, const std::string&) {
                          // Level by level from the one above: the whole path is too long for mkdir.
                          fs::create_directory(in + "/deep");
                          int folder = open((in + "/deep").c_str(), O_RDONLY | O_DIRECTORY);
                          for (int level = 0; level < 1000 && folder >= 0; ++level) {
                              int inner = mkdirat(folder, "d", 0755) == 0 ? openat(folder, "d", O_RDONLY | O_DIRECTORY)
                                                                          : -1;
                              close(folder);
                              folder = inner;
                          }
                          ASSERT_GE(folder, 0);
                          int file = openat(folder, "end.txt", O_WRONLY | O_CREAT, 0644);
                          ASSERT_GE(file, 0);
                          close(file);
                          close(folder);
                      },
                      "/d/d/d: folders nested more than 130 deep; no name below could be extracted", {"--win9x"}}),
    [](const ::testing::TestParamInfo<BadFolderCase>& case_info) { return std::string(case_info.param.name); });

// --- a file swapped after the walk ------------------------------------------------------------

// The build walks the folder and then waits on a stopped terminal (StoppedTerminal) while it
// writes its first entry; the test swaps the second file, then lets the build go on. Only the
// file the walk saw may be read.
struct SwapCase {
    const char* name;
    void (*swap)(const std::string& folder, const std::string& outside);
    const char* message;
};

void PrintTo(const SwapCase& c, std::ostream* out)
{
    *out << c.name;
}

class SwapAfterWalkTest : public BuilderTest, public ::testing::WithParamInterface<SwapCase> {};

TEST_P(SwapAfterWalkTest, IsRefusedAndNothingOutsideIsPacked)
{
    std::string in = at("in");
    fs::create_directories(in + "/sub");
    write_text(in + "/a.txt", "first");
    write_text(in + "/sub/b.txt", "second");
    write_text(at("outside.txt"), "secret outside the folder");
    fs::create_directories(at("out"));
    StoppedTerminal terminal;
    ASSERT_TRUE(terminal.ok());
    // -j 1: the second file is opened only when the writer comes to it.
    pid_t pid = terminal.start({tvsfx_path(), "build", "-j", "1", "--stub", stub_path(), "-o", at("out/out.exe"), in});
    ASSERT_GT(pid, 0);
    bool started = wait_until(has_entries, at("out"));
    GetParam().swap(in, at("outside.txt"));
    terminal.resume();
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(started) << "the build made no temporary output";
    std::string err = terminal.output();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status << ": " << err;
    EXPECT_NE(err.find(GetParam().message), std::string::npos) << err;
    EXPECT_TRUE(list_folder(at("out")).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Folders, SwapAfterWalkTest,
    ::testing::Values(
        SwapCase{"FileForLinkOutside", [](const std::string& in, const std::string& outside) {
                     fs::remove(in + "/sub/b.txt");
                     fs::create_symlink(outside, in + "/sub/b.txt");
                 },
                 "sub/b.txt was replaced after the folder was read; build again from a folder that stays put "
                 "(now a symbolic link)"},
        SwapCase{"FileForAnotherFile", [](const std::string& in, const std::string& outside) {
                     fs::copy_file(outside, in + "/sub/new.txt");
                     fs::rename(in + "/sub/new.txt", in + "/sub/b.txt");
                 },
                 "sub/b.txt was replaced after the folder was read"},
        SwapCase{"FileForFifo", [](const std::string& in, const std::string&) {
                     fs::remove(in + "/sub/b.txt");
                     ASSERT_EQ(mkfifo((in + "/sub/b.txt").c_str(), 0600), 0);
                 },
                 "sub/b.txt was replaced after the folder was read"},
        SwapCase{"FolderForLinkOutside", [](const std::string& in, const std::string& outside) {
                     std::string elsewhere = fs::path(outside).parent_path() / "elsewhere";
                     fs::create_directories(elsewhere);
                     fs::copy_file(outside, elsewhere + "/b.txt");
                     fs::rename(in + "/sub", in + "/old-sub");
                     fs::create_directory_symlink(elsewhere, in + "/sub");
                 },
                 "sub/b.txt: its folder was replaced after the folder was read"}),
    [](const ::testing::TestParamInfo<SwapCase>& case_info) { return std::string(case_info.param.name); });

}  // namespace
