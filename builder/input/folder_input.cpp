// Folder input: the builder writes the ZIP itself. Entries are sorted, use '/' separators,
// and are compressed when they are written (file_compress.cpp); empty folders get directory
// entries so the stub creates them too.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <exception>
#include <memory>
#include <pthread.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "build_error.h"
#include "extra_field.h"
#include "input.h"
#include "names.h"
#include "printable.h"
#include "source_date.h"

namespace {

// A found file or empty folder, before it becomes an entry.
struct FolderItem {
    std::string relative;  // '/' separated, as found (UTF-8 on this system)
    WalkedFile file;       // where a file was found, to open that very file again
    struct stat st;        // what the walk saw: size, time, permissions
    bool directory;
};

// Entries of a folder are made on "MS-DOS" (host 0), version 2.0, with MS-DOS attributes.
enum : uint16_t { MADE_BY_DOS_20 = 20 };

// A folder open for the walk: its descriptor, real path (no links in it) and identity.
struct OpenFolder {
    int fd;
    std::string real;
    struct stat st;
};

// The walk's state. Every folder is read through the descriptor the walk opened, names in
// it are looked at without following links, and a link is followed only after its target
// proved to lie inside the input folder.
struct FolderWalk {
    std::string root;  // the input folder's real path
    std::string given;  // the input folder as given, for messages
    std::set<std::pair<dev_t, ino_t>> open_folders;  // the folders being walked: a link back is a loop
    size_t folders_walked = 0;
    size_t links_followed = 0;
    unsigned max_depth = MAX_FOLDER_DEPTH;
    // The relative path being looked at, '/' separated: one buffer for every level, so a deep
    // tree keeps one path, not one per level.
    std::string path;
    std::vector<FolderItem> items;
};

std::string real_path_of(const std::string& path, const std::string& relative)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr)
        fail(printable_name(relative) + ": broken symbolic link (" + std::strerror(errno) + ")");
    std::string result(real);
    std::free(real);
    return result;
}

bool is_inside(const std::string& target, const std::string& root)
{
    return target == root || (target.size() > root.size() && target.compare(0, root.size(), root) == 0 &&
                              (root == "/" || target[root.size()] == '/'));
}

// Follows the link `name` in `folder` to its target's real path; refuses a target outside
// the input folder and more than MAX_LINKS_FOLLOWED links in all (links that fan out, two
// per level to the next, would otherwise make 2^levels visits).
std::string follow_link(FolderWalk& walk, const OpenFolder& folder, const char* name, const std::string& relative)
{
    if (++walk.links_followed > MAX_LINKS_FOLLOWED)
        fail(printable_name(relative) + ": more than " + std::to_string(MAX_LINKS_FOLLOWED) +
             " symbolic links followed in " + printable(walk.given) + "; copy the files in instead of linking them");
    std::vector<char> text(4096);
    ssize_t n = ::readlinkat(folder.fd, name, text.data(), text.size());
    if (n < 0 || size_t(n) >= text.size())
        fail(printable_name(relative) + ": cannot read the symbolic link" +
             (n < 0 ? std::string(": ") + std::strerror(errno) : std::string(": its target is too long")));
    std::string target(text.data(), size_t(n));
    std::string real = real_path_of(target[0] == '/' ? target : folder.real + "/" + target, relative);
    if (!is_inside(real, walk.root))
        fail(printable_name(relative) + ": symbolic link to " + printable_name(real) +
             ", outside the folder; copy the file in or remove the link");
    return real;
}

WalkedFile walked_file(const OpenFolder& folder, const std::string& name, const struct stat& st)
{
    return WalkedFile{folder.real, name, uint64_t(folder.st.st_dev), uint64_t(folder.st.st_ino), uint64_t(st.st_dev),
                      uint64_t(st.st_ino)};
}

void walk_folder(FolderWalk& walk, const OpenFolder& folder, unsigned depth);

