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

std::string short_read_reason(std::FILE* f)
{
    return std::ferror(f) ? std::string(std::strerror(errno)) : std::string("the file ended early");
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

namespace {

bool same_identity(const struct stat& st, uint64_t device, uint64_t inode)
{
    return uint64_t(st.st_dev) == device && uint64_t(st.st_ino) == inode;
}

}  // namespace

FilePtr open_walked_file(const WalkedFile& file, const std::string& label, uint64_t* size)
{
    const std::string changed = " was replaced after the folder was read; build again from a folder that stays put";
    int folder = ::open(file.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        fail("cannot read " + label + ": " + std::strerror(errno));
    struct stat st;
    bool same_folder = ::fstat(folder, &st) == 0 && same_identity(st, file.folder_device, file.folder_inode);
    int fd = same_folder ? ::openat(folder, file.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)
                         : -1;
    int error = errno;
    ::close(folder);
    if (!same_folder)
        fail(label + ": its folder" + changed);
    // O_NOFOLLOW on a link gives ELOOP: the walk saw a file there, not a link.
    if (fd < 0)
        fail(error == ELOOP ? label + changed + " (now a symbolic link)"
                            : "cannot read " + label + ": " + std::strerror(error));
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !same_identity(st, file.device, file.inode)) {
        ::close(fd);
        fail(label + changed);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* f = ::fdopen(fd, "rb");
    if (f == nullptr) {
        error = errno;
        ::close(fd);
        fail("cannot read " + label + ": " + std::strerror(error));
    }
    if (size != nullptr)
        *size = uint64_t(st.st_size);
    return FilePtr(f, std::fclose);
}
