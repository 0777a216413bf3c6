// tvsfx: turns a ZIP archive or a folder into a self-extracting Windows program by
// attaching it to the stub, and inspects such programs.
#include <cstdio>
#include <cstring>
#include <string>

#include "build.h"
#include "build_error.h"

void warn(const std::string& message)
{
    std::fprintf(stderr, "tvsfx: warning: %s\n", message.c_str());
}

void note(const std::string& message)
{
    std::fprintf(stderr, "tvsfx: note: %s\n", message.c_str());
}

namespace {

int usage_error()
{
    std::fputs("usage: tvsfx build -o OUT.exe [options] INPUT | tvsfx inspect FILE.exe  (tvsfx --help)\n", stderr);
    return 2;
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
        std::fprintf(stderr, "tvsfx: error: %s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tvsfx: error: %s\n", e.what());
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
    if (command == "-h" || command == "--help" || command == "help") {
        print_build_help(stdout);
        return 0;
    }
    if (command == "build")
        return build_command(argc - 1, argv + 1);
    if (command == "inspect") {
        if (argc != 3)
            return usage_error();
        return run_inspect(argv[2]);
    }
    std::fprintf(stderr, "tvsfx: unknown command '%s'\n", argv[1]);
    return usage_error();
}
