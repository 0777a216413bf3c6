// `tvsfx inspect`: reads a built file the way the stub does at start-up and reports what
// it finds, so a file can be checked without Windows.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <zlib.h>

#include "archive.h"
#include "byte_buffer.h"
#include "build_error.h"
#include "config_block.h"
#include "entry_data_check.h"
#include "file_report.h"
#include "input_file.h"
#include "license_text.h"
#include "manifest.h"
#include "names.h"
#include "pe_image.h"
#include "printable.h"
#include "stub_record_io.h"
#include "format/zip_format.h"

std::string encryption_label(const InspectedEntry& e)
{
    if (!(e.flags & GP_ENCRYPTED))
        return "no";
    if (e.method != METHOD_AES)
        return "zipcrypto";
    if (!e.aes.usable())
        return "aes-unknown";
    return "aes" + std::to_string(e.aes.key_bits()) + "/AE-" + std::to_string(e.aes.version);
}

const char* method_label(const InspectedEntry& e)
{
    uint16_t method = e.method == METHOD_AES && e.aes.found ? e.aes.method : e.method;
    switch (method) {
    case METHOD_STORED:
        return "stored";
    case METHOD_DEFLATE:
        return "deflate";
    case METHOD_DEFLATE64:
        return "deflate64";
    case METHOD_LZMA:
        return "lzma";
    default:
        return "unknown";
    }
}

