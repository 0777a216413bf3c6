// Split packages on the builder's side: the volume table, the volumes' checks and one stream
// over the whole set.
#include "split_set.h"

#include <cerrno>
#include <cstring>

#include "build_error.h"
#include "byte_order.h"
#include "split_volumes.h"

std::vector<uint8_t> encode_split_table(const std::vector<SplitVolume>& volumes)
{
    std::vector<uint8_t> table;
    for (const SplitVolume& v : volumes) {
        size_t at = table.size();
        table.resize(at + SPLIT_ENTRY_FIXED_SIZE);
        put_u64(table.data() + at, v.size);
        std::memcpy(table.data() + at + 8, v.sha256.data(), SHA256_DIGEST_SIZE);
        table[at + 8 + SHA256_DIGEST_SIZE] = uint8_t(v.name.size());
        table.insert(table.end(), v.name.begin(), v.name.end());
        table.push_back(0);
    }
    uint8_t trailer[SPLIT_TRAILER_SIZE];
    put_u32(trailer, uint32_t(volumes.size()));
    put_u32(trailer + 4, uint32_t(table.size()));
    put_u32(trailer + 8, SPLIT_TRAILER_ID);
    table.insert(table.end(), trailer, trailer + sizeof trailer);
    return table;
}

static bool read_at(std::FILE* f, uint64_t offset, void* buffer, size_t size)
{
    return fseeko(f, off_t(offset), SEEK_SET) == 0 && std::fread(buffer, 1, size, f) == size;
}

// Each entry in turn: its fixed part, then a plain name that stays inside the entries.
static std::string decode_entries(const std::vector<uint8_t>& bytes, uint32_t count, std::vector<SplitVolume>& volumes)
{
    size_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes.size() - at < SPLIT_ENTRY_FIXED_SIZE)
            return "volume table: entry " + std::to_string(i + 1) + " runs past the table";
        SplitVolume v;
        v.size = get_u64(bytes.data() + at);
        std::memcpy(v.sha256.data(), bytes.data() + at + 8, SHA256_DIGEST_SIZE);
        unsigned length = bytes[at + 8 + SHA256_DIGEST_SIZE];
        at += SPLIT_ENTRY_FIXED_SIZE;
        if (bytes.size() - at <= length || !is_plain_volume_name(bytes.data() + at, length) || bytes[at + length] != 0)
            return "volume table: entry " + std::to_string(i + 1) + " has no plain file name";
        v.name.assign(reinterpret_cast<const char*>(bytes.data() + at), length);
        at += length + 1;
        volumes.push_back(v);
    }
    return at == bytes.size() ? "" : "volume table: bytes left behind its last entry";
}

std::string read_split_table(std::FILE* f, uint64_t config_offset, std::vector<SplitVolume>& volumes)
{
    volumes.clear();
    uint8_t trailer[SPLIT_TRAILER_SIZE];
    if (config_offset < SPLIT_TRAILER_SIZE || !read_at(f, config_offset - SPLIT_TRAILER_SIZE, trailer, sizeof trailer) ||
        get_u32(trailer + 8) != SPLIT_TRAILER_ID)
        return "no volume table in front of the configuration block";
    uint32_t count = get_u32(trailer), size = get_u32(trailer + 4);
    if (count == 0 || count > SPLIT_VOLUMES_MAX || size > SPLIT_TABLE_MAX || size > config_offset - SPLIT_TRAILER_SIZE)
        return "volume table: " + std::to_string(count) + " volumes in " + std::to_string(size) + " bytes";
    std::vector<uint8_t> bytes(size);
    if (!read_at(f, config_offset - SPLIT_TRAILER_SIZE - size, bytes.data(), size))
        return "volume table unreadable";
    return decode_entries(bytes, count, volumes);
}

