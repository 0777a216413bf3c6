// Folder input: the builder writes the ZIP itself. Entries are sorted, use '/' separators,
// and are compressed with libdeflate at its strongest level (stored when that does not
// help); empty folders get directory entries so the stub creates them too.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <libdeflate.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <zlib.h>

#include "build_error.h"
#include "input.h"
#include "names.h"

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

// Files up to this size are compressed in memory with libdeflate; larger ones are streamed
// through zlib into a temporary file, so memory stays bounded.
constexpr uint64_t IN_MEMORY_LIMIT = 64u << 20;

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

// DOS date and time in local time, odd seconds rounded up to the next even one as zip
// does; times outside 1980..2107 are clamped to the format's range.
void set_dos_time(ArchiveEntry& e, time_t modified)
{
    time_t even = (modified + 1) & ~time_t(1);
    struct tm t;
    localtime_r(&even, &t);
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

using FilePtr = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

FilePtr open_source(const fs::path& source, const std::string& name)
{
    FilePtr f(std::fopen(source.c_str(), "rb"), std::fclose);
    if (!f)
        fail("cannot read " + name + ": " + std::strerror(errno));
    return f;
}

PayloadReader buffer_reader(std::shared_ptr<std::vector<uint8_t>> data)
{
    auto at = std::make_shared<size_t>(0);
    return [data, at](uint8_t* buffer, size_t capacity) {
        size_t n = std::min(capacity, data->size() - *at);
        std::memcpy(buffer, data->data() + *at, n);
        *at += n;
        return n;
    };
}

PayloadReader file_reader(std::shared_ptr<std::FILE> file, const std::string& name)
{
    return [file, name](uint8_t* buffer, size_t capacity) {
        size_t n = std::fread(buffer, 1, capacity, file.get());
        if (n == 0 && std::ferror(file.get()))
            fail("cannot read " + name);
        return n;
    };
}

PayloadReader compress_in_memory(ArchiveEntry& e, const fs::path& source, const std::string& name, uint64_t size)
{
    auto plain = std::make_shared<std::vector<uint8_t>>(size_t(size) + 1);
    FilePtr f = open_source(source, name);
    size_t got = std::fread(plain->data(), 1, plain->size(), f.get());
    if (got != size)
        fail(name + " changed while it was being read");
    plain->resize(got);
    e.crc32 = uint32_t(crc32_z(crc32_z(0, nullptr, 0), plain->data(), plain->size()));
    e.uncompressed_size = got;

    static std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(12), libdeflate_free_compressor);
    auto packed = std::make_shared<std::vector<uint8_t>>(got);
    // Output space of size - 1 makes libdeflate give up as soon as Deflate would not save.
    size_t packed_size = got > 1 ? libdeflate_deflate_compress(compressor.get(), plain->data(), got, packed->data(),
                                                               got - 1)
                                 : 0;
    if (packed_size == 0) {
        e.method = METHOD_STORED;
        e.compressed_size = got;
        return buffer_reader(plain);
    }
    packed->resize(packed_size);
    e.method = METHOD_DEFLATE;
    e.compressed_size = packed_size;
    return buffer_reader(packed);
}

PayloadReader compress_streaming(ArchiveEntry& e, const fs::path& source, const std::string& name, uint64_t size)
{
    FilePtr f = open_source(source, name);
    std::shared_ptr<std::FILE> packed(std::tmpfile(), std::fclose);
    if (!packed)
        fail("cannot create a temporary file: " + std::string(std::strerror(errno)));
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    static uint8_t in[1 << 16], out[1 << 16];
    uint32_t crc = uint32_t(crc32_z(0, nullptr, 0));
    uint64_t total = 0;
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        size_t n = std::fread(in, 1, sizeof in, f.get());
        flush = n < sizeof in ? Z_FINISH : Z_NO_FLUSH;
        crc = uint32_t(crc32_z(crc, in, n));
        total += n;
        z.next_in = in;
        z.avail_in = uInt(n);
        do {
            z.next_out = out;
            z.avail_out = sizeof out;
            deflate(&z, flush);
            std::fwrite(out, 1, sizeof out - z.avail_out, packed.get());
        } while (z.avail_out == 0);
    }
    uint64_t packed_size = z.total_out;
    deflateEnd(&z);
    if (total != size || std::ferror(packed.get()))
        fail(name + " changed while it was being read, or the temporary file failed");
    e.crc32 = crc;
    e.uncompressed_size = total;
    if (packed_size >= total) {
        e.method = METHOD_STORED;
        e.compressed_size = total;
        return file_reader(std::shared_ptr<std::FILE>(open_source(source, name).release(), std::fclose), name);
    }
    std::rewind(packed.get());
    e.method = METHOD_DEFLATE;
    e.compressed_size = packed_size;
    return file_reader(packed, name);
}

// The name is settled with the ZIP input's names (settle_entry_names): converted to the
// stub's code page and checked against the Windows name rules.
ArchiveEntry make_entry(const FolderItem& item, const std::string& origin, const std::string& input_codepage)
{
    ArchiveEntry e;
    e.origin = origin;
    e.name = item.relative;
    std::string label = origin + ": entry \"" + printable_name(item.relative) + "\"";
    // A character of a file name here, but a folder separator to the stub.
    if (item.relative.find('\\') != std::string::npos)
        fail(label + ": the name holds a character Windows does not allow in file names ('\\')");
    e.unicode_name = decode_folder_name(item.relative, input_codepage, label);
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
    fs::path source = item.source;
    std::string name = printable_name(item.relative);  // for messages
    uint64_t size = e.uncompressed_size;
    e.open_payload = [source, name, size](ArchiveEntry& entry) {
        return size <= IN_MEMORY_LIMIT ? compress_in_memory(entry, source, name, size)
                                       : compress_streaming(entry, source, name, size);
    };
    return e;
}

}  // namespace

ArchiveInput read_input_folder(const std::string& path, const std::string& input_codepage)
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
        input.entries.push_back(make_entry(item, path, input_codepage));
        total += input.entries.back().uncompressed_size;
    }
    if (total > 0xFFFFFFFFu)
        fail("the files add up to " + std::to_string(total) + " bytes; the stub's progress counter holds at most 4 GiB - 1");
    return input;
}
