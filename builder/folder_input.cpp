// Folder input: the builder writes the ZIP itself. Entries are sorted, use '/' separators,
// and are compressed when they are written (file_compress.cpp); empty folders get directory
// entries so the stub creates them too.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <sys/stat.h>

#include "build_error.h"
#include "input.h"
#include "names.h"
#include "source_date.h"

namespace fs = std::filesystem;

namespace {

// A found file or empty folder, before it becomes an entry.
struct FolderItem {
    std::string relative;  // '/' separated, as found (UTF-8 on this system)
    fs::path source;
    bool directory;
};

// MS-DOS attribute bits for the external attributes of entries made on "MS-DOS" (host 0).
enum : uint32_t { DOS_READ_ONLY = 0x01, DOS_DIRECTORY = 0x10, DOS_ARCHIVE = 0x20 };
enum : uint16_t { MADE_BY_DOS_20 = 20 };

bool is_inside(const fs::path& target, const fs::path& root)
{
    auto mismatch = std::mismatch(root.begin(), root.end(), target.begin(), target.end());
    return mismatch.first == root.end();
}

// Follows a symbolic link that stays inside the folder; refuses others.
fs::path resolve_link(const fs::path& link, const fs::path& root, const std::string& relative)
{
    std::error_code ec;
    fs::path target = fs::canonical(link, ec);
    if (ec)
        fail(printable_name(relative) + ": broken symbolic link");
    if (!is_inside(target, root))
        fail(printable_name(relative) + ": symbolic link to " + printable_name(target.string()) +
             ", outside the folder; copy the file in or remove the link");
    return target;
}

void collect(const fs::path& folder, const std::string& prefix, const fs::path& root, std::set<fs::path>& open_folders,
             std::vector<FolderItem>& items)
{
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    if (ec)
        fail("cannot read folder " + folder.string() + ": " + ec.message());
    bool empty = true;
    for (; it != end; it.increment(ec)) {
        empty = false;
        std::string relative = prefix + it->path().filename().string();
        fs::path source = it->path();
        fs::file_status status = it->symlink_status();
        if (fs::is_symlink(status)) {
            source = resolve_link(source, root, relative);
            status = fs::status(source);
        }
        if (fs::is_directory(status)) {
            fs::path real = fs::canonical(source);
            if (!open_folders.insert(real).second)
                fail(printable_name(relative) + ": symbolic link loop");
            collect(source, relative + "/", root, open_folders, items);
            open_folders.erase(real);
        } else if (fs::is_regular_file(status)) {
            items.push_back(FolderItem{relative, source, false});
        } else {
            fail(printable_name(relative) + ": neither a file nor a folder");
        }
    }
    if (ec)
        fail("cannot read folder " + folder.string() + ": " + ec.message());
    if (empty && !prefix.empty())
        items.push_back(FolderItem{prefix, folder, true});
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
    struct stat st;
    if (::stat(item.source.c_str(), &st) != 0)
        fail("cannot read " + printable_name(item.relative) + ": " + std::strerror(errno));
    e.version_made_by = MADE_BY_DOS_20;
    e.version_needed = 20;
    set_dos_time(e, st.st_mtime);
    e.uncompressed_size = item.directory ? 0 : uint64_t(st.st_size);
    e.external_attributes = item.directory ? DOS_DIRECTORY : DOS_ARCHIVE;
    if (!(st.st_mode & S_IWUSR))
        e.external_attributes |= DOS_READ_ONLY;
    if (item.directory)
        return e;
    e.source_path = item.source.string();
    e.source_label = printable_name(item.relative);
    return e;
}

}  // namespace

ArchiveInput read_input_folder(const std::string& path, const NameReading& reading)
{
    std::error_code ec;
    fs::path root = fs::canonical(path, ec);
    if (ec)
        fail("cannot read folder " + path + ": " + ec.message());
    std::set<fs::path> open_folders{root};
    std::vector<FolderItem> items;
    collect(root, "", root, open_folders, items);
    std::sort(items.begin(), items.end(),
              [](const FolderItem& a, const FolderItem& b) { return a.relative < b.relative; });

    ArchiveInput input;
    uint64_t total = 0;
    for (const FolderItem& item : items) {
        input.entries.push_back(make_entry(item, path, reading));
        total += input.entries.back().uncompressed_size;
    }
    if (total > 0xFFFFFFFFu)
        fail("the files add up to " + std::to_string(total) + " bytes; the stub's progress counter holds at most 4 GiB - 1");
    return input;
}
