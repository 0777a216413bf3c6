// The configuration block and the option checks: what goes into the eight strings and
// the flags word, and what the builder refuses because the stub could not use it.
#include "builder_test_support.h"

#include <sstream>

namespace {

TEST_F(BuilderTest, ConfigurationBlockHoldsTheEightFields)
{
    RunResult r = build(make_sample_folder(), at("out.exe"),
                        {"--folder", "C:\\Ziel", "--command=setup.exe", "--params", "/quiet \"x y\"", "--prompt",
                         "Weiter?\nJa", "--title", "Titel", "--about", "Über", "--info=Info-Text"});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    Bytes f = read_bytes(at("out.exe"));
    RecordView rec = read_record(f);
    EXPECT_LE(rec.archive_offset - rec.config_offset, 1256u);
    EXPECT_EQ(read_config_fields(f), std::vector<std::string>({"C:\\Ziel", "setup.exe", "/quiet \"x y\"", "",
                                                                "Weiter?\nJa", "Titel", "\xDC" "ber", "Info-Text"}));
    EXPECT_TRUE(rec.flags & 0x10) << "--title sets SFX_USE_TITLE";
}

TEST_F(BuilderTest, TextsAreWrittenInTheChosenCodePage)
{
    std::string in = make_sample_folder();
    ASSERT_EQ(build(in, at("cp1252.exe"), {"--title", "Grüße €"}).exit_code, 0);
    ASSERT_EQ(build(in, at("cp1250.exe"), {"--title", "Łódź", "--codepage", "CP1250"}).exit_code, 0);
    ASSERT_EQ(build(in, at("raw.exe"), {"--title", "Grüße", "--codepage=raw"}).exit_code, 0);
    EXPECT_EQ(read_config_fields(read_bytes(at("cp1252.exe")))[5], "Gr\xFC\xDF" "e \x80");
    EXPECT_EQ(read_config_fields(read_bytes(at("cp1250.exe")))[5], "\xA3\xF3" "d\x9F");
    EXPECT_EQ(read_config_fields(read_bytes(at("raw.exe")))[5], "Grüße");
}

struct FlagCase {
    std::vector<std::string> args;
    uint32_t flags;
};

void PrintTo(const FlagCase& c, std::ostream* out)
{
    for (const std::string& a : c.args)
        *out << a << ' ';
}

class FlagOptionTest : public BuilderTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(FlagOptionTest, SetsItsBits)
{
    RunResult r = build(make_sample_folder(), at("out.exe"), GetParam().args);
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_EQ(read_record(read_bytes(at("out.exe"))).flags, GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(
    Options, FlagOptionTest,
    ::testing::Values(FlagCase{{}, 0x00000800}, FlagCase{{"--crc-from-start"}, 0},
                      FlagCase{{"--overwrite"}, 0x00000802}, FlagCase{{"--title="}, 0x00000810},
                      FlagCase{{"--password-first"}, 0x00000900}, FlagCase{{"--auto"}, 0x00000A00},
                      FlagCase{{"--multi-volume", "--exe-volumes"}, 0x00009800},
                      FlagCase{{"--verb-install", "--command=a.exe"}, 0x00020800},
                      FlagCase{{"--title-caption"}, 0x00040800},
                      FlagCase{{"--prompt=p", "--prompt-ask", "--prompt-okcancel"}, 0x00180800},
                      FlagCase{{"--hidden"}, 0x00400800}, FlagCase{{"--no-unattended"}, 0x00800800},
                      FlagCase{{"--flags=10000", "--flags", "0x2"}, 0x00010802},
                      FlagCase{{"--language", "de"}, 0x00000800},
                      FlagCase{{"--language=en"}, 0x04000800},
                      FlagCase{{"--language", "auto"}, 0x08000800},
                      FlagCase{{"--language", "auto", "--language", "en"}, 0x04000800}));

struct LimitCase {
    const char* option;
    int field;
    size_t limit;
};

void PrintTo(const LimitCase& c, std::ostream* out)
{
    *out << "--" << c.option;
}

class OptionLimitTest : public BuilderTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(OptionLimitTest, AcceptsTheLimitAndRefusesOneMore)
{
    const LimitCase& c = GetParam();
    std::string in = make_sample_folder();
    std::string longest(c.limit, 'a');
    RunResult ok = build(in, at("ok.exe"), {std::string("--") + c.option, longest});
    ASSERT_EQ(ok.exit_code, 0) << ok.all();
    EXPECT_EQ(read_config_fields(read_bytes(at("ok.exe")))[size_t(c.field)], longest);

    RunResult refused = build(in, at("refused.exe"), {std::string("--") + c.option, longest + "a"});
    EXPECT_NE(refused.exit_code, 0);
    EXPECT_NE(refused.err.find(std::string("--") + c.option), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("at most " + std::to_string(c.limit)), std::string::npos) << refused.err;
    EXPECT_FALSE(exists(at("refused.exe")));
}

INSTANTIATE_TEST_SUITE_P(Fields, OptionLimitTest,
                         ::testing::Values(LimitCase{"folder", 0, 260}, LimitCase{"command", 1, 256},
                                           LimitCase{"params", 2, 256}, LimitCase{"prompt", 4, 513},
                                           LimitCase{"title", 5, 64}, LimitCase{"about", 6, 395},
                                           LimitCase{"info", 7, 511}));

// Printable text that Deflate cannot shrink much: a pseudo-random letter sequence.
std::string incompressible(size_t size, unsigned seed)
{
    std::string s;
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        s += char('!' + (seed >> 16) % 90);
    }
    return s;
}

struct RefusalCase {
    std::vector<std::string> args;
    const char* message;  // part of the error
};

void PrintTo(const RefusalCase& c, std::ostream* out)
{
    *out << c.message;
}

class RefusedOptionTest : public BuilderTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusedOptionTest, FailsWithoutWritingAFile)
{
    RunResult r = build(make_sample_folder(), at("out.exe"), GetParam().args);
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_FALSE(exists(at("out.exe")));
    EXPECT_EQ(list_folder(dir.path()), std::vector<std::string>({"in"})) << "no temporary file left";
}

INSTANTIATE_TEST_SUITE_P(
    Values, RefusedOptionTest,
    ::testing::Values(
        RefusalCase{{"--folder", "C:\\\"x\""}, "--folder holds a character"},
        RefusalCase{{"--folder", "C:\\*"}, "--folder holds a character"},
        RefusalCase{{"--command", "\"setup.exe\""}, "--command holds a character"},
        RefusalCase{{"--title", "two\nlines"}, "--title holds a control character (U+000A)"},
        RefusalCase{{"--title", "Ω", "--win9x"}, "cannot hold"},
        RefusalCase{{"--password", std::string(255, 'p')},
                    "--password has 255 bytes in code page CP1252; the stub (its password dialog and -password=) "
                    "takes at most 254"},
        RefusalCase{{"--password="}, "--password is empty"},
        RefusalCase{{"--exe-volumes"}, "--exe-volumes needs --multi-volume"},
        RefusalCase{{"--cleanup", "--command", "setup.exe", "--folder", "C:\\Pakete"}, "cannot go with --folder"},
        RefusalCase{{"--cleanup", "--command", "setup.exe", "--folder=."}, "cannot go with --folder"},
        RefusalCase{{"--cleanup"}, "--cleanup removes the files once the command has ended: give --command"},
        RefusalCase{{"--flags=2000000", "--command", "setup.exe", "--folder", "x"}, "cannot go with --folder"},
        RefusalCase{{"--flags=xyz"}, "--flags"},
        RefusalCase{{"--crc-from-start", "--flags=800"}, "contradicts"},
        RefusalCase{{"--codepage", "NO-SUCH-CP"}, "unknown code page"},
        RefusalCase{{"--language", "fr"}, "--language needs de (German), en (English) or auto"},
        RefusalCase{{"--language", "en", "--flags=8000000"}, "SFX_LANGUAGE_EN and SFX_LANGUAGE_AUTO contradict"},
        RefusalCase{{"--prompt", incompressible(513, 1), "--about", incompressible(395, 2), "--info",
                     incompressible(511, 3), "--params", incompressible(256, 4), "--title", incompressible(64, 5)},
                    "the stub reads at most 1256"}));

// One rule for every kind of option text: the same UTF-8, control-character and length rules,
// each length counted and named in the unit of its limit; a keyword option refuses an empty
// word as it refuses an unknown one; --codepage takes only code pages the stub can run under.
INSTANTIATE_TEST_SUITE_P(
    TextRules, RefusedOptionTest,
    ::testing::Values(
        RefusalCase{{"--product-version", ""}, "--product-version is empty"},
        RefusalCase{{"--company", std::string(256, 'x')}, "--company has 256 characters; the version resource takes at most 255"},
        RefusalCase{{"--product-name", "a\xC2\x85" "b"}, "--product-name holds a control character (U+0085)"},
        RefusalCase{{"--description", "a\xE2\x80\xA8" "b"}, "--description holds a control character (U+2028)"},
        RefusalCase{{"--copyright", "a\x7F"}, "--copyright holds a control character (U+007F)"},
        RefusalCase{{"--title", "a\x7F"}, "--title holds a control character (U+007F)"},
        RefusalCase{{"--prompt", "Zeile\xC2\x85zwei"}, "--prompt holds a control character (U+0085)"},
        RefusalCase{{"--title", "Gr\xFC\xDF" "e"}, "--title is not UTF-8 text"},
        RefusalCase{{"--password", "a\x01"}, "--password holds a control character (U+0001)"},
        RefusalCase{{"--password", "a\xE2\x80\xA9"}, "--password holds a control character (U+2029)"},
        RefusalCase{{"--password", "geheim\xFF"}, "--password is not UTF-8 text"},
        RefusalCase{{"--elevation", ""}, "--elevation must be invoker, highest or admin, not ''"},
        RefusalCase{{"--encryption", "", "--password", "x"}, "--encryption must be aes256 or zipcrypto, not ''"},
        RefusalCase{{"--language", ""}, "--language needs de (German), en (English) or auto"},
        RefusalCase{{"--language", "de", "--flags=4000000"}, "--language contradicts --flags, which sets SFX_LANGUAGE_EN"},
        RefusalCase{{"--language", "en", "--flags=8000000"}, "SFX_LANGUAGE_EN and SFX_LANGUAGE_AUTO contradict"},
        RefusalCase{{"--folder", "C:\\a\xC2\xA5" "b", "--codepage", "CP932", "--win9x"},
                    "--folder has a character that code page CP932 cannot hold (it would read back as another)"},
        RefusalCase{{"--codepage", "CP037"}, "--codepage CP037 is not a code page the stub can run under"},
        RefusalCase{{"--codepage", "UTF-7"}, "--codepage UTF-7 is not a code page the stub can run under"},
        RefusalCase{{"--codepage", "UTF-8"}, "it writes U+0800 with 3 bytes"},
        RefusalCase{{"--codepage", "ISO-2022-JP"}, "byte 0x1B alone is no character"},
        RefusalCase{{"--codepage", "UTF-16"}, "--codepage UTF-16 is not a code page the stub can run under"},
        RefusalCase{{"--codepage", "GB18030"}, "it writes U+0080 with 4 bytes"}));

// What each rule still lets through: the limits themselves and the code pages Windows runs in.
struct AcceptedCase {
    std::vector<std::string> args;
    const char* name;
};

void PrintTo(const AcceptedCase& c, std::ostream* out)
{
    *out << c.name;
}

class AcceptedOptionTest : public BuilderTest, public ::testing::WithParamInterface<AcceptedCase> {};

TEST_P(AcceptedOptionTest, BuildsWithoutAWarning)
{
    RunResult r = build(make_sample_folder(), at("out.exe"), GetParam().args);
    EXPECT_EQ(r.exit_code, 0) << r.all();
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    TextRules, AcceptedOptionTest,
    ::testing::Values(
        AcceptedCase{{"--password", std::string(254, 'a'), "--encryption", "zipcrypto"}, "Password254"},
        AcceptedCase{{"--password", std::string(99, 'a')}, "AesPassword99"},
        // Characters beyond U+FFFF count one each, though they take two UTF-16 units.
        AcceptedCase{{"--company", [] { std::string s; for (int i = 0; i < 255; ++i) s += "\xF0\x9D\x84\x9E"; return s; }()},
                     "Company255NonBmpCharacters"},
        AcceptedCase{{"--product-version", "1.2.3.4"}, "FourNumbers"},
        AcceptedCase{{"--prompt", "Zeile\tmit\r\nUmbruch"}, "MultiLinePrompt"},
        AcceptedCase{{"--wait", "--command", "docs\\Note.txt", "--params", "/q"}, "WaitWithCommand"},
        AcceptedCase{{"--title", "T", "--title-caption"}, "TitleCaptionWithTitle"},
        AcceptedCase{{"--language", "en", "--flags=4000000"}, "LanguageAgreesWithFlags"},
        AcceptedCase{{"--codepage", "CP1250"}, "Cp1250"},
        AcceptedCase{{"--codepage", "CP874"}, "Cp874"},
        AcceptedCase{{"--codepage", "CP936"}, "Cp936"},
        AcceptedCase{{"--codepage", "CP949"}, "Cp949"},
        AcceptedCase{{"--codepage", "CP950"}, "Cp950"},
        AcceptedCase{{"--codepage", "CP1258"}, "Cp1258"}),
    [](const ::testing::TestParamInfo<AcceptedCase>& c) { return std::string(c.param.name); });

struct WarningCase {
    std::vector<std::string> args;
    const char* warning;
};

void PrintTo(const WarningCase& c, std::ostream* out)
{
    *out << c.warning;
}

class WarnedOptionTest : public BuilderTest, public ::testing::WithParamInterface<WarningCase> {};

TEST_P(WarnedOptionTest, BuildsButWarns)
{
    RunResult r = build(make_sample_folder(), at("out.exe"), GetParam().args);
    EXPECT_EQ(r.exit_code, 0) << r.all();
    EXPECT_NE(r.err.find(std::string("warning: ") + GetParam().warning), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Combinations, WarnedOptionTest,
                         ::testing::Values(WarningCase{{"--prompt=p", "--prompt-okcancel"}, "--prompt-okcancel"},
                                           WarningCase{{"--prompt-ask"}, "--prompt-ask"},
                                           WarningCase{{"--hidden", "--prompt=p"}, "--hidden"},
                                           WarningCase{{"--verb-install"}, "--verb-install"},
                                           WarningCase{{"--password-first"}, "--password-first"},
                                           WarningCase{{"--command", "tools/setup.exe"},
                                                       "--command tools/setup.exe is neither"}));

// A command the stub finds neither among the package's files nor as a system program gets one
// warning line naming it; a bare program name not in the package a note that says where the
// stub looks for it.
struct CommandCase {
    const char* command;
    const char* finding;  // "warning", "note" or "" (none)
};

void PrintTo(const CommandCase& c, std::ostream* out)
{
    *out << c.command;
}

class CommandCheckTest : public BuilderTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandCheckTest, WarnsOnlyWhenTheCommandIsNeitherAFileOfThePackageNorASystemProgram)
{
    const CommandCase& c = GetParam();
    RunResult r = build(make_sample_folder(), at("out.exe"), {"--command", c.command});
    EXPECT_EQ(r.exit_code, 0) << r.all();
    std::vector<std::string> findings;
    std::string line;
    for (std::istringstream lines(r.err); std::getline(lines, line);) {
        if (line.find("--command") != std::string::npos)
            findings.push_back(line);
    }
    if (c.finding[0] == '\0') {
        EXPECT_TRUE(findings.empty()) << r.err;
    } else {
        ASSERT_EQ(findings.size(), 1u) << r.err;
        EXPECT_EQ(findings[0].rfind(std::string("tvsfx: ") + c.finding + ": --command " + c.command + " is ", 0), 0u)
            << findings[0];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, CommandCheckTest,
    ::testing::Values(CommandCase{"readme.txt", ""}, CommandCase{"DOCS\\deep\\Data.TXT", ""},
                      CommandCase{"C:\\Windows\\notepad.exe", ""}, CommandCase{"msiexec.exe", "note"},
                      CommandCase{"CMD.EXE", "note"}, CommandCase{"install.bat", "note"},
                      CommandCase{"setup", "warning"}, CommandCase{"docs/setup.exe", "warning"},
                      CommandCase{"manual.pdf", "warning"}, CommandCase{"readme.txt.exe", "note"},
                      CommandCase{"docs", "warning"}));

INSTANTIATE_TEST_SUITE_P(
    TextRules, WarnedOptionTest,
    ::testing::Values(
        WarningCase{{"--product-version", "1.2.3.4."}, "--product-version 1.2.3.4. is not up to four numbers"},
        WarningCase{{"--file-version", "1.2."}, "--file-version 1.2. is not up to four numbers"},
        WarningCase{{"--wait"}, "--wait has no effect without --command"},
        WarningCase{{"--params", "/q"}, "--params has no effect without --command"},
        WarningCase{{"--title-caption"}, "--title-caption has no effect without a --title text"},
        WarningCase{{"--password", "pa\"ss"}, "--password holds a double quote, which -password=\"...\" cannot carry"},
        WarningCase{{"--password", "\xC3\xA4tsch"}, "--password holds characters beyond ASCII"},
        // 254 umlauts: 508 bytes of UTF-8 but 254 in CP1252, where the stub counts them.
        WarningCase{{"--password", [] { std::string s; for (int i = 0; i < 254; ++i) s += "\xC3\xA4"; return s; }(),
                     "--encryption", "zipcrypto"},
                    "--password holds characters beyond ASCII"},
        WarningCase{{"--password", std::string(100, 'k')}, "--password has 100 characters: 7-Zip opens AES entries only"}));

TEST_F(BuilderTest, CommandFromTheArchiveGivesNoWarning)
{
    RunResult r = build(make_sample_folder(), at("out.exe"), {"--command", "docs\\Note.txt"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
}

TEST_F(BuilderTest, DefaultStubLiesBesideTheBuilder)
{
    RunResult r = run({tvsfx_path(), "build", "-o", at("out.exe"), make_sample_folder()});
    std::string beside = tvsfx_path().substr(0, tvsfx_path().rfind('/') + 1) + "tvsfx32.exe";
    if (exists(beside)) {
        EXPECT_EQ(r.exit_code, 0) << r.all();
        EXPECT_EQ(read_pe(read_bytes(at("out.exe"))).section_count, read_pe(read_bytes(beside)).section_count + 1);
    } else {
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_NE(r.err.find("cannot read stub " + beside), std::string::npos) << r.err;
    }
}

TEST(BuilderCommandLine, UsageErrorsAndHelp)
{
    EXPECT_EQ(run({tvsfx_path(), "build", "--help"}).exit_code, 0);
    EXPECT_NE(run({tvsfx_path(), "build", "--help"}).out.find("--folder"), std::string::npos);
    EXPECT_EQ(run({tvsfx_path(), "build", "in"}).exit_code, 2) << "no -o";
    EXPECT_EQ(run({tvsfx_path(), "build", "-o", "x.exe"}).exit_code, 2) << "no input";
    EXPECT_EQ(run({tvsfx_path(), "build", "-o", "x.exe", "--no-such-option", "in"}).exit_code, 2);
    EXPECT_EQ(run({tvsfx_path(), "frobnicate"}).exit_code, 2);
}

}  // namespace

// --- the licence page ------------------------------------------------------------------------

// The text lies at the section's start, in front of the configuration block, as raw Deflate of
// the text in the code page with CR LF line ends; the record points at it.
TEST_F(BuilderTest, LicenseTextLiesInFrontOfTheConfigurationInTheCodePage)
{
    write_text(at("lizenz.txt"), "\xEF\xBB\xBF" "Lizenz f\xC3\xBCr alle\nZeile 2\r\nZeile 3\rEnde\n");
    RunResult r = build(make_sample_folder(), at("out.exe"), {"--license", at("lizenz.txt"), "--title", "T"});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    Bytes file = read_bytes(at("out.exe"));
    RecordView rec = read_record(file);
    ASSERT_NE(rec.reserved1, 0u) << "license_offset";
    EXPECT_EQ(rec.reserved1 + rec.reserved2, rec.config_offset) << "the configuration follows the licence";
    bool ok = false;
    Bytes text = inflate_raw(file.data() + rec.reserved1, rec.reserved2, ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(std::string(text.begin(), text.end()), "Lizenz f\xFCr alle\r\nZeile 2\r\nZeile 3\r\nEnde\r\n");

    RunResult shown = run({tvsfx_path(), "inspect", at("out.exe")});
    EXPECT_EQ(shown.exit_code, 0) << shown.all();
    EXPECT_NE(shown.out.find("\nlicense: 41 bytes (stored " + std::to_string(rec.reserved2) + ")\n"), std::string::npos)
        << shown.out;
    EXPECT_NE(shown.out.find("\nconfig 5 title: \"T\"\n"), std::string::npos) << "the configuration reads as before";
    EXPECT_NE(shown.out.find("\ncheck stub checksum: ok\n"), std::string::npos) << "the checksum covers the licence";
    EXPECT_EQ(run({tvsfx_path(), "test", at("out.exe")}).exit_code, 0);
}

struct LicenseRefusal {
    const char* name;
    std::string content;
    std::vector<std::string> args;
    const char* message;
    int exit_code = 1;  // 1: the file is bad; 2: options that contradict each other
};

void PrintTo(const LicenseRefusal& c, std::ostream* out)
{
    *out << c.name;
}

class LicenseRefusalTest : public BuilderTest, public ::testing::WithParamInterface<LicenseRefusal> {};

TEST_P(LicenseRefusalTest, FailsWithoutWritingAFile)
{
    write_text(at("lizenz.txt"), GetParam().content);
    std::vector<std::string> args{"--license", at("lizenz.txt")};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    RunResult r = build(make_sample_folder(), at("out.exe"), args);
    EXPECT_EQ(r.exit_code, GetParam().exit_code);
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    EXPECT_FALSE(exists(at("out.exe")));
}

// Lines of "x": each becomes 3 bytes with its CR LF.
std::string x_lines(int count)
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "x\n";
    return lines;
}

// 65,535 bytes is the most the page holds.
INSTANTIATE_TEST_SUITE_P(
    Values, LicenseRefusalTest,
    ::testing::Values(
        LicenseRefusal{"TooLong", x_lines(21846), {},
                       "becomes 65538 bytes in code page CP1252 with CR LF line ends; the licence page shows at most 65535"},
        LicenseRefusal{"ControlCharacter", "Zeile 1\nZeile\x07 2\n", {}, "line 2 holds a control character"},
        // The same control characters as in every other option text.
        LicenseRefusal{"Delete", "Zeile 1\r\nZeile 2\x7F\n", {}, "line 2 holds a control character the licence page cannot show (U+007F)"},
        LicenseRefusal{"NextLine", "Zeile 1\xC2\x85Zeile 2", {}, "line 1 holds a control character the licence page cannot show (U+0085)"},
        LicenseRefusal{"NotUtf8", "Lizenz f\xFCr alle", {}, "is not UTF-8 text"},
        LicenseRefusal{"Empty", "", {}, "is empty"},
        LicenseRefusal{"NoCodePageForm", "\xE2\x82\xAC 5 \xC5\x81", {}, "has a character that code page CP1252 cannot hold"},
        LicenseRefusal{"Hidden", "Lizenz", {"--hidden"}, "--license shows a page the user must accept", 2}),
    [](const ::testing::TestParamInfo<LicenseRefusal>& refusal) { return std::string(refusal.param.name); });

// Exactly the most the page holds is accepted.
TEST_F(BuilderTest, LicenseOfExactlyTheLimitIsAccepted)
{
    write_text(at("lizenz.txt"), x_lines(21845));
    RunResult r = build(make_sample_folder(), at("out.exe"), {"--license", at("lizenz.txt")});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    RunResult shown = run({tvsfx_path(), "inspect", at("out.exe")});
    EXPECT_NE(shown.out.find("\nlicense: 65535 bytes"), std::string::npos) << shown.out;
}