SplitVolume hash_volume_file(const std::string& path)
{
    FilePtr f = open_regular_file(path, "volume");
    Sha256 hash;
    sha256_start(&hash);
    static uint8_t chunk[1 << 16];
    SplitVolume v;
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) {
        sha256_add(&hash, chunk, n);
        v.size += n;
    }
    if (std::ferror(f.get()))
        fail("cannot read volume " + path + ": " + std::strerror(errno));
    sha256_finish(&hash, v.sha256.data());
    v.name = path.substr(path.find_last_of('/') + 1);
    return v;
}

std::string folder_of_path(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string check_split_volumes(const std::string& folder, const std::vector<SplitVolume>& volumes)
{
    for (const SplitVolume& v : volumes) {
        std::string path = folder + "/" + v.name;
        std::FILE* probe = std::fopen(path.c_str(), "rb");
        if (probe == nullptr)
            return "volume " + v.name + " is missing beside the program";
        std::fclose(probe);
        SplitVolume found;
        try {
            found = hash_volume_file(path);
        } catch (const BuildError& e) {
            return e.message();
        }
        if (found.size != v.size)
            return "volume " + v.name + " has " + std::to_string(found.size) + " bytes, the package expects " +
                   std::to_string(v.size) + " (damaged or replaced)";
        if (found.sha256 != v.sha256)
            return "volume " + v.name + ": its SHA-256 differs from the package's (damaged or replaced)";
    }
    return "";
}

// --- one stream over the set -----------------------------------------------------------------

namespace {

struct Piece {
    std::FILE* file;
    uint64_t start;  // where it begins in the stream
    uint64_t size;
};

struct SplitStream {
    std::vector<Piece> pieces;
    uint64_t size = 0;
    uint64_t position = 0;
};

ssize_t read_stream(void* cookie, char* buffer, size_t size)
{
    SplitStream& s = *static_cast<SplitStream*>(cookie);
    size_t done = 0;
    for (const Piece& p : s.pieces) {
        if (done == size || s.position >= s.size)
            break;
        if (s.position >= p.start + p.size || s.position < p.start)
            continue;
        uint64_t inside = s.position - p.start;
        size_t want = size_t(std::min<uint64_t>(size - done, p.size - inside));
        if (fseeko(p.file, off_t(inside), SEEK_SET) != 0)
            return -1;
        size_t got = std::fread(buffer + done, 1, want, p.file);
        done += got;
        s.position += got;
        if (got != want)
            return std::ferror(p.file) ? -1 : ssize_t(done);
    }
    return ssize_t(done);
}

int seek_stream(void* cookie, off64_t* offset, int whence)
{
    SplitStream& s = *static_cast<SplitStream*>(cookie);
    int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? int64_t(s.position) : int64_t(s.size);
    if (base + *offset < 0)
        return -1;
    s.position = uint64_t(base + *offset);
    *offset = off64_t(s.position);
    return 0;
}

int close_stream(void* cookie)
{
    SplitStream* s = static_cast<SplitStream*>(cookie);
    for (const Piece& p : s->pieces)
        std::fclose(p.file);
    delete s;
    return 0;
}

}  // namespace

FilePtr open_split_stream(const std::string& program, uint64_t archive_offset, const std::string& folder,
                          const std::vector<SplitVolume>& volumes, std::string& error)
{
    SplitStream* s = new SplitStream;
    auto add = [&](const std::string& path, uint64_t size) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr) {
            error = "cannot open " + path + ": " + std::strerror(errno);
            return false;
        }
        s->pieces.push_back({f, s->size, size});
        s->size += size;
        return true;
    };
    bool opened = add(program, archive_offset);
    for (size_t i = 0; opened && i < volumes.size(); ++i)
        opened = add(folder + "/" + volumes[i].name, volumes[i].size);
    if (!opened) {
        close_stream(s);
        return FilePtr(nullptr, std::fclose);
    }
    cookie_io_functions_t calls{read_stream, nullptr, seek_stream, close_stream};
    return FilePtr(fopencookie(s, "rb", calls), std::fclose);
}
