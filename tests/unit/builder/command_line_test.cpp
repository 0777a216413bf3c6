// What the builder tells its user and scripts: the progress line (on a terminal only),
// inspect --json, --version and the exit codes (0 done, 1 bad input or file, 2 usage).
#include "builder_test_support.h"

namespace {

// Runs a command on a pseudo-terminal (stdout and stderr both on it) and prints what the
// terminal received; the exit code is the command's.
const char* const kOnTerminal =
    "import os, pty, sys\n"
    "pid, fd = pty.fork()\n"
    "if pid == 0:\n"
    "    os.execvp(sys.argv[1], sys.argv[1:])\n"
    "seen = b''\n"
    "while True:\n"
    "    try:\n"
    "        chunk = os.read(fd, 4096)\n"
    "    except OSError:\n"
    "        break\n"
    "    if not chunk:\n"
    "        break\n"
    "    seen += chunk\n"
    "status = os.waitpid(pid, 0)[1]\n"
    "sys.stdout.write(seen.decode('latin-1'))\n"
    "sys.exit(os.waitstatus_to_exitcode(status))\n";

class CommandLineTest : public BuilderTest {
protected:
    // The progress line shows from the first file on, so the verdict does not depend on speed.
    RunResult build_on(bool terminal, const std::vector<std::string>& extra = {})
    {
        write_text(at("on_terminal.py"), kOnTerminal);
        std::string command = "TVSFX_PROGRESS_DELAY=0 ";
        if (terminal)
            command += "python3 '" + at("on_terminal.py") + "' ";
        command += "'" + tvsfx_path() + "' build --stub '" + stub_path() + "' -o '" + at("out.exe") + "'";
        for (const std::string& arg : extra)
            command += " " + arg;
        return run_shell(command + " '" + make_sample_folder() + "'");
    }
};

TEST_F(CommandLineTest, ProgressLineOnlyOnATerminal)
{
    RunResult terminal = build_on(true);
    ASSERT_EQ(terminal.exit_code, 0) << terminal.all();
    EXPECT_NE(terminal.out.find("\rtvsfx: 4/4 files, "), std::string::npos) << terminal.out;
    EXPECT_NE(terminal.out.find(" MB/s, "), std::string::npos) << terminal.out;
    EXPECT_NE(terminal.out.find("\r\033[K"), std::string::npos) << "the line is cleared at the end";

    RunResult quiet = build_on(true, {"--quiet"});
    ASSERT_EQ(quiet.exit_code, 0) << quiet.all();
    EXPECT_EQ(quiet.out.find(" files, "), std::string::npos) << quiet.out;

    RunResult piped = build_on(false);
    ASSERT_EQ(piped.exit_code, 0) << piped.all();
    EXPECT_EQ(piped.err.find(" files, "), std::string::npos) << piped.err;
    EXPECT_EQ(piped.all().find('\r'), std::string::npos) << piped.all();
}

// Reads inspect --json with Python's json module and writes the facts in the text form's
// lines, which must all be in the text output.
const char* const kJsonAsText =
    "import json, sys\n"
    "d = json.load(open(sys.argv[1], encoding='utf-8'))\n"
    "r = d['record']\n"
    "print('archive_offset: 0x%08X' % r['archive_offset'])\n"
    "print('total_size: %u' % r['total_size'])\n"
    "print('flags: 0x%08X (%s)' % (r['flags'], r['flags_text']))\n"
    "for label, text in d['config']['fields'].items():\n"
    "    print('%s=%s' % (label, json.dumps(text, ensure_ascii=False)))\n"
    "def escaped(raw):\n"
    "    special = {10: '\\\\n', 13: '\\\\r', 9: '\\\\t', 34: '\\\\\"', 92: '\\\\\\\\'}\n"
    "    return ''.join(special.get(b) or (chr(b) if 0x20 <= b < 0x7F else '\\\\x%02X' % b) for b in raw)\n"
    "for e in d['entries']:\n"
    "    print('entry: method=%u (%s) compressed=%u uncompressed=%u encrypted=%s time=\"%s\" time_from=%s name=\"%s\" "
    "shown=\"%s\"' % (e['method'], e['method_name'], e['compressed'], e['uncompressed'], e['encryption'], e['time'], e['time_from'], "
    "escaped(bytes.fromhex(e['name_hex'])), e['name']))\n"
    "for check, verdict in d['checks'].items():\n"
    "    print('check %s: %s' % (check.replace('_', ' '), verdict))\n"
    "print('ok' if d['ok'] else 'failed')\n";

TEST_F(CommandLineTest, InspectJsonParsesAndAgreesWithTheTextForm)
{
    std::string in = make_sample_folder();
    write_text(in + "/\xC3\x9C" "bung \xE2\x82\xAC.txt", "x");  // "Übung €.txt": CP1252 DC and 80
    RunResult built = build(in, at("out.exe"),
                            {"--prompt", "Zeile 1\n\"Zitat\" \\ Tab\t", "--title", "Gr\xC3\xBC\xC3\x9F" "e", "--overwrite"});
    ASSERT_EQ(built.exit_code, 0) << built.all();
    RunResult text = run({tvsfx_path(), "inspect", at("out.exe")});
    ASSERT_EQ(text.exit_code, 0) << text.all();
    ASSERT_EQ(run_shell("'" + tvsfx_path() + "' inspect --json '" + at("out.exe") + "' > '" + at("out.json") + "'")
                  .exit_code,
              0);
    write_text(at("as_text.py"), kJsonAsText);
    RunResult facts = run({"python3", at("as_text.py"), at("out.json")});
    ASSERT_EQ(facts.exit_code, 0) << facts.all();

    EXPECT_NE(facts.out.find("prompt=\"Zeile 1\\n\\\"Zitat\\\" \\\\ Tab\\t\"\n"), std::string::npos) << facts.out;
    EXPECT_NE(facts.out.find("title=\"Gr\xC3\xBC\xC3\x9F" "e\"\n"), std::string::npos) << facts.out;
    EXPECT_NE(facts.out.find("name=\"\\xDCbung \\x80.txt\" shown=\"\xC3\x9C" "bung \xE2\x82\xAC.txt\"\n"),
              std::string::npos)
        << facts.out;
    EXPECT_NE(facts.out.find("\nok\n"), std::string::npos) << facts.out;
    // Every other line is one of the text form's (its names are raw CP1252 bytes).
    std::string lines = facts.out;
    size_t start = 0, compared = 0;
    for (size_t end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = lines.substr(start, end - start);
        if (line.find('=') == std::string::npos || line.rfind("entry:", 0) == 0) {
            if (line == "ok" || line.find("\xC3") != std::string::npos)
                continue;
            std::string wanted = line;
            if (line.rfind("check archive walk: ok", 0) == 0)
                wanted = "check archive walk: ok (5 entries)";
            EXPECT_NE(("\n" + text.out).find("\n" + wanted + "\n"), std::string::npos) << wanted << "\n" << text.out;
            ++compared;
        }
    }
    EXPECT_EQ(compared, 3u + 4u + 6u) << facts.out;
}

TEST_F(CommandLineTest, InspectShowsTheCleanupFlag)
{
    RunResult built = build(make_sample_folder(), at("out.exe"), {"--cleanup", "--command", "docs\\Note.txt"});
    ASSERT_EQ(built.exit_code, 0) << built.all();
    RunResult text = run({tvsfx_path(), "inspect", at("out.exe")});
    EXPECT_NE(text.out.find("flags: 0x02000800 (SFX_CRC_AFTER_HEADERS | SFX_CLEANUP)\n"), std::string::npos)
        << text.out;
    RunResult json = run({tvsfx_path(), "inspect", "--json", at("out.exe")});
    EXPECT_NE(json.out.find("\"SFX_CRC_AFTER_HEADERS | SFX_CLEANUP\""), std::string::npos) << json.out;
}

TEST_F(CommandLineTest, VersionAndHelpNameTheExitCodes)
{
    for (const char* word : {"--version", "version"}) {
        RunResult r = run({tvsfx_path(), word});
        EXPECT_EQ(r.exit_code, 0) << r.all();
        EXPECT_EQ(r.out.rfind("tvsfx 1.", 0), 0u) << r.out;
    }
    RunResult help = run({tvsfx_path(), "--help"});
    EXPECT_NE(help.out.find("Exit status: 0 done"), std::string::npos) << help.out;
}

struct ExitCase {
    const char* name;
    std::vector<std::string> args;  // after the program; "@" is replaced by the test folder
    int exit_code;
};

void PrintTo(const ExitCase& c, std::ostream* out)
{
    *out << c.name;
}

class ExitCodeTest : public BuilderTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ExitCodeTest, UsesTheDocumentedCode)
{
    write_text(at("text.exe"), "not a program");
    std::vector<std::string> argv = {tvsfx_path()};
    for (std::string arg : GetParam().args)
        argv.push_back(arg[0] == '@' ? dir.path() + arg.substr(1) : arg);
    RunResult r = run(argv);
    EXPECT_EQ(r.exit_code, GetParam().exit_code) << r.all();
    EXPECT_FALSE(r.err.empty()) << "every failure says why";
    for (char c : r.err)
        EXPECT_TRUE(uint8_t(c) >= 0x20 || c == '\n') << "a control byte reached the terminal: " << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ExitCodeTest,
    ::testing::Values(ExitCase{"LevelTooHigh", {"build", "--level", "13", "-o", "@/o.exe", "@"}, 2},
                      ExitCase{"LevelNotANumber", {"build", "--level=best", "-o", "@/o.exe", "@"}, 2},
                      ExitCase{"NoThreads", {"build", "-j", "0", "-o", "@/o.exe", "@"}, 2},
                      ExitCase{"InspectUnknownOption", {"inspect", "--xml", "@/text.exe"}, 2},
                      ExitCase{"TestWithoutFile", {"test"}, 2},
                      ExitCase{"TestEmptyPassword", {"test", "--password=", "@/text.exe"}, 2},
                      ExitCase{"InspectNotABuiltFile", {"inspect", "--json", "@/text.exe"}, 1},
                      ExitCase{"TestNotABuiltFile", {"test", "@/text.exe"}, 1},
                      ExitCase{"TestMissingFile", {"test", "@/missing.exe"}, 1},
                      ExitCase{"BuildMissingInput", {"build", "-o", "@/o.exe", "@/missing"}, 1},
                      // One rule for every option: a value the command line alone decides is usage.
                      ExitCase{"SpanTooSmall", {"build", "--multi-volume", "--span", "10", "-o", "@/d", "@"}, 2},
                      ExitCase{"BuildUnknownCodepage", {"build", "--codepage", "FOO", "-o", "@/o.exe", "@"}, 2},
                      ExitCase{"TestUnknownCodepage", {"test", "--codepage", "FOO", "@/text.exe"}, 2},
                      ExitCase{"EncryptionWithoutPassword", {"build", "--encryption", "aes256", "-o", "@/o.exe", "@"}, 2},
                      ExitCase{"CleanupWithFolder",
                               {"build", "--cleanup", "--command", "a.exe", "--folder", "x", "-o", "@/o.exe", "@"}, 2},
                      ExitCase{"CleanupWithoutCommand", {"build", "--cleanup", "-o", "@/o.exe", "@"}, 2},
                      ExitCase{"TitleTooLong", {"build", "--title", std::string(65, 't'), "-o", "@/o.exe", "@"}, 2},
                      // Control bytes in the values come back escaped.
                      ExitCase{"LevelWithEscape", {"build", "--level", "\x1b[31m", "-o", "@/o.exe", "@"}, 2},
                      ExitCase{"SpanWithEscape", {"build", "--multi-volume", "--span", "\x1b]0;x\x07", "-o", "@/d", "@"}, 2},
                      ExitCase{"JobsWithEscape", {"build", "-j", "\x1b[2J", "-o", "@/o.exe", "@"}, 2},
                      ExitCase{"FlagsWithEscape", {"build", "--flags", "\x07", "-o", "@/o.exe", "@"}, 2},
                      ExitCase{"UnknownOptionWithEscape", {"build", "--\x1b[2J", "-o", "@/o.exe", "@"}, 2}),
    [](const ::testing::TestParamInfo<ExitCase>& case_info) { return std::string(case_info.param.name); });

}  // namespace
