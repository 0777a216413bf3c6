#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "build_error.h"

namespace {

std::string folder_of(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_name_of(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

OutputFile::OutputFile(const std::string& final_path) : final_path_(final_path)
{
    struct stat st;
    if (::stat(final_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        fail("output " + final_path + " is a folder");
    std::string folder = folder_of(final_path);
    std::string pattern = folder + "/." + base_name_of(final_path) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        fail("cannot create the output file in " + folder + ": " + std::strerror(errno));
    temp_path_ = name.data();
    file_ = fdopen(fd, "w+b");
    if (file_ == nullptr) {
        ::close(fd);
        ::unlink(temp_path_.c_str());
        fail("cannot open the output file: " + std::string(std::strerror(errno)));
    }
    // A buffer of each file's own: a spanned build has several output files open at once.
    setvbuf(file_, nullptr, _IOFBF, 1 << 20);
}

OutputFile::~OutputFile()
{
    if (file_ != nullptr)
        std::fclose(file_);
    if (!temp_path_.empty())
        ::unlink(temp_path_.c_str());
}

void OutputFile::write(const void* data, size_t size)
{
    if (!at_end_) {
        if (fseeko(file_, off_t(position_), SEEK_SET) != 0)
            fail("cannot write " + final_path_ + ": " + std::strerror(errno));
        at_end_ = true;
    }
    if (size != 0 && std::fwrite(data, 1, size, file_) != size)
        fail("cannot write " + final_path_ + ": " + std::strerror(errno));
    position_ += size;
}

void OutputFile::write_at(uint64_t offset, const void* data, size_t size)
{
    at_end_ = false;
    if (fseeko(file_, off_t(offset), SEEK_SET) != 0 || std::fwrite(data, 1, size, file_) != size)
        fail("cannot write " + final_path_ + ": " + std::strerror(errno));
}

std::FILE* OutputFile::stream()
{
    at_end_ = false;
    if (std::fflush(file_) != 0)
        fail("cannot write " + final_path_ + ": " + std::strerror(errno));
    return file_;
}

void OutputFile::commit()
{
    int fd = fileno(file_);
    if (std::fflush(file_) != 0 || fsync(fd) != 0)
        fail("cannot write " + final_path_ + ": " + std::strerror(errno));
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0777 & ~mask) != 0)
        fail("cannot set the permissions of " + final_path_ + ": " + std::strerror(errno));
    int closed = std::fclose(file_);
    file_ = nullptr;
    if (closed != 0)
        fail("cannot write " + final_path_ + ": " + std::strerror(errno));
    if (std::rename(temp_path_.c_str(), final_path_.c_str()) != 0)
        fail("cannot rename the finished file to " + final_path_ + ": " + std::strerror(errno));
    temp_path_.clear();
}
