// tvsfx: turns a ZIP archive or a folder into a self-extracting Windows program by
// attaching it to the stub, and inspects such programs.
#include <cstdio>
#include <cstring>
#include <string>

#include "build.h"
#include "build_error.h"
#include "option_text.h"
#include "printable.h"
#include "text_encoding.h"

void warn(const std::string& message)
{
    std::fprintf(stderr, "tvsfx: warning: %s\n", printable(message).c_str());
}

void note(const std::string& message)
{
    std::fprintf(stderr, "tvsfx: note: %s\n", printable(message).c_str());
}

namespace {

int usage_error()
{
    std::fputs("usage: tvsfx build -o OUT.exe [options] INPUT | tvsfx inspect [--json] FILE.exe |\n"
               "       tvsfx test [--password PW] FILE.exe | tvsfx --version  (tvsfx --help)\n",
               stderr);
    return 2;
}

bool is_help(const char* arg)
{
    return std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0;
}

int help_command()
{
    print_build_help(stdout);
    return 0;
}

// The value of "--name VALUE" or "--name=VALUE" at argv[i]; moves i past it. nullptr when
// argv[i] is not that option.
const char* option_value(int argc, char** argv, int& i, const char* name)
{
    size_t length = std::strlen(name);
    if (std::strncmp(argv[i], name, length) != 0)
        return nullptr;
    if (argv[i][length] == '=')
        return argv[i] + length + 1;
    if (argv[i][length] != '\0' || i + 1 >= argc)
        return nullptr;
    return argv[++i];
}

// tvsfx inspect [--json] FILE.exe
int inspect_command(int argc, char** argv)
{
    bool json = false;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        if (is_help(argv[i]))
            return help_command();
        if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else if (argv[i][0] == '-' || !file.empty())
            return usage_error();
        else
            file = argv[i];
    }
    return file.empty() ? usage_error() : run_inspect(file, json);
}

// tvsfx test [--password PW] [--codepage CP] FILE.exe
int test_command(int argc, char** argv)
{
    std::string file, password, codepage = DEFAULT_CODEPAGE;
    bool password_given = false;
    for (int i = 1; i < argc; ++i) {
        const char* value = nullptr;
        if (is_help(argv[i]))
            return help_command();
        if ((value = option_value(argc, argv, i, "--password")) != nullptr) {
            password = value;
            password_given = true;
        } else if ((value = option_value(argc, argv, i, "--codepage")) != nullptr) {
            codepage = value;
        } else if (argv[i][0] == '-' || !file.empty()) {
            return usage_error();
        } else {
            file = argv[i];
        }
    }
    if (file.empty() || (password_given && password.empty()))
        return usage_error();
    std::string stub_password;
    try {
        // The stub compares the password's bytes in its code page, as the builder wrote them.
        check_stub_codepage(codepage, "--codepage");
        stub_password = password_given ? settle_password(password, codepage) : "";
    } catch (const BuildError& e) {
        std::fprintf(stderr, "tvsfx test: %s\n", printable(e.message()).c_str());
        return 2;  // values of the command line
    }
    try {
        return run_test(file, stub_password);
    } catch (const BuildError& e) {
        std::fprintf(stderr, "tvsfx test: %s\n", printable(e.message()).c_str());
        return 1;
    }
}

int build_command(int argc, char** argv)
{
    BuildOptions options;
    switch (parse_build_options(argc, argv, options)) {
    case PARSE_HELP:
        print_build_help(stdout);
        return 0;
    case PARSE_ERROR:
        return usage_error();
    case PARSE_OK:
        break;
    }
    try {
        run_build(options);
    } catch (const BuildError& e) {
        // Messages carry names from archives and folders: printable() keeps their bytes
        // (NULs included) from acting on the terminal.
        std::fprintf(stderr, "tvsfx: error: %s\n", printable(e.message()).c_str());
        return dynamic_cast<const UsageError*>(&e) != nullptr ? 2 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tvsfx: error: %s\n", printable(e.what()).c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage_error();
    std::string command = argv[1];
    if (is_help(argv[1]) || command == "help")
        return help_command();
    if (command == "--version" || command == "version") {
        std::printf("tvsfx %s\n", TVSFX_VERSION);
        return 0;
    }
    if (command == "build")
        return build_command(argc - 1, argv + 1);
    if (command == "inspect")
        return inspect_command(argc - 1, argv + 1);
    if (command == "test")
        return test_command(argc - 1, argv + 1);
    std::fprintf(stderr, "tvsfx: unknown command '%s'\n", printable(argv[1]).c_str());
    return usage_error();
}
