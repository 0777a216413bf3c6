// Names and texts for the NT family: what the code page lacks is kept as Unicode (UTF-8 with
// the UTF-8 flag, in the form the input gave it), paths may be long, and --win9x refuses both
// as before. Inputs come from a folder and from real ZIP producers; a package whose names all
// fit the code page stays byte for byte what the builder made before.
#include <algorithm>
#include <fstream>
#include <map>

#include "builder_test_support.h"

namespace {

const uint16_t UTF8_FLAG = 0x0800;

// Names that code page 1252 lacks, as UTF-8 bytes in the form they are given.
struct UnicodeName {
    const char* id;
    std::string given;
};

const std::vector<UnicodeName> kUnicodeNames = {
    {"Cyrillic", "\xD0\x94\xD0\xBE\xD0\xBA\xD1\x83\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x82\xD1\x8B/"
                 "\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.txt"},                          // Документы/отчёт.txt
    {"Greek", "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC.txt"},     // Ελληνικά.txt
    {"Polish", "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85.txt"},       // Zażółć gęślą.txt
    {"Japanese", "\xE3\x83\x9D\xE3\x83\xBC\xE3\x83\x88.txt"},                              // ポート.txt
    {"Arabic", "\xD9\x85\xD9\x84\xD9\x81.txt"},                                            // ملف.txt
    {"EmojiOutsideTheBmp", "\xF0\x9F\x98\x80 emoji.txt"},                                  // U+1F600
    {"CombiningMarks", "q\xCC\x87\xCC\xA3.txt"},                                           // q, dot above, dot below
    {"DecomposedKeptAsGiven", "\xC5\x81o\xCC\x81" "dz\xCC\x81.txt"},                       // Łódź.txt in NFD
};

// Names that fit: stored in CP1252 (composed) with a Unicode Path field, no UTF-8 flag.
const std::string kDecomposedFitting = "Bu\xCC\x88ro.txt";  // Büro.txt in NFD
const std::string kDecomposedFittingStored = "B\xFCro.txt";

// The Unicode Path name of a local header's extra field, whatever its CRC; empty if none.
std::string unicode_path_field_of(const LocalEntry& e)
{
    for (size_t at = 0; at + 4 <= e.extra.size();) {
        uint16_t id = le16(e.extra, at), size = le16(e.extra, at + 2);
        if (id == 0x7075 && size > 5)
            return std::string(e.extra.begin() + long(at + 9), e.extra.begin() + long(at + 4 + size));
        at += 4u + size;
    }
    return "";
}

struct Producer {
    const char* id;
    const char* program;  // skipped when missing
    // Shell command run in the test folder: src/ holds the files, the input goes to `input`.
    const char* command;
};

void PrintTo(const Producer& p, std::ostream* out)
{
    *out << p.id;
}

// Python: each name as given; also as an ASCII name carrying the Unicode name in a Unicode
// Path field, as Info-ZIP writes for systems whose names it cannot flag.
const char* const kPythonZip =
    "python3 -c \"import os, zipfile\n"
    "z = zipfile.ZipFile('input', 'w')\n"
    "for root, _, files in os.walk('src'):\n"
    "    for f in files:\n"
    "        z.write(os.path.join(root, f), os.path.relpath(os.path.join(root, f), 'src'))\n"
    "\"";
const char* const kPythonUnicodePathZip =
    "python3 -c \"import os, zipfile, zlib, struct\n"
    "z = zipfile.ZipFile('input', 'w')\n"
    "for n, (root, _, files) in enumerate(os.walk('src')):\n"
    "    for k, f in enumerate(files):\n"
    "        name = os.path.relpath(os.path.join(root, f), 'src').encode('utf-8', 'surrogateescape')\n"
    "        stored = 'name%d_%d.txt' % (n, k)\n"
    "        info = zipfile.ZipInfo(stored, (2021, 6, 15, 12, 0, 0))\n"
    "        info.extra = struct.pack('<HHBI', 0x7075, 5 + len(name), 1, zlib.crc32(stored.encode())) + name\n"
    "        z.writestr(info, b'x')\n"
    "\"";

class UnicodeNameProducerTest : public BuilderTest, public ::testing::WithParamInterface<Producer> {
protected:
    // src/ with every Unicode name and two that fit; returns the input (folder or ZIP).
    std::string make_input()
    {
        std::vector<std::string> names = {kDecomposedFitting, "plain.txt"};
        for (const UnicodeName& n : kUnicodeNames)
            names.push_back(n.given);
        for (const std::string& name : names) {
            run({"mkdir", "-p", at("src/" + name.substr(0, name.rfind('/') + 1))});
            write_text(at("src/" + name), "x");
        }
        if (GetParam().command == nullptr)
            return at("src");
        RunResult made = run_shell("cd '" + dir.path() + "' && LC_ALL=C.UTF-8 " + GetParam().command);
        EXPECT_EQ(made.exit_code, 0) << made.all();
        return at("input");
    }
};

TEST_P(UnicodeNameProducerTest, KeepsNamesTheCodePageLacksAsGivenUtf8AndWin9xRefusesThem)
{
    if (GetParam().program != nullptr && !have_program(GetParam().program))
        GTEST_SKIP() << GetParam().program << " is not installed";
    std::string input = make_input();
    RunResult r = build(input, at("out.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_NE(r.err.find("entry names need the NT family"), std::string::npos) << r.err;

    Bytes file = read_bytes(at("out.exe"));
    std::vector<LocalEntry> local = walk_local_headers(file, read_record(file).archive_offset);
    CentralView central = read_central_directory(file);
    ASSERT_EQ(central.entries.size(), local.size());
    auto find_local = [&](const std::string& name) {
        return std::find_if(local.begin(), local.end(), [&](const LocalEntry& e) { return e.name == name; });
    };
    for (const UnicodeName& n : kUnicodeNames) {
        SCOPED_TRACE(n.id);
        auto e = find_local(n.given);
        ASSERT_NE(e, local.end()) << "the name's bytes as given";
        EXPECT_EQ(e->flags & UTF8_FLAG, UTF8_FLAG);
        EXPECT_EQ(unicode_path_field_of(*e), "") << "a UTF-8 name needs no Unicode Path field";
        const CentralEntry& c = central.entries[size_t(e - local.begin())];
        EXPECT_EQ(c.name, n.given);
        EXPECT_EQ(c.flags & UTF8_FLAG, UTF8_FLAG);
    }
    // A name the code page holds is stored as before: composed, in CP1252, with the field.
    auto fitting = find_local(kDecomposedFittingStored);
    ASSERT_NE(fitting, local.end());
    EXPECT_EQ(fitting->flags & UTF8_FLAG, 0);
    EXPECT_EQ(unicode_path_field_of(*fitting), "B\xC3\xBCro.txt");
    auto plain = find_local("plain.txt");
    ASSERT_NE(plain, local.end());
    EXPECT_EQ(plain->flags & UTF8_FLAG, 0);

    // Another reader finds the same names.
    RunResult listed = run({"env", "LC_ALL=C.UTF-8", "unzip", "-Z1", at("out.exe")});
    for (const UnicodeName& n : kUnicodeNames)
        EXPECT_NE(listed.out.find(n.given + "\n"), std::string::npos) << n.id << "\n" << listed.out;

    RunResult refused = build(input, at("win9x.exe"), {"--win9x"});
    EXPECT_EQ(refused.exit_code, 1) << refused.all();
    EXPECT_NE(refused.err.find("has no place in code page CP1252"), std::string::npos) << refused.err;
    EXPECT_FALSE(exists(at("win9x.exe")));
}

INSTANTIATE_TEST_SUITE_P(
    Producers, UnicodeNameProducerTest,
    ::testing::Values(Producer{"Folder", nullptr, nullptr},
                      Producer{"InfoZip", "zip", "sh -c 'cd src && zip -q -r ../input .' && mv input.zip input"},
                      Producer{"SevenZip", "7zz", "sh -c 'cd src && 7zz a -tzip ../input.zip . >/dev/null' && mv input.zip input"},
                      Producer{"PythonZipfile", "python3", kPythonZip},
                      Producer{"PythonUnicodePathField", "python3", kPythonUnicodePathZip}),
    [](const ::testing::TestParamInfo<Producer>& case_info) { return std::string(case_info.param.id); });

// A name of several folders, `levels` of `width` characters, then `leaf`.
std::string nested_name(int levels, size_t width, const std::string& leaf)
{
    std::string name;
    for (int i = 0; i < levels; ++i)
        name += std::string(width, char('a' + i % 26)) + "/";
    return name + leaf;
}

// A legacy name read in the code page it was written in (--input-codepage) is Unicode as
// well: what --codepage lacks of it is kept as UTF-8; --win9x refuses it naming the reading.
TEST_F(BuilderTest, LegacyNameReadInAnotherCodePageIsKeptAsUtf8)
{
    const std::string cyrillic = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt";  // Привет.txt
    std::string script =
        "import sys, zipfile\n"
        "stored = sys.argv[2].encode('utf-8').decode('utf-8').encode('cp866')\n"
        "placeholder = b'x' * (len(stored) - 4) + b'.txt'\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        "    z.writestr(zipfile.ZipInfo(placeholder.decode(), (2021, 6, 15, 12, 0, 0)), b'x')\n"
        "data = open(sys.argv[1], 'rb').read().replace(placeholder, stored)\n"
        "open(sys.argv[1], 'wb').write(data)\n";
    write_text(at("make.py"), script);
    ASSERT_EQ(run({"env", "LC_ALL=C.UTF-8", "python3", at("make.py"), at("in.zip"), cyrillic}).exit_code, 0);
    RunResult r = build(at("in.zip"), at("out.exe"), {"--input-codepage", "CP866"});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    Bytes file = read_bytes(at("out.exe"));
    std::vector<LocalEntry> local = walk_local_headers(file, read_record(file).archive_offset);
    ASSERT_EQ(local.size(), 1u);
    EXPECT_EQ(local[0].name, cyrillic);
    EXPECT_EQ(local[0].flags & UTF8_FLAG, UTF8_FLAG);

    RunResult refused = build(at("in.zip"), at("win9x.exe"), {"--input-codepage", "CP866", "--win9x"});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE(refused.err.find("read as CP866 (--input-codepage)"), std::string::npos) << refused.err;
    EXPECT_FALSE(exists(at("win9x.exe")));
}

// inspect names each entry that needs the NT family and counts them, in text and JSON.
TEST_F(BuilderTest, InspectListsTheNamesThatNeedTheNtFamily)
{
    std::string long_ascii = nested_name(3, 99, "end.txt");  // 307 characters
    std::vector<std::string> needing = {"sub/\xE3\x83\x9D.txt", "\xD0\xAF.txt", long_ascii};  // ポ, Я
    for (const std::string& name : std::vector<std::string>{"plain.txt", "K\xC3\xA4se.txt", needing[0], needing[1],
                                                            needing[2]}) {
        run({"mkdir", "-p", at("in/" + name.substr(0, name.rfind('/') + 1))});
        write_text(at("in/" + name), "x");
    }
    ASSERT_EQ(build(at("in"), at("out.exe")).exit_code, 0);
    RunResult text = run({tvsfx_path(), "inspect", at("out.exe")});
    ASSERT_EQ(text.exit_code, 0) << text.all();
    EXPECT_NE(text.out.find("names needing the NT family: 3\n"), std::string::npos) << text.out;
    for (const std::string& name : needing)
        EXPECT_NE(text.out.find("needs the NT family: \"" + name + "\"\n"), std::string::npos) << name << text.out;
    EXPECT_EQ(text.out.find("needs the NT family: \"K"), std::string::npos) << text.out;

    RunResult json = run_shell("'" + tvsfx_path() + "' inspect --json '" + at("out.exe") +
                               "' | python3 -c \"import json, sys; d = json.load(sys.stdin); "
                               "print(d['names_needing_nt']); "
                               "print('|'.join(sorted(e['name'] for e in d['entries'] if e['needs_nt'])))\"");
    ASSERT_EQ(json.exit_code, 0) << json.all();
    std::vector<std::string> sorted = needing;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(json.out, "3\n" + sorted[0] + "|" + sorted[1] + "|" + sorted[2] + "\n");
}

// Deep trees and long names from a folder: the NT family takes them, --win9x refuses them as
// before; the package's own check (test's walk) reads them back.
struct LongPathCase {
    const char* id;
    std::string name;
};

void PrintTo(const LongPathCase& c, std::ostream* out)
{
    *out << c.id;
}

class LongPathTest : public BuilderTest, public ::testing::WithParamInterface<LongPathCase> {};

TEST_P(LongPathTest, BuildsForTheNtFamilyAndWin9xRefuses)
{
    const std::string& name = GetParam().name;
    run({"mkdir", "-p", at("in/" + name.substr(0, name.rfind('/')))});
    write_text(at("in/" + name), "deep");
    RunResult r = build(at("in"), at("out.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    Bytes file = read_bytes(at("out.exe"));
    std::vector<LocalEntry> local = walk_local_headers(file, read_record(file).archive_offset);
    ASSERT_EQ(local.size(), 1u);
    EXPECT_EQ(local[0].name, name);
    EXPECT_EQ(run({"unzip", "-p", at("out.exe"), name}).out, "deep");
    EXPECT_EQ(run({tvsfx_path(), "test", at("out.exe")}).exit_code, 0);

    RunResult refused = build(at("in"), at("win9x.exe"), {"--win9x"});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE(refused.err.find("the stub takes at most 259"), std::string::npos) << refused.err;
    EXPECT_FALSE(exists(at("win9x.exe")));
}

INSTANTIATE_TEST_SUITE_P(
    Folder, LongPathTest,
    ::testing::Values(LongPathCase{"DeepTree600", nested_name(66, 8, "end.txt")},  // 601 characters, 66 levels
                      LongPathCase{"Name255InFolder300", nested_name(3, 99, std::string(251, 'n') + ".txt")}),
    [](const ::testing::TestParamInfo<LongPathCase>& case_info) { return std::string(case_info.param.id); });

// One-entry ZIPs made by Python (UTF-8 flag for names beyond ASCII) for the NT family: each
// folder or file name obeys the file systems' 255 UTF-16 units and Windows' name rules, the
// whole name Windows' 32767; `message` empty: built.
struct NtNameCase {
    const char* id;
    std::vector<std::string> names;
    const char* message;
};

void PrintTo(const NtNameCase& c, std::ostream* out)
{
    *out << c.id;
}

std::string repeated(const std::string& piece, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

const std::string kJapanese = "\xE3\x83\x9D\xE3\x83\xBC\xE3\x83\x88";  // ポート
const std::string kCyrillic = "\xD0\x94\xD0\xBE\xD0\xBA";              // Док
const std::string kGreek = "\xCE\x95\xCE\xBB";                         // Ελ
const std::string kNfcLodz = "\xC5\x81\xC3\xB3" "d\xC5\xBA.txt";        // Łódź.txt
const std::string kNfdLodz = "\xC5\x81o\xCC\x81" "d" "z\xCC\x81.txt";

class NtNameTest : public BuilderTest, public ::testing::WithParamInterface<NtNameCase> {};

TEST_P(NtNameTest, FollowsTheNtFamilysLimitsAndWindowsRules)
{
    const NtNameCase& c = GetParam();
    std::string script = "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n"
                         "for name in sys.argv[2:]:\n    z.writestr(name, 'x')\n";
    write_text(at("make.py"), script);
    std::vector<std::string> argv = {"env", "LC_ALL=C.UTF-8", "python3", at("make.py"), at("in.zip")};
    argv.insert(argv.end(), c.names.begin(), c.names.end());
    ASSERT_EQ(run(argv).exit_code, 0);
    RunResult r = build(at("in.zip"), at("out.exe"));
    if (*c.message == '\0') {
        EXPECT_EQ(r.exit_code, 0) << r.all();
        return;
    }
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(exists(at("out.exe")));
}

INSTANTIATE_TEST_SUITE_P(
    Zip, NtNameTest,
    ::testing::Values(
        // Counted in UTF-16 units, not bytes: 255 Japanese characters are 765 bytes.
        NtNameCase{"JapaneseComponentOf255Units", {"a/" + repeated("\xE3\x83\x9D", 255)}, ""},
        NtNameCase{"ComponentOver255", {"a/" + std::string(256, 'x') + "/b.txt"},
                   "has 256 characters (UTF-16 units); Windows file systems keep at most 255"},
        // Each emoji beyond the BMP takes two units.
        NtNameCase{"EmojiComponentOver255Units", {repeated("\xF0\x9F\x98\x80", 128)},
                   "has 256 characters (UTF-16 units)"},
        NtNameCase{"PathOverTheLongPathLimit", {nested_name(200, 200, "f")},
                   "the name has 40201 characters (UTF-16 units); below the shortest target folder (C:\\) Windows "
                   "paths hold 32767"},
        // Windows' rules in every component of a Unicode name, at any depth.
        NtNameCase{"DeviceInAUnicodePath", {kCyrillic + "/CON.txt"}, "Windows device name"},
        NtNameCase{"SuperscriptDeviceInUtf8", {"COM\xC2\xB9/" + kJapanese + ".txt"}, "Windows device name"},
        NtNameCase{"DeviceDeepInALongPath", {nested_name(66, 8, "NUL." + kJapanese)}, "Windows device name"},
        NtNameCase{"StreamInAUnicodeName", {kCyrillic + ":" + kGreek + ".txt"}, "':'"},
        NtNameCase{"TrailingDotInAUnicodeFolder", {kGreek + "./a.txt"}, "ends in a dot or a blank"},
        NtNameCase{"TrailingBlankInAUnicodeFolder", {kCyrillic + " /b.txt"}, "ends in a dot or a blank"},
        NtNameCase{"ForbiddenCharacterInAUnicodeName", {kJapanese + "?.txt"}, "does not allow"},
        // NTFS would keep both compositions, but they look alike and macOS takes them for one.
        NtNameCase{"ComposedAndDecomposedCollide", {kNfcLodz, kNfdLodz}, "appears twice"},
        NtNameCase{"CyrillicCaseCollides", {"\xD0\x94\xD0\xBE\xD0\xBA.txt", "\xD0\xB4\xD0\xBE\xD0\xBA.txt"},
                   "name the same file on Windows"}),
    [](const ::testing::TestParamInfo<NtNameCase>& case_info) { return std::string(case_info.param.id); });

// Below an absolute --folder the NT family's paths hold 32,767 characters: an entry past that
// is named with its path's length, counted in UTF-16 units (not bytes) of folder and name.
TEST_F(BuilderTest, WarnsForPathsOverTheLongPathLimitBelowAnAbsoluteFolder)
{
    std::string name = nested_name(162, 200, std::string(74, 'f'));  // 32,636 characters
    std::string script = "import sys, zipfile\nzipfile.ZipFile(sys.argv[1], 'w').writestr(sys.argv[2], 'x')\n";
    write_text(at("make.py"), script);
    ASSERT_EQ(run({"python3", at("make.py"), at("in.zip"), name}).exit_code, 0);
    // C:\ and 128 Cyrillic letters: 131 characters in 259 bytes, then a separator.
    RunResult r = build(at("in.zip"), at("out.exe"), {"--folder", "C:\\" + repeated("\xD0\xAF", 128)});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_NE(r.err.find("below --folder its path has 32768 characters; Windows paths hold 32767"), std::string::npos)
        << r.err.substr(r.err.size() > 400 ? r.err.size() - 400 : 0);
    r = build(at("in.zip"), at("fits.exe"), {"--folder", "C:\\" + repeated("\xD0\xAF", 127)});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_EQ(r.err.find("below --folder"), std::string::npos);
}

// The configuration's texts: all in the code page while each fits it; all UTF-8 with
// SFX_UTF8_TEXTS once one does not (--win9x refuses that); lengths in the bytes stored.
TEST_F(BuilderTest, TextsBeyondTheCodePageMakeEveryTextUtf8)
{
    std::string command = "\xD0\x94\xD0\xBE\xD0\xBA/\xD0\xBE\xD1\x82.exe";  // Док/от.exe
    run({"mkdir", "-p", at("in/\xD0\x94\xD0\xBE\xD0\xBA")});
    write_text(at("in/" + command), "MZ");
    std::vector<std::string> texts = {"--folder", "C:\\Programme\\M\xC3\xBCller", "--command", command, "--title",
                                      "Gr\xC3\xBC\xC3\x9F" "e"};
    RunResult r = build(at("in"), at("out.exe"), texts);
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_EQ(r.err.find("is neither a file of the package"), std::string::npos) << r.err;
    Bytes file = read_bytes(at("out.exe"));
    EXPECT_NE(read_record(file).flags & 0x10000000u, 0u) << "SFX_UTF8_TEXTS";
    std::vector<std::string> fields = read_config_fields(file);
    ASSERT_GE(fields.size(), 6u);
    EXPECT_EQ(fields[0], "C:\\Programme\\M\xC3\xBCller") << "a text that fits is UTF-8 too";
    EXPECT_EQ(fields[1], command);
    EXPECT_EQ(fields[5], "Gr\xC3\xBC\xC3\x9F" "e");

    texts.push_back("--win9x");
    RunResult refused = build(at("in"), at("win9x.exe"), texts);
    EXPECT_EQ(refused.exit_code, 2) << refused.all();
    EXPECT_NE(refused.err.find("--command has a character that code page CP1252 cannot hold"), std::string::npos)
        << refused.err;

    // Without such a text: the code page, no flag, as before.
    ASSERT_EQ(build(at("in"), at("cp.exe"), {"--title", "Gr\xC3\xBC\xC3\x9F" "e"}).exit_code, 0);
    Bytes cp = read_bytes(at("cp.exe"));
    EXPECT_EQ(read_record(cp).flags & 0x10000000u, 0u);
    EXPECT_EQ(read_config_fields(cp).at(5), "Gr\xFC\xDF" "e");
}

TEST_F(BuilderTest, Utf8TextsAreLimitedInTheirBytesAndTheFlagIsTheBuildersOwn)
{
    std::string in = make_sample_folder();
    RunResult r = build(in, at("out.exe"), {"--title", repeated("\xD0\xAF", 40)});  // 40 characters, 80 bytes
    EXPECT_EQ(r.exit_code, 2) << r.all();
    EXPECT_NE(r.err.find("--title has 80 bytes in UTF-8; the stub takes at most 64"), std::string::npos) << r.err;
    r = build(in, at("out.exe"), {"--flags=10000000"});
    EXPECT_EQ(r.exit_code, 2) << r.all();
    EXPECT_NE(r.err.find("--flags sets SFX_UTF8_TEXTS"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(at("out.exe")));
}

// Names that all fit the code page: the package is what the builder made before it kept
// names as UTF-8 (fitting_names.txt was listed from packages of the builder of commit
// 0d82403, built from the same inputs with the same options).
std::map<std::string, std::string> expected_listings()
{
    std::ifstream in(FITTING_NAMES_LISTING);
    std::map<std::string, std::string> sections;
    std::string line, section;
    while (std::getline(in, line)) {
        if (line.rfind("== ", 0) == 0)
            section = line.substr(3);
        else
            sections[section] += line + "\n";
    }
    return sections;
}

TEST_F(BuilderTest, PackageWhoseNamesFitIsByteForByteTheOldBuildersOne)
{
    ASSERT_EQ(run({"python3", FITTING_NAMES_SCRIPT, "make", dir.path()}).exit_code, 0);
    std::map<std::string, std::string> expected = expected_listings();
    ASSERT_EQ(expected.size(), 2u);
    const std::vector<std::string> folder_texts = {"--title", "Gr\xC3\xBC\xC3\x9F" "e", "--command",
                                                   "\xC3\x84rger/\xC3\xA4.txt", "--folder",
                                                   "C:\\Programme\\M\xC3\xBCller"};
    for (const std::string& kind : {std::string("zip"), std::string("folder")}) {
        SCOPED_TRACE(kind);
        std::vector<std::string> argv = {"env", "SOURCE_DATE_EPOCH=1700000000", tvsfx_path(), "build", "--stub",
                                         stub_path(), "-o", at(kind + ".exe")};
        if (kind == "folder")
            argv.insert(argv.end(), folder_texts.begin(), folder_texts.end());
        argv.push_back(at(kind == "zip" ? "in.zip" : "in"));
        RunResult r = run(argv);
        ASSERT_EQ(r.exit_code, 0) << r.all();
        EXPECT_EQ(r.err.find("NT family"), std::string::npos) << r.err;
        RunResult listed = run({"python3", FITTING_NAMES_SCRIPT, "list", at(kind + ".exe")});
        EXPECT_EQ(listed.out, expected[kind]) << listed.err;
    }
}

}  // namespace
