// One error idiom for the whole builder: a BuildError carries a message meant for the user;
// main() prints it and exits non-zero. Nothing is written to the final output path before
// everything succeeded, so throwing from deep inside the build never leaves a broken .exe.
#ifndef TVSFX_BUILD_ERROR_H
#define TVSFX_BUILD_ERROR_H

#include <stdexcept>
#include <string>

struct BuildError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void fail(const std::string& message)
{
    throw BuildError(message);
}

// Warnings and notes go to stderr at once; they never stop the build.
void warn(const std::string& message);
void note(const std::string& message);

#endif
