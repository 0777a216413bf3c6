// Entry names on their way through the builder: the Unicode name worked out from each kind of
// ZIP header, converted to the stub's code page with a Unicode Path field for other tools, and
// the names the builder refuses, each with the message it must give and no output file left.
#include <algorithm>
#include <fstream>
#include <sstream>

#include "builder_test_support.h"

namespace {

// unzip prints names in the caller's locale (under LC_ALL=C, "ü" becomes "#U00fc"): the
// listing is read in UTF-8 whatever the test runs under.
RunResult list_with_unzip(const std::string& file)
{
    return run({"env", "LC_ALL=C.UTF-8", "unzip", "-Z1", file});
}

// One stored entry of a hand-made archive: the header fields that decide how its name is read.
struct RawName {
    std::string name;  // bytes as stored
    uint16_t flags = 0;
    uint16_t made_by = 20;  // host 0 (MS-DOS), version 2.0
    Bytes extra;            // in both headers
    std::string data = "x";
};

Bytes unicode_path_extra(const std::string& utf8, const std::string& stored)
{
    Bytes f;
    append_le16(f, 0x7075);
    append_le16(f, uint16_t(5 + utf8.size()));
    f.push_back(1);
    append_le32(f, crc32_of(reinterpret_cast<const uint8_t*>(stored.data()), stored.size()));
    f.insert(f.end(), utf8.begin(), utf8.end());
    return f;
}

Bytes raw_zip(const std::vector<RawName>& entries)
{
    Bytes out, central;
    for (const RawName& e : entries) {
        uint32_t crc = crc32_of(reinterpret_cast<const uint8_t*>(e.data.data()), e.data.size());
        Bytes fields;
        append_le16(fields, e.flags);
        append_le16(fields, 0);                        // stored
        append_le16(fields, 0x6000);                   // 12:00
        append_le16(fields, (41 << 9) | (6 << 5) | 15);  // 2021-06-15
        append_le32(fields, crc);
        append_le32(fields, uint32_t(e.data.size()));
        append_le32(fields, uint32_t(e.data.size()));
        append_le16(fields, uint16_t(e.name.size()));
        append_le16(fields, uint16_t(e.extra.size()));
        append_le32(central, 0x02014B50);
        append_le16(central, e.made_by);
        append_le16(central, 20);
        central.insert(central.end(), fields.begin(), fields.end());
        for (int i = 0; i < 4; ++i)
            append_le16(central, 0);  // comment length, disk, internal attributes, external (low)
        append_le16(central, 0);
        append_le32(central, uint32_t(out.size()));
        central.insert(central.end(), e.name.begin(), e.name.end());
        central.insert(central.end(), e.extra.begin(), e.extra.end());
        append_le32(out, 0x04034B50);
        append_le16(out, 20);
        out.insert(out.end(), fields.begin(), fields.end());
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.insert(out.end(), e.extra.begin(), e.extra.end());
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    uint32_t directory_offset = uint32_t(out.size());
    out.insert(out.end(), central.begin(), central.end());
    append_le32(out, 0x06054B50);
    append_le32(out, 0);
    append_le16(out, uint16_t(entries.size()));
    append_le16(out, uint16_t(entries.size()));
    append_le32(out, uint32_t(central.size()));
    append_le32(out, directory_offset);
    append_le16(out, 0);
    return out;
}

// The Unicode Path name of a local header's extra field whose CRC matches the stored name.
std::string unicode_path_of(const LocalEntry& e)
{
    for (size_t at = 0; at + 4 <= e.extra.size();) {
        uint16_t id = le16(e.extra, at), size = le16(e.extra, at + 2);
        if (id == 0x7075 && size > 5 &&
            le32(e.extra, at + 5) == crc32_of(reinterpret_cast<const uint8_t*>(e.name.data()), e.name.size()))
            return std::string(e.extra.begin() + long(at + 9), e.extra.begin() + long(at + 4 + size));
        at += 4u + size;
    }
    return "";
}

const char* const NFD_BUERO = "Bu\xCC\x88ro.txt";  // "Büro.txt" with a combining diaeresis
const char* const JAPANESE = "\xE3\x83\x9D\xE3\x83\xBC\xE3\x83\x88.txt";  // "ポート.txt"

// How an accepted name must come out: the bytes the stub reads and the Unicode name that
// other tools find in the Unicode Path field (empty: no field, the name is ASCII).
struct ConvertCase {
    const char* id;
    std::vector<RawName> entries;
    std::vector<std::string> options;
    std::string stored;
    std::string unicode;
};

void PrintTo(const ConvertCase& c, std::ostream* out)
{
    *out << c.id;
}

class NameConversionTest : public BuilderTest, public ::testing::WithParamInterface<ConvertCase> {};

TEST_P(NameConversionTest, StoresTheCodePageBytesAndTheUnicodeName)
{
    const ConvertCase& c = GetParam();
    write_bytes(at("in.zip"), raw_zip(c.entries));
    RunResult r = build(at("in.zip"), at("out.exe"), c.options);
    ASSERT_EQ(r.exit_code, 0) << r.all();
    Bytes file = read_bytes(at("out.exe"));
    std::vector<LocalEntry> local = walk_local_headers(file, read_record(file).archive_offset);
    ASSERT_EQ(local.size(), 1u);
    EXPECT_EQ(local[0].name, c.stored);
    EXPECT_EQ(unicode_path_of(local[0]), c.unicode);
    EXPECT_EQ(local[0].flags & 0x0800, 0) << "the stored name is not UTF-8";
    CentralView central = read_central_directory(file);
    ASSERT_EQ(central.entries.size(), 1u);
    EXPECT_EQ(central.entries[0].name, c.stored);
    // unzip reads the Unicode Path field of the central directory.
    RunResult listed = list_with_unzip(at("out.exe"));
    EXPECT_EQ(listed.out, (c.unicode.empty() ? c.stored : c.unicode) + "\n") << listed.all();
}

INSTANTIATE_TEST_SUITE_P(
    Zip, NameConversionTest,
    ::testing::Values(
        ConvertCase{"Utf8Flag", {{"B\xC3\xBCro.txt", 0x0800, 0x0314}}, {}, "B\xFCro.txt", "B\xC3\xBCro.txt"},
        // MS-DOS host, no flag: code page 437 (0x81 is u-umlaut there), or what --input-codepage says.
        ConvertCase{"DosCp437", {{"B\x81ro.txt"}}, {}, "B\xFCro.txt", "B\xC3\xBCro.txt"},
        ConvertCase{"DosCp850", {{"\x8E\x94.txt"}}, {"--input-codepage", "CP850"}, "\xC4\xF6.txt",
                    "\xC3\x84\xC3\xB6.txt"},
        ConvertCase{"NtfsHostIsOem", {{"\x84.txt", 0, 0x0A14}}, {}, "\xE4.txt", "\xC3\xA4.txt"},
        // Any other host without flag: UTF-8 when the bytes are UTF-8, else its ANSI code page,
        // taken as the target's, so the bytes stand (Latin-1 "Résumé" made on Unix or macOS).
        ConvertCase{"UnixUtf8", {{"\xC3\xA4.txt", 0, 0x0314}}, {}, "\xE4.txt", "\xC3\xA4.txt"},
        ConvertCase{"UnixLatin1", {{"R\xE9sum\xE9.txt", 0, 0x0314}}, {}, "R\xE9sum\xE9.txt", "R\xC3\xA9sum\xC3\xA9.txt"},
        ConvertCase{"MacLatin1Folder", {{"Gr\xFC\xDF" "e/", 0, 0x1314, {}, ""}}, {}, "Gr\xFC\xDF" "e/", "Gr\xC3\xBC\xC3\x9F" "e/"},
        ConvertCase{"VmsBytesStandInCp1250", {{"\x8A.txt", 0, 0x0214}}, {"--codepage", "CP1250"}, "\x8A.txt",
                    "\xC5\xA0.txt"},
        // VFAT and OS/2 wrote the OEM code page like MS-DOS.
        ConvertCase{"VfatHostIsOem", {{"\x81.txt", 0, 0x0E14}}, {}, "\xFC.txt", "\xC3\xBC.txt"},
        ConvertCase{"Os2HostIsOem", {{"\x81.txt", 0, 0x0614}}, {}, "\xFC.txt", "\xC3\xBC.txt"},
        // --input-codepage reads every such name, whatever host made it.
        ConvertCase{"InputCodepageWinsOverUnixHost", {{"\x8E.txt", 0, 0x0314}}, {"--input-codepage", "CP850"},
                    "\xC4.txt", "\xC3\x84.txt"},
        // macOS writes decomposed names; NFC gives the one code point CP1252 has.
        ConvertCase{"MacNfd", {{NFD_BUERO, 0x0800, 0x1314}}, {}, "B\xFCro.txt", "B\xC3\xBCro.txt"},
        // A Unicode Path field with the stored name's CRC wins over the bytes (here CP437 bytes
        // of another name), in the local header as in the central one.
        ConvertCase{"UnicodePathField",
                    {{"K\x84se.txt", 0, 20, unicode_path_extra("K\xC3\xA4se.txt", "K\x84se.txt")}},
                    {},
                    "K\xE4se.txt",
                    "K\xC3\xA4se.txt"},
        // A field whose CRC belongs to another name is stale: the bytes count.
        ConvertCase{"StaleUnicodePathField",
                    {{"\x94.txt", 0, 20, unicode_path_extra("\xC3\xBC.txt", "other")}},
                    {},
                    "\xF6.txt",
                    "\xC3\xB6.txt"},
        ConvertCase{"Cp932", {{JAPANESE, 0x0800, 0x0314}}, {"--codepage", "CP932"},
                    "\x83\x7C\x81\x5B\x83\x67.txt", JAPANESE},
        // CP1250's 0xB9 is the letter a with ogonek: no superscript, so no device there.
        ConvertCase{"SuperscriptBytesAreALetterInCp1250", {{"COM\xC4\x85.txt", 0x0800, 0x0314}},
                    {"--codepage", "CP1250"}, "COM\xB9.txt", "COM\xC4\x85.txt"},
        ConvertCase{"AsciiGetsNoField", {{"plain.txt", 0x0800}}, {}, "plain.txt", ""}),
    [](const ::testing::TestParamInfo<ConvertCase>& case_info) { return std::string(case_info.param.id); });

// Names refused, each with the words its message must hold; the output file never appears.
struct RefusalCase {
    const char* id;
    std::vector<RawName> entries;
    std::vector<std::string> options;
    std::vector<std::string> message;
};

void PrintTo(const RefusalCase& c, std::ostream* out)
{
    *out << c.id;
}

class NameRefusalTest : public BuilderTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(NameRefusalTest, IsRefusedNamingTheEntry)
{
    const RefusalCase& c = GetParam();
    write_bytes(at("in.zip"), raw_zip(c.entries));
    RunResult r = build(at("in.zip"), at("out.exe"), c.options);
    EXPECT_EQ(r.exit_code, 1) << r.all();
    for (const std::string& words : c.message)
        EXPECT_NE(r.err.find(words), std::string::npos) << words << "\n" << r.err;
    // --codepage is the advice only for names that really are Unicode.
    if (std::find(c.message.begin(), c.message.end(), "--input-codepage") != c.message.end()) {
        EXPECT_EQ(r.err.find("--codepage"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(exists(at("out.exe")));
    // No control byte reaches the terminal, and the line is whole.
    for (char ch : r.err)
        EXPECT_TRUE(ch == '\n' || static_cast<unsigned char>(ch) >= 0x20) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Zip, NameRefusalTest,
    ::testing::Values(
        RefusalCase{"CharacterTheCodePageLacks",
                    {{JAPANESE, 0x0800, 0x0314}},
                    {"--win9x"},
                    {"entry \"\xE3\x83\x9D\xE3\x83\xBC\xE3\x83\x88.txt\"", "\"\xE3\x83\x9D\" (U+30DD)",
                     "code page CP1252", "--codepage"}},
        // Bytes read in a code page: the fix is the reading (--input-codepage), never --codepage;
        // box-drawing or Greek characters mark the reading as probably wrong.
        RefusalCase{"Cp1252NameMadeOnDos",
                    {{"R\xE9sum\xE9.txt"}},
                    {},
                    {"entry \"R\\xE9sum\\xE9.txt\" (read as \"R\xCE\x98sum\xCE\x98.txt\": made on MS-DOS, read as CP437)",
                     "\"\xCE\x98\" (U+0398)", "probably wrong", "--input-codepage"}},
        RefusalCase{"Cp850NameReadAsCp437",
                    {{"Gr\xC6n.txt", 0, 0x0A14}},
                    {},
                    {"made on Windows (NTFS), read as CP437", "\"\xE2\x95\x9E\" (U+255E)", "probably wrong",
                     "--input-codepage"}},
        // CP1252 "Müller" read as CP437 gives a superscript n that CP1252 lacks: the symbol
        // inside the word marks the reading, and the advice is the code page it was written in.
        RefusalCase{"SymbolInsideAWord",
                    {{"M\xFCller.txt"}},
                    {},
                    {"(read as \"M\xE2\x81\xBFller.txt\": made on MS-DOS, read as CP437)", "probably wrong",
                     "--input-codepage CP1252"}},
        // CP932 writes the yen sign as 0x5C, which reads as a backslash: a folder and a file.
        RefusalCase{"YenSignWouldBecomeABackslash",
                    {{"a\xC2\xA5" "b.txt", 0x0800}},
                    {"--codepage", "CP932", "--win9x"},
                    {"entry \"a\xC2\xA5" "b.txt\"", "\"\xC2\xA5\" (U+00A5) has no place in code page CP932"}},
        RefusalCase{"ByteWithoutMeaningInTheAnsiCodePage",
                    {{"a\x81.txt", 0, 0x0314}},
                    {},
                    {"the name's byte \\x81 has no meaning in code page CP1252 (made on Unix, read as CP1252)",
                     "--input-codepage"}},
        RefusalCase{"GivenReadingTheTargetLacks",
                    {{"\xC4.txt", 0, 0x0314}},
                    {"--input-codepage", "CP437"},
                    {"read as CP437 (--input-codepage)", "\"\xE2\x94\x80\" (U+2500)", "--input-codepage"}},
        RefusalCase{"CaseOnlyCollision",
                    {{"docs/README"}, {"docs/readme"}},
                    {},
                    {"entry \"docs/readme\" and \"docs/README\" name the same file on Windows"}},
        RefusalCase{"ComposedAndDecomposedCollide",
                    {{"B\xC3\xBCro.txt", 0x0800}, {NFD_BUERO, 0x0800}},
                    {},
                    {"entry \"B\xC3\xBCro.txt\" appears twice"}},
        RefusalCase{"UmlautCaseCollision",
                    {{"\xC3\x84rger.txt", 0x0800}, {"\xC3\xA4rger.txt", 0x0800}},
                    {},
                    {"name the same file on Windows"}},
        RefusalCase{"FileAndFolderCollide", {{"Data"}, {"data/", 0, 20, {}, ""}}, {}, {"name the same file"}},
        // RFC 3629: no overlong forms, no surrogates.
        RefusalCase{"OverlongUtf8", {{"a\xC0\xAF.txt", 0x0800}}, {}, {"entry \"a\\xC0\\xAF.txt\"", "not valid UTF-8"}},
        RefusalCase{"SurrogateUtf8", {{"a\xED\xA0\x80.txt", 0x0800}}, {}, {"entry \"a\\xED\\xA0\\x80.txt\"", "not valid UTF-8"}},
        RefusalCase{"FileAndFolderInCaseOnly", {{"a"}, {"A/b"}}, {}, {"entry \"A/b\" needs a folder where \"a\" is a file"}},
        RefusalCase{"DeviceName", {{"sub/Aux.txt"}}, {}, {"entry \"sub/Aux.txt\"", "Windows device name"}},
        // Windows counts the superscripts 1, 2, 3 as device numbers, in whatever bytes the target
        // code page spells them (0xB9 in CP1252, 0xFC for 3 in CP850, two bytes in CP949).
        RefusalCase{"SuperscriptDevice", {{"COM\xC2\xB9.txt", 0x0800}}, {},
                    {"entry \"COM\xC2\xB9.txt\"", "Windows device name"}},
        RefusalCase{"SuperscriptDeviceCp850", {{"lpt\xC2\xB3", 0x0800}}, {"--codepage", "CP850"},
                    {"entry \"lpt\xC2\xB3\"", "Windows device name"}},
        RefusalCase{"SuperscriptDeviceCp949", {{"sub/Com\xC2\xB2 .log", 0x0800}}, {"--codepage", "CP949"},
                    {"entry \"sub/Com\xC2\xB2 .log\"", "Windows device name"}},
        RefusalCase{"Stream", {{"a.txt:x"}}, {}, {"entry \"a.txt:x\"", "':'"}},
        RefusalCase{"TrailingDot", {{"dir./a.txt"}}, {}, {"entry \"dir./a.txt\"", "ends in a dot or a blank"}},
        RefusalCase{"EscapeSequence",
                    {{"\x1B]0;owned\x07.txt"}},
                    {},
                    {"entry \"\\x1B]0;owned\\x07.txt\"", "does not allow"}},
        RefusalCase{"NulInName", {{std::string("a\0b.txt", 7)}}, {}, {"entry \"a\\x00b.txt\"", "NUL"}},
        RefusalCase{"LongerThanTheStubTakes",
                    {{std::string(130, 'a') + "/" + std::string(130, 'b')}},
                    {"--win9x"},
                    {"the name has 261 bytes in code page CP1252; the stub takes at most 259"}}),
    [](const ::testing::TestParamInfo<RefusalCase>& case_info) { return std::string(case_info.param.id); });

// A reading that the target code page holds builds, but a symbol of the OEM code page inside
// a word marks it as probably wrong (a CP1252 name read as CP437), with --input-codepage
// CP1252 as the advice; the same symbols beside digits or blanks, and a sharp s in capitals,
// are what CP437 names hold and stay unremarked.
struct MisreadCase {
    const char* id;
    std::string name;    // bytes, made on MS-DOS, no UTF-8 flag
    const char* shown;   // the reading; empty: no note expected
};

void PrintTo(const MisreadCase& c, std::ostream* out)
{
    *out << c.id;
}

class MisreadNoteTest : public BuilderTest, public ::testing::WithParamInterface<MisreadCase> {};

TEST_P(MisreadNoteTest, WarnsOnlyForSymbolsInsideWords)
{
    const MisreadCase& c = GetParam();
    write_bytes(at("in.zip"), raw_zip({{c.name}}));
    RunResult r = build(at("in.zip"), at("out.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    if (*c.shown == '\0') {
        EXPECT_EQ(r.err.find("probably wrong"), std::string::npos) << r.err;
        return;
    }
    EXPECT_NE(r.err.find(std::string("(read as \"") + c.shown + "\": made on MS-DOS, read as CP437)"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("probably wrong"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--input-codepage CP1252"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Zip, MisreadNoteTest,
    ::testing::Values(
        MisreadCase{"DivisionSign", "K\xF6ln.txt", "K\xC3\xB7ln.txt"},          // CP1252 ö
        MisreadCase{"PlusMinus", "Espa\xF1" "a.txt", "Espa\xC2\xB1" "a.txt"},      // CP1252 ñ
        MisreadCase{"SharpSAfterCapital", "M\xE1laga.txt", "M\xC3\x9Flaga.txt"},  // CP1252 á
        MisreadCase{"DegreeAfterDigit", "20\xF8" "C.txt", ""},                   // CP437 "20°C"
        MisreadCase{"SharpSInCapitals", "STRA\xE1" "E.txt", ""},                 // CP437 "STRAßE"
        MisreadCase{"HalfBetweenBlanks", "1 \xAB Liter.txt", ""},                // CP437 "1 ½ Liter"
        MisreadCase{"PlainUmlaut", "B\x81ro.txt", ""}),                         // CP437 "Büro"
    [](const ::testing::TestParamInfo<MisreadCase>& case_info) { return std::string(case_info.param.id); });

TEST_F(BuilderTest, JapaneseNamesBuildForCodePage932)
{
    write_bytes(at("in.zip"), raw_zip({{JAPANESE, 0x0800, 0x0314}}));
    EXPECT_EQ(build(at("in.zip"), at("out.exe"), {"--codepage", "CP932"}).exit_code, 0);
}

// macOS metadata is left out with one note; --keep-macos-metadata keeps it.
TEST_F(BuilderTest, MacOsMetadataIsLeftOutUnlessKept)
{
    write_bytes(at("in.zip"), raw_zip({{"a.txt"}, {"__MACOSX/", 0, 20, {}, ""}, {"__MACOSX/._a.txt"}, {"sub/._b.txt"},
                                       {"sub/b.txt"}, {"._c"}}));
    RunResult r = build(at("in.zip"), at("out.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_NE(r.err.find("note: 4 macOS metadata entries (__MACOSX/, ._*) left out; --keep-macos-metadata keeps them"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(list_with_unzip(at("out.exe")).out, "a.txt\nsub/b.txt\n");
    ASSERT_EQ(build(at("in.zip"), at("kept.exe"), {"--keep-macos-metadata"}).exit_code, 0);
    EXPECT_EQ(list_with_unzip(at("kept.exe")).out,
              "a.txt\n__MACOSX/\n__MACOSX/._a.txt\nsub/._b.txt\nsub/b.txt\n._c\n");
}

// Below an absolute --folder the paths of Windows 95/98/ME (--win9x) hold 259 characters: each
// entry past that is named.
TEST_F(BuilderTest, WarnsForPathsTooLongBelowAnAbsoluteFolder)
{
    std::string name = std::string(120, 'n') + "/" + std::string(122, 'm');  // 243 bytes
    write_bytes(at("in.zip"), raw_zip({{"short.txt"}, {name}}));
    RunResult r = build(at("in.zip"), at("out.exe"), {"--win9x", "--folder", "C:\\Programme\\Xyz"});  // 16 characters
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_NE(r.err.find("entry \"" + name + "\": below --folder its path has 260 characters"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("short.txt"), std::string::npos) << r.err;
    // A relative folder's length is not known before the run.
    r = build(at("in.zip"), at("relative.exe"), {"--win9x", "--folder", "Programme\\Xyz"});
    EXPECT_EQ(r.err.find("below --folder"), std::string::npos) << r.err;
}

// The rows of the shared name table that a Linux folder can hold (one component, no NUL) and
// that the builder refuses: a folder and a ZIP with that name meet the same rule.
std::vector<std::pair<std::string, std::string>> refused_table_names()
{
    std::ifstream in(NAME_TABLE_PATH);
    std::vector<std::pair<std::string, std::string>> rows;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::stringstream fields(line);
        for (std::string cell; std::getline(fields, cell, '\t');)
            cells.push_back(cell);
        bool refused = cells.size() == 4 && cells[1] == "1252" && cells[2] != "ok" && cells[2] != "leaves";
        if (line.empty() || line[0] == '#' || !refused || cells[0].find_first_of("/\\") != std::string::npos)
            continue;
        rows.emplace_back(cells[0], cells[2]);
    }
    return rows;
}

// In a folder '\' is part of a file name; the stub would take it for a separator.
TEST_F(BuilderTest, FolderNameWithBackslashIsRefused)
{
    ASSERT_EQ(run({"mkdir", at("in")}).exit_code, 0);
    write_text(at("in/a\\b.txt"), "x");
    RunResult r = build(at("in"), at("out.exe"));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("entry \"a\\b.txt\": the name holds a character Windows does not allow in file names ('\\')"),
              std::string::npos)
        << r.err;
}

TEST_F(BuilderTest, FolderAndZipRefuseTheSameTableNames)
{
    std::vector<std::pair<std::string, std::string>> rows = refused_table_names();
    ASSERT_GE(rows.size(), 15u);
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string& name = rows[i].first;
        SCOPED_TRACE(name + " (" + rows[i].second + ")");
        std::string folder = at("f" + std::to_string(i));
        ASSERT_EQ(run({"mkdir", folder}).exit_code, 0);
        write_text(folder + "/" + name, "x");
        RunResult from_folder = build(folder, at("f.exe"));
        write_bytes(at("z.zip"), raw_zip({{name}}));
        RunResult from_zip = build(at("z.zip"), at("z.exe"));
        EXPECT_EQ(from_folder.exit_code, 1) << from_folder.all();
        EXPECT_EQ(from_zip.exit_code, 1) << from_zip.all();
        // The same reason after the entry's name.
        auto reason = [](const std::string& err) { return err.substr(err.find("\": ") + 1); };
        EXPECT_EQ(reason(from_folder.err), reason(from_zip.err));
    }
}

}  // namespace