namespace {

Record decode_record(const uint8_t* r)
{
    Record v;
    v.stub_crc = get_u32(r + offsetof(StubRecord, stub_crc));
    v.archive_offset = get_u32(r + offsetof(StubRecord, archive_offset));
    v.config_offset = get_u32(r + offsetof(StubRecord, config_offset));
    v.end_record_offset = get_u32(r + offsetof(StubRecord, end_record_offset));
    v.total_size = get_u32(r + offsetof(StubRecord, total_size));
    v.flags = get_u32(r + offsetof(StubRecord, flags));
    v.license_offset = get_u32(r + offsetof(StubRecord, license_offset));
    v.license_size = get_u32(r + offsetof(StubRecord, license_size));
    v.reserved3 = get_u16(r + offsetof(StubRecord, reserved3));
    v.complete = get_u16(r + offsetof(StubRecord, complete));
    v.reserved4 = get_u32(r + offsetof(StubRecord, reserved4));
    v.total_size_high = get_u32(r + offsetof(StubRecord, total_size_high));
    v.reserved6 = get_u16(r + offsetof(StubRecord, reserved6));
    v.entry_point = get_u32(r + offsetof(StubRecord, entry_point));
    return v;
}

bool read_exact(std::FILE* f, uint64_t offset, void* buffer, size_t size)
{
    return fseeko(f, off_t(offset), SEEK_SET) == 0 && std::fread(buffer, 1, size, f) == size;
}

void print_record(long at, const Record& r)
{
    std::printf("record_offset: 0x%08lX\n", at);
    std::printf("stub_crc: 0x%08X\n", r.stub_crc);
    std::printf("archive_offset: 0x%08X\n", r.archive_offset);
    std::printf("config_offset: 0x%08X\n", r.config_offset);
    std::printf("end_record_offset: 0x%08X\n", r.end_record_offset);
    std::printf("total_size: %llu\n", (unsigned long long)(r.total_size | uint64_t(r.total_size_high) << 32));
    std::printf("flags: 0x%08X (%s)\n", r.flags, describe_flags(r.flags).c_str());
    std::printf("language: %s\n", language_name(r.flags));
    std::printf("complete: 0x%04X\n", r.complete);
    std::printf("entry_point: 0x%08X\n", r.entry_point);
    std::printf("license_offset: 0x%08X\n", r.license_offset);
    std::printf("license_size: %u\n", r.license_size);
    std::printf("reserved: %u %u %u\n", r.reserved3, r.reserved4, r.reserved6);
}

// Reads the eight strings; false when the block cannot be what the stub reads.
bool read_configuration(std::FILE* f, InspectReport& report)
{
    const Record& r = report.record;
    report.config_present = r.config_offset != 0;
    if (!report.config_present)
        return true;
    std::string error;
    uint32_t size = r.archive_offset - r.config_offset;
    if (r.archive_offset < r.config_offset || size > CONFIG_STORED_MAX || r.archive_offset > report.file_size)
        error = "stored size out of range";
    std::vector<uint8_t> block(error.empty() ? size : 0);
    if (error.empty() && !read_exact(f, r.config_offset, block.data(), size))
        error = "unreadable";
    if (error.empty())
        decode_config_block(block.data(), block.size(), report.fields, error);
    report.config_error = error;
    report.config_size = size;
    return error.empty();
}

// The licence text lies in front of the configuration block (or the archive without one).
void read_license(std::FILE* f, InspectReport& report)
{
    const Record& r = report.record;
    if (r.license_offset == 0)
        return;
    uint32_t next = r.config_offset != 0 ? r.config_offset : r.archive_offset;
    std::string& error = report.license_error;
    if (!license_record_sound(r.license_offset, r.license_size, next, report.file_size))
        error = "stored size out of range";
    std::vector<uint8_t> block(error.empty() ? r.license_size : 0);
    if (error.empty() && !read_exact(f, r.license_offset, block.data(), block.size()))
        error = "unreadable";
    if (error.empty())
        decode_license_block(block.data(), block.size(), report.license_text, error);
}

void print_license(const InspectReport& report)
{
    const Record& r = report.record;
    if (r.license_offset == 0) {
        std::printf("license: none\n");
        return;
    }
    if (!report.license_error.empty()) {
        std::printf("license: damaged (%s)\n", report.license_error.c_str());
        return;
    }
    const std::string& text = report.license_text;
    std::printf("license: %zu bytes (stored %u)\n", text.size(), r.license_size);
    std::printf("license first line: %s\n", quoted(text.substr(0, text.find('\r'))).c_str());
}

void print_configuration(const InspectReport& report)
{
    if (!report.config_present) {
        std::printf("config: none\n");
        return;
    }
    if (!report.config_error.empty()) {
        std::printf("config: damaged (%s)\n", report.config_error.c_str());
        return;
    }
    std::printf("config_size: %u\n", report.config_size);
    for (int i = 0; i < CONFIG_FIELD_COUNT; ++i)
        std::printf("config %d %s: %s\n", i, field_labels[i], quoted(report.fields[size_t(i)]).c_str());
}

std::string at_text(uint64_t at)
{
    char text[32];
    std::snprintf(text, sizeof text, " at 0x%08llX", (unsigned long long)at);
    return text;
}

// Reads the central header at `at` and moves past it, as the stub steps over them.
std::string step_over_central_header(std::FILE* f, uint64_t& at)
{
    uint8_t h[CENTRAL_HEADER_SIZE - SIGNATURE_SIZE];
    if (!read_exact(f, at + SIGNATURE_SIZE, h, sizeof h))
        return "central header truncated" + at_text(at);
    at += CENTRAL_HEADER_SIZE + uint64_t(get_u16(h + 24)) + get_u16(h + 26) + get_u16(h + 28);
    return "";
}

// Reads the local header at `at` and moves past its data: sizes from the local header (or
// its ZIP64 record), a bit 3 descriptor stepped over as 16 bytes (24 with a ZIP64 record). With `check_data` the data of an entry that is
// not encrypted is decoded and compared with its size and CRC.
std::string step_over_local_entry(std::FILE* f, uint64_t& at, std::vector<InspectedEntry>& entries, bool check_data)
{
    uint8_t h[LOCAL_HEADER_SIZE - SIGNATURE_SIZE];
    if (!read_exact(f, at + SIGNATURE_SIZE, h, sizeof h))
        return "local header truncated" + at_text(at);
    InspectedEntry e;
    e.offset = at;
    e.flags = get_u16(h + 2);
    e.method = get_u16(h + 4);
    e.mod_time = get_u16(h + 6);
    e.mod_date = get_u16(h + 8);
    e.crc32 = get_u32(h + 10);
    e.compressed_size = get_u32(h + 14);
    e.uncompressed_size = get_u32(h + 18);
    // On the NT family the stub takes any name a header holds (MAX_LONG_NAME_BYTES); Windows
    // 95/98/ME stop at one over 260 bytes, which inspect lists as needing the NT family.
    uint16_t name_size = get_u16(h + 22);
    e.name.assign(name_size, '\0');
    if (!read_exact(f, at + LOCAL_HEADER_SIZE, &e.name[0], name_size))
        return "entry name truncated" + at_text(at);
    std::vector<uint8_t> extra(get_u16(h + 24));
    if (!read_exact(f, at + LOCAL_HEADER_SIZE + name_size, extra.data(), extra.size()))
        return "extra field truncated" + at_text(at);
    // What Windows makes of the stored bytes: the builder's default code page when no
    // Unicode Path field tells.
    e.shown_name = shown_name(e.name, e.flags, extra, DEFAULT_CODEPAGE);
    e.aes = find_aes_record(extra);
    e.time = find_exact_time(extra, e.mod_date, e.mod_time);
    e.zip64 = take_zip64_values(extra, e.uncompressed_size, e.compressed_size);
    e.data_offset = at + LOCAL_HEADER_SIZE + uint64_t(name_size) + get_u16(h + 24);
    if (check_data && !(e.flags & GP_ENCRYPTED)) {
        std::string error = check_entry_data(f, e.data_offset, e.method, e.flags, e.compressed_size, e.uncompressed_size,
                                             e.crc32);
        if (!error.empty()) {
            entries.push_back(e);  // listed, so the entry the walk stopped at is shown
            return "entry " + quoted(e.name, true) + ": " + error;
        }
    }
    // The stub steps over the data of every entry it does not write, directories included.
    uint64_t descriptor = e.zip64 ? ZIP64_DESCRIPTOR_SIZE : DESCRIPTOR_SIZE;
    at = e.data_offset + e.compressed_size + ((e.flags & GP_DESCRIPTOR) ? descriptor : 0);
    entries.push_back(e);
    return "";
}

std::string check_zip64_count(std::FILE* f, uint64_t at, size_t walked, bool spanned)
{
    uint8_t rest[ZIP64_END_RECORD_SIZE - SIGNATURE_SIZE];
    if (!read_exact(f, at + SIGNATURE_SIZE, rest, sizeof rest))
        return "ZIP64 end record truncated" + at_text(at);
    uint64_t listed = get_u64(rest + 28);
    if (!spanned && listed != walked)
        return "the walk meets " + std::to_string(walked) + " entries, the ZIP64 end record lists " +
               std::to_string(listed) + at_text(at);
    return "";
}

// Walks the records from archive_offset as the stub does: local headers and central
// headers are stepped over, the end record or a digital signature ends the walk. Returns
// an error text, empty when the walk reaches the end.
std::string walk_entries(std::FILE* f, const Record& r, std::vector<InspectedEntry>& entries, bool check_data)
{
    uint64_t at = r.archive_offset;
    // A split package's stream runs on through its volumes: it is read like one file.
    bool spanned = (r.flags & SFX_MULTI_VOLUME) && !(r.flags & SFX_SPLIT_VOLUMES);
    for (;;) {
        uint8_t sig[4];
        // A spanned archive goes on in the next disk's file, as the stub's reads do.
        if (!read_exact(f, at, sig, 4))
            return spanned ? "" : "file ends where a record should start" + at_text(at);
        uint32_t s = get_u32(sig);
        std::string error;
        if (s == SIG_END || s == SIG_DIGITAL_SIGNATURE) {
            uint8_t rest[18];
            if (!read_exact(f, at + 4, rest, sizeof rest))
                return "end record truncated" + at_text(at);
            // An entry whose size swallows the ones behind it hides them from the walk.
            if (s == SIG_END && !spanned && get_u16(rest + 6) != entries.size())
                return "the walk meets " + std::to_string(entries.size()) + " entries, the end record lists " +
                       std::to_string(get_u16(rest + 6)) + at_text(at);
            return "";
        }
        // The ZIP64 end record and its locator end the walk as the stub's does; the record's
        // entry count is held against the walk's as the end record's is.
        if (s == SIG_ZIP64_END || s == SIG_ZIP64_LOCATOR)
            return s == SIG_ZIP64_END ? check_zip64_count(f, at, entries.size(), spanned) : "";
        if (s == SIG_SINGLE_VOLUME || (s == SIG_SPANNING && (r.flags & SFX_MULTI_VOLUME))) {
            at += 4;
            continue;
        }
        if (s == SIG_CENTRAL)
            error = step_over_central_header(f, at);
        else if (s == SIG_LOCAL)
            error = step_over_local_entry(f, at, entries, check_data && !spanned);
        else
            return "not a ZIP record (the stub stops with \"invalid header\")" + at_text(at);
        if (!error.empty())
            return error;
    }
}

// The checks return 1 (passes), 0 (fails) or -1 (skipped, as the stub skips it).
// The checksummed part is read in chunks, never whole: archive_offset is the file's claim,
// and a sparse file can claim gigabytes it does not hold. `record_at` is the first marker,
// found in `head`, the file's first bytes.
int check_stub_checksum(std::FILE* f, const Record& r, uint64_t file_size, const std::vector<uint8_t>& head,
                        long record_at)
{
    if (r.stub_crc == 0)
        return -1;
    if (r.archive_offset > file_size || uint64_t(record_at) + sizeof(StubRecord) > r.archive_offset)
        return 0;
    uint64_t start = 0;
    if (r.flags & SFX_CRC_AFTER_HEADERS)
        start = head.size() >= 64 ? pe_headers_end(head) : r.archive_offset;
    if (start > r.archive_offset)
        return 0;
    uint64_t field = uint64_t(record_at) + STUB_CRC_FIELD_OFFSET;
    static uint8_t chunk[1 << 16];
    uLong crc = crc32_z(0, nullptr, 0);
    for (uint64_t at = start; at < r.archive_offset;) {
        size_t n = size_t(std::min<uint64_t>(sizeof chunk, r.archive_offset - at));
        if (!read_exact(f, at, chunk, n))
            return 0;
        for (uint64_t i = std::max(at, field); i < std::min(at + n, field + 4); ++i)
            chunk[i - at] = 0;  // stub_crc counts as zero
        crc = crc32_z(crc, chunk, n);
        at += n;
    }
    return uint32_t(crc) == r.stub_crc;
}

int check_entry_point(const std::vector<uint8_t>& head, const Record& r)
{
    if (head.size() < 64)
        return 0;
    uint64_t pe = get_u32(head.data() + DOS_E_LFANEW);
    if (pe_headers_end(head) > head.size())
        return 0;
    return get_u32(head.data() + pe + PE_ENTRY_POINT) == r.entry_point;
}

int check_end_record(std::FILE* f, const Record& r)
{
    if (r.end_record_offset == 0 || (r.flags & SFX_MULTI_VOLUME))
        return -1;
    uint8_t sig[4];
    return read_exact(f, r.end_record_offset, sig, 4) &&
           (get_u32(sig) == SIG_END || get_u32(sig) == SIG_DIGITAL_SIGNATURE);
}

// Reads the file's first bytes, which hold the stub image and so the record; returns the
// record's offset or -1.
long find_record(std::FILE* f, uint64_t file_size, std::vector<uint8_t>& head)
{
    head.resize(size_t(std::min<uint64_t>(file_size, 16u << 20)));
    if (!read_exact(f, 0, head.data(), head.size()))
        return -1;
    long at = find_stub_marker(head.data(), head.size());
    return at >= 0 && size_t(at) + sizeof(StubRecord) <= head.size() ? at : -1;
}

// The names a vendor should know of before shipping to Windows 95/98/ME.
void print_nt_only_names(const InspectReport& report)
{
    std::printf("names needing the NT family: %zu\n", count_nt_only_names(report));
    for (const InspectedEntry& e : report.entries) {
        if (needs_nt_family(e.name, e.flags))
            std::printf("needs the NT family: \"%s\"\n", printable_name(e.shown_name).c_str());
    }
}

void print_entries(const InspectReport& report)
{
    for (const InspectedEntry& e : report.entries)
        std::printf("entry: method=%u (%s) compressed=%llu uncompressed=%llu encrypted=%s time=\"%s\" time_from=%s "
                    "name=%s shown=\"%s\"\n",
                    e.method, method_label(e), (unsigned long long)e.compressed_size, (unsigned long long)e.uncompressed_size, encryption_label(e).c_str(),
                    entry_time_text(e).c_str(), entry_time_source(e), quoted(e.name, true).c_str(),
                    printable_name(e.shown_name).c_str());
    print_nt_only_names(report);
}

void print_identity(const IdentityReport& identity)
{
    if (!identity.error.empty()) {
        std::printf("resources: damaged (%s)\n", identity.error.c_str());
        return;
    }
    if (!identity.has_version) {
        std::printf("version: none\n");
    } else {
        const VersionInfo& v = identity.version;
        std::printf("version file: %s\n", version_numbers_text(v.file_version).c_str());
        std::printf("version product: %s\n", version_numbers_text(v.product_version).c_str());
        std::printf("version table: %s\n", v.table.c_str());
        for (size_t i = 0; i + 1 < v.translation.size(); i += 2)
            std::printf("version translation: 0x%04X %u\n", v.translation[i], v.translation[i + 1]);
        for (const auto& s : v.strings)
            std::printf("version %s: %s\n", printable(s.first).c_str(), quoted(s.second).c_str());
    }
    std::string icon;
    for (const std::string& image : identity.icon)
        icon += (icon.empty() ? "" : ", ") + image;
    std::printf("icon: %s\n", icon.empty() ? "none" : icon.c_str());
}

bool is_split_package(const InspectReport& report)
{
    return (report.record.flags & SFX_SPLIT_VOLUMES) != 0;
}

void print_volumes(const InspectReport& report)
{
    static const char digits[] = "0123456789abcdef";
    for (const SplitVolume& v : report.split_volumes) {
        std::string hex;
        for (uint8_t b : v.sha256)
            hex += std::string{digits[b >> 4], digits[b & 15]};
        std::printf("volume: %s %llu bytes sha256 %s\n", printable(v.name).c_str(), (unsigned long long)v.size,
                    hex.c_str());
    }
}

void print_checks(const InspectReport& report)
{
    const StartupChecks& c = report.checks;
    std::printf("check stub checksum: %s\n", verdict(c.stub_checksum));
    std::printf("check entry point: %s\n", verdict(c.entry_point));
    std::printf("check end record: %s\n", verdict(c.end_record));
    std::printf("check complete mark: %s\n", verdict(c.complete_mark));
    std::printf("check configuration: %s\n", verdict(c.configuration));
    if (is_split_package(report))
        std::printf("check volumes: %s\n", report.split_error.empty() ? ("ok (" + std::to_string(report.split_volumes.size()) +
                                                                         " volumes)").c_str()
                                                                      : ("FAILED (" + report.split_error + ")").c_str());
    if (report.archive_elsewhere)
        std::printf("check archive walk: skipped (the archive is in the disks' .ZIP files)\n");
    else if (is_split_package(report) && !report.split_error.empty())
        std::printf("check archive walk: skipped (the volumes do not match)\n");
    else if (report.walk_error.empty())
        std::printf("check archive walk: ok (%zu entries)\n", report.entries.size());
    else
        std::printf("check archive walk: FAILED (%s)\n", report.walk_error.c_str());
}

// A split package: its table, then every volume checked whole, and only then the walk over
// the program's part and the volumes, as the stub does.
void walk_split_package(std::FILE* f, InspectReport& report, bool check_data)
{
    report.split_error = read_split_table(f, report.record.config_offset, report.split_volumes);
    if (report.split_error.empty())
        report.split_error = check_split_volumes(folder_of_path(report.path), report.split_volumes);
    if (!report.split_error.empty())
        return;
    FilePtr stream = open_archive_stream(report, report.split_error);
    if (stream)
        report.walk_error = walk_entries(stream.get(), report.record, report.entries, check_data);
}

}  // namespace

