// `tvsfx inspect`: reports the record, the configuration and the entries, and runs the
// stub's start-up checks; each kind of damage must fail its own check.
#include "builder_test_support.h"

namespace {

class InspectTest : public BuilderTest {
protected:
    void SetUp() override
    {
        // Every file is newer than SOURCE_DATE_EPOCH, so each entry carries it as its exact time.
        setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
        RunResult r = build(make_sample_folder(), at("good.exe"), {"--title", "Titel", "--overwrite"});
        unsetenv("SOURCE_DATE_EPOCH");
        ASSERT_EQ(r.exit_code, 0) << r.all();
    }
    RunResult inspect(const std::string& name) { return run({tvsfx_path(), "inspect", at(name)}); }
};

bool has_line(const std::string& text, const std::string& line)
{
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// A failed check names its reason after the verdict.
bool has_failed_check(const std::string& text, const std::string& check)
{
    return ("\n" + text).find("\ncheck " + check + ": FAILED") != std::string::npos;
}

TEST_F(InspectTest, PassesOnABuiltFileAndShowsItsContents)
{
    RunResult r = inspect("good.exe");
    EXPECT_EQ(r.exit_code, 0) << r.all();
    RecordView rec = read_record(read_bytes(at("good.exe")));
    char line[64];
    std::snprintf(line, sizeof line, "archive_offset: 0x%08X", rec.archive_offset);
    EXPECT_TRUE(has_line(r.out, line)) << r.out;
    EXPECT_TRUE(has_line(r.out, "flags: 0x00000812 (SFX_OVERWRITE | SFX_USE_TITLE | SFX_CRC_AFTER_HEADERS)"))
        << r.out;
    EXPECT_TRUE(has_line(r.out, "config 5 title: \"Titel\"")) << r.out;
    EXPECT_TRUE(has_line(r.out, "entry: method=0 (stored) compressed=6 uncompressed=6 encrypted=no "
                                "time=\"2023-11-14 22:13:20 UTC\" time_from=unix name=\"docs/note.txt\" "
                                "shown=\"docs/note.txt\""))
        << r.out;
    for (const char* check : {"stub checksum", "entry point", "end record", "complete mark"})
        EXPECT_TRUE(has_line(r.out, std::string("check ") + check + ": ok")) << r.out;
    EXPECT_TRUE(has_line(r.out, "check archive walk: ok (4 entries)")) << r.out;
}

// The language line: "de" when no --language was given, as in files built before it existed.
TEST_F(InspectTest, ShowsTheLanguageInTextAndJson)
{
    EXPECT_TRUE(has_line(inspect("good.exe").out, "language: de"));
    std::string in = make_sample_folder();
    for (const char* language : {"en", "auto"}) {
        SCOPED_TRACE(language);
        RunResult built = build(in, at("lang.exe"), {"--language", language});
        ASSERT_EQ(built.exit_code, 0) << built.all();
        EXPECT_TRUE(has_line(inspect("lang.exe").out, std::string("language: ") + language));
        RunResult json = run({tvsfx_path(), "inspect", "--json", at("lang.exe")});
        EXPECT_NE(json.out.find(std::string("\"language\": \"") + language + "\""), std::string::npos) << json.out;
    }
}

struct DamageCase {
    const char* name;
    void (*damage)(Bytes& file);
    const char* failing_check;
};

void PrintTo(const DamageCase& c, std::ostream* out)
{
    *out << c.name;
}

class DamagedFileTest : public InspectTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedFileTest, FailsTheMatchingCheck)
{
    Bytes f = read_bytes(at("good.exe"));
    GetParam().damage(f);
    write_bytes(at("bad.exe"), f);
    RunResult r = inspect("bad.exe");
    EXPECT_EQ(r.exit_code, 1) << r.out;
    EXPECT_TRUE(has_failed_check(r.out, GetParam().failing_check)) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedFileTest,
    ::testing::Values(
        DamageCase{"StubByte", [](Bytes& f) { f[read_pe(f).sections[0].raw_pointer + 16] ^= 0x01; }, "stub checksum"},
        DamageCase{"EntryPoint", [](Bytes& f) { put_le32(f, le32(f, 0x3C) + 40, read_pe(f).entry_point + 1); },
                   "entry point"},
        DamageCase{"TruncatedEnd", [](Bytes& f) { f.resize(read_record(f).end_record_offset + 2); }, "end record"},
        DamageCase{"IncompleteMark", [](Bytes& f) { f[read_record(f).offset + 0x2A] = f[read_record(f).offset + 0x2B] = 0; },
                   "complete mark"},
        DamageCase{"BytesBetweenEntries", [](Bytes& f) { f[read_record(f).archive_offset] = 'X'; }, "archive walk"}),
    [](const ::testing::TestParamInfo<DamageCase>& case_info) { return std::string(case_info.param.name); });

// Only the damaged part fails: a changed entry point leaves the checksum, which starts
// after the PE headers, intact.
TEST_F(InspectTest, NamesTheFlagThatRefusesTheSwitchesForScripts)
{
    RunResult b = build(make_sample_folder("in2"), at("locked.exe"), {"--no-unattended"});
    ASSERT_EQ(b.exit_code, 0) << b.all();
    RunResult r = inspect("locked.exe");
    EXPECT_TRUE(has_line(r.out, "flags: 0x00800800 (SFX_CRC_AFTER_HEADERS | SFX_NO_UNATTENDED)")) << r.out;
}

TEST_F(InspectTest, EntryPointChangeLeavesTheChecksumValid)
{
    Bytes f = read_bytes(at("good.exe"));
    put_le32(f, le32(f, 0x3C) + 40, read_pe(f).entry_point + 1);
    write_bytes(at("bad.exe"), f);
    EXPECT_TRUE(has_line(inspect("bad.exe").out, "check stub checksum: ok"));
}

TEST_F(InspectTest, SkipsTheChecksumWhenItIsZero)
{
    ASSERT_EQ(build(at("in"), at("plain.exe"), {"--no-stub-crc"}).exit_code, 0);
    RunResult r = inspect("plain.exe");
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(has_line(r.out, "check stub checksum: skipped")) << r.out;
}

TEST_F(InspectTest, RefusesAFileWithoutRecord)
{
    write_text(at("text.exe"), "not a program");
    EXPECT_EQ(inspect("text.exe").exit_code, 1) << "a bad file, not wrong usage";
}

// Each method the stub extracts is named beside its number, in text and JSON; for an AES entry
// (method 99) the name is the compression inside it, which the 0x9901 record holds.
struct MethodCase {
    const char* name;
    const char* command;  // in the test folder: makes input.zip from in/, or nothing for the folder itself
    std::vector<std::string> args;
    const char* shown;  // the text form of readme.txt's method
};

class InspectMethodTest : public BuilderTest, public ::testing::WithParamInterface<MethodCase> {};

TEST_P(InspectMethodTest, NamesTheMethodInTextAndJson)
{
    const MethodCase& c = GetParam();
    make_sample_folder();
    std::string input = at("in");
    if (*c.command) {
        if (!have_program("7zz"))
            GTEST_SKIP() << "7zz is not installed";
        ASSERT_EQ(run_shell(std::string("cd '") + at("") + "' && " + c.command + " >/dev/null").exit_code, 0);
        input = at("input.zip");
    }
    RunResult built = build(input, at("out.exe"), c.args);
    ASSERT_EQ(built.exit_code, 0) << built.all();

    RunResult text = run({tvsfx_path(), "inspect", at("out.exe")});
    size_t readme = text.out.find(" name=\"readme.txt\"");
    ASSERT_NE(readme, std::string::npos) << text.out;
    size_t line = text.out.rfind('\n', readme) + 1;
    EXPECT_EQ(text.out.substr(line, text.out.find(" compressed=", line) - line), std::string("entry: method=") + c.shown)
        << text.out;

    std::string script = "import json, sys\n"
                         "for e in json.load(sys.stdin)['entries']:\n"
                         "    if e['name'] == 'readme.txt': print('%u (%s)' % (e['method'], e['method_name']))\n";
    write_text(at("method.py"), script);
    RunResult json = run_shell("'" + tvsfx_path() + "' inspect --json '" + at("out.exe") + "' | python3 '" +
                               at("method.py") + "'");
    ASSERT_EQ(json.exit_code, 0) << json.all();
    EXPECT_EQ(json.out, std::string(c.shown) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Methods, InspectMethodTest,
    ::testing::Values(MethodCase{"FolderDefault", "", {}, "8 (deflate)"},
                      MethodCase{"FolderLzma", "", {"--method", "lzma"}, "14 (lzma)"},
                      MethodCase{"FolderLevel0", "", {"--level", "0"}, "0 (stored)"},
                      MethodCase{"SevenZipDeflate64", "cd in && 7zz a -tzip -mm=Deflate64 ../input.zip .", {}, "9 (deflate64)"},
                      MethodCase{"SevenZipLzma", "cd in && 7zz a -tzip -mm=LZMA ../input.zip .", {}, "14 (lzma)"},
                      MethodCase{"SevenZipAesLzma", "cd in && 7zz a -tzip -mm=LZMA -mem=AES256 -psecret ../input.zip .",
                                 {}, "99 (lzma)"}),
    [](const ::testing::TestParamInfo<MethodCase>& info_case) { return std::string(info_case.param.name); });

}  // namespace
