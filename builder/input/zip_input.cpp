// Input ZIP archives. libzip opens the archive, cross-checks it and hands out each entry's
// raw (still compressed, still encrypted) data; the builder never recompresses an entry.
// libzip normalises some header fields (it converts the DOS time, drops flags and several
// extra fields), so the central directory and local headers are also parsed here and their
// fields kept byte for byte.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <unistd.h>
#include <zip.h>

#include "build_error.h"
#include "byte_buffer.h"
#include "entry_data_check.h"
#include "extra_field.h"
#include "input.h"
#include "input_file.h"
#include "printable.h"
#include "format/zip_format.h"
#include "names.h"

namespace {

// The most output one compressed byte can give: Deflate codes a 258-byte match in two bits
// at best (a one-bit length code, a one-bit distance code), so 258 * 8 / 2 = 1032 bytes per
// byte. Deflate64's length code 285 carries 16 extra bits for up to 65,538 bytes, so at
// best 18 bits give 65,538 bytes: 65,538 * 8 / 18 < 29,128. An entry claiming more than
// this from its compressed size cannot be what its method produces.
constexpr uint64_t DEFLATE_MAX_RATIO = 1032;
constexpr uint64_t DEFLATE64_MAX_RATIO = 29128;
// LZMA: a probability saturates at 2017/2048, so a binary decision costs at least
// log2(2048/2017) = 0.022 bits; the longest output per decision is a 273-byte rep match in 14
// decisions (is_match, is_rep, is_rep0, is_rep0_long, two length choices, 8 length bits):
// 273 * 8 / (14 * 0.022) < 7,100 bytes per byte.
constexpr uint64_t LZMA_MAX_RATIO = 7100;

using ZipPtr = std::shared_ptr<zip_t>;

// The end record's facts, from the ZIP64 end record where the archive has one.
struct EndRecord {
    uint64_t position;  // where it was found
    uint64_t directory_end;  // where the central directory ends: the ZIP64 end record, else the end record
    uint32_t disk, directory_disk;
    uint64_t entries_here, entries_total;
    uint64_t directory_size, directory_offset;
    std::vector<uint8_t> comment;
};

std::vector<uint8_t> read_at(std::FILE* f, uint64_t offset, size_t size, const std::string& what)
{
    std::vector<uint8_t> bytes(size);
    if (fseeko(f, off_t(offset), SEEK_SET) != 0 || std::fread(bytes.data(), 1, size, f) != size)
        fail(std::ferror(f) ? what + " (" + std::strerror(errno) + ")" : what);
    return bytes;
}

// The end record is the last "PK 5 6" whose comment fits in the rest of the file.
EndRecord find_end_record(std::FILE* f, uint64_t file_size, const std::string& path)
{
    uint64_t tail_size = std::min<uint64_t>(file_size, 0xFFFF + END_RECORD_SIZE);
    std::vector<uint8_t> tail = read_at(f, file_size - tail_size, size_t(tail_size), "cannot read " + path);
    for (size_t i = tail.size() >= END_RECORD_SIZE ? tail.size() - END_RECORD_SIZE + 1 : 0; i-- > 0;) {
        const uint8_t* r = tail.data() + i;
        if (get_u32(r) != SIG_END || i + END_RECORD_SIZE + get_u16(r + 20) > tail.size())
            continue;
        EndRecord end;
        end.position = file_size - tail_size + i;
        end.directory_end = end.position;
        end.disk = get_u16(r + 4);
        end.directory_disk = get_u16(r + 6);
        end.entries_here = get_u16(r + 8);
        end.entries_total = get_u16(r + 10);
        end.directory_size = get_u32(r + 12);
        end.directory_offset = get_u32(r + 16);
        end.comment.assign(r + END_RECORD_SIZE, r + END_RECORD_SIZE + get_u16(r + 20));
        return end;
    }
    fail(path + ": not a ZIP archive (no end of central directory record)");
}

// The ZIP64 end record the locator in front of the end record points to. Its offset counts
// from the archive's start, so in an archive behind other bytes it is also looked for where
// writers put it, right in front of the locator.
void read_zip64_end_record(std::FILE* f, EndRecord& end, const std::string& path)
{
    uint64_t locator_at = end.position - ZIP64_LOCATOR_SIZE;
    std::vector<uint8_t> locator = read_at(f, locator_at, ZIP64_LOCATOR_SIZE, "cannot read " + path);
    uint64_t places[2] = {get_u64(locator.data() + 8), locator_at - std::min<uint64_t>(locator_at, ZIP64_END_RECORD_SIZE)};
    for (uint64_t at : places) {
        if (at + ZIP64_END_RECORD_SIZE > locator_at)
            continue;
        std::vector<uint8_t> r = read_at(f, at, ZIP64_END_RECORD_SIZE, "cannot read " + path);
        if (get_u32(r.data()) != SIG_ZIP64_END)
            continue;
        end.directory_end = at;
        end.disk = get_u32(r.data() + 16);
        end.directory_disk = get_u32(r.data() + 20);
        end.entries_here = get_u64(r.data() + 24);
        end.entries_total = get_u64(r.data() + 32);
        end.directory_size = get_u64(r.data() + 40);
        end.directory_offset = get_u64(r.data() + 48);
        return;
    }
    fail(path + ": damaged ZIP64 archive (its locator points to no ZIP64 end record)");
}

void check_end_record(std::FILE* f, EndRecord& end, const std::string& path)
{
    bool zip64_locator = false;
    if (end.position >= ZIP64_LOCATOR_SIZE) {
        std::vector<uint8_t> locator = read_at(f, end.position - ZIP64_LOCATOR_SIZE, 4, "cannot read " + path);
        zip64_locator = get_u32(locator.data()) == SIG_ZIP64_LOCATOR;
    }
    // 0xFFFF entries is a real count unless a ZIP64 locator says otherwise: the builder itself
    // writes it for exactly 65,535 entries.
    if (zip64_locator)
        read_zip64_end_record(f, end, path);
    else if (end.directory_size == ZIP64_MARK_32 || end.directory_offset == ZIP64_MARK_32)
        fail(path + ": damaged ZIP64 archive (the end record defers to a ZIP64 end record that is not there)");
    if (end.disk != 0 || end.directory_disk != 0 || end.entries_here != end.entries_total)
        fail(path + ": multi-disk (spanned or split) archives are not supported as input");
    if (end.directory_size > end.directory_end || end.directory_offset > end.directory_end - end.directory_size)
        fail(path + ": damaged ZIP (the central directory overlaps its end record)");
    if (end.entries_total > end.directory_size / CENTRAL_HEADER_SIZE)
        fail(path + ": damaged ZIP (a central directory of " + std::to_string(end.directory_size) +
             " bytes cannot hold its " + std::to_string(end.entries_total) + " entries)");
}

// Splits an extra field block into records, dropping ZIP64 ones (the writer makes its own
// where an entry needs one, for the sizes and offsets of the package). A block that does not
// parse as records is kept as it is. Sets `has_zip64` / `has_aes` when those occur.
std::vector<uint8_t> filter_extra(const std::vector<uint8_t>& extra, bool& has_zip64, bool& has_aes)
{
    std::vector<uint8_t> kept;
    bool parsed = for_each_extra(extra, [&](uint16_t id, const uint8_t*, size_t size, size_t at) {
        has_zip64 |= id == EXTRA_ZIP64;
        has_aes |= id == EXTRA_AES;
        if (id != EXTRA_ZIP64)
            kept.insert(kept.end(), extra.begin() + long(at), extra.begin() + long(at + 4 + size));
    });
    return parsed ? kept : extra;
}

// The raw fields of one central directory record; returns its size.
size_t parse_central_header(const std::vector<uint8_t>& dir, size_t at, ArchiveEntry& e, uint64_t& local_offset,
                            bool& zip64, const std::string& path)
{
    if (at + CENTRAL_HEADER_SIZE > dir.size() || get_u32(dir.data() + at) != SIG_CENTRAL)
        fail(path + ": damaged ZIP (bad central directory record at offset " + std::to_string(at) + ")");
    const uint8_t* h = dir.data() + at;
    size_t name_size = get_u16(h + 28), extra_size = get_u16(h + 30), comment_size = get_u16(h + 32);
    size_t total = CENTRAL_HEADER_SIZE + name_size + extra_size + comment_size;
    if (at + total > dir.size())
        fail(path + ": damaged ZIP (central directory record runs past its end)");
    e.version_made_by = get_u16(h + 4);
    e.version_needed = get_u16(h + 6);
    e.gp_flags = get_u16(h + 8);
    e.method = get_u16(h + 10);
    e.dos_time = get_u16(h + 12);
    e.dos_date = get_u16(h + 14);
    e.crc32 = get_u32(h + 16);
    e.compressed_size = get_u32(h + 20);
    e.uncompressed_size = get_u32(h + 24);
    e.internal_attributes = get_u16(h + 36);
    e.external_attributes = get_u32(h + 38);
    local_offset = get_u32(h + 42);
    e.name.assign(reinterpret_cast<const char*>(h + 46), name_size);
    std::vector<uint8_t> extra(h + 46 + name_size, h + 46 + name_size + extra_size);
    take_zip64_values(extra, e.uncompressed_size, e.compressed_size, &local_offset);
    bool aes = false;
    e.central_extra = filter_extra(extra, zip64, aes);
    if (aes)
        e.method = METHOD_AES;
    e.comment_size = uint16_t(comment_size);
    return total;
}

// A folder may be marked by the MS-DOS directory attribute alone, without a trailing '/': an
// entry with no data from a system that keeps MS-DOS attributes.
bool is_folder_by_attribute(const ArchiveEntry& e)
{
    uint8_t host = uint8_t(e.version_made_by >> 8);
    bool dos_attributes = host == HOST_MSDOS || host == HOST_NTFS || host == HOST_INFOZIP_NTFS || host == HOST_VFAT;
    return dos_attributes && (e.external_attributes & DOS_DIRECTORY) && e.uncompressed_size == 0;
}

// Such a folder's name ends in '/' in the package, as the stub and every reader know folders:
// the Unicode name gets it as soon as it is known, the stored bytes once libzip has been
// compared with them.
void name_folder_by_attribute(ArchiveEntry& e)
{
    if (is_folder_by_attribute(e) && !e.unicode_name.empty() && !is_name_separator(e.unicode_name.back()))
        e.unicode_name += '/';
}

bool is_symbolic_link(const ArchiveEntry& e)
{
    uint8_t host = uint8_t(e.version_made_by >> 8);
    return (host == HOST_UNIX || host == HOST_DARWIN) &&
           ((e.external_attributes >> 16) & UNIX_TYPE_MASK) == UNIX_SYMBOLIC_LINK;
}

// Names reach the terminal escaped; once known, as the Unicode name.
std::string entry_label(const ArchiveEntry& e)
{
    return "entry \"" + printable_name(e.unicode_name.empty() ? e.name : e.unicode_name) + "\"";
}

// The AES record the stub will read: the local header's once it has been read, the central
// directory's before.
AesRecord entry_aes_record(const ArchiveEntry& e)
{
    return find_aes_record(e.local_extra.empty() ? e.central_extra : e.local_extra);
}

// The method the data is compressed with: inside an AES entry, the one its record names.
uint16_t real_method(const ArchiveEntry& e)
{
    return e.method == METHOD_AES ? entry_aes_record(e).method : e.method;
}

// An AES entry (method 99) must carry a record the stub can use; its data is copied as it is.
void check_aes_entry(const ArchiveEntry& e, const std::string& label)
{
    AesRecord aes = entry_aes_record(e);
    if (!aes.found)
        fail(label + " has method 99 (AES) but no AES extra field (0x9901); the stub cannot decrypt it");
    if (!e.encrypted())
        fail(label + " has method 99 (AES) but is not marked encrypted (flag bit 0)");
    if (aes.version >= AES_VERSION_AE1 && aes.version <= AES_VERSION_AE2 && !aes.vendor_ae)
        fail(label + " has an AES extra field whose vendor ID is not \"AE\"; the stub decrypts only the AES "
             "entries of that vendor ID (AE-1 and AE-2)");
    if (aes.size != AES_EXTRA_SIZE)
        fail(label + ": its AES extra field (0x9901) holds " + std::to_string(aes.size) + " bytes instead of " +
             std::to_string(AES_EXTRA_SIZE) + "; the stub cannot decrypt it");
    if (!aes.usable())
        fail(label + " uses an AES extra field of vendor version " + std::to_string(aes.version) + " and strength " +
             std::to_string(aes.strength) + "; the stub decrypts AE-1 and AE-2 with strength 1, 2 or 3 (AES-128/192/256)");
    if (e.compressed_size < aes_overhead(aes.strength))
        fail(label + ": its " + std::to_string(e.compressed_size) +
             " data bytes cannot hold the salt, password verifier and authentication code of AES-" +
             std::to_string(aes.key_bits()));
}

// What the stub cannot extract is refused here, naming the entry.
void check_entry_supported(const ArchiveEntry& e, const std::string& path)
{
    if (e.name.empty())
        fail(path + ": an entry has an empty name");
    std::string label = path + ": " + entry_label(e);
    if (e.gp_flags & (GP_STRONG_ENCRYPTION | GP_ENCRYPTED_DIRECTORY))
        fail(label + " uses strong encryption, which the stub cannot decrypt; re-encrypt it with AES (or --password)");
    if (e.method == METHOD_AES)
        check_aes_entry(e, label);
    uint16_t method = real_method(e);
    if (method != METHOD_STORED && method != METHOD_DEFLATE && method != METHOD_DEFLATE64 && method != METHOD_LZMA)
        fail(label + " uses compression method " + std::to_string(method) +
             "; the stub extracts only stored, Deflate, Deflate64 and LZMA");
}

// One central directory record with what the checks need beside the entry.
struct CentralItem {
    ArchiveEntry entry;
    uint16_t central_flags = 0;  // the local header's flags replace the entry's
    uint64_t local_offset = 0;  // as stored, before the shift of bytes in front of the archive
    uint64_t header_offset = 0; // absolute, once the local header has been read
    uint64_t data_offset = 0;
    uint64_t comment_offset = 0;  // absolute, where the central record's comment lies
    bool zip64 = false;  // the local header has a ZIP64 record
};

// Reads the central directory record by record, so a directory that claims more than the
// file holds is refused at its first bad record and never read into memory whole. Its
// records must fill exactly the size the end record gives.
std::vector<CentralItem> read_central_directory(std::FILE* f, uint64_t start, const EndRecord& end,
                                                const std::string& path)
{
    std::vector<CentralItem> items(end.entries_total);
    uint64_t at = 0;
    std::vector<uint8_t> record(CENTRAL_HEADER_SIZE);
    // One seek, then reads in order, which the stream buffers.
    if (fseeko(f, off_t(start), SEEK_SET) != 0)
        fail(path + ": damaged ZIP (central directory unreadable)");
    for (CentralItem& item : items) {
        auto ends_inside = [&] {
            fail(path + ": damaged ZIP (the central directory ends inside record " +
                 std::to_string(&item - items.data() + 1) + " of " + std::to_string(end.entries_total) + ")");
        };
        record.resize(CENTRAL_HEADER_SIZE);
        if (at + CENTRAL_HEADER_SIZE > end.directory_size ||
            std::fread(record.data(), 1, CENTRAL_HEADER_SIZE, f) != CENTRAL_HEADER_SIZE)
            ends_inside();
        size_t rest = size_t(get_u16(record.data() + 28)) + get_u16(record.data() + 30) + get_u16(record.data() + 32);
        record.resize(CENTRAL_HEADER_SIZE + rest);
        if (at + CENTRAL_HEADER_SIZE + rest > end.directory_size ||
            std::fread(record.data() + CENTRAL_HEADER_SIZE, 1, rest, f) != rest)
            ends_inside();
        item.entry.origin = path;
        item.comment_offset = start + at + record.size() - get_u16(record.data() + 32);
        at += parse_central_header(record, 0, item.entry, item.local_offset, item.zip64, path);
        item.central_flags = item.entry.gp_flags;
    }
    if (at != end.directory_size)
        fail(path + ": damaged ZIP (" + std::to_string(end.directory_size - at) +
             " bytes of the central directory follow its " + std::to_string(end.entries_total) + " entries)");
    return items;
}

// Names Windows would see as one file (also those differing only in case), as the central
// directory gives them, so a name repeated thousands of times is refused before anything
// else is read. A name only a local header's Unicode Path field makes readable is left to
// the check of all names once the local headers are read (settle_entry_names).
void refuse_central_name_collisions(std::vector<CentralItem>& items, const NameReading& reading,
                                    const std::string& path)
{
    // Names only: extra fields may take 64 KB an entry.
    std::vector<ArchiveEntry> named(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        ArchiveEntry& e = items[i].entry;
        try {
            e.unicode_name = decode_zip_name(e.name, e.gp_flags, e.version_made_by, {&e.central_extra}, reading,
                                             path + ": " + entry_label(e));
        } catch (const BuildError&) {
            e.unicode_name.clear();
        }
        name_folder_by_attribute(e);
        named[i].origin = e.origin;
        named[i].name = e.name;
        named[i].unicode_name = e.unicode_name;
    }
    refuse_name_collisions(named);
}

// Sizes the method cannot give: a stored entry holds its bytes as they are (plus what the
// encryption adds: 12 bytes, or salt, verifier and code of AES), and Deflate cannot expand one
// byte into more than its maximal ratio.
void check_sizes_for_method(const ArchiveEntry& e, const std::string& path)
{
    uint16_t method = real_method(e);
    uint64_t header = e.method == METHOD_AES ? aes_overhead(entry_aes_record(e).strength)
                      : e.encrypted()        ? ENCRYPTION_HEADER_SIZE
                                             : 0;
    if (method == METHOD_STORED && e.compressed_size != e.uncompressed_size + header)
        fail(path + ": " + entry_label(e) + " is stored, yet its compressed size " + std::to_string(e.compressed_size) +
             " is not its size " + std::to_string(e.uncompressed_size) +
             (header ? " plus " + std::to_string(header) : std::string()));
    uint64_t ratio = method == METHOD_DEFLATE64 ? DEFLATE64_MAX_RATIO
                     : method == METHOD_LZMA    ? LZMA_MAX_RATIO
                                                : DEFLATE_MAX_RATIO;
    if (method != METHOD_STORED && e.uncompressed_size > e.compressed_size * ratio)
        fail(path + ": " + entry_label(e) + " claims " + std::to_string(e.uncompressed_size) + " bytes from " +
             std::to_string(e.compressed_size) + " compressed bytes, more than its method can give");
}

// Everything the central directory alone can tell, decided before any entry's data is read:
// names Windows would see as one, what the stub cannot extract, sizes the method cannot give, data that would run into the central directory, and local headers
// that two entries share.
void check_central_directory(std::vector<CentralItem>& items, uint64_t directory_offset,
                             const NameReading& reading, const std::string& path)
{
    refuse_central_name_collisions(items, reading, path);
    for (size_t i = 0; i < items.size(); ++i) {
        const ArchiveEntry& e = items[i].entry;
        check_entry_supported(e, path);
        check_sizes_for_method(e, path);
    }
    std::map<uint64_t, size_t> local_headers;
    for (size_t i = 0; i < items.size(); ++i) {
        const ArchiveEntry& e = items[i].entry;
        uint64_t least_end = items[i].local_offset + LOCAL_HEADER_SIZE + e.name.size() + e.compressed_size;
        if (least_end > directory_offset)
            fail(path + ": " + entry_label(e) + ": its data (" + std::to_string(e.compressed_size) +
                 " bytes) runs past the start of the central directory");
        auto shared = local_headers.emplace(items[i].local_offset, i);
        if (!shared.second)
            fail(path + ": " + entry_label(e) + " shares its local header with " +
                 entry_label(items[shared.first->second].entry));
    }
}

// With the local headers read, each entry's header and data must end before the next
// entry's local header (in file order) and before the central directory: data shared by
// two entries would be copied, and decompressed, once for each.
void check_entry_extents(const std::vector<CentralItem>& items, uint64_t directory_start, const std::string& path)
{
    std::vector<const CentralItem*> order;
    for (const CentralItem& item : items)
        order.push_back(&item);
    std::sort(order.begin(), order.end(),
              [](const CentralItem* a, const CentralItem* b) { return a->header_offset < b->header_offset; });
    for (size_t i = 0; i < order.size(); ++i) {
        const CentralItem& item = *order[i];
        uint64_t data_end = item.data_offset + item.entry.compressed_size;
        uint64_t limit = i + 1 < order.size() ? order[i + 1]->header_offset : directory_start;
        if (data_end > limit)
            fail(path + ": " + entry_label(item.entry) + ": its data (" + std::to_string(item.entry.compressed_size) +
                 " bytes) runs into " + (i + 1 < order.size() ? entry_label(order[i + 1]->entry) : "the central directory"));
    }
}

std::string hex32(uint32_t value)
{
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// The stub reads the local header, other ZIP tools the central directory: both must describe
// the same entry. The AES record (strength, real method, vendor), and the CRC and sizes unless
// the local header defers them to a data descriptor (bit 3); the sizes as the stub reads them,
// from the local ZIP64 record where the fields say so. Method and encryption are compared by
// the caller. `h` is the fixed part of the local header, `extra` its whole extra field.
void check_local_agrees(const uint8_t* h, const std::vector<uint8_t>& extra, const ArchiveEntry& e,
                        const std::string& label)
{
    if (e.method == METHOD_AES && !find_aes_record(e.local_extra).same_as(find_aes_record(e.central_extra)))
        fail(label + ": the AES extra fields (0x9901) of its local header and the central directory disagree");
    if (get_u16(h + 6) & GP_DESCRIPTOR)
        return;
    if (get_u32(h + 14) != e.crc32)
        fail(label + ": the local header gives CRC-32 " + hex32(get_u32(h + 14)) + ", the central directory " +
             hex32(e.crc32));
    uint64_t compressed = get_u32(h + 18), uncompressed = get_u32(h + 22);
    take_zip64_values(extra, uncompressed, compressed);
    if (compressed != e.compressed_size || uncompressed != e.uncompressed_size)
        fail(label + ": the local header gives sizes " + std::to_string(compressed) + " and " +
             std::to_string(uncompressed) + ", the central directory " + std::to_string(e.compressed_size) +
             " and " + std::to_string(e.uncompressed_size));
}

// Reads the local header: DOS time, flags and extra field come from here, because the
// stub reads these very bytes (for an encrypted entry with bit 3 its check byte is the
// local time's high byte). Sizes and CRC stay those of the central directory, since
// streamed entries leave them zero here.
// Returns the offset of the entry's data.
uint64_t read_local_header(std::FILE* f, uint64_t offset, ArchiveEntry& e, bool& zip64, const std::string& path)
{
    std::vector<uint8_t> h = read_at(f, offset, LOCAL_HEADER_SIZE, path + ": " + entry_label(e) + ": local header missing");
    if (get_u32(h.data()) != SIG_LOCAL)
        fail(path + ": " + entry_label(e) + ": no local header at offset " + std::to_string(offset));
    size_t name_size = get_u16(h.data() + 26), extra_size = get_u16(h.data() + 28);
    std::vector<uint8_t> rest = read_at(f, offset + LOCAL_HEADER_SIZE, name_size + extra_size,
                                        path + ": " + entry_label(e) + ": local header truncated");
    std::string local_name(rest.begin(), rest.begin() + name_size);
    if (local_name != e.name)
        fail(path + ": " + entry_label(e) + ": the local header names it \"" + printable_name(local_name) +
             "\", the central directory otherwise");
    if (get_u16(h.data() + 8) != e.method)
        fail(path + ": " + entry_label(e) + ": the local header gives compression method " +
             std::to_string(get_u16(h.data() + 8)) + ", the central directory " + std::to_string(e.method));
    if ((get_u16(h.data() + 6) ^ e.gp_flags) & GP_ENCRYPTED)
        fail(path + ": " + entry_label(e) + ": local header and central directory disagree on its encryption");
    e.version_needed = get_u16(h.data() + 4);
    e.gp_flags = get_u16(h.data() + 6);
    e.dos_time = get_u16(h.data() + 10);
    e.dos_date = get_u16(h.data() + 12);
    bool aes = false;
    std::vector<uint8_t> extra(rest.begin() + name_size, rest.end());
    e.local_extra = filter_extra(extra, zip64, aes);
    // The stub reads the AES record of the local header, whatever the central directory says.
    if (e.method == METHOD_AES && !aes)
        fail(path + ": " + entry_label(e) + " has method 99 (AES) but its local header has no AES extra field (0x9901)");
    check_local_agrees(h.data(), extra, e, path + ": " + entry_label(e));
    return offset + LOCAL_HEADER_SIZE + name_size + extra_size;
}

// The stub reads only the local header: an exact time that only the central record states
// (7-Zip writes its NTFS times there alone) is copied into the local header as it stands, as
// are the Unix fields (0x5455, 0x5855, 0x000D); the stub reads each kind itself. A record that
// would not fit is left out; the DOS time counts then.
void copy_time_records(ArchiveEntry& e)
{
    std::vector<std::vector<uint8_t>> wanted;
    int64_t dos_seconds = dos_time_seconds(e.dos_date, e.dos_time);
    for_each_extra(e.central_extra, [&](uint16_t id, const uint8_t* data, size_t size, size_t at) {
        int64_t time = 0;
        if (exact_file_time(id, data, uint32_t(size), dos_seconds, &time) == TIME_FROM_DOS)
            return;
        bool local_has_it = false;
        for_each_extra(e.local_extra, [&](uint16_t local_id, const uint8_t*, size_t, size_t) {
            local_has_it |= local_id == id;
        });
        if (!local_has_it)
            wanted.emplace_back(e.central_extra.begin() + long(at), e.central_extra.begin() + long(at + 4 + size));
    });
    for (const std::vector<uint8_t>& record : wanted) {
        if (!append_extra_record(e.local_extra, record.data(), record.size()))
            note(e.origin + ": " + entry_label(e) + ": its exact time does not fit the local header; the DOS time counts");
    }
}

// Opens the archive with libzip from `start`, where the archive's own offsets count from: an
// archive behind other bytes whose offsets count from its own start (appended to a script or a
// program without adjusting them) is shown to libzip as if it stood alone. The records have
// already been read here, so a refusal now is a damaged archive, not one that is no ZIP.
ZipPtr open_with_libzip(const std::string& path, uint64_t start, uint64_t file_size)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_t* za = nullptr;
    zip_source_t* source = zip_source_file_create(path.c_str(), start, zip_int64_t(file_size - start), &error);
    if (source != nullptr) {
        za = zip_open_from_source(source, ZIP_RDONLY, &error);
        if (za == nullptr)
            zip_source_free(source);
    }
    if (za == nullptr) {
        std::string text = zip_error_strerror(&error);
        zip_error_fini(&error);
        fail(path + ": damaged ZIP (its records read, but libzip refuses the archive: " + text + ")");
    }
    zip_error_fini(&error);
    return ZipPtr(za, zip_discard);
}

// libzip and the raw parse must see the same entries; a difference means the archive is
// not what either reader thinks, and copying it would be a guess.
// libzip hands out the name of a matching Unicode Path field instead of the stored bytes.
void cross_check(zip_t* za, zip_uint64_t index, const ArchiveEntry& e, const std::string& path)
{
    zip_stat_t st;
    zip_stat_init(&st);
    const char* name = zip_get_name(za, index, ZIP_FL_ENC_RAW);
    std::string label = path + ": " + entry_label(e) + ": ";
    if (e.name.find('\0') != std::string::npos)
        fail(label + "the name holds a NUL byte");
    if (name == nullptr || zip_stat_index(za, index, 0, &st) != 0)
        fail(label + "unreadable (" + zip_strerror(za) + ")");
    bool same_name = e.name == name || find_unicode_path(e.central_extra, e.name) == name ||
                     find_unicode_path(e.local_extra, e.name) == name;
    if (!same_name)
        fail(label + "the central directory's name differs from the one ZIP readers see (\"" + printable_name(name) +
             "\")");
    if (st.comp_size != e.compressed_size || st.size != e.uncompressed_size)
        fail(label + "the sizes in its headers disagree");
    if (st.crc != e.crc32)
        fail(label + "the CRC-32 in its headers disagree");
}

// Decodes an entry that is not encrypted once with the stub's decoder, by the stub's rule for
// a good entry, so a damaged input is refused here, named as the input's entry, instead of
// failing on the user's machine (or in the round trip, which could only blame the package).
// Bytes behind the final Deflate block are left out, with a warning: the package's entry ends
// where its stream does. (Encrypted entries need their password; those are copied as they are.)
void verify_entry_data(ArchiveEntry& e, uint64_t data_offset, const std::string& path)
{
    if (e.encrypted())
        return;
    FilePtr f = open_regular_file(path, "input");
    uint64_t unused = 0;
    std::string error = check_entry_data(f.get(), data_offset, e.method, e.gp_flags, e.compressed_size,
                                         e.uncompressed_size, e.crc32, &unused);
    if (!error.empty())
        fail(path + ": " + entry_label(e) + ": " + error);
    if (unused == 0)
        return;
    warn(path + ": " + entry_label(e) + ": the " + std::to_string(unused) +
         " bytes behind the end of its Deflate data are left out");
    e.compressed_size -= unused;
}

// libzip checks the CRC of a stored entry even when asked for its raw bytes, which fails
// for an encrypted one (its raw bytes are not the plain data), and it would decrypt AES
// entries it has a password for. Those are read straight
// from the file at the offset the local header gives.
PayloadReader direct_payload_reader(const std::string& path, uint64_t offset, const std::string& label)
{
    std::shared_ptr<std::FILE> f(open_regular_file(path, "input").release(), std::fclose);
    if (fseeko(f.get(), off_t(offset), SEEK_SET) != 0)
        fail(label + ": cannot read its data: " + std::strerror(errno));
    return [f, label](uint8_t* buffer, size_t capacity) {
        size_t n = std::fread(buffer, 1, capacity, f.get());
        if (n == 0 && std::ferror(f.get()))
            fail(label + ": cannot read its data: " + std::strerror(errno));
        return n;
    };
}

// Reads an entry's comment from the input when the central directory is written.
std::function<std::vector<uint8_t>()> comment_reader(std::shared_ptr<std::FILE> f, uint64_t offset, uint16_t size,
                                                     const std::string& path)
{
    return [f, offset, size, path] {
        std::vector<uint8_t> comment(size);
        ssize_t n = ::pread(fileno(f.get()), comment.data(), size, off_t(offset));
        if (n != ssize_t(size))
            fail("cannot read an entry's comment from " + path + ": " +
                 (n < 0 ? std::strerror(errno) : "the file ended early (it changed during the build)"));
        return comment;
    };
}

// Payload readers stop after exactly `size` bytes; the writer checks that all arrived.
PayloadReader limited(PayloadReader reader, uint64_t size)
{
    auto left = std::make_shared<uint64_t>(size);
    return [reader, left](uint8_t* buffer, size_t capacity) {
        size_t n = *left == 0 ? 0 : reader(buffer, size_t(std::min<uint64_t>(capacity, *left)));
        *left -= n;
        return n;
    };
}

PayloadReader raw_payload_reader(const ZipPtr& za, zip_uint64_t index, const std::string& label)
{
    zip_flags_t flags = ZIP_FL_COMPRESSED | ZIP_FL_ENCRYPTED;
    std::shared_ptr<zip_file_t> file(zip_fopen_index(za.get(), index, flags), zip_fclose);
    if (!file)
        fail(label + ": " + zip_strerror(za.get()));
    return [za, file, label](uint8_t* buffer, size_t capacity) {
        zip_int64_t n = zip_fread(file.get(), buffer, capacity);
        if (n < 0)
            fail(label + ": " + zip_file_strerror(file.get()));
        return size_t(n);
    };
}

}  // namespace

