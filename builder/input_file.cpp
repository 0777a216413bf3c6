#include "input_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "build_error.h"
#include "printable.h"

std::string special_file_kind(unsigned mode)
{
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    if (!S_ISREG(mode) && !S_ISDIR(mode))
        return "of another kind";
    return "";
}

FilePtr open_regular_file(const std::string& path, const std::string& what, uint64_t* size)
{
    // O_NONBLOCK makes opening a FIFO return at once; fstat then tells what was opened.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        fail("cannot read " + what + " " + printable(path) + ": " + std::strerror(errno));
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int error = errno;
        ::close(fd);
        fail("cannot read " + what + " " + printable(path) + ": " + std::strerror(error));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        std::string kind = S_ISDIR(st.st_mode) ? "a folder" : special_file_kind(st.st_mode);
        fail(what + " " + printable(path) + " is " + kind + ", not a regular file");
    }
    // Regular files never block; the flag goes so that reads behave as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* f = ::fdopen(fd, "rb");
    if (f == nullptr) {
        ::close(fd);
        fail("cannot read " + what + " " + printable(path) + ": " + std::strerror(errno));
    }
    if (size != nullptr)
        *size = uint64_t(st.st_size);
    return FilePtr(f, std::fclose);
}
