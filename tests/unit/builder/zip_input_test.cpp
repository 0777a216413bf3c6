// Input archives from real tools: each is built into an .exe, which unzip and 7-Zip must
// test without a complaint, whose local headers must carry the real sizes (the stub reads
// nothing else), and whose entry data must be the input's bytes, never recompressed.
#include "builder_test_support.h"

#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Writes src/ with a compressible file, an incompressible one, an empty one and a subfolder.
void make_source_tree(const std::string& root)
{
    fs::create_directories(root + "/src/sub");
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += std::to_string(i) + "\n";
    write_text(root + "/src/text.txt", text);
    Bytes noise = noise_bytes(3000, 12345);
    write_bytes(root + "/src/rand.bin", noise);
    write_text(root + "/src/empty.txt", "");
    write_text(root + "/src/sub/inner.txt", "inner\n");
}

const char* const kPythonZip =
    "import os, sys, zipfile\n"
    "stream = sys.argv[1] == 'stream'\n"
    "force_zip64 = sys.argv[1] == 'force_zip64'\n"
    "out = sys.stdout.buffer if stream else open('input.zip', 'wb')\n"
    "with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:\n"
    "    for base, dirs, files in sorted(os.walk('src')):\n"
    "        for f in sorted(files):\n"
    "            path = os.path.join(base, f)\n"
    "            if force_zip64:\n"
    "                with z.open(os.path.relpath(path, 'src'), 'w', force_zip64=True) as entry:\n"
    "                    entry.write(open(path, 'rb').read())\n"
    "            else:\n"
    "                z.write(path, os.path.relpath(path, 'src'))\n";

struct MakerCase {
    const char* name;
    const char* program;   // needed to run the case
    std::string command;   // run in the test folder; writes input.zip
    const char* password;  // nullptr: not encrypted
};

std::string python_zip(const char* mode)
{
    std::string script = kPythonZip;
    std::string quoted = "'";
    for (char c : script)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    return std::string("python3 -c ") + quoted + " " + mode;
}

std::ostream& operator<<(std::ostream& out, const MakerCase& c)
{
    return out << c.name;
}

class ArchiveMakerTest : public BuilderTest, public ::testing::WithParamInterface<MakerCase> {
protected:
    void SetUp() override
    {
        if (!have_program(GetParam().program))
            GTEST_SKIP() << GetParam().program << " is not installed";
        make_source_tree(dir.path());
        RunResult made = run_shell("cd '" + dir.path() + "' && " + GetParam().command);
        ASSERT_EQ(made.exit_code, 0) << made.all();
    }
};

void expect_tools_accept(const std::string& exe, const char* password)
{
    std::vector<std::string> unzip = {"unzip", "-t"};
    std::vector<std::string> sevenzip = {"7zz", "t", "-tzip"};
    if (password) {
        unzip.insert(unzip.end(), {"-P", password});
        sevenzip.push_back(std::string("-p") + password);
    }
    unzip.push_back(exe);
    sevenzip.push_back(exe);
    RunResult u = run(unzip);
    EXPECT_EQ(u.exit_code, 0) << u.all();
    EXPECT_NE(u.out.find("No errors detected"), std::string::npos) << u.all();
    EXPECT_EQ(u.all().find("warning"), std::string::npos) << u.all();
    RunResult s = run(sevenzip);
    EXPECT_EQ(s.exit_code, 0) << s.all();
    EXPECT_NE(s.out.find("Everything is Ok"), std::string::npos) << s.all();
    EXPECT_EQ(s.all().find("WARNING"), std::string::npos) << s.all();
    EXPECT_EQ(s.all().find("Warnings"), std::string::npos) << s.all();
}

