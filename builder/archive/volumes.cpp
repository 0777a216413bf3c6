// Writing a spanned self-extractor. The archive is first written as one stream (the same
// writer as a single file, behind the spanning signature), then cut into disks and copied
// out, so encryption, descriptors and compression are exactly those of a single file.
//
// Where the stub cannot cross to the next disk (volume.cpp, archive.cpp, pipeline.cpp):
//   - a record signature and a 26-byte local header are read again from the start of the
//     next disk when they come up short, so each must start there whole;
//   - the entry name and the encryption header (12 bytes, or an AES entry's salt and
//     verifier) are read only from the current disk;
//   - extra fields, a directory's data and a data descriptor are stepped over with seeks
//     that stay on the current disk;
//   - entry data continues on the next disk after any short read.
// So a local header with its name, extra field and encryption header is one whole piece,
// a directory entry is whole with its data, and a descriptor is whole with the last byte
// of its entry's data (after that byte the stub is still on the descriptor's disk).
#include "volumes.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "build_error.h"
#include "byte_buffer.h"
#include "extra_field.h"
#include "output_file.h"
#include "split_set.h"
#include "split_volumes.h"
#include "stub_record_io.h"
#include "format/zip_format.h"

namespace fs = std::filesystem;

namespace {

// A floppy's FAT gives each file whole 512-byte sectors: disk 1's self-extractor is counted
// by the sectors it takes, so it fits beside the archive's first part.
constexpr uint64_t SECTOR_SIZE = 512;

const char* const LABEL_FILE = ".windows-label";

uint64_t align_down(uint64_t value, uint32_t alignment)
{
    return value / alignment * alignment;
}

// ---- names and sizes ------------------------------------------------------------------------

bool is_valid_base_name(const std::string& name)
{
    if (name.empty() || name.size() > 8)
        return false;
    for (unsigned char c : name) {
        if (!std::isupper(c) && !std::isdigit(c) && std::strchr("!#$%&'()-@^_`{}~", c) == nullptr)
            return false;
    }
    return true;
}

std::string upper_case(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// ---- the archive stream ---------------------------------------------------------------------

void read_at(std::FILE* f, uint64_t offset, void* buffer, size_t size)
{
    if (fseeko(f, off_t(offset), SEEK_SET) != 0)
        fail(std::string("cannot read back the archive written for the disks: ") + std::strerror(errno));
    if (std::fread(buffer, 1, size, f) != size)
        fail("cannot read back the archive written for the disks: " + short_read_reason(f));
}

uint32_t signature_at(std::FILE* f, uint64_t offset)
{
    uint8_t sig[4];
    read_at(f, offset, sig, sizeof sig);
    return get_u32(sig);
}

// The bytes in front of an entry's data that the stub reads from the current disk only: the
// 12-byte header of the traditional cipher, or the salt and verifier of an AES entry.
uint64_t encryption_header_size(std::FILE* f, uint64_t at, const uint8_t* h)
{
    if (!(get_u16(h + 6) & GP_ENCRYPTED))
        return 0;
    if (get_u16(h + 8) != METHOD_AES)
        return ENCRYPTION_HEADER_SIZE;
    std::vector<uint8_t> extra(get_u16(h + 28));
    read_at(f, at + LOCAL_HEADER_SIZE + get_u16(h + 26), extra.data(), extra.size());
    AesRecord aes = find_aes_record(extra);
    return aes.usable() ? aes_salt_size(aes.strength) + AES_VERIFIER_SIZE : 0;
}

// Adds the pieces of the local entry at `at`; returns where the next record starts.
uint64_t add_entry_pieces(std::FILE* f, uint64_t at, std::vector<SpanPiece>& pieces)
{
    uint8_t h[LOCAL_HEADER_SIZE];
    read_at(f, at, h, sizeof h);
    uint16_t flags = get_u16(h + 6);
    uint64_t packed = get_u32(h + 18);
    uint16_t name_size = get_u16(h + 26);
    uint64_t head = LOCAL_HEADER_SIZE + uint64_t(name_size) + get_u16(h + 28);
    std::vector<uint8_t> extra(get_u16(h + 28));
    read_at(f, at + LOCAL_HEADER_SIZE + name_size, extra.data(), extra.size());
    uint64_t unpacked = get_u32(h + 22);
    bool zip64 = take_zip64_values(extra, unpacked, packed);
    uint64_t descriptor = (flags & GP_DESCRIPTOR) ? uint64_t(zip64 ? ZIP64_DESCRIPTOR_SIZE : DESCRIPTOR_SIZE) : 0;
    char last_char = 0;
    if (name_size > 0)
        read_at(f, at + LOCAL_HEADER_SIZE + name_size - 1, &last_char, 1);
    if (last_char == '/' || last_char == '\\') {
        pieces.push_back({at, head + packed + descriptor, true});
        return at + head + packed + descriptor;
    }
    uint64_t encryption = std::min<uint64_t>(encryption_header_size(f, at, h), packed);
    uint64_t first = head + encryption;
    uint64_t running = packed - encryption;
    uint64_t last = 0;
    if (descriptor != 0 && running > 0) {
        running -= 1;
        last = 1 + descriptor;
    } else {
        first += descriptor;
    }
    pieces.push_back({at, first, true});
    if (running > 0)
        pieces.push_back({at + first, running, false});
    if (last > 0)
        pieces.push_back({at + first + running, last, true});
    return at + first + running + last;
}

// Where the central directory's records and the end records lie in the stream (the ZIP64
// ones at 0 when the archive has none).
struct DirectoryRecords {
    std::vector<uint64_t> central;
    uint64_t zip64_end = 0;
    uint64_t zip64_locator = 0;
    uint64_t end = 0;
};

// Adds the record at `at` as a whole piece when it has `signature`; returns where the next starts.
uint64_t take_fixed_record(std::FILE* f, uint64_t at, uint32_t signature, uint64_t size, uint64_t& where,
                           std::vector<SpanPiece>& pieces)
{
    if (signature_at(f, at) != signature)
        return at;
    where = at;
    pieces.push_back({at, size, true});
    return at + size;
}

// Cuts the stream into pieces: the spanning signature, each entry's pieces, and each record
// of the central directory whole (APPNOTE: no such record is split across disks).
std::vector<SpanPiece> cut_into_pieces(std::FILE* f, uint64_t size, DirectoryRecords& records)
{
    std::vector<SpanPiece> pieces{{0, 4, true}};
    uint64_t at = 4;
    while (signature_at(f, at) == SIG_LOCAL)
        at = add_entry_pieces(f, at, pieces);
    while (signature_at(f, at) == SIG_CENTRAL) {
        uint8_t h[CENTRAL_HEADER_SIZE];
        read_at(f, at, h, sizeof h);
        uint64_t record = CENTRAL_HEADER_SIZE + uint64_t(get_u16(h + 28)) + get_u16(h + 30) + get_u16(h + 32);
        pieces.push_back({at, record, true});
        records.central.push_back(at);
        at += record;
    }
    at = take_fixed_record(f, at, SIG_ZIP64_END, ZIP64_END_RECORD_SIZE, records.zip64_end, pieces);
    at = take_fixed_record(f, at, SIG_ZIP64_LOCATOR, ZIP64_LOCATOR_SIZE, records.zip64_locator, pieces);
    uint8_t end[END_RECORD_SIZE];
    read_at(f, at, end, sizeof end);
    uint64_t record = END_RECORD_SIZE + uint64_t(get_u16(end + 20));
    if (get_u32(end) != SIG_END || at + record != size)
        fail("internal error: the archive written for the disks does not end in its end record");
    pieces.push_back({at, record, true});
    records.end = at;
    return pieces;
}

// Which disk holds a stream offset, and at which offset of that disk's file.
struct DiskMap {
    std::vector<uint64_t> starts;
    uint64_t first_base = 0;  // where the stream starts in disk 1's file

    uint16_t disk_of(uint64_t offset) const
    {
        return uint16_t(std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin() - 1);
    }
    uint32_t file_offset(uint64_t offset) const
    {
        uint16_t disk = disk_of(offset);
        return uint32_t(offset - starts[disk] + (disk == 0 ? first_base : 0));
    }
};

// A central header's local offset becomes the disk's and the offset on that disk. When the
// header marks it for its ZIP64 record, the record's offset field takes the disk's offset (it
// fits 32 bits, but the record keeps its layout, so the mark stays).
void patch_central_header(OutputFile& stream, std::FILE* f, const DiskMap& map, uint64_t at)
{
    uint8_t h[CENTRAL_HEADER_SIZE];
    read_at(f, at, h, sizeof h);
    uint64_t local = get_u32(h + 42);
    if (local == ZIP64_MARK_32) {
        uint64_t extra_at = at + CENTRAL_HEADER_SIZE + get_u16(h + 28);
        std::vector<uint8_t> extra(get_u16(h + 30));
        read_at(f, extra_at, extra.data(), extra.size());
        uint64_t unpacked = get_u32(h + 24), packed = get_u32(h + 20);
        for_each_extra(extra, [&](uint16_t id, const uint8_t* data, size_t size, size_t record_at) {
            size_t field = 8 * ((unpacked == ZIP64_MARK_32) + (packed == ZIP64_MARK_32));
            if (id != EXTRA_ZIP64 || size < field + 8)
                return;
            local = get_u64(data + field);
            uint8_t value[8];
            put_u64(value, map.file_offset(local));
            stream.write_at(extra_at + record_at + 4 + field, value, sizeof value);
        });
        if (local == ZIP64_MARK_32)
            fail("internal error: a central header marks its offset for a ZIP64 record it lacks");
    } else {
        put_u32(h + 42, map.file_offset(local));
    }
    put_u16(h + 34, map.disk_of(local));
    stream.write_at(at, h, sizeof h);
}

// The ZIP64 end record gets the disks as the end record does, with 64-bit counts and offset;
// its locator the disk and offset of the record and the number of disks.
void patch_zip64_end_records(OutputFile& stream, std::FILE* f, const DiskMap& map, const DirectoryRecords& records,
                             uint64_t directory, uint64_t on_last)
{
    uint8_t end[ZIP64_END_RECORD_SIZE];
    read_at(f, records.zip64_end, end, sizeof end);
    put_u32(end + 16, map.disk_of(records.end));
    put_u32(end + 20, map.disk_of(directory));
    put_u64(end + 24, on_last);
    put_u64(end + 48, map.file_offset(directory));
    stream.write_at(records.zip64_end, end, sizeof end);
    uint8_t locator[ZIP64_LOCATOR_SIZE];
    read_at(f, records.zip64_locator, locator, sizeof locator);
    put_u32(locator + 4, map.disk_of(records.zip64_end));
    put_u64(locator + 8, map.file_offset(records.zip64_end));
    put_u32(locator + 16, uint32_t(map.starts.size()));
    stream.write_at(records.zip64_locator, locator, sizeof locator);
}

// Puts the disk numbers and the offsets on each disk into the central directory and the end
// records, as a spanned archive carries them. The stub never reads them; ZIP tools do.
void patch_directory(OutputFile& stream, std::FILE* f, const DiskMap& map, const DirectoryRecords& records)
{
    for (uint64_t at : records.central)
        patch_central_header(stream, f, map, at);
    uint16_t last = map.disk_of(records.end);
    uint64_t directory = records.central.empty() ? records.end : records.central.front();
    uint64_t on_last = uint64_t(std::count_if(records.central.begin(), records.central.end(),
                                              [&](uint64_t at) { return map.disk_of(at) == last; }));
    if (records.zip64_end != 0)
        patch_zip64_end_records(stream, f, map, records, directory, on_last);
    uint8_t end[END_RECORD_SIZE];
    read_at(f, records.end, end, sizeof end);
    put_u16(end + 4, last);
    put_u16(end + 6, map.disk_of(directory));
    put_u16(end + 8, on_last < ZIP64_MARK_16 ? uint16_t(on_last) : uint16_t(ZIP64_MARK_16));
    put_u32(end + 16, map.file_offset(directory));
    stream.write_at(records.end, end, sizeof end);
    if (map.starts.size() == 1) {
        uint8_t marker[4];
        put_u32(marker, SIG_SINGLE_VOLUME);
        stream.write_at(0, marker, sizeof marker);
    }
}

// ---- the disk folders -----------------------------------------------------------------------

bool is_disk_folder_name(const std::string& name)
{
    return name.size() > 4 && name.compare(0, 4, "disk") == 0 &&
           std::all_of(name.begin() + 4, name.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The disk folders an earlier build left in `dir`; they are replaced as a whole, so no disk
// of an older, longer set stays behind. A folder that holds folders is not one of ours.
std::vector<fs::path> earlier_disk_folders(const fs::path& dir)
{
    std::vector<fs::path> found;
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
        if (!e.is_directory() || !is_disk_folder_name(e.path().filename().string()))
            continue;
        for (const fs::directory_entry& inner : fs::directory_iterator(e.path())) {
            if (!inner.is_regular_file())
                fail(e.path().string() + " holds more than disk files; it is not a disk folder of an earlier "
                                         "build, so it is left alone: choose another output folder");
        }
        found.push_back(e.path());
    }
    return found;
}

// The folders create_directories would make for `dir`, outermost first.
std::vector<fs::path> missing_folders(const fs::path& dir)
{
    std::vector<fs::path> missing;
    std::error_code ec;
    fs::path p = fs::absolute(dir, ec).lexically_normal();
    if (p.filename().empty())
        p = p.parent_path();  // "out/" names the folder "out"
    while (!p.empty() && !fs::exists(p, ec)) {
        missing.insert(missing.begin(), p);
        if (p == p.parent_path())
            break;
        p = p.parent_path();
    }
    return missing;
}

// A scratch folder inside the output folder, so the final renames stay on one file system.
// It goes with whatever it still holds when the build ends: after a good build the disks
// have been moved out of it, after a failure they go with it.
class WorkFolder {
public:
    explicit WorkFolder(const fs::path& dir)
    {
        std::string pattern = (dir / ".tvsfx-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        CleanupSignalHold hold;  // a signal before the folder is registered would leave it
        if (mkdtemp(name.data()) == nullptr)
            fail("cannot create a work folder in " + dir.string() + ": " + std::strerror(errno));
        path_ = name.data();
        register_temp_folder(path_.string(), FOLDER_TREE);
    }
    ~WorkFolder()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
        release_temp_folder(path_.string());
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void copy_range(std::FILE* from, uint64_t offset, uint64_t size, OutputFile& to)
{
    static uint8_t chunk[1 << 16];
    while (size > 0) {
        size_t n = size_t(std::min<uint64_t>(size, sizeof chunk));
        read_at(from, offset, chunk, n);
        to.write(chunk, n);
        offset += n;
        size -= n;
    }
}

void write_label(const fs::path& disk, unsigned number)
{
    std::string label = volume_label(number);
    std::FILE* f = std::fopen((disk / LABEL_FILE).c_str(), "wb");
    bool written = f != nullptr && std::fwrite(label.data(), 1, label.size(), f) == label.size();
    int error = errno;
    if (f != nullptr && std::fclose(f) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written)
        fail("cannot write the label of " + disk.string() + ": " + std::strerror(error));
}

// Fills in disk 1's self-extractor once its bytes are written: the section `_tarvel_` of
// `section_size` bytes from section_offset, the stub record and the PE checksum.
void finish_self_extractor(OutputFile& out, const VolumeJob& job, uint64_t section_size, uint64_t total_size,
                           uint32_t table_size = 0)
{
    std::vector<uint8_t> headers = job.stub_part;
    AttachedSection section = plan_attached_section(job.image, uint32_t(section_size));
    if (section.raw_pointer != job.section_offset || section.raw_pointer + uint64_t(section.raw_size) > out.position())
        fail("internal error: the section does not match disk 1's self-extractor");
    add_attached_section(headers, job.image, section);
    uint32_t checksum_at = job.image.pe_offset + PE_CHECKSUM;
    put_u32(headers.data() + checksum_at, 0);
    // The stub skips the end-record check of a spanned archive: the end record is on the last disk.
    RecordValues record{uint32_t(headers.size()), job.section_offset + job.license_size + table_size, 0, total_size,
                        job.flags,
                        job.image.entry_point, job.with_stub_crc};
    set_license_location(record, job.section_offset, job.license_size);
    fill_stub_record(headers, job.record_offset, record);
    out.write_at(0, headers.data(), headers.size());
    // As in a single file: a stub checksum from offset 0 covers the CheckSum, which then stays 0.
    uint8_t value[4] = {0, 0, 0, 0};
    if (!job.with_stub_crc || (job.flags & SFX_CRC_AFTER_HEADERS))
        put_u32(value, compute_pe_checksum(out.stream(), out.position(), checksum_at));
    out.write_at(checksum_at, value, 4);
}

struct DiskFile {
    std::string name;
    uint64_t size;
};

// Disk 1 with .ZIP volumes: the self-extractor holds the stub and the configuration only
// (archive_offset is the end of the configuration block); the archive starts at offset 0
// of the .ZIP file beside it.
uint64_t write_zip_volume_self_extractor(const fs::path& disk, const VolumeJob& job, uint64_t total_size)
{
    OutputFile out((disk / (job.name + ".EXE")).string());
    out.write(job.stub_part.data(), job.stub_part.size());
    uint64_t attached_size = job.stub_part.size() - job.section_offset;
    std::vector<uint8_t> padding(align_up(attached_size, job.image.file_alignment) - attached_size, 0);
    out.write(padding.data(), padding.size());
    finish_self_extractor(out, job, attached_size, total_size);
    uint64_t size = out.position();
    out.commit();
    return size;
}

// Disk 1 with .EXE volumes: the self-extractor with the archive's first part behind its
// configuration (archive_offset is the spanning signature). The part ends where the disk is
// full, seldom on the file alignment, so the section covers the whole alignment blocks and
// the rest follows outside any section: the loader ignores it, the stub reads its file.
uint64_t write_exe_volume_self_extractor(const fs::path& disk, const VolumeJob& job, std::FILE* stream,
                                         uint64_t part_size, uint64_t total_size)
{
    OutputFile out((disk / (job.name + ".EXE")).string());
    out.write(job.stub_part.data(), job.stub_part.size());
    copy_range(stream, 0, part_size, out);
    uint64_t attached_size = job.stub_part.size() - job.section_offset;
    uint64_t section_size = align_down(out.position() - job.section_offset, job.image.file_alignment);
    if (section_size < attached_size)
        fail("--span " + std::to_string(job.span) + " leaves too little of disk 1 for the archive's start beside "
             "the self-extractor; give a larger --span");
    finish_self_extractor(out, job, section_size, total_size);
    uint64_t size = out.position();
    out.commit();
    return size;
}

uint64_t write_part(const fs::path& file, std::FILE* stream, uint64_t offset, uint64_t size)
{
    OutputFile out(file.string());
    copy_range(stream, offset, size, out);
    out.commit();
    return size;
}

// Room for the archive on disk 1: what the self-extractor leaves of it.
uint64_t first_disk_room(const VolumeJob& job)
{
    bool exe_volumes = (job.flags & SFX_EXE_VOLUMES) != 0;
    uint64_t attached_size = job.stub_part.size() - job.section_offset;
    uint64_t program_file = job.section_offset + align_up(attached_size, job.image.file_alignment);
    uint64_t self_extractor = exe_volumes ? job.stub_part.size() : align_up(program_file, SECTOR_SIZE);
    if (self_extractor + LOCAL_HEADER_SIZE >= job.span)
        fail("--span " + std::to_string(job.span) + " is too small: the self-extractor alone takes " +
             std::to_string(self_extractor) + " bytes of disk 1");
    return job.span - self_extractor;
}

// Moves the finished disk folders into place, replacing those of an earlier build.
void replace_disk_folders(const fs::path& dir, const fs::path& work, unsigned count)
{
    for (const fs::path& old : earlier_disk_folders(dir))
        fs::remove_all(old);
    for (unsigned i = 1; i <= count; ++i) {
        std::string name = "disk" + std::to_string(i);
        std::error_code ec;
        fs::rename(work / name, dir / name, ec);
        if (ec)
            fail("cannot move " + name + " into " + dir.string() + ": " + ec.message());
    }
}

void write_disks(const VolumeJob& job, ArchiveInput& input, const fs::path& dir)
{
    earlier_disk_folders(dir);  // refuses a folder it must not replace before any work is done
    uint64_t first_room = first_disk_room(job);
    WorkFolder work(dir);

    // The whole archive as one stream behind the spanning signature; offsets in it are
    // stream offsets, mapped to disks and file offsets once the cut is known.
    OutputFile stream_file((work.path() / "archive.zip").string());
    uint8_t marker[4];
    put_u32(marker, SIG_SPANNING);
    stream_file.write(marker, sizeof marker);
    WrittenArchive archive = write_archive(stream_file, input.entries, input.comment, job.password, job.cipher, 0, 1);
    std::FILE* stream = stream_file.stream();
    uint64_t stream_size = stream_file.position();

    DirectoryRecords records;
    std::vector<SpanPiece> pieces = cut_into_pieces(stream, stream_size, records);
    bool exe_volumes = (job.flags & SFX_EXE_VOLUMES) != 0;
    DiskMap map{plan_disk_starts(pieces, first_room, job.span), exe_volumes ? job.stub_part.size() : 0};
    unsigned count = unsigned(map.starts.size());
    if (count > MAX_DISKS)
        fail("the archive needs " + std::to_string(count) + " disks; the labels number at most " +
             std::to_string(MAX_DISKS));
    patch_directory(stream_file, stream, map, records);
    map.starts.push_back(stream_size);

    std::string extension = exe_volumes ? ".EXE" : ".ZIP";
    uint64_t total_size = archive.total_size;
    std::string report;
    for (unsigned i = 0; i < count; ++i) {
        fs::path disk = work.path() / ("disk" + std::to_string(i + 1));
        fs::create_directory(disk);
        uint64_t start = map.starts[i], size = map.starts[i + 1] - start;
        std::vector<DiskFile> files;
        if (i == 0 && exe_volumes) {
            files.push_back({job.name + ".EXE", write_exe_volume_self_extractor(disk, job, stream, size, total_size)});
        } else {
            if (i == 0)
                files.push_back({job.name + ".EXE", write_zip_volume_self_extractor(disk, job, total_size)});
            files.push_back({job.name + extension, write_part(disk / (job.name + extension), stream, start, size)});
        }
        write_label(disk, i + 1);
        std::string listing;
        for (const DiskFile& f : files)
            listing += (listing.empty() ? "" : ", ") + f.name + " " + std::to_string(f.size);
        report += (dir / disk.filename()).string() + ": " + listing + " bytes, label \"" + volume_label(i + 1) + "\"\n";
    }
    replace_disk_folders(dir, work.path(), count);
    std::fputs(report.c_str(), stdout);
    std::printf("%zu entries on %u disks of %llu bytes; start %s from disk 1\n", input.entries.size(), count,
                (unsigned long long)job.span, (job.name + ".EXE").c_str());
}

// ---- split packages -------------------------------------------------------------------------

// The program's name without its extension: the volumes' names are made from it. Plain ASCII,
// so the stub finds the names in the table whatever the user's ANSI code page.
std::string split_base_name(const std::string& program_file)
{
    size_t dot = program_file.rfind('.');
    std::string base = dot == std::string::npos || dot == 0 ? program_file : program_file.substr(0, dot);
    bool plain = !base.empty() && std::all_of(base.begin(), base.end(), [](unsigned char c) {
        return c >= 0x20 && c < 0x7F && std::strchr("\\/:*?\"<>|", c) == nullptr;
    });
    if (!plain)
        fail("-o " + program_file + ": a split package's name must be plain ASCII without \\/:*?\"<>|, so the "
             "program finds its volumes by it on every Windows");
    if (split_volume_name(base, SPLIT_VOLUMES_MAX).size() > SPLIT_NAME_MAX)
        fail("-o " + program_file + ": the name is too long for its volumes (at most " +
             std::to_string(SPLIT_NAME_MAX - 5) + " characters before the extension)");
    return base;
}

// The program of a split package: the stub part with the volume table in front of the
// configuration block, padded to the file alignment; archive_offset is its end.
void write_split_program(const fs::path& file, const VolumeJob& job, const std::vector<uint8_t>& table,
                         uint64_t total_size)
{
    VolumeJob program = job;
    program.stub_part.insert(program.stub_part.begin() + job.section_offset + job.license_size, table.begin(),
                             table.end());
    OutputFile out(file.string());
    out.write(program.stub_part.data(), program.stub_part.size());
    uint64_t attached_size = program.stub_part.size() - job.section_offset;
    std::vector<uint8_t> padding(align_up(attached_size, job.image.file_alignment) - attached_size, 0);
    out.write(padding.data(), padding.size());
    finish_self_extractor(out, program, attached_size, total_size, uint32_t(table.size()));
    out.commit();
}

// Volumes of an earlier, longer build of the same name: they would lie beside the new set
// without belonging to it.
std::vector<fs::path> stale_volumes(const fs::path& dir, const std::string& base, unsigned count)
{
    std::vector<fs::path> stale;
    for (unsigned i = count + 1; i <= SPLIT_VOLUMES_MAX; ++i) {
        fs::path p = dir / split_volume_name(base, i);
        std::error_code ec;
        if (!fs::is_regular_file(fs::symlink_status(p, ec)))
            break;
        stale.push_back(p);
    }
    return stale;
}

// Cuts the archive stream into volumes in `work`; returns each volume's name, size and SHA-256.
std::vector<SplitVolume> write_split_volumes(const VolumeJob& job, ArchiveInput& input, const fs::path& work,
                                             const std::string& base, uint64_t& total_size)
{
    OutputFile stream_file((work / "archive.zip").string());
    uint8_t marker[4];
    put_u32(marker, SIG_SPANNING);
    stream_file.write(marker, sizeof marker);
    WrittenArchive archive = write_archive(stream_file, input.entries, input.comment, job.password, job.cipher, 0, 1);
    total_size = archive.total_size;
    std::FILE* stream = stream_file.stream();
    uint64_t stream_size = stream_file.position();

    DirectoryRecords records;
    std::vector<SpanPiece> pieces = cut_into_pieces(stream, stream_size, records);
    DiskMap map{plan_disk_starts(pieces, job.span, job.span), 0};
    unsigned count = unsigned(map.starts.size());
    if (count > SPLIT_VOLUMES_MAX)
        fail("the archive needs " + std::to_string(count) + " volumes of " + std::to_string(job.span) +
             " bytes; a split package has at most " + std::to_string(SPLIT_VOLUMES_MAX) + ": give a larger --split");
    patch_directory(stream_file, stream, map, records);
    map.starts.push_back(stream_size);
    std::vector<SplitVolume> volumes;
    for (unsigned i = 0; i < count; ++i) {
        fs::path file = work / split_volume_name(base, i + 1);
        write_part(file, stream, map.starts[i], map.starts[i + 1] - map.starts[i]);
        volumes.push_back(hash_volume_file(file.string()));
    }
    return volumes;
}

}  // namespace

bool parse_span_size(const std::string& text, uint64_t& bytes)
{
    if (text == "floppy") {
        bytes = FLOPPY_CAPACITY;
        return true;
    }
    size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
        ++digits;
    std::string suffix = text.substr(digits);
    uint64_t unit = suffix.empty()                    ? 1
                    : suffix == "k" || suffix == "K" ? 1024
                    : suffix == "M"                  ? 1024 * 1024
                    : suffix == "G"                  ? 1024 * 1024 * 1024
                                                     : 0;
    if (digits == 0 || digits > 12 || unit == 0)
        return false;
    bytes = std::stoull(text.substr(0, digits)) * unit;
    // Offsets within a disk's file are 32-bit in the ZIP records.
    return bytes > 0 && bytes <= 0xFFFFFFFFu;
}

std::string choose_volume_name(const std::string& given, const std::string& output_dir)
{
    if (!given.empty()) {
        std::string name = upper_case(given);
        if (!is_valid_base_name(name))
            fail("--name " + given + ": a floppy needs an 8.3 name, up to 8 letters, digits or "
                 "!#$%&'()-@^_`{}~, without the extension");
        return name;
    }
    std::string folder = fs::path(output_dir).lexically_normal().filename().string();
    if (folder.empty())
        folder = fs::absolute(output_dir).lexically_normal().parent_path().filename().string();
    std::string name = upper_case(folder);
    return is_valid_base_name(name) ? name : "SETUP";
}

std::string volume_label(unsigned number)
{
    char label[16];
    std::snprintf(label, sizeof label, "PKBACK# %03u", number);
    return label;
}

std::vector<uint64_t> plan_disk_starts(const std::vector<SpanPiece>& pieces, uint64_t first_capacity,
                                       uint64_t capacity)
{
    std::vector<uint64_t> starts{0};
    uint64_t left = first_capacity;
    for (const SpanPiece& p : pieces) {
        uint64_t at = p.offset, size = p.size;
        if (p.whole && size > left) {
            if (size > capacity)
                fail("a header of " + std::to_string(size) + " bytes (with its name and extra field) does not fit on "
                     "a disk of " + std::to_string(capacity) + " bytes");
            starts.push_back(at);
            left = capacity;
        }
        while (size > left) {
            at += left;
            size -= left;
            starts.push_back(at);
            left = capacity;
        }
        left -= size;
    }
    return starts;
}

void write_volumes(const VolumeJob& job, ArchiveInput& input)
{
    fs::path dir(job.output_dir);
    std::error_code ec;
    // The folders made for this build go again when it fails or a signal ends it, once
    // empty: registered outermost first, the handler removes them innermost first.
    std::vector<fs::path> made = missing_folders(dir);
    {
        CleanupSignalHold hold;
        fs::create_directories(dir, ec);
        for (const fs::path& folder : made)
            register_temp_folder(folder.string(), FOLDER_EMPTY_ONLY);
    }
    auto remove_made = [&made](bool remove) {
        for (auto it = made.rbegin(); it != made.rend(); ++it) {
            std::error_code ignored;
            if (remove)
                fs::remove(*it, ignored);  // only while empty
            release_temp_folder(it->string());
        }
    };
    if (ec || !fs::is_directory(dir)) {
        remove_made(true);
        fail("cannot create the output folder " + job.output_dir + (ec ? ": " + ec.message() : ""));
    }
    try {
        write_disks(job, input, dir);
    } catch (...) {
        remove_made(true);
        throw;
    }
    remove_made(false);
}

bool parse_split_size(const std::string& text, uint64_t& bytes)
{
    return text != "floppy" && parse_span_size(text, bytes);
}

std::string split_volume_name(const std::string& base, unsigned number)
{
    char extension[16];
    std::snprintf(extension, sizeof extension, ".z%02u", number);
    return base + extension;
}

void write_split_package(const VolumeJob& job, ArchiveInput& input,
                         const std::function<void(const std::string& written_program)>& verify)
{
    fs::path program(job.program_path);
    fs::path dir = program.parent_path().empty() ? fs::path(".") : program.parent_path();
    std::string program_file = program.filename().string();
    std::string base = split_base_name(program_file);
    if (!fs::is_directory(dir))
        fail("cannot write " + job.program_path + ": the folder " + dir.string() + " does not exist");
    WorkFolder work(dir);
    uint64_t total_size = 0;
    std::vector<SplitVolume> volumes = write_split_volumes(job, input, work.path(), base, total_size);
    write_split_program(work.path() / program_file, job, encode_split_table(volumes), total_size);
    if (verify)
        verify((work.path() / program_file).string());

    // The volumes first, the program last: until it is replaced, an earlier program finds
    // volumes that fail its check rather than running on with a mixed set.
    for (const fs::path& old : stale_volumes(dir, base, unsigned(volumes.size())))
        fs::remove(old);
    for (const SplitVolume& v : volumes) {
        std::error_code ec;
        fs::rename(work.path() / v.name, dir / v.name, ec);
        if (ec)
            fail("cannot move " + v.name + " into " + dir.string() + ": " + ec.message());
    }
    std::error_code ec;
    fs::rename(work.path() / program_file, program, ec);
    if (ec)
        fail("cannot move " + program_file + " into " + dir.string() + ": " + ec.message());
    std::string listing;
    uint64_t total = 0;
    for (const SplitVolume& v : volumes) {
        listing += "  " + v.name + " " + std::to_string(v.size) + " bytes\n";
        total += v.size;
    }
    std::printf("%s: %zu entries; the archive's %llu bytes in %zu volumes beside it:\n%s", job.program_path.c_str(),
                input.entries.size(), (unsigned long long)total, volumes.size(), listing.c_str());
}