ArchiveInput read_input_zip(const std::string& path, const NameReading& reading)
{
    uint64_t file_size = 0;
    FilePtr f = open_regular_file(path, "input", &file_size);
    EndRecord end = find_end_record(f.get(), file_size, path);
    check_end_record(f.get(), end, path);
    // Bytes in front of the archive (an archive appended to something else) shift every
    // stored offset by the same amount when its offsets count from its own start: the
    // central directory then ends that much before the end record. Offsets that count from
    // the file's start (adjusted, as `zip -A` does and this builder writes) give 0.
    uint64_t shift = end.directory_end - end.directory_offset - end.directory_size;
    std::vector<CentralItem> items = read_central_directory(f.get(), shift + end.directory_offset, end, path);
    check_central_directory(items, end.directory_offset, reading, path);
    for (CentralItem& item : items) {
        ArchiveEntry& e = item.entry;
        item.header_offset = shift + item.local_offset;
        item.data_offset = read_local_header(f.get(), item.header_offset, e, item.zip64, path);
        check_entry_supported(e, path);
        if (!e.encrypted())  // encrypted entries are copied exactly as they are
            copy_time_records(e);
        e.unicode_name = decode_zip_name(e.name, uint16_t(item.central_flags | e.gp_flags), e.version_made_by,
                                         {&e.central_extra, &e.local_extra}, reading,
                                         path + ": " + entry_label(e), &e.name_reading);
        name_folder_by_attribute(e);
    }
    check_entry_extents(items, shift + end.directory_offset, path);

    // libzip comes in only now: it reads the whole central directory into memory at once.
    ZipPtr za = open_with_libzip(path, shift, file_size);
    if (uint64_t(zip_get_num_entries(za.get(), 0)) != end.entries_total)
        fail(path + ": the archive's entry count is inconsistent");
    ArchiveInput input;
    // Trailing NULs are padding (a built file as input carries its section padding there).
    input.comment = end.comment;
    while (!input.comment.empty() && input.comment.back() == 0)
        input.comment.pop_back();
    std::shared_ptr<std::FILE> comments(open_regular_file(path, "input").release(), std::fclose);
    for (zip_uint64_t i = 0; i < items.size(); ++i) {
        ArchiveEntry& e = items[i].entry;
        cross_check(za.get(), i, e, path);
        if (is_folder_by_attribute(e) && !is_name_separator(e.name.back()))
            e.name += '/';
        // Windows makes links only with rights the stub does not ask for; the link's data, its
        // target path, becomes the file's content, as other ZIP readers do on Windows.
        if (is_symbolic_link(e))
            note(path + ": " + entry_label(e) + " is a symbolic link; the package extracts it as a small file that holds "
                 "the path it points to");
        if (e.comment_size != 0)
            e.read_comment = comment_reader(comments, items[i].comment_offset, e.comment_size, path);
        uint64_t data_offset = items[i].data_offset;
        e.open_payload = [za, i, path, data_offset](ArchiveEntry& entry) {
            verify_entry_data(entry, data_offset, path);
            std::string label = path + ": " + entry_label(entry);
            if (entry.encrypted() && (entry.method == METHOD_STORED || entry.method == METHOD_AES))
                return limited(direct_payload_reader(path, data_offset, label), entry.compressed_size);
            return limited(raw_payload_reader(za, i, label), entry.compressed_size);
        };
        input.entries.push_back(std::move(e));
    }
    return input;
}
