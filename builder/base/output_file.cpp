#include "output_file.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/syscall.h>
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

// The temporary files and folders of the build, for the signal handler: fixed slots,
// because a handler may only touch plain memory and make system calls. A spanned build has
// at most a few outputs open at once, one work folder and the output folders it made.
enum { TEMP_SLOTS = 16, FOLDER_SLOTS = 16, TEMP_PATH_CAPACITY = 4096 };
char temp_paths[TEMP_SLOTS][TEMP_PATH_CAPACITY];
volatile sig_atomic_t temp_used[TEMP_SLOTS];
char folder_paths[FOLDER_SLOTS][TEMP_PATH_CAPACITY];
volatile sig_atomic_t folder_used[FOLDER_SLOTS];  // FOLDER_TREE or FOLDER_EMPTY_ONLY, 0 free

// A work folder holds disk folders and their files, nothing deeper.
enum { WORK_TREE_DEPTH = 2 };

// Removes what `dir` (open) holds, down to `depth` folder levels, with system calls only:
// readdir and remove_all may allocate, which a signal handler must not. Entries are read
// again from the start after each pass, because removing while reading may skip some.
void remove_contents(int dir, int depth)
{
    alignas(8) char buffer[4096];
    for (int pass = 0; pass < 64; ++pass) {
        ::lseek(dir, 0, SEEK_SET);
        bool removed = false;
        long n;
        while ((n = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer)) > 0) {
            for (long at = 0; at < n;) {
                struct Entry {
                    uint64_t ino;
                    int64_t off;
                    unsigned short reclen;
                    unsigned char type;
                    char name[1];
                };
                const Entry* e = reinterpret_cast<const Entry*>(buffer + at);
                at += e->reclen;
                if (std::strcmp(e->name, ".") == 0 || std::strcmp(e->name, "..") == 0)
                    continue;
                if (::unlinkat(dir, e->name, 0) == 0) {
                    removed = true;
                    continue;
                }
                int inner = depth > 0 ? ::openat(dir, e->name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
                if (inner >= 0) {
                    remove_contents(inner, depth - 1);
                    ::close(inner);
                    removed = ::unlinkat(dir, e->name, AT_REMOVEDIR) == 0 || removed;
                }
            }
        }
        if (!removed)
            return;
    }
}

extern "C" void remove_temp_files(int signal_number)
{
    int saved_errno = errno;
    for (int i = 0; i < TEMP_SLOTS; ++i) {
        if (temp_used[i])
            ::unlink(temp_paths[i]);
    }
    // Work folders before the output folders they lie in; those innermost first (they were
    // registered outermost first, into the lowest free slots).
    for (int i = 0; i < FOLDER_SLOTS; ++i) {
        if (folder_used[i] != FOLDER_TREE)
            continue;
        int dir = ::open(folder_paths[i], O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dir >= 0) {
            remove_contents(dir, WORK_TREE_DEPTH);
            ::close(dir);
        }
        ::rmdir(folder_paths[i]);
    }
    for (int i = FOLDER_SLOTS - 1; i >= 0; --i) {
        if (folder_used[i] == FOLDER_EMPTY_ONLY)
            ::rmdir(folder_paths[i]);
    }
    errno = saved_errno;
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

// Once per process; compressing threads make scratch files too, so the first call is guarded.
void install_signal_handlers()
{
    static const bool installed = [] {
        for (int signal_number : CLEANUP_SIGNALS) {
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
    CleanupSignalHold hold;
    int fd = mkstemp(name.data());
    int error = errno;
    if (fd >= 0 && keep_name)
        register_temp_file(name.data());
    else if (fd >= 0)
        ::unlink(name.data());
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

CleanupSignalHold::CleanupSignalHold()
{
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : CLEANUP_SIGNALS)
        sigaddset(&held, signal_number);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
}

CleanupSignalHold::~CleanupSignalHold()
{
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void register_temp_folder(const std::string& path, FolderCleanup kind)
{
    install_signal_handlers();
    if (path.size() >= TEMP_PATH_CAPACITY)
        return;
    for (int i = 0; i < FOLDER_SLOTS; ++i) {
        if (!folder_used[i]) {
            std::memcpy(folder_paths[i], path.c_str(), path.size() + 1);
            folder_used[i] = kind;
            return;
        }
    }
}

void release_temp_folder(const std::string& path)
{
    for (int i = 0; i < FOLDER_SLOTS; ++i) {
        if (folder_used[i] && path == folder_paths[i])
            folder_used[i] = 0;
    }
}
