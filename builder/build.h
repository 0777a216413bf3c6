// `tvsfx build` and `tvsfx inspect`.
#ifndef TVSFX_BUILD_H
#define TVSFX_BUILD_H

#include <string>

#include "options.h"

// Builds the self-extracting file; throws BuildError on every refusal.
void run_build(const BuildOptions& options);

// Prints the record, the configuration, the entries and the start-up checks of a built
// file; returns the exit code (0 all checks pass, 1 one fails, 2 not a built file).
int run_inspect(const std::string& path);

#endif