TEST_P(ArchiveMakerTest, BuiltFileIsReadByToolsAndByTheStubsRules)
{
    const MakerCase& c = GetParam();
    RunResult r = build(at("input.zip"), at("out.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    expect_tools_accept(at("out.exe"), c.password);
    RunResult inspected = run({tvsfx_path(), "inspect", at("out.exe")});
    EXPECT_EQ(inspected.exit_code, 0) << inspected.all();
    // The stub's own decoder, natively: every entry decodes to its CRC.
    std::vector<std::string> test = {tvsfx_path(), "test", at("out.exe")};
    if (c.password)
        test.insert(test.begin() + 2, {"--password", c.password});
    RunResult tested = run(test);
    EXPECT_EQ(tested.exit_code, 0) << tested.all();

    Bytes in = read_bytes(at("input.zip")), out = read_bytes(at("out.exe"));
    CentralView in_dir = read_central_directory(in), out_dir = read_central_directory(out);
    std::vector<LocalEntry> locals = walk_local_headers(out, read_record(out).archive_offset);
    ASSERT_EQ(locals.size(), in_dir.entries.size());
    ASSERT_EQ(out_dir.entries.size(), in_dir.entries.size());
    EXPECT_FALSE(out_dir.zip64_end) << "no ZIP64 end record where the classic one holds everything";
    for (size_t i = 0; i < locals.size(); ++i) {
        const CentralEntry& source = in_dir.entries[i];
        const LocalEntry& local = locals[i];
        SCOPED_TRACE(source.name);
        Bytes in_local(in.begin() + source.local_offset, in.begin() + source.local_offset + 30);
        uint16_t input_flags = le16(in_local, 6);
        EXPECT_EQ(local.name, source.name);
        EXPECT_EQ(local.method, source.method);
        EXPECT_EQ(local.crc, source.crc) << "real CRC in the local header";
        EXPECT_EQ(local.compressed_size, source.compressed_size) << "real size in the local header";
        EXPECT_EQ(local.uncompressed_size, source.uncompressed_size);
        EXPECT_FALSE(local.zip64) << "ZIP64 only where an entry needs it";
        EXPECT_FALSE(out_dir.entries[i].zip64);
        EXPECT_EQ(local.time, le16(in_local, 10));
        EXPECT_EQ(local.date, le16(in_local, 12));
        EXPECT_EQ(out_dir.entries[i].local_offset, local.offset) << "absolute offset in the central directory";

        size_t in_data = source.local_offset + 30 + le16(in_local, 26) + le16(in_local, 28);
        EXPECT_TRUE(std::equal(out.begin() + long(local.data_offset),
                               out.begin() + long(local.data_offset + local.compressed_size), in.begin() + long(in_data)))
            << "entry data copied byte for byte";

        bool encrypted = input_flags & 1;
        bool keeps_descriptor = encrypted && (input_flags & 8);
        EXPECT_EQ((local.flags & 8) != 0, keeps_descriptor);
        EXPECT_EQ(local.descriptor_with_signature, keeps_descriptor);
        if (encrypted && local.compressed_size >= 12) {
            uint8_t expected = keeps_descriptor ? uint8_t(local.time >> 8) : uint8_t(local.crc >> 24);
            EXPECT_EQ(decrypted_check_byte(c.password, &out[local.data_offset]), expected)
                << "the check byte the stub compares";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tools, ArchiveMakerTest,
    ::testing::Values(
        MakerCase{"InfoZipDeflate", "zip", "cd src && zip -q -r ../input.zip .", nullptr},
        MakerCase{"InfoZipStored", "zip", "cd src && zip -q -0 -r ../input.zip .", nullptr},
        MakerCase{"InfoZipEncrypted", "zip", "cd src && zip -q -r -P secret ../input.zip .", "secret"},
        MakerCase{"InfoZipStreamed", "zip", "cd src && zip -q -r - . | cat > ../input.zip", nullptr},
        MakerCase{"SevenZipDeflate", "7zz", "cd src && 7zz a -tzip -mm=Deflate ../input.zip . >/dev/null", nullptr},
        MakerCase{"SevenZipDeflate64", "7zz", "cd src && 7zz a -tzip -mm=Deflate64 ../input.zip . >/dev/null",
                  nullptr},
        MakerCase{"SevenZipCopy", "7zz", "cd src && 7zz a -tzip -mm=Copy ../input.zip . >/dev/null", nullptr},
        MakerCase{"SevenZipZipCrypto", "7zz",
                  "cd src && 7zz a -tzip -mem=ZipCrypto -psecret ../input.zip . >/dev/null", "secret"},
        MakerCase{"PythonZipfile", "python3", python_zip("file"), nullptr},
        MakerCase{"PythonZipfileStreamed", "python3", python_zip("stream") + " | cat > input.zip", nullptr},
        MakerCase{"JarStreamed", "jar", "jar cf input.zip -C src .", nullptr},
        // ZIP64 where no entry needs it: the package has none.
        MakerCase{"InfoZipForcedZip64", "zip", "cd src && zip -q -fz -r ../input.zip .", nullptr},
        MakerCase{"PythonForcedZip64", "python3", python_zip("force_zip64"), nullptr},
        // 7-Zip gives data from a pipe a ZIP64 record, whatever its size (only in a new archive:
        // adding to one rewrites the entries without it).
        MakerCase{"SevenZipStdinZip64", "7zz",
                  "cd src && cat text.txt | 7zz a -tzip -sitext.txt ../input.zip >/dev/null && "
                  "python3 -c \"import sys; sys.exit(bytes([1, 0, 16, 0]) not in open('../input.zip', 'rb').read())\"",
                  nullptr},
        MakerCase{"Bsdtar", "bsdtar", "cd src && bsdtar --format zip -cf ../input.zip .", nullptr}),
    [](const ::testing::TestParamInfo<MakerCase>& case_info) { return std::string(case_info.param.name); });

// The streamed cases exist to show the local headers get fixed: make sure the fixture
// really has bit 3 with zero sizes in front of the builder.
TEST_F(BuilderTest, StreamedInputReallyHasZeroLocalSizes)
{
    make_source_tree(dir.path());
    ASSERT_EQ(run_shell("cd '" + dir.path() + "' && " + python_zip("stream") + " | cat > input.zip").exit_code, 0);
    Bytes in = read_bytes(at("input.zip"));
    std::vector<LocalEntry> locals = walk_local_headers(in, 0);
    ASSERT_FALSE(locals.empty());
    EXPECT_TRUE(locals[0].flags & 8);
    EXPECT_EQ(locals[0].compressed_size, 0u);
    EXPECT_EQ(locals[0].crc, 0u);
}

TEST_F(BuilderTest, ArchiveCommentIsKeptInFrontOfThePadding)
{
    make_source_tree(dir.path());
    ASSERT_EQ(run_shell("cd '" + dir.path() + "/src' && echo 'Kommentar zum Archiv' | zip -q -z -r ../input.zip .")
                  .exit_code,
              0);
    ASSERT_EQ(build(at("input.zip"), at("out.exe")).exit_code, 0);
    RunResult comment = run({"unzip", "-z", at("out.exe")});
    EXPECT_NE(comment.out.find("Kommentar zum Archiv"), std::string::npos) << comment.all();
    expect_tools_accept(at("out.exe"), nullptr);
}

// Info-ZIP's forced ZIP64 archive of src/, patched by a Python statement on its bytes `d`.
std::string zip64_patched(const std::string& statement)
{
    return "cd src && zip -q -fz -r ../input.zip . && cd .. && python3 -c \"import struct; "
           "d = bytearray(open('input.zip', 'rb').read()); " +
           statement + "; open('input', 'wb').write(d)\" && rm input.zip";
}

struct BadInputCase {
    const char* name;
    std::string prepare;  // shell command in the test folder; the input is `input`
    const char* message;
    std::vector<std::string> args = {};  // build options
};

std::ostream& operator<<(std::ostream& out, const BadInputCase& c)
{
    return out << c.name;
}

class BadInputTest : public BuilderTest, public ::testing::WithParamInterface<BadInputCase> {};

TEST_P(BadInputTest, FailsClearlyAndLeavesNoFile)
{
    make_source_tree(dir.path());
    RunResult made = run_shell("cd '" + dir.path() + "' && " + GetParam().prepare);
    ASSERT_EQ(made.exit_code, 0) << made.all();
    std::vector<std::string> before = list_folder(dir.path());
    RunResult r = build(at("input"), at("out.exe"), GetParam().args);
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_EQ(list_folder(dir.path()), before) << "neither the output nor a temporary file";
}

const char* const kLongName = "d/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/"
                              "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb/"
                              "cccccccccccccccccccccccccccccccccccccccccccccccccccccc.txt";  // 260 bytes

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadInputTest,
    ::testing::Values(
        BadInputCase{"NotAZip", "echo 'just text' > input", "not a ZIP archive"},
        BadInputCase{"EmptyFile", ": > input", "not a ZIP archive"},
        BadInputCase{"Missing", "true", "cannot open input"},
        BadInputCase{"EmptyZip", "python3 -c \"import zipfile; zipfile.ZipFile('input', 'w').close()\"",
                     "nothing to extract"},
        BadInputCase{"EmptyFolder", "mkdir input", "nothing to extract"},
        // ZIP64 records that lie: the builder reads them as strictly as the stub does.
        BadInputCase{"Zip64EndRecordMissing", zip64_patched("d = d.replace(b'PK\\x06\\x06', b'XX\\x06\\x06')"),
                     "its locator points to no ZIP64 end record"},
        BadInputCase{"Zip64MarksWithoutLocator", zip64_patched("d = d.replace(b'PK\\x06\\x07', b'XX\\x06\\x07')"),
                     "defers to a ZIP64 end record that is not there"},
        BadInputCase{"Zip64EntryCountTooLarge",
                     zip64_patched("i = d.find(b'PK\\x06\\x06'); d[i + 24:i + 40] = struct.pack('<QQ', 2**40, 2**40)"),
                     "cannot hold its 1099511627776 entries"},
        // The first central record's compressed size marked too: its 8-byte ZIP64 record holds
        // only the uncompressed size, so the mark stays and the data would run past the directory.
        BadInputCase{"Zip64RecordTooShort",
                     zip64_patched("i = d.find(b'PK\\x01\\x02'); d[i + 20:i + 24] = b'\\xff' * 4"),
                     "runs past the start of the central directory"},
        BadInputCase{"Bzip2Method", "cd src && zip -q -Z bzip2 -r ../input.zip . && mv ../input.zip ../input",
                     "compression method 12"},
        // AES entries are copied; one whose strength byte (offset 8 of the 0x9901 record, in
        // the local header and the central directory) is unknown is refused.
        BadInputCase{"AesUnknownStrength", "cd src && 7zz a -tzip -mem=AES256 -psecret ../input.zip . >/dev/null && "
                                           "cd .. && python3 -c \"d = open('input.zip', 'rb').read(); "
                                           "d = d.replace(bytes.fromhex('019907000200414503'), "
                                           "bytes.fromhex('019907000200414504')); open('input', 'wb').write(d)\"",
                     "strength 4"},
        BadInputCase{"NameTooLong",
                     std::string("python3 -c \"import zipfile; zipfile.ZipFile('input', 'w').writestr('") + kLongName +
                         "', 'x')\"",
                     "at most 259", {"--win9x"}},
        BadInputCase{"SplitArchive", "head -c 200000 /dev/urandom > src/big.bin && cd src && "
                                     "zip -q -s 64k -r ../split.zip . && mv ../split.zip ../input",
                     "multi-disk"},
        BadInputCase{"DamagedData", "cd src && zip -q -r ../input.zip text.txt && cd .. && python3 -c \""
                                    "import struct; d = bytearray(open('input.zip', 'rb').read()); "
                                    "n, e = struct.unpack_from('<HH', d, 26); d[30 + n + e + 10] ^= 0x55; "
                                    "open('input', 'wb').write(d)\" && rm input.zip",
                     "damaged"}),
    [](const ::testing::TestParamInfo<BadInputCase>& case_info) { return std::string(case_info.param.name); });

struct BadOutputCase {
    const char* name;
    const char* output;  // relative to the test folder
    const char* message;
};

void PrintTo(const BadOutputCase& c, std::ostream* out)
{
    *out << c.name;
}

class BadOutputTest : public BuilderTest, public ::testing::WithParamInterface<BadOutputCase> {};

TEST_P(BadOutputTest, FailsClearlyAndLeavesNoFile)
{
    std::string in = make_sample_folder();
    write_text(at("plain-file"), "x");
    fs::create_directories(at("a-folder"));
    std::vector<std::string> before = list_folder(dir.path());
    RunResult r = build(in, at(GetParam().output));
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_EQ(list_folder(dir.path()), before);
    EXPECT_TRUE(list_folder(at("a-folder")).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, BadOutputTest,
    ::testing::Values(BadOutputCase{"MissingFolder", "no-such-folder/out.exe", "cannot create the output file"},
                      BadOutputCase{"ParentIsAFile", "plain-file/out.exe", "cannot create the output file"},
                      BadOutputCase{"OutputIsAFolder", "a-folder", "is a folder"}),
    [](const ::testing::TestParamInfo<BadOutputCase>& case_info) { return std::string(case_info.param.name); });

TEST_F(BuilderTest, UnwritableOutputFolderIsRefused)
{
    // /proc refuses new files even to root, so this holds whoever runs the tests.
    RunResult r = build(make_sample_folder(), "/proc/tvsfx-out.exe");
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.err.find("cannot create the output file"), std::string::npos) << r.err;
}

TEST_F(BuilderTest, FailedBuildKeepsAnExistingOutput)
{
    write_text(at("out.exe"), "previous build");
    RunResult r = build(at("missing"), at("out.exe"));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(read_bytes(at("out.exe")), Bytes({'p', 'r', 'e', 'v', 'i', 'o', 'u', 's', ' ', 'b', 'u', 'i', 'l', 'd'}));
}

struct BadStubCase {
    const char* name;
    void (*damage)(Bytes& stub);  // nullptr: the stub file is missing
    const char* message;
};

void PrintTo(const BadStubCase& c, std::ostream* out)
{
    *out << c.name;
}

class BadStubTest : public BuilderTest, public ::testing::WithParamInterface<BadStubCase> {};

TEST_P(BadStubTest, IsRefused)
{
    std::string stub = at("stub.exe");
    if (GetParam().damage) {
        Bytes bytes = read_bytes(fixture_stub_path());
        GetParam().damage(bytes);
        write_bytes(stub, bytes);
    }
    RunResult r = build(make_sample_folder(), at("out.exe"), {}, stub);
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_FALSE(exists(at("out.exe")));
}

INSTANTIATE_TEST_SUITE_P(
    Stubs, BadStubTest,
    ::testing::Values(
        BadStubCase{"Missing", nullptr, "cannot read stub"},
        BadStubCase{"NotAnExecutable", [](Bytes& b) { b.assign({'t', 'e', 'x', 't'}); }, "no MZ header"},
        BadStubCase{"Pe32PlusMagicOnI386", [](Bytes& b) { b[le32(b, 0x3C) + 24] = 0x0B, b[le32(b, 0x3C) + 25] = 0x02; },
                    "not an i386 PE32 or x86-64 PE32+ image"},
        BadStubCase{"NoMarker", [](Bytes& b) { b[size_t(find_marker(b)) + 7] ^= 0xFF; }, "no stub record"},
        BadStubCase{"NoRoomForASectionHeader",
                    [](Bytes& b) {
                        size_t pe = le32(b, 0x3C);
                        b[pe + 24 + le16(b, pe + 20) + 40 * le16(b, pe + 6) + 3] = 1;
                    },
                    "no room for one more section header"},
        BadStubCase{"SizeOfHeadersPastTheFile", [](Bytes& b) { put_le32(b, le32(b, 0x3C) + 84, uint32_t(b.size()) + 0x1000); },
                    "SizeOfHeaders"},
        BadStubCase{"SectionEndPastFourGiB",
                    [](Bytes& b) {
                        // raw_pointer + raw_size wraps to 0x200 in 32 bits
                        size_t pe = le32(b, 0x3C);
                        size_t last = pe + 24 + le16(b, pe + 20) + 40 * (le16(b, pe + 6) - 1u);
                        put_le32(b, last + 16, 0x400);
                        put_le32(b, last + 20, 0xFFFFFE00u);
                    },
                    "truncated (section"},
        BadStubCase{"Crafted352Bytes",
                    [](Bytes& b) {
                        // DOS header, PE headers right behind it and one section header: 352
                        // bytes, with the fixture's SizeOfHeaders far beyond them.
                        size_t pe = le32(b, 0x3C);
                        Bytes c(b.begin(), b.begin() + 64);
                        put_le32(c, 0x3C, 64);
                        c.insert(c.end(), b.begin() + long(pe), b.begin() + long(pe) + 248 + 40);
                        c[64 + 6] = 1, c[64 + 7] = 0;
                        b = c;
                    },
                    "SizeOfHeaders"}),
    [](const ::testing::TestParamInfo<BadStubCase>& case_info) { return std::string(case_info.param.name); });

TEST_F(BuilderTest, BuiltFileIsRefusedAsStub)
{
    ASSERT_EQ(build(make_sample_folder(), at("first.exe")).exit_code, 0);
    RunResult r = build(at("in"), at("second.exe"), {}, at("first.exe"));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("already has a _tarvel_ section"), std::string::npos) << r.err;
}

// Names the stub refuses because they would leave the target folder get a warning; names it
// extracts inside (one leading separator is dropped) get none.
struct NameCase {
    const char* name;
    bool warned;
};

void PrintTo(const NameCase& c, std::ostream* out)
{
    *out << c.name;
}

class EntryNameWarningTest : public BuilderTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(EntryNameWarningTest, WarnsExactlyForNamesThatLeaveTheTarget)
{
    std::string script = "import zipfile\n"
                         "with zipfile.ZipFile('in.zip', 'w') as z:\n"
                         "    z.writestr(zipfile.ZipInfo(" + std::string("r'") + GetParam().name + "'), b'x')\n";
    write_text(at("make.py"), script);
    ASSERT_EQ(run_shell("cd " + dir.path() + " && python3 make.py").exit_code, 0);
    RunResult r = build(at("in.zip"), at("out.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_EQ(r.err.find("would leave the target folder") != std::string::npos, GetParam().warned) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Names, EntryNameWarningTest,
                         ::testing::Values(NameCase{"a/../b.txt", true}, NameCase{"//server/x.txt", true},
                                           NameCase{"C:x.txt", true}, NameCase{"a/.../b.txt", true},
                                           NameCase{"a/. ./b.txt", true}, NameCase{"/a.txt", false},
                                           NameCase{"\\b.txt", false}, NameCase{"a..b/c.txt", false},
                                           NameCase{"./a.txt", false}));

// --- entry comments --------------------------------------------------------------------------

// Python writes 4,096 one-byte entries, each with an 8 KB comment (32 MB in all) or none.
// The comments come through byte for byte and are held in memory once: libzip keeps the
// input's directory, the builder reads each comment from the file only to write it.
TEST_F(BuilderTest, EntryCommentsAreKeptAndHeldOnce)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's quarantine keeps freed memory";
#endif
    const int entries = 4096;
    const long comments_kib = entries * 8;
    RunResult made = run({"python3", "-c",
                          "import sys, zipfile\n"
                          "for path, size in ((sys.argv[1], 8192), (sys.argv[2], 0)):\n"
                          "    with zipfile.ZipFile(path, 'w') as z:\n"
                          "        for i in range(" + std::to_string(entries) + "):\n"
                          "            info = zipfile.ZipInfo('f%05d.txt' % i)\n"
                          "            info.comment = bytes((i + k) % 95 + 32 for k in range(size))\n"
                          "            z.writestr(info, b'x')\n",
                          at("comments.zip"), at("plain.zip")});
    ASSERT_EQ(made.exit_code, 0) << made.all();
    auto build_argv = [&](const std::string& input, const std::string& output) {
        return std::vector<std::string>{tvsfx_path(), "build", "-q", "--stub", stub_path(), "-o", output, input};
    };
    long with_comments = peak_memory_kib(build_argv(at("comments.zip"), at("comments.exe")));
    long without = peak_memory_kib(build_argv(at("plain.zip"), at("plain.exe")));
    // Held once: about 32 MB more. Held three times over (the fault) it was about 100 MB more.
    EXPECT_LT(with_comments - without, 2 * comments_kib)
        << with_comments << " KiB with the comments, " << without << " KiB without";
    RunResult same = run({"python3", "-c",
                          "import sys, zipfile\n"
                          "a, b = (zipfile.ZipFile(p).infolist() for p in sys.argv[1:])\n"
                          "sys.exit(0 if [i.comment for i in a] == [i.comment for i in b] else 1)\n",
                          at("comments.zip"), at("comments.exe")});
    EXPECT_EQ(same.exit_code, 0) << same.all();
}

}  // namespace
