// Option parsing in the GNU style (getopt_long: "--opt VALUE" and "--opt=VALUE", options
// and the input in any order) and the checks that keep every value inside what the stub's
// fixed buffers and flag logic can take.
#include "options.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <vector>

#include "build_error.h"
#include "file_compress.h"
#include "format/config_fields.h"
#include "input.h"
#include "manifest.h"
#include "option_text.h"
#include "printable.h"
#include "stub_record_io.h"
#include "volumes.h"

namespace {

// One configuration field per option; FIELD_IGNORED has none.
struct FieldOption {
    const char* name;
    ConfigField field;
    bool multiline;        // line breaks and tabs are fine in message box texts
    const char* forbidden; // characters the stub cannot use in this field
};

const FieldOption field_options[] = {
    // The folder becomes a Windows path as it stands: characters Windows forbids in
    // paths make every folder creation fail.
    {"folder", FIELD_FOLDER, false, "\"<>|*?"},
    // The command is handed to the shell as one file name, unquoted, so a double quote
    // can never work; parameters belong in --params.
    {"command", FIELD_COMMAND, false, "\""},
    {"params", FIELD_PARAMS, false, ""},
    {"prompt", FIELD_PROMPT, true, ""},
    {"title", FIELD_TITLE, false, ""},
    {"about", FIELD_ABOUT, true, ""},
    {"info", FIELD_INFO, true, ""},
};

enum OptionId {
    OPT_OUTPUT = 'o',
    OPT_HELP = 'h',
    OPT_FIELD = 1000,  // + index in field_options
    OPT_FLAG = 2000,   // + index in flag_names
    OPT_RAW_FLAGS = 3000,
    OPT_NO_STUB_CRC,
    OPT_CRC_FROM_START,
    OPT_STUB,
    OPT_PASSWORD,
    OPT_ENCRYPTION,
    OPT_NO_PASSWORD_FIRST,
    OPT_CODEPAGE,
    OPT_SPAN,
    OPT_NAME,
    OPT_SPLIT,
    OPT_INPUT_CODEPAGE,
    OPT_KEEP_MACOS_METADATA,
    OPT_LEVEL,
    OPT_METHOD,
    OPT_LANGUAGE,
    OPT_LICENSE,
    OPT_NO_VERIFY,
    OPT_ELEVATION,
    OPT_ICON,
    OPT_WIN9X,
    OPT_VERSION = 4000,  // + index in version_options
    OPT_JOBS = 'j',
    OPT_QUIET = 'q',
};

// More threads than this would only cost memory: each holds a file and a compressor.
constexpr int MAX_JOBS = 256;

std::vector<option> option_table()
{
    std::vector<option> table;
    for (size_t i = 0; i < sizeof field_options / sizeof field_options[0]; ++i)
        table.push_back({field_options[i].name, required_argument, nullptr, OPT_FIELD + int(i)});
    for (size_t i = 0; i < flag_name_count; ++i) {
        if (flag_names[i].option != nullptr)
            table.push_back({flag_names[i].option, no_argument, nullptr, OPT_FLAG + int(i)});
    }
    table.push_back({"output", required_argument, nullptr, OPT_OUTPUT});
    table.push_back({"flags", required_argument, nullptr, OPT_RAW_FLAGS});
    table.push_back({"no-stub-crc", no_argument, nullptr, OPT_NO_STUB_CRC});
    table.push_back({"crc-from-start", no_argument, nullptr, OPT_CRC_FROM_START});
    table.push_back({"stub", required_argument, nullptr, OPT_STUB});
    table.push_back({"password", required_argument, nullptr, OPT_PASSWORD});
    table.push_back({"encryption", required_argument, nullptr, OPT_ENCRYPTION});
    table.push_back({"no-password-first", no_argument, nullptr, OPT_NO_PASSWORD_FIRST});
    table.push_back({"codepage", required_argument, nullptr, OPT_CODEPAGE});
    table.push_back({"input-codepage", required_argument, nullptr, OPT_INPUT_CODEPAGE});
    table.push_back({"win9x", no_argument, nullptr, OPT_WIN9X});
    table.push_back({"keep-macos-metadata", no_argument, nullptr, OPT_KEEP_MACOS_METADATA});
    table.push_back({"span", required_argument, nullptr, OPT_SPAN});
    table.push_back({"name", required_argument, nullptr, OPT_NAME});
    table.push_back({"split", required_argument, nullptr, OPT_SPLIT});
    table.push_back({"level", required_argument, nullptr, OPT_LEVEL});
    table.push_back({"method", required_argument, nullptr, OPT_METHOD});
    table.push_back({"jobs", required_argument, nullptr, OPT_JOBS});
    table.push_back({"quiet", no_argument, nullptr, OPT_QUIET});
    table.push_back({"no-verify", no_argument, nullptr, OPT_NO_VERIFY});
    table.push_back({"language", required_argument, nullptr, OPT_LANGUAGE});
    table.push_back({"license", required_argument, nullptr, OPT_LICENSE});
    table.push_back({"elevation", required_argument, nullptr, OPT_ELEVATION});
    table.push_back({"icon", required_argument, nullptr, OPT_ICON});
    for (size_t i = 0; i < version_option_count; ++i)
        table.push_back({version_options[i].option, required_argument, nullptr, OPT_VERSION + int(i)});
    table.push_back({"help", no_argument, nullptr, OPT_HELP});
    table.push_back({nullptr, 0, nullptr, 0});
    return table;
}

bool parse_hex_flags(const char* text, uint32_t& value)
{
    char* end = nullptr;
    errno = 0;
    unsigned long long parsed = std::strtoull(text, &end, 16);
    if (*text == '\0' || *text == '-' || *end != '\0' || errno != 0 || parsed > 0xFFFFFFFFull)
        return false;
    value = uint32_t(parsed);
    return true;
}

// A whole decimal number within [low, high], nothing around it.
bool parse_number(const char* text, long low, long high, long& value)
{
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

bool apply_method_option(const char* arg, BuildOptions& o)
{
    if (std::strcmp(arg, "deflate") == 0) {
        o.method = Method::deflate;
        return true;
    }
    if (std::strcmp(arg, "lzma") == 0) {
        o.method = Method::lzma;
        return true;
    }
    std::fprintf(stderr, "tvsfx build: --method needs deflate or lzma, not '%s'\n", printable(arg).c_str());
    return false;
}

bool apply_number_option(int id, const char* arg, BuildOptions& o)
{
    long value = 0;
    if (id == OPT_LEVEL) {
        if (!parse_number(arg, MIN_LEVEL, MAX_LEVEL, value)) {
            std::fprintf(stderr, "tvsfx build: --level needs a number from %d (store) to %d (smallest), not '%s'\n",
                         int(MIN_LEVEL), int(MAX_LEVEL), printable(arg).c_str());
            return false;
        }
        o.level = int(value);
        return true;
    }
    if (!parse_number(arg, 1, MAX_JOBS, value)) {
        std::fprintf(stderr, "tvsfx build: -j needs a number of threads from 1 to %d, not '%s'\n", MAX_JOBS, printable(arg).c_str());
        return false;
    }
    o.jobs = unsigned(value);
    return true;
}

// The options that take one of a few words (--language, --elevation, --encryption): an empty
// or unknown word is refused alike, before anything is read; an empty one is no default.
bool apply_language_option(const char* arg, BuildOptions& o)
{
    static const struct { const char* name; uint32_t flags; } languages[] = {
        {"de", 0}, {"en", SFX_LANGUAGE_EN}, {"auto", SFX_LANGUAGE_AUTO},
    };
    for (const auto& language : languages) {
        if (std::strcmp(arg, language.name) == 0) {
            o.language_flags = language.flags;
            o.language_given = true;
            return true;
        }
    }
    std::fprintf(stderr, "tvsfx build: --language needs de (German), en (English) or auto (German on a German "
                         "Windows, else English), not '%s'\n", printable(arg).c_str());
    return false;
}

bool refuse_word(const char* option, const char* choices, const char* arg)
{
    std::fprintf(stderr, "tvsfx build: --%s must be %s, not '%s'\n", option, choices, printable(arg).c_str());
    return false;
}

bool apply_elevation_option(const char* arg, BuildOptions& o)
{
    if (execution_level_for(arg).empty())
        return refuse_word("elevation", "invoker, highest or admin", arg);
    o.elevation = arg;
    return true;
}

bool apply_encryption_option(const char* arg, BuildOptions& o)
{
    if (std::strcmp(arg, "aes256") != 0 && std::strcmp(arg, "zipcrypto") != 0)
        return refuse_word("encryption", "aes256 or zipcrypto", arg);
    o.encryption = arg;
    return true;
}

bool apply_option(int id, const char* arg, BuildOptions& o)
{
    if (id >= OPT_FIELD && id < OPT_FIELD + int(sizeof field_options / sizeof field_options[0])) {
        const FieldOption& f = field_options[id - OPT_FIELD];
        o.fields[size_t(f.field)] = arg;
        o.title_given |= f.field == FIELD_TITLE;
        return true;
    }
    if (id >= OPT_VERSION && id < OPT_VERSION + int(version_option_count)) {
        std::string option = version_options[id - OPT_VERSION].option;
        auto& texts = o.version_texts;
        // Given twice, the last one counts, as for every other option.
        texts.erase(std::remove_if(texts.begin(), texts.end(), [&](const auto& t) { return t.first == option; }),
                    texts.end());
        texts.push_back({option, arg});
        return true;
    }
    if (id >= OPT_FLAG && id < OPT_FLAG + int(flag_name_count)) {
        o.flags |= flag_names[id - OPT_FLAG].mask;
        return true;
    }
    switch (id) {
    case OPT_OUTPUT: o.output = arg; return true;
    case OPT_NO_STUB_CRC: o.no_stub_crc = true; return true;
    case OPT_CRC_FROM_START: o.crc_from_start = true; return true;
    case OPT_STUB: o.stub = arg; return true;
    case OPT_PASSWORD: o.password = arg; o.password_given = true; return true;
    case OPT_ENCRYPTION: return apply_encryption_option(arg, o);
    case OPT_NO_PASSWORD_FIRST: o.no_password_first = true; return true;
    case OPT_CODEPAGE: o.codepage = arg; return true;
    case OPT_WIN9X: o.win9x = true; return true;
    case OPT_NAME: o.volume_name = arg; return true;
    case OPT_QUIET: o.quiet = true; return true;
    case OPT_NO_VERIFY: o.no_verify = true; return true;
    case OPT_LANGUAGE: return apply_language_option(arg, o);
    case OPT_LICENSE: o.license_path = arg; return true;
    case OPT_ELEVATION: return apply_elevation_option(arg, o);
    case OPT_ICON: o.icon = arg; return true;
    case OPT_LEVEL:
    case OPT_JOBS: return apply_number_option(id, arg, o);
    case OPT_METHOD: return apply_method_option(arg, o);
    case OPT_INPUT_CODEPAGE: o.input_codepage = arg; return true;
    case OPT_KEEP_MACOS_METADATA: o.keep_macos_metadata = true; return true;
    case OPT_SPAN:
        if (!parse_span_size(arg, o.span)) {
            std::fprintf(stderr, "tvsfx build: --span needs bytes per disk such as 1457664, 1440k, 100M "
                                 "or floppy, not '%s'\n", printable(arg).c_str());
            return false;
        }
        return true;
    case OPT_SPLIT:
        if (!parse_split_size(arg, o.split)) {
            std::fprintf(stderr, "tvsfx build: --split needs bytes per volume such as 700M, 2G or 1048576, "
                                 "below 4G, not '%s'\n", printable(arg).c_str());
            return false;
        }
        return true;
    case OPT_RAW_FLAGS: {
        uint32_t bits = 0;
        if (!parse_hex_flags(arg, bits)) {
            std::fprintf(stderr, "tvsfx build: --flags needs a hexadecimal number of up to 32 bits, not '%s'\n", printable(arg).c_str());
            return false;
        }
        o.raw_flags |= bits;
        return true;
    }
    }
    return false;
}

// The field's text in the stub's code page (or, with `utf8`, as given), after the rules every
// option text follows and the characters this field cannot use.
std::string settle_field_text(const FieldOption& f, const std::string& given, const std::string& codepage, bool utf8)
{
    std::string option = "--" + std::string(f.name);
    check_text_characters(option, given, f.multiline ? MULTI_LINE : ONE_LINE, codepage == RAW_CODEPAGE);
    std::string text = utf8 ? given : to_stub_codepage(given, codepage, option);
    std::string unit = utf8 ? std::string("bytes in UTF-8") : "bytes in code page " + codepage;
    check_text_length(option, text.size(), config_field_capacity[f.field] - 1u, unit, "the stub");
    for (char c : text) {
        if (c != 0 && std::strchr(f.forbidden, c) != nullptr)
            fail(option + " holds a character the stub cannot use there ('" + std::string(1, c) + "')");
    }
    // A longer description would not fit the Info box beside the product text: the stub would
    // stop with an internal error when Info is pressed.
    if (f.field == FIELD_ABOUT)
        check_text_length(option, text.size(), size_t(ABOUT_SHOWN_MAX), unit, "the Info box beside the product text");
    return text;
}

uint32_t settle_flags(const BuildOptions& o)
{
    uint32_t flags = o.flags | o.raw_flags | o.language_flags;
    if ((flags & SFX_LANGUAGE_EN) && (flags & SFX_LANGUAGE_AUTO))
        fail("SFX_LANGUAGE_EN and SFX_LANGUAGE_AUTO contradict each other; choose one with --language");
    uint32_t language_bits = SFX_LANGUAGE_EN | SFX_LANGUAGE_AUTO;
    if (o.language_given && (o.raw_flags & language_bits) != 0 && (o.raw_flags & language_bits) != o.language_flags)
        fail("--language contradicts --flags, which sets " +
             std::string(o.raw_flags & SFX_LANGUAGE_EN ? "SFX_LANGUAGE_EN" : "SFX_LANGUAGE_AUTO") +
             "; choose the language with --language alone");
    if (o.raw_flags & SFX_UTF8_TEXTS)
        fail("--flags sets SFX_UTF8_TEXTS, which the builder sets itself when a text has a character beyond "
             "--codepage");
    if (o.title_given)
        flags |= SFX_USE_TITLE;
    if (!o.crc_from_start)
        flags |= SFX_CRC_AFTER_HEADERS;
    else if (o.raw_flags & SFX_CRC_AFTER_HEADERS)
        fail("--crc-from-start contradicts --flags, which sets SFX_CRC_AFTER_HEADERS");
    return flags;
}

void check_flag_combinations(uint32_t flags, const ConfigFields& fields)
{
    if ((flags & SFX_EXE_VOLUMES) && !(flags & SFX_MULTI_VOLUME))
        fail("--exe-volumes needs --multi-volume: it names the volumes of a spanned archive");
    if ((flags & SFX_PROMPT_OKCANCEL) && !(flags & SFX_PROMPT_ASK))
        warn("--prompt-okcancel has no effect without --prompt-ask (the prompt stays OK only)");
    if ((flags & (SFX_PROMPT_ASK | SFX_PROMPT_OKCANCEL)) && fields[FIELD_PROMPT].empty())
        warn("--prompt-ask and --prompt-okcancel have no effect without a --prompt text");
    if ((flags & SFX_HIDDEN) && !fields[FIELD_PROMPT].empty())
        warn("--hidden suppresses the start-up prompt; the --prompt text is never shown");
    if ((flags & SFX_VERB_INSTALL) && fields[FIELD_COMMAND].empty())
        warn("--verb-install has no effect without --command");
    if ((flags & SFX_WAIT) && !(flags & SFX_CLEANUP) && fields[FIELD_COMMAND].empty())
        warn("--wait has no effect without --command: there is nothing to wait for");
    if (!fields[FIELD_PARAMS].empty() && fields[FIELD_COMMAND].empty())
        warn("--params has no effect without --command");
    if ((flags & SFX_TITLE_CAPTION) && fields[FIELD_TITLE].empty())
        warn("--title-caption has no effect without a --title text (the caption stays the program's own)");
    // The clean-up removes only what the run created; it is meant for the temporary folder,
    // where nothing of the package may stay. Without a command it would remove the files as
    // soon as they were extracted.
    if ((flags & SFX_CLEANUP) && !fields[FIELD_FOLDER].empty())
        fail("--cleanup removes the extracted files from the temporary folder: it cannot go with --folder "
             "(leave out --folder, or --cleanup)");
    if ((flags & SFX_CLEANUP) && fields[FIELD_COMMAND].empty())
        fail("--cleanup removes the files once the command has ended: give --command too");
}

void check_split_options(const BuildOptions& o, uint32_t flags)
{
    if (flags & SFX_SPLIT_VOLUMES && o.split == 0)
        fail("--flags: bit 0x20000000 marks a split package, which only --split writes");
    if (o.split == 0)
        return;
    if (o.span != 0 || (flags & SFX_MULTI_VOLUME))
        fail("--split writes volumes beside the program; it does not go with --multi-volume or --span, which "
             "write removable disks");
    if (o.split < MIN_SPAN)
        fail("--split " + std::to_string(o.split) + " is below the smallest volume of " + std::to_string(MIN_SPAN) +
             " bytes");
}

void check_span_options(const BuildOptions& o, uint32_t flags)
{
    if (o.span == 0) {
        if (!o.volume_name.empty())
            fail("--name names the program on the disks of --span");
        if (flags & SFX_MULTI_VOLUME)
            warn("--multi-volume without --span: the builder writes one file; the stub will ask for disks "
                 "holding the archive's volumes and will not check the end record");
        return;
    }
    if (!(flags & SFX_MULTI_VOLUME))
        fail("--span writes the disks of a spanned archive: give --multi-volume too");
    if (o.span < MIN_SPAN)
        fail("--span " + std::to_string(o.span) + " is below the smallest disk of " + std::to_string(MIN_SPAN) +
             " bytes");
    if (o.span == 1440 * 1024)
        warn("--span 1440k is more than a formatted 1.44 MB floppy holds (" + std::to_string(FLOPPY_CAPACITY) +
             " bytes); --span floppy fits");
}

}  // namespace

void print_build_help(std::FILE* to)
{
    std::fprintf(to,
        "usage: tvsfx build -o OUT.exe [options] INPUT\n"
        "       tvsfx build --multi-volume --span SIZE -o DIR [options] INPUT\n"
        "       tvsfx inspect [--json] FILE.exe\n"
        "       tvsfx test [--password PW] FILE.exe\n"
        "       tvsfx --version\n"
        "\n"
        "INPUT is a .zip archive (entries are copied, never recompressed) or a folder\n"
        "(compressed with Deflate). A folder may hold at most %zu files and empty\n"
        "folders, nest %u folders deep (%u with --win9x), and be walked through\n"
        "at most %zu symbolic links (each must stay inside it) and %zu folders in all.\n"
        "\n"
        "Texts (converted to the --codepage, or all UTF-8 when one has a character the\n"
        "code page lacks; the stub's limits in bytes):\n"
        "  --folder DIR        default target folder (260; \".\" = the program's folder,\n"
        "                      empty = a temporary folder)\n"
        "  --command FILE      file to start after extraction (256)\n"
        "  --params TEXT       its parameters (256)\n"
        "  --prompt TEXT       start-up prompt (513)\n"
        "  --title TEXT        title of the prompt and dialog (64); sets SFX_USE_TITLE\n"
        "  --about TEXT        text of the Info button (515)\n"
        "  --info TEXT         text shown for the -info command-line option (511)\n"
        "  --codepage CP       Windows code page of the texts and file names for Windows\n"
        "                      95/98/ME and older ZIP tools (default " DEFAULT_CODEPAGE "; an iconv name\n"
        "                      of a single- or double-byte code page that keeps ASCII,\n"
        "                      such as CP1250 or CP932; raw = bytes as given)\n"
        "  --win9x             for Windows 95/98/ME too: refuse names and texts that the\n"
        "                      --codepage lacks and paths over 259 characters (without\n"
        "                      it such names are stored as UTF-8 for the NT family, and\n"
        "                      paths may have up to 32767)\n"
        "  --language LANG     language of the program's own texts: de (default), en,\n"
        "                      or auto (German on a Windows whose language is German,\n"
        "                      else English)\n"
        "  --license FILE      licence page (UTF-8 text, up to 65535 bytes in the code\n"
        "                      page): shown before the dialog; Decline ends with exit\n"
        "                      code 3, -silent accepts it\n"
        "  --elevation LEVEL   rights the program asks Windows for: invoker (default;\n"
        "                      the user's own, no prompt), highest (administrator when\n"
        "                      the user is one) or admin (always; a prompt)\n"
        "\n"
        "Version and icon (Explorer's Properties; UTF-8, 1 to 255 characters each):\n"
        "  --product-name TEXT, --company TEXT, --description TEXT, --copyright TEXT\n"
        "  --product-version VERSION, --file-version VERSION\n"
        "                      up to four numbers joined by dots (1.2.3); one given\n"
        "                      stands for both; other text is shown as given, with\n"
        "                      version numbers 0.0.0.0\n"
        "  --icon FILE.ico     the program's icon: every image of the file (bitmaps or\n"
        "                      PNG, up to 256x256)\n"
        "\n"
        "Entry names (each becomes Unicode, then the --codepage, or UTF-8 where the code\n"
        "page lacks a character; see the Entry names section of docs/building-packages.md;\n"
        "inspect lists the names that need the NT family):\n"
        "  Input ZIP names without the UTF-8 flag are read by the system that made them:\n"
        "  MS-DOS, OS/2 and Windows (NTFS, VFAT) as the OEM code page CP437; Unix,\n"
        "  macOS and others as UTF-8 when valid, else as --codepage (bytes unchanged).\n"
        "  --input-codepage CP read every such name in CP instead, whatever made it\n"
        "                      (German MS-DOS/Windows programs write CP850, Russian\n"
        "                      CP866, Japanese CP932; Western Unix locales CP1252)\n"
        "  --keep-macos-metadata  keep __MACOSX/ and ._* entries (left out by default)\n"
        "\n"
        "Flags:\n"
        "  --overwrite         overwrite files without asking (initial state)\n"
        "  --auto              start extracting at once, close afterwards\n"
        "  --hidden            no prompt, no dialog, no progress: silent extraction\n"
        "  --password-first    ask for the password before the first entry\n"
        "  --no-password-first do not set that automatically for encrypted archives\n"
        "  --title-caption     use the title as the dialog's caption\n"
        "  --prompt-ask        the prompt asks Yes/No; with --prompt-okcancel OK/Cancel\n"
        "  --prompt-okcancel\n"
        "  --verb-install      start the command with the shell verb \"Install\"\n"
        "  --multi-volume      the archive spans removable disks\n"
        "  --exe-volumes       with --multi-volume: the volumes are .EXE files\n"
        "  --no-unattended     refuse the switches for scripts (-silent, -dir=, ...);\n"
        "                      -info and -args= still work\n"
        "  --wait              wait for the command and every process it starts; the\n"
        "                      package exits with the command's exit code\n"
        "  --cleanup           with --command and an empty --folder: waits as --wait,\n"
        "                      then removes every file and folder the run created\n"
        "  --flags=HEX         further flag bits, OR'ed in\n"
        "\n"
        "Integrity:\n"
        "  --no-stub-crc       write stub_crc 0 (the stub then skips its checksum)\n"
        "  --crc-from-start    checksum from file offset 0 instead of after the PE\n"
        "                      headers (then signing breaks it; the PE CheckSum is 0)\n"
        "\n"
        "Compression (folder input; entries of an input archive are copied as they are):\n"
        "  --level N           0 stores every file, 1..12 trade speed for size\n"
        "                      (default %d; for lzma 1..9 are its presets, 10..12 as 9)\n"
        "  --method M          deflate (default) or lzma: about a fifth smaller on\n"
        "                      programs; 7-Zip and bsdtar read it, Info-ZIP unzip does not\n"
        "  -j, --jobs N        compress on N threads (default: one per core); the file\n"
        "                      written is the same for every N\n"
        "\n"
        "Spanned disks:\n"
        "  --span SIZE         with --multi-volume: write the disks into the folder -o DIR\n"
        "                      (DIR/disk1, DIR/disk2, ...), SIZE bytes each (k and M\n"
        "                      suffixes; floppy = 1457664, a formatted 1.44 MB floppy)\n"
        "  --name NAME         the program's 8.3 name on the disks, without extension\n"
        "                      (default: DIR's name when it is one, else SETUP)\n"
        "\n"
        "Split packages (the program with data volumes beside it):\n"
        "  --split SIZE        write -o NAME.exe and the archive in volumes NAME.z01,\n"
        "                      NAME.z02, ... of SIZE bytes beside it (k, M and G suffixes,\n"
        "                      below 4G); without it a package that would reach 2 GiB is\n"
        "                      split into volumes of 1G\n"
        "\n"
        "Other:\n"
        "  -o, --output FILE   the .exe to write (replaced only when the build succeeds);\n"
        "                      with --span the folder for the disks\n"
        "  --stub PATH         the stub (default: tvsfx32.exe beside tvsfx)\n"
        "  --password PW       encrypt all entries the builder writes (1..254 bytes in\n"
        "                      the --codepage; no control characters)\n"
        "  --encryption KIND   with --password: aes256 (default; AES-256, read by current\n"
        "                      ZIP tools) or zipcrypto (traditional ZIP encryption, weak,\n"
        "                      for tools that know nothing else)\n"
        "  -q, --quiet         no progress line; no summary line (spanned and split\n"
        "                      builds still list their disks and volumes)\n"
        "  --no-verify         skip reading the written file back with test's checks\n"
        "                      (done by default before the build reports success)\n"
        "  -h, --help          this text\n"
        "\n"
        "inspect prints the record, texts, entries and start-up checks (--json: the same\n"
        "as one JSON object). test decodes every entry with the stub's decoder and checks\n"
        "its CRC, and runs the start-up checks; --password for encrypted entries.\n"
        "\n"
        "File times: each file gets the moment its entry states: the NTFS times field\n"
        "(0x000A, 7-Zip), else the extended timestamp (0x5455, UTC; Info-ZIP zip, Go),\n"
        "else the DOS time, read as local time where the program runs, by the\n"
        "daylight-saving rule of its date (in the autumn hour that repeats: standard\n"
        "time). Such a field in an input entry's central record only is copied into its\n"
        "local header. A folder's files get an extended timestamp with their true time,\n"
        "exact in every zone (not before 1970 or after 2038-01-19: the DOS time alone).\n"
        "SOURCE_DATE_EPOCH (seconds since 1970), when set, caps the file times of a\n"
        "folder input and makes their DOS times UTC, so a build gives the same bytes on\n"
        "every machine. inspect shows each entry's time and its source (time_from=).\n"
        "\n"
        "Exit status: 0 done (all checks pass), 1 the input or the file is bad or a\n"
        "check failed, 2 wrong usage.\n"
        "\n"
        "More: docs/building-packages.md (every option, entry names, encryption,\n"
        "spanned disks); docs/running-packages.md (the program's switches and exit\n"
        "codes).\n",
        MAX_FOLDER_ENTRIES, MAX_FOLDER_DEPTH, MAX_FOLDER_DEPTH_WIN9X, MAX_LINKS_FOLLOWED, MAX_FOLDERS_WALKED,
        int(DEFAULT_LEVEL));
}

ParseResult parse_build_options(int argc, char** argv, BuildOptions& o)
{
    std::vector<option> table = option_table();
    static char program_name[] = "tvsfx build";  // getopt names argv[0] in its messages
    argv[0] = program_name;
    optind = 1;
    opterr = 0;  // its own messages would print the argument's bytes raw
    int id;
    while ((id = getopt_long(argc, argv, "o:hj:q", table.data(), nullptr)) != -1) {
        if (id == OPT_HELP)
            return PARSE_HELP;
        if (id == '?') {
            std::fprintf(stderr, "tvsfx build: unknown option or missing value: %s\n",
                         printable(argv[optind - 1]).c_str());
            return PARSE_ERROR;
        }
        if (!apply_option(id, optarg, o))
            return PARSE_ERROR;
    }
    if (argc - optind != 1) {
        std::fprintf(stderr, argc - optind == 0 ? "tvsfx build: no INPUT given\n" : "tvsfx build: more than one INPUT given\n");
        return PARSE_ERROR;
    }
    o.input = argv[optind];
    if (o.output.empty()) {
        std::fprintf(stderr, "tvsfx build: no output given (-o OUT.exe)\n");
        return PARSE_ERROR;
    }
    return PARSE_OK;
}

// The manifest's level for --elevation; empty without the option, which keeps the stub's own
// (asInvoker). Without administrator rights a folder below the program or system folders
// cannot be written: Windows refuses (no redirection, as the manifest names a level), and the
// user sees the stub's error instead of the files.
static std::string settle_execution_level(const std::string& elevation, const std::string& folder)
{
    std::string level = elevation.empty() ? "" : execution_level_for(elevation);
    if (!elevation.empty() && level.empty())
        fail("--elevation must be invoker, highest or admin, not '" + elevation + "'");
    if (elevation != "admin" && folder_needs_admin(folder))
        warn("--folder " + folder + " lies below a folder only administrators may write to; "
             "give --elevation admin, or extraction fails for every other user");
    return level;
}

namespace {

// The first configuration text with a character --codepage lacks, or null. Such texts make
// all of them UTF-8 (SFX_UTF8_TEXTS) for the NT family's Unicode functions; with --win9x (or
// raw bytes) they stay in the code page, and such a text is refused.
const FieldOption* text_beyond_codepage(const BuildOptions& o)
{
    if (o.win9x || o.codepage == RAW_CODEPAGE)
        return nullptr;
    for (const FieldOption& f : field_options) {
        if (!fits_codepage(o.fields[size_t(f.field)], o.codepage))
            return &f;
    }
    return nullptr;
}

// Everything settle_options decides from the command line alone, without reading a file.
StubSettings settle_command_line(const BuildOptions& o)
{
    check_stub_codepage(o.codepage, "--codepage");
    if (o.input_codepage != RAW_CODEPAGE && !o.input_codepage.empty())
        check_codepage(o.input_codepage);
    else if (o.input_codepage == RAW_CODEPAGE)
        fail("--input-codepage needs a code page such as CP437 or CP850");
    StubSettings s;
    const FieldOption* beyond = text_beyond_codepage(o);
    for (const FieldOption& f : field_options) {
        s.fields[size_t(f.field)] = settle_field_text(f, o.fields[size_t(f.field)], o.codepage, beyond != nullptr);
    }
    s.flags = settle_flags(o);
    if (beyond != nullptr) {
        s.flags |= SFX_UTF8_TEXTS;
        warn("--" + std::string(beyond->name) + " has a character beyond code page " + o.codepage + ": the texts " +
             "are stored as UTF-8 for the NT family (Windows NT 4 to 11); Windows 95/98/ME show them only where " +
             "their code page holds them; --win9x refuses such texts here");
    }
    check_flag_combinations(s.flags, s.fields);
    check_split_options(o, s.flags);
    check_span_options(o, s.flags);
    if (o.password_given)
        s.password = settle_password(o.password, o.codepage);
    if (!o.encryption.empty()) {
        if (!o.password_given)
            fail("--encryption " + o.encryption + " needs --password");
        s.cipher = o.encryption == "zipcrypto" ? EntryCipher::zipcrypto : EntryCipher::aes256;
    }
    if (o.password_given)
        warn_about_password(o.password, o.codepage, s.cipher == EntryCipher::aes256);
    s.with_stub_crc = !o.no_stub_crc;
    s.no_password_first = o.no_password_first;
    // A hidden package shows nothing before it extracts: nobody could accept.
    if (!o.license_path.empty() && (s.flags & SFX_HIDDEN))
        fail("--license shows a page the user must accept, which --hidden never shows; leave out one of them "
             "(-silent on the command line accepts the licence of a package that has one)");
    s.execution_level = settle_execution_level(o.elevation, s.fields[FIELD_FOLDER]);
    s.identity = settle_identity(o.version_texts, o.icon);
    return s;
}

}  // namespace

StubSettings settle_options(const BuildOptions& o)
{
    StubSettings s;
    try {
        s = settle_command_line(o);
    } catch (const UsageError&) {
        throw;
    } catch (const BuildError& e) {
        throw UsageError(e.message());
    }
    // The licence is a file: what is wrong with it is bad input.
    if (!o.license_path.empty())
        s.license = make_license_block(o.license_path, o.codepage);
    return s;
}
