// The command line of `tvsfx build` and what the stub can accept of it.
#ifndef TVSFX_OPTIONS_H
#define TVSFX_OPTIONS_H

#include <cstdint>
#include <string>

#include "archive.h"
#include "archive_writer.h"
#include "config_block.h"
#include "file_compress.h"
#include "license_text.h"
#include "package_identity.h"
#include "text_encoding.h"

struct BuildOptions {
    std::string output;
    std::string input;
    std::string stub;  // empty: tvsfx32.exe beside the builder
    std::string password;
    bool password_given = false;
    std::string encryption;  // --encryption: aes256 or zipcrypto; empty: aes256
    std::string codepage = DEFAULT_CODEPAGE;
    bool win9x = false;          // --win9x: names and texts in --codepage only, paths of 259 characters
    std::string input_codepage;  // of names without UTF-8 flag in an input; empty: by the system that made them
    bool keep_macos_metadata = false;
    ConfigFields fields;       // as given on the command line
    bool title_given = false;  // --title also sets SFX_USE_TITLE, even for an empty title
    uint32_t flags = 0;        // bits from the named flag options
    uint32_t raw_flags = 0;    // --flags=HEX
    bool no_stub_crc = false;
    bool crc_from_start = false;
    bool no_password_first = false;
    uint64_t span = 0;        // --span: bytes per disk; 0 writes one file
    uint64_t split = 0;       // --split: bytes per data volume; 0 splits only a package of 2 GiB
    std::string volume_name;  // --name: the program's name on the disks
    int level = DEFAULT_LEVEL;  // --level: 0 stores, 1..12 libdeflate's levels (LZMA: presets)
    Method method = Method::deflate;  // --method
    unsigned jobs = 0;        // -j: compressing threads; 0 one per core
    bool quiet = false;       // --quiet: no progress line and no summary
    bool no_verify = false;   // --no-verify: skip reading the package back before success
    uint32_t language_flags = 0;  // --language: SFX_LANGUAGE_EN, SFX_LANGUAGE_AUTO or 0 (German)
    bool language_given = false;
    std::string license_path;     // --license: the licence page's text file; empty: none
    std::string elevation;        // --elevation: invoker, highest or admin; empty: invoker
    std::vector<std::pair<std::string, std::string>> version_texts;  // --product-name ...: option, UTF-8 text
    std::string icon;             // --icon: a .ico file; empty: the stub's icon
};

// What goes into the file: texts in the stub's code page (UTF-8 with SFX_UTF8_TEXTS), the
// final flags word.
struct StubSettings {
    ConfigFields fields;
    std::string password;  // empty: no encryption
    EntryCipher cipher = EntryCipher::aes256;  // how the password encrypts
    uint32_t flags = 0;
    bool with_stub_crc = true;
    bool no_password_first = false;
    LicenseBlock license;  // empty: no licence page
    std::string execution_level;  // the manifest's requestedExecutionLevel; empty: the stub's own
    IdentitySettings identity;    // version resource and icon; empty: the stub's own
};

enum ParseResult { PARSE_OK, PARSE_HELP, PARSE_ERROR };

// Parses `tvsfx build`'s arguments (argv[0] is the word "build"); prints its own errors.
ParseResult parse_build_options(int argc, char** argv, BuildOptions& options);

// Converts and checks the texts and flags; refuses what the stub cannot use and warns
// about combinations that would have no effect.
StubSettings settle_options(const BuildOptions& options);

void print_build_help(std::FILE* to);

#endif
