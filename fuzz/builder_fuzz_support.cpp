#include "builder_fuzz_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "build_error.h"

void warn(const std::string&) {}
void note(const std::string&) {}

std::string place_in_memory_file(const uint8_t* data, size_t size)
{
    static int fd = memfd_create("tvsfx-fuzz-input", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size))
        abort();
    return "/proc/self/fd/" + std::to_string(fd);
}

const std::string& scratch_folder_path()
{
    static std::string path = [] {
        // In memory where there is a tmpfs: the builder syncs each package it writes.
        char pattern[] = "/dev/shm/tvsfx-fuzz-XXXXXX";
        if (access("/dev/shm", W_OK) != 0)
            memcpy(pattern, "/tmp/tvsfx-fuzz-XXXXXX", sizeof "/tmp/tvsfx-fuzz-XXXXXX");
        if (mkdtemp(pattern) == nullptr)
            abort();
        return std::string(pattern);
    }();
    return path;
}

const std::string& fuzz_stub_path()
{
    static std::string path = [] {
        const char* given = getenv("TVSFX_FUZZ_STUB");
        std::string stub = given != nullptr && *given != '\0' ? given : FUZZ_STUB_PATH;
        if (access(stub.c_str(), R_OK) != 0) {
            fprintf(stderr, "no stub at %s: build it first (make), or name one in TVSFX_FUZZ_STUB\n", stub.c_str());
            abort();
        }
        return stub;
    }();
    return path;
}
