// `tvsfx build` and `tvsfx inspect`.
#ifndef TVSFX_BUILD_H
#define TVSFX_BUILD_H

#include <string>
#include <vector>

#include "build_error.h"
#include "options.h"

// The written package failed the checks of `tvsfx test` and was not kept: a fault of the
// builder rather than of the input, which the fuzz target tells apart from a refusal.
struct SelfTestFailure : BuildError {
    explicit SelfTestFailure(const std::string& message) : BuildError(message) {}
};

// Builds the self-extracting file; throws BuildError on every refusal.
void run_build(const BuildOptions& options);

// Prints the record, the configuration, the entries and the start-up checks of a built
// file, as text or as one JSON object; returns the exit code (0 all checks pass, 1 one
// fails or the file is unreadable or not a built file).
int run_inspect(const std::string& path, bool json);

// Decodes every entry with the stub's decoder and checks its CRC, after the start-up
// checks; returns 0 when all is right, 1 otherwise. `password` (in the stub's code page)
// opens encrypted entries; empty when none was given.
int run_test(const std::string& path, const std::string& password);

// Runs `tvsfx test`'s checks on a file the builder has just written: the start-up checks, the
// walk, and every entry decoded with the stub's decoder. Entries that arrived encrypted are
// decoded only where `password_known[i]` (in written order) says the builder has their
// password. Returns "" when all pass, else the first failure, naming the entry.
std::string verify_package(const std::string& path, const std::string& password,
                           const std::vector<bool>& password_known);

#endif