FilePtr open_archive_stream(const InspectReport& report, std::string& error)
{
    if (report.record.flags & SFX_SPLIT_VOLUMES)
        return open_split_stream(report.path, report.record.archive_offset, folder_of_path(report.path),
                                 report.split_volumes, error);
    FilePtr f(std::fopen(report.path.c_str(), "rb"), std::fclose);
    if (!f)
        error = "cannot open " + report.path + ": " + std::strerror(errno);
    return f;
}

const char* const field_labels[CONFIG_FIELD_COUNT] = {"folder", "command", "params", "ignored",
                                                      "prompt", "title",   "about",  "info"};

const char* verdict(int result)
{
    return result > 0 ? "ok" : result == 0 ? "FAILED" : "skipped";
}

size_t count_nt_only_names(const InspectReport& report)
{
    size_t count = 0;
    for (const InspectedEntry& e : report.entries)
        count += needs_nt_family(e.name, e.flags) ? 1 : 0;
    return count;
}

bool InspectReport::failed() const
{
    return checks.stub_checksum == 0 || checks.entry_point == 0 || checks.end_record == 0 ||
           checks.complete_mark == 0 || !checks.configuration || !walk_error.empty() || !license_error.empty() ||
           !split_error.empty();
}

InspectStatus inspect_file(const std::string& path, InspectReport& report, bool check_data)
{
    report = InspectReport();
    report.path = path;
    FilePtr f(nullptr, std::fclose);
    try {
        f = open_regular_file(path, "file", &report.file_size);
    } catch (const BuildError& e) {
        report.open_error = e.message();
        return INSPECT_UNREADABLE;
    }
    std::vector<uint8_t> head;
    report.record_offset = find_record(f.get(), report.file_size, head);
    if (report.record_offset < 0)
        return INSPECT_NO_RECORD;
    const Record& r = report.record = decode_record(head.data() + report.record_offset);
    report.checks.configuration = read_configuration(f.get(), report);
    read_license(f.get(), report);
    // With .ZIP volumes the stub reads the archive from the disks' .ZIP files, not from here.
    bool split = (r.flags & SFX_SPLIT_VOLUMES) != 0;
    report.archive_elsewhere = (r.flags & SFX_MULTI_VOLUME) && !(r.flags & SFX_EXE_VOLUMES) && !split;
    if (split)
        walk_split_package(f.get(), report, check_data);
    else if (!report.archive_elsewhere)
        report.walk_error = walk_entries(f.get(), r, report.entries, check_data);
    // The three start-up checks and the complete mark, as the stub runs them.
    report.checks.stub_checksum = check_stub_checksum(f.get(), r, report.file_size, head, report.record_offset);
    report.checks.entry_point = check_entry_point(head, r);
    report.checks.end_record = check_end_record(f.get(), r);
    report.checks.complete_mark = r.complete != 0;
    // The manifest lies in the stub's resources, in front of the archive.
    if (r.archive_offset > 0)
        head.resize(std::min<size_t>(head.size(), r.archive_offset));
    report.execution_level = read_execution_level(head);
    report.identity = read_identity(head);
    return INSPECT_OK;
}