// Opens the folder at walk.path (by `fd`, for a link's target by its real path) and walks it.
void enter_folder(FolderWalk& walk, int fd, std::string real, unsigned depth)
{
    const std::string& relative = walk.path;
    OpenFolder inner{fd, std::move(real), {}};
    if (fd < 0 || ::fstat(fd, &inner.st) != 0) {
        int error = errno;
        if (fd >= 0)
            ::close(fd);
        fail("cannot read folder " + printable_name(relative) + ": " + std::strerror(error));
    }
    if (!walk.open_folders.insert({inner.st.st_dev, inner.st.st_ino}).second) {
        ::close(fd);
        fail(printable_name(relative) + ": symbolic link loop");
    }
    try {
        walk.path += '/';
        walk_folder(walk, inner, depth + 1);
    } catch (...) {
        ::close(fd);
        throw;
    }
    walk.open_folders.erase({inner.st.st_dev, inner.st.st_ino});
    ::close(fd);
}

// Looks at one name of `folder`, walk.path: a file is listed, a folder walked, a link followed.
void visit(FolderWalk& walk, const OpenFolder& folder, const char* name, unsigned depth)
{
    const std::string& relative = walk.path;
    struct stat st;
    if (::fstatat(folder.fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        fail("cannot read " + printable_name(relative) + ": " + std::strerror(errno));
    std::string real = folder.real + "/" + name;
    if (S_ISLNK(st.st_mode)) {
        real = follow_link(walk, folder, name, relative);
        if (::stat(real.c_str(), &st) != 0)
            fail("cannot read " + printable_name(relative) + ": " + std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) {
        if (++walk.folders_walked > MAX_FOLDERS_WALKED)
            fail(printable(walk.given) + ": more than " + std::to_string(MAX_FOLDERS_WALKED) +
                 " folders to walk (those reached through links count again); at " + printable_name(relative));
        // Every level adds at least a character and a '/': deeper, no name fits the stub.
        if (depth >= walk.max_depth)
            fail(printable_name(relative) + ": folders nested more than " + std::to_string(walk.max_depth) +
                 " deep; no name below could be extracted (names hold at most " +
                 std::to_string(walk.max_depth == MAX_FOLDER_DEPTH ? int(MAX_LONG_NAME_UNITS) : int(MAX_ENTRY_NAME)) +
                 " characters)");
        int fd = real == folder.real + "/" + name
                     ? ::openat(folder.fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                     : ::open(real.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        enter_folder(walk, fd, std::move(real), depth);
        return;
    }
    if (!S_ISREG(st.st_mode))
        fail(printable_name(relative) + ": neither a file nor a folder");
    if (walk.items.size() >= MAX_FOLDER_ENTRIES)
        fail(printable(walk.given) + ": more than " + std::to_string(MAX_FOLDER_ENTRIES) +
             " files and empty folders, the most the builder takes; at " + printable_name(relative));
    FolderItem item{relative, {}, st, false};
    if (real == folder.real + "/" + name) {
        item.file = walked_file(folder, name, st);
    } else {
        // A link's target: its own folder is opened by path when the file is read.
        std::string target_folder = real.substr(0, real.find_last_of('/'));
        struct stat folder_st;
        if (::stat(target_folder.empty() ? "/" : target_folder.c_str(), &folder_st) != 0)
            fail("cannot read " + printable_name(relative) + ": " + std::strerror(errno));
        item.file = walked_file(OpenFolder{-1, target_folder, folder_st}, real.substr(real.find_last_of('/') + 1), st);
    }
    walk.items.push_back(std::move(item));
}

// Walks the folder at walk.path (with its '/'; empty at the top), which it leaves as it found it.
void walk_folder(FolderWalk& walk, const OpenFolder& folder, unsigned depth)
{
    const size_t prefix = walk.path.size();
    // Made only for a message: a deep tree holds one walk_folder per level.
    auto label = [&] { return prefix == 0 ? printable(walk.given) : printable_name(walk.path.substr(0, prefix)); };
    // fdopendir takes over the descriptor it is given, so it reads a copy.
    int copy = ::dup(folder.fd);
    DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (dir == nullptr) {
        int error = errno;
        if (copy >= 0)
            ::close(copy);
        fail("cannot read folder " + label() + ": " + std::strerror(error));
    }
    struct CloseDir {
        void operator()(DIR* d) const { ::closedir(d); }
    };
    std::unique_ptr<DIR, CloseDir> closer(dir);
    ::rewinddir(dir);
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
        if (names.size() > MAX_FOLDER_ENTRIES)
            fail("folder " + label() + " holds more than " + std::to_string(MAX_FOLDER_ENTRIES) +
                 " names, the most the builder takes");
    }
    if (errno != 0)
        fail("cannot read folder " + label() + ": " + std::strerror(errno));
    closer.reset();
    for (const std::string& name : names) {
        walk.path.resize(prefix);
        walk.path += name;
        visit(walk, folder, name.c_str(), depth);
    }
    walk.path.resize(prefix);
    if (names.empty() && prefix != 0) {
        if (walk.items.size() >= MAX_FOLDER_ENTRIES)
            fail(printable(walk.given) + ": more than " + std::to_string(MAX_FOLDER_ENTRIES) +
                 " files and empty folders, the most the builder takes; at " + label());
        walk.items.push_back(FolderItem{walk.path, {}, folder.st, true});
    }
}

// DOS date and time (local, or UTC capped by SOURCE_DATE_EPOCH: source_date.h); times
// outside 1980..2107 are clamped to the format's range.
void set_dos_time(ArchiveEntry& e, time_t modified)
{
    struct tm t;
    break_down_file_time(modified, t);
    if (t.tm_year < 80) {
        e.dos_date = (0 << 9) | (1 << 5) | 1;
        e.dos_time = 0;
        return;
    }
    if (t.tm_year > 207) {
        e.dos_date = uint16_t((127 << 9) | (12 << 5) | 31);
        e.dos_time = uint16_t((23 << 11) | (59 << 5) | 29);
        return;
    }
    e.dos_date = uint16_t((t.tm_year - 80) << 9 | (t.tm_mon + 1) << 5 | t.tm_mday);
    e.dos_time = uint16_t(t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec / 2);
}

// The true modification time, in both headers as Info-ZIP zip and 7-Zip write them, so the
// time is exact in every zone (the stub reads the local one): an extended timestamp (UTC
// seconds) from 1970 up to 2038-01-19, where its 32 bits mean the same to every reader; NTFS
// times (100 ns since 1601, modification time in all three) outside that range, which no
// reader can take for another century. A time before 1601 keeps the DOS time alone.
// The block cannot outgrow its 16-bit length: the walk's depth limit keeps a folder's names
// (and the Unicode Path field beside this record) far below it.
void add_exact_time(ArchiveEntry& e, time_t modified)
{
    time_t t = capped_file_time(modified);
    if (t >= 0 && t <= INT32_MAX) {
        uint8_t field[4 + UNIX_TIME_FIELD_SIZE];
        put_u16(field, EXTRA_UNIX_TIME);
        put_u16(field + 2, UNIX_TIME_FIELD_SIZE);
        field[4] = UNIX_TIME_HAS_MTIME;
        put_u32(field + 5, uint32_t(t));
        append_extra_record(e.local_extra, field, sizeof field);
        append_extra_record(e.central_extra, field, sizeof field);
        return;
    }
    // FILETIME: a signed 64-bit count of 100 ns from 1601; 0 means no time.
    const int64_t first_second = -FILETIME_UNIX_EPOCH / FILETIME_PER_SECOND;
    const int64_t last_second = (INT64_MAX - FILETIME_UNIX_EPOCH) / FILETIME_PER_SECOND;
    if (int64_t(t) <= first_second || int64_t(t) > last_second)
        return;
    int64_t ticks = unix_to_filetime(int64_t(t));
    uint8_t field[4 + NTFS_TIMES_FIELD_SIZE] = {};
    put_u16(field, EXTRA_NTFS_TIMES);
    put_u16(field + 2, NTFS_TIMES_FIELD_SIZE);
    put_u16(field + 8, NTFS_TIME_TAG);
    put_u16(field + 10, NTFS_TIMES_ATTRIBUTE_SIZE);
    for (int i = 0; i < 3; ++i)  // modification, access, creation
        put_u64(field + 12 + 8 * i, uint64_t(ticks));
    append_extra_record(e.local_extra, field, sizeof field);
    append_extra_record(e.central_extra, field, sizeof field);
}

// The name is settled with the ZIP input's names (settle_entry_names): converted to the
// stub's code page and checked against the Windows name rules.
ArchiveEntry make_entry(const FolderItem& item, const std::string& origin, const NameReading& reading)
{
    ArchiveEntry e;
    e.origin = origin;
    e.name = item.relative;
    std::string label = origin + ": entry \"" + printable_name(item.relative) + "\"";
    // A character of a file name here, but a folder separator to the stub.
    if (item.relative.find('\\') != std::string::npos)
        fail(label + ": the name holds a character Windows does not allow in file names ('\\')");
    e.unicode_name = decode_folder_name(item.relative, reading, label, &e.name_reading);
    e.version_made_by = MADE_BY_DOS_20;
    e.version_needed = 20;
    set_dos_time(e, item.st.st_mtime);
    add_exact_time(e, item.st.st_mtime);
    e.uncompressed_size = item.directory ? 0 : uint64_t(item.st.st_size);
    e.external_attributes = item.directory ? DOS_DIRECTORY : DOS_ARCHIVE;
    if (!(item.st.st_mode & S_IWUSR))
        e.external_attributes |= DOS_READ_ONLY;
    if (item.directory)
        return e;
    e.source_file = item.file;
    e.source_label = printable_name(item.relative);
    return e;
}

// Each level of the walk takes some hundred bytes of stack: the deepest tree needs more than
// the 8 MiB a main thread usually has, so the walk runs on a thread of its own whose stack
// has room for every level (reserved, not used, by the shallow trees of most inputs).
constexpr size_t WALK_STACK_PER_LEVEL = 4096;

struct WalkJob {
    FolderWalk* walk;
    const OpenFolder* root;
    std::exception_ptr error;
};

void* run_walk(void* argument)
{
    WalkJob* job = static_cast<WalkJob*>(argument);
    try {
        walk_folder(*job->walk, *job->root, 0);
    } catch (...) {
        job->error = std::current_exception();
    }
    return nullptr;
}

void walk_on_deep_stack(FolderWalk& walk, const OpenFolder& root)
{
    WalkJob job{&walk, &root, nullptr};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, size_t(walk.max_depth + 1) * WALK_STACK_PER_LEVEL);
    pthread_t thread;
    int error = ::pthread_create(&thread, &attributes, run_walk, &job);
    pthread_attr_destroy(&attributes);
    if (error != 0)
        fail("cannot start the walk of folder " + printable(walk.given) + ": " + std::strerror(error));
    ::pthread_join(thread, nullptr);
    if (job.error)
        std::rethrow_exception(job.error);
}

// The walk holds one descriptor for each level it is in: as many as the deepest tree needs,
// where the system allows that many.
void allow_descriptors_for_depth(unsigned depth)
{
    struct rlimit limit;
    rlim_t wanted = rlim_t(depth) + 64;  // the rest of the build's files
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= wanted)
        return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(limit.rlim_max, wanted);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

ArchiveInput read_input_folder(const std::string& path, const NameReading& reading, bool win9x)
{
    FolderWalk walk;
    walk.given = path;
    walk.max_depth = win9x ? MAX_FOLDER_DEPTH_WIN9X : MAX_FOLDER_DEPTH;
    allow_descriptors_for_depth(walk.max_depth);
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        fail("cannot read folder " + printable(path) + ": " + std::strerror(errno));
    char* real = ::realpath(path.c_str(), nullptr);
    walk.root = real != nullptr ? real : "";
    std::free(real);
    OpenFolder root{fd, walk.root, {}};
    if (walk.root.empty() || ::fstat(fd, &root.st) != 0) {
        int error = errno;
        ::close(fd);
        fail("cannot read folder " + printable(path) + ": " + std::strerror(error));
    }
    walk.open_folders.insert({root.st.st_dev, root.st.st_ino});
    try {
        walk_on_deep_stack(walk, root);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    std::vector<FolderItem>& items = walk.items;
    std::sort(items.begin(), items.end(),
              [](const FolderItem& a, const FolderItem& b) { return a.relative < b.relative; });

    ArchiveInput input;
    for (const FolderItem& item : items)
        input.entries.push_back(make_entry(item, path, reading));
    return input;
}
