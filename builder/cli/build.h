// `tvsfx build`; `tvsfx inspect` and `tvsfx test` are in report/ (file_report.h).
#ifndef TVSFX_BUILD_H
#define TVSFX_BUILD_H

#include <string>
#include <vector>

#include "build_error.h"
#include "file_report.h"  // run_inspect, run_test, verify_package: the commands that read a package
#include "options.h"

// The written package failed the checks of `tvsfx test` and was not kept: a fault of the
// builder rather than of the input, which the fuzz target tells apart from a refusal.
struct SelfTestFailure : BuildError {
    explicit SelfTestFailure(const std::string& message) : BuildError(message) {}
};

// Builds the self-extracting file; throws BuildError on every refusal.
void run_build(const BuildOptions& options);

#endif
