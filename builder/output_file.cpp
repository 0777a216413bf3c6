#include "output_file.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "build_error.h"
#include "input_file.h"

std::string folder_of(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

// The temporary files of the outputs being written, for the signal handler: fixed slots,
// because a handler may only touch plain memory and call unlink. A spanned build has at
// most a few outputs open at once.
enum { TEMP_SLOTS = 16, TEMP_PATH_CAPACITY = 4096 };
char temp_paths[TEMP_SLOTS][TEMP_PATH_CAPACITY];
volatile sig_atomic_t temp_used[TEMP_SLOTS];

extern "C" void remove_temp_files(int signal_number)
{
    for (int i = 0; i < TEMP_SLOTS; ++i) {
        if (temp_used[i])
            ::unlink(temp_paths[i]);
    }
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

// Once per process; compressing threads make scratch files too, so the first call is guarded.
void install_signal_handlers()
{
    static const bool installed = [] {
        for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction action = {};
            action.sa_handler = remove_temp_files;
            sigemptyset(&action.sa_mask);
            sigaction(signal_number, &action, nullptr);
        }
        return true;
    }();
    (void)installed;
}

// Returns the slot, or -1 when all are taken (the file is then only removed on errors).
int register_temp_file(const std::string& path)
{
    install_signal_handlers();
    if (path.size() >= TEMP_PATH_CAPACITY)
        return -1;
    for (int i = 0; i < TEMP_SLOTS; ++i) {
        if (!temp_used[i]) {
            std::memcpy(temp_paths[i], path.c_str(), path.size() + 1);
            temp_used[i] = 1;
            return i;
        }
    }
    return -1;
}

void release_temp_slot(const std::string& path)
{
    for (int i = 0; i < TEMP_SLOTS; ++i) {
        if (temp_used[i] && path == temp_paths[i])
            temp_used[i] = 0;
    }
}

std::string scratch_folder = ".";

// mkstemp on `name` with the signals held back until the new file is known to the handler
// (or, for a scratch file, unnamed already): a signal in between would leave it behind.
int make_temp_file(std::vector<char>& name, bool keep_name)
{
    install_signal_handlers();
    sigset_t held, previous;
    sigemptyset(&held);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&held, signal_number);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
    int fd = mkstemp(name.data());
    int error = errno;
    if (fd >= 0 && keep_name)
        register_temp_file(name.data());
    else if (fd >= 0)
        ::unlink(name.data());
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return fd;
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
    if (::stat(final_path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            fail("output " + final_path + " is a folder");
        std::string kind = special_file_kind(st.st_mode);
        if (!kind.empty())
            fail("output " + final_path + " is " + kind + "; the builder writes only regular files");
        keep_mode_ = true;
        mode_ = st.st_mode & 07777;
    }
    std::string folder = folder_of(final_path);
    // The dot and ".XXXXXX" add 8 bytes: a long name is shortened so its temporary name
    // still fits the file system's limit.
    std::string base = base_name_of(final_path);
    long name_max = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    size_t room = size_t(name_max > 8 ? name_max : 255) - 8;
    std::string pattern = folder + "/." + base.substr(0, room) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = make_temp_file(name, true);
    if (fd < 0)
        fail("cannot create the output file in " + folder + ": " + std::strerror(errno));
    temp_path_ = name.data();
    file_ = fdopen(fd, "w+b");
    if (file_ == nullptr) {
        ::close(fd);
        ::unlink(temp_path_.c_str());
        release_temp_slot(temp_path_);
        fail("cannot open the output file: " + std::string(std::strerror(errno)));
    }
    // A buffer of each file's own: a spanned build has several output files open at once.
    setvbuf(file_, nullptr, _IOFBF, 1 << 20);
}

OutputFile::~OutputFile()
{
    if (file_ != nullptr)
        std::fclose(file_);
    if (!temp_path_.empty()) {
        ::unlink(temp_path_.c_str());
        release_temp_slot(temp_path_);
    }
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

void OutputFile::commit(const std::function<void(const std::string& written_path)>& verify)
{
    int fd = fileno(file_);
    if (std::fflush(file_) != 0 || fsync(fd) != 0)
        fail("cannot write " + final_path_ + ": " + std::strerror(errno));
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, keep_mode_ ? mode_t(mode_) : 0777 & ~mask) != 0)
        fail("cannot set the permissions of " + final_path_ + ": " + std::strerror(errno));
    int closed = std::fclose(file_);
    file_ = nullptr;
    if (closed != 0)
        fail("cannot write " + final_path_ + ": " + std::strerror(errno));
    if (verify)
        verify(temp_path_);
    if (std::rename(temp_path_.c_str(), final_path_.c_str()) != 0)
        fail("cannot rename the finished file to " + final_path_ + ": " + std::strerror(errno));
    release_temp_slot(temp_path_);
    temp_path_.clear();
}

void check_output_target(const std::string& output, const std::string& input)
{
    namespace fs = std::filesystem;
    struct stat out_st, in_st;
    bool out_exists = ::stat(output.c_str(), &out_st) == 0;
    if (out_exists && !special_file_kind(out_st.st_mode).empty())
        fail("output " + output + " is " + special_file_kind(out_st.st_mode) +
             "; the builder writes only regular files");
    if (::stat(input.c_str(), &in_st) != 0)
        return;  // the input's own check reports it
    if (out_exists && out_st.st_dev == in_st.st_dev && out_st.st_ino == in_st.st_ino)
        fail("output " + output + " is the input itself");
    if (!S_ISDIR(in_st.st_mode))
        return;
    // The output's folder, resolved like the input, must not lie inside the input folder.
    std::error_code ec;
    fs::path in = fs::canonical(input, ec);
    fs::path where = fs::weakly_canonical(fs::absolute(output, ec), ec);
    if (ec)
        return;
    auto mismatch = std::mismatch(in.begin(), in.end(), where.begin(), where.end());
    if (mismatch.first == in.end())
        fail("output " + output + " lies inside the input folder " + input + "; the next build would pack it");
}

void check_output_not_stub(const std::string& output, const std::string& stub)
{
    struct stat out_st, stub_st;
    if (::stat(output.c_str(), &out_st) == 0 && ::stat(stub.c_str(), &stub_st) == 0 &&
        out_st.st_dev == stub_st.st_dev && out_st.st_ino == stub_st.st_ino)
        fail("output " + output + " is the stub " + stub + "; writing it would leave no stub for the next build");
}

void set_scratch_folder(const std::string& folder)
{
    scratch_folder = folder;
}

std::FILE* create_scratch_file()
{
    std::string pattern = scratch_folder + "/.tvsfx-scratch.XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // Unnamed at once: it goes away with the builder however the builder ends.
    int fd = make_temp_file(name, false);
    if (fd < 0)
        fail("cannot create a temporary file in " + scratch_folder + ": " + std::strerror(errno));
    std::FILE* f = fdopen(fd, "w+b");
    if (f == nullptr) {
        ::close(fd);
        fail("cannot create a temporary file in " + scratch_folder + ": " + std::strerror(errno));
    }
    return f;
}