void report_inspect_status(const char* command, const InspectReport& report, InspectStatus status)
{
    std::string path = printable(report.path);
    if (status == INSPECT_UNREADABLE)
        std::fprintf(stderr, "tvsfx %s: %s\n", command, printable(report.open_error).c_str());
    else if (status == INSPECT_NO_RECORD)
        std::fprintf(stderr, "tvsfx %s: %s has no stub record; it was not made by tvsfx\n", command, path.c_str());
}

int run_inspect(const std::string& path, bool json)
{
    InspectReport report;
    InspectStatus status = inspect_file(path, report);
    if (status != INSPECT_OK) {
        report_inspect_status("inspect", report, status);
        return 1;
    }
    if (json) {
        print_inspect_json(report, stdout);
        return report.failed() ? 1 : 0;
    }
    std::printf("file: %s (%llu bytes)\n", printable(path).c_str(), (unsigned long long)report.file_size);
    print_record(report.record_offset, report.record);
    std::printf("execution_level: %s\n", report.execution_level.empty() ? "none" : report.execution_level.c_str());
    print_identity(report.identity);
    print_configuration(report);
    print_license(report);
    print_volumes(report);
    print_entries(report);
    print_checks(report);
    return report.failed() ? 1 : 0;
}

std::string entry_time_text(const InspectedEntry& e)
{
    char text[40];
    if (e.time.kind == TIME_FROM_DOS) {
        std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u local", 1980u + (e.mod_date >> 9),
                      (e.mod_date >> 5) & 0x0Fu, e.mod_date & 0x1Fu, unsigned(e.mod_time >> 11),
                      (e.mod_time >> 5) & 0x3Fu, (e.mod_time & 0x1Fu) * 2);
        return text;
    }
    // Floor division: times before 1970 are negative.
    int64_t ticks = e.time.filetime - FILETIME_UNIX_EPOCH;
    int64_t seconds = ticks / FILETIME_PER_SECOND - (ticks % FILETIME_PER_SECOND < 0 ? 1 : 0);
    time_t t = time_t(seconds);
    struct tm fields;
    if (gmtime_r(&t, &fields) == nullptr || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &fields))
        return "?";
    return text;
}

const char* entry_time_source(const InspectedEntry& e)
{
    switch (e.time.kind) {
    case TIME_FROM_NTFS: return "ntfs";
    case TIME_FROM_UNIX: return "unix";
    case TIME_FROM_OLD_UNIX: return "unix-old";
    case TIME_FROM_PKWARE_UNIX: return "unix-pkware";
    default: return "dos";
    }
}
