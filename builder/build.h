// `tvsfx build` and `tvsfx inspect`.
#ifndef TVSFX_BUILD_H
#define TVSFX_BUILD_H

#include <string>

#include "options.h"

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

#endif
