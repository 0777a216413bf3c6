// One error idiom for the whole builder: a BuildError carries a message meant for the user;
// main() prints it and exits non-zero. Nothing is written to the final output path before
// everything succeeded, so throwing from deep inside the build never leaves a broken .exe.
#ifndef TVSFX_BUILD_ERROR_H
#define TVSFX_BUILD_ERROR_H

#include <stdexcept>
#include <string>

// The message is kept whole as well: what() stops at a NUL that a name may carry.
struct BuildError : std::runtime_error {
    explicit BuildError(const std::string& message) : std::runtime_error(message), text(message) {}
    const std::string& message() const { return text; }
    std::string text;
};

[[noreturn]] inline void fail(const std::string& message)
{
    throw BuildError(message);
}

// A refusal decided by the command line alone (a value out of range, options that contradict
// each other): exit code 2, where bad input and failed checks give 1.
struct UsageError : BuildError {
    explicit UsageError(const std::string& message) : BuildError(message) {}
};

// Warnings and notes go to stderr at once; they never stop the build.
void warn(const std::string& message);
void note(const std::string& message);

#endif
