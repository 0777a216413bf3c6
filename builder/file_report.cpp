// `tvsfx inspect`: reads a built file the way the stub does at start-up and reports what
// it finds, so a file can be checked without Windows.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "archive.h"
#include "build.h"
#include "byte_buffer.h"
#include "config_block.h"
#include "names.h"
#include "pe_image.h"
#include "stub_record_io.h"
#include "format/zip_format.h"

namespace {

using FilePtr = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

enum : uint32_t {
    STUB_NAME_LIMIT = 260,  // the stub's entry_name holds 260 bytes and a NUL
};

const char* const field_labels[CONFIG_FIELD_COUNT] = {"folder", "command", "params", "ignored",
                                                      "prompt", "title",   "about",  "info"};

struct Record {
    uint32_t stub_crc, archive_offset, config_offset, end_record_offset, total_size, flags;
    uint32_t reserved1, reserved2, reserved4, reserved5, entry_point;
    uint16_t reserved3, complete, reserved6;
};

Record decode_record(const uint8_t* r)
{
    Record v;
    v.stub_crc = get_u32(r + offsetof(StubRecord, stub_crc));
    v.archive_offset = get_u32(r + offsetof(StubRecord, archive_offset));
    v.config_offset = get_u32(r + offsetof(StubRecord, config_offset));
    v.end_record_offset = get_u32(r + offsetof(StubRecord, end_record_offset));
    v.total_size = get_u32(r + offsetof(StubRecord, total_size));
    v.flags = get_u32(r + offsetof(StubRecord, flags));
    v.reserved1 = get_u32(r + offsetof(StubRecord, reserved1));
    v.reserved2 = get_u32(r + offsetof(StubRecord, reserved2));
    v.reserved3 = get_u16(r + offsetof(StubRecord, reserved3));
    v.complete = get_u16(r + offsetof(StubRecord, complete));
    v.reserved4 = get_u32(r + offsetof(StubRecord, reserved4));
    v.reserved5 = get_u32(r + offsetof(StubRecord, reserved5));
    v.reserved6 = get_u16(r + offsetof(StubRecord, reserved6));
    v.entry_point = get_u32(r + offsetof(StubRecord, entry_point));
    return v;
}

bool read_exact(std::FILE* f, uint64_t offset, void* buffer, size_t size)
{
    return fseeko(f, off_t(offset), SEEK_SET) == 0 && std::fread(buffer, 1, size, f) == size;
}

// Texts in quotes, control bytes escaped; with `bytes_above_ascii`, bytes from 0x80 as well
// (a stored entry name is in the stub's code page, not in the terminal's).
std::string quoted(const std::string& text, bool bytes_above_ascii = false)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        char escape[8];
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + char(c);
        else if (c < 0x20 || c == 0x7F || (bytes_above_ascii && c >= 0x80)) {
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else
            out += char(c);
    }
    return out + "\"";
}

void print_record(long at, const Record& r)
{
    std::printf("record_offset: 0x%08lX\n", at);
    std::printf("stub_crc: 0x%08X\n", r.stub_crc);
    std::printf("archive_offset: 0x%08X\n", r.archive_offset);
    std::printf("config_offset: 0x%08X\n", r.config_offset);
    std::printf("end_record_offset: 0x%08X\n", r.end_record_offset);
    std::printf("total_size: %u\n", r.total_size);
    std::printf("flags: 0x%08X (%s)\n", r.flags, describe_flags(r.flags).c_str());
    std::printf("complete: 0x%04X\n", r.complete);
    std::printf("entry_point: 0x%08X\n", r.entry_point);
    std::printf("reserved: %u %u %u %u %u %u\n", r.reserved1, r.reserved2, r.reserved3, r.reserved4, r.reserved5,
                r.reserved6);
}

// Prints the eight strings; false when the block cannot be what the stub reads.
bool print_configuration(std::FILE* f, const Record& r, uint64_t file_size)
{
    if (r.config_offset == 0) {
        std::printf("config: none\n");
        return true;
    }
    std::string error;
    ConfigFields fields;
    uint32_t size = r.archive_offset - r.config_offset;
    if (r.archive_offset < r.config_offset || size > CONFIG_STORED_MAX || r.archive_offset > file_size)
        error = "stored size out of range";
    std::vector<uint8_t> block(error.empty() ? size : 0);
    if (error.empty() && !read_exact(f, r.config_offset, block.data(), size))
        error = "unreadable";
    if (error.empty())
        decode_config_block(block.data(), block.size(), fields, error);
    if (!error.empty()) {
        std::printf("config: damaged (%s)\n", error.c_str());
        return false;
    }
    std::printf("config_size: %u\n", size);
    for (int i = 0; i < CONFIG_FIELD_COUNT; ++i)
        std::printf("config %d %s: %s\n", i, field_labels[i], quoted(fields[size_t(i)]).c_str());
    return true;
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
    if (get_u16(h + 24) > STUB_NAME_LIMIT)
        return "central header name over 260 bytes" + at_text(at);
    at += CENTRAL_HEADER_SIZE + uint64_t(get_u16(h + 24)) + get_u16(h + 26) + get_u16(h + 28);
    return "";
}

// Reads and prints the local header at `at` and moves past its data: sizes from the local
// header, a bit 3 descriptor stepped over as 16 bytes.
std::string step_over_local_entry(std::FILE* f, uint64_t& at)
{
    uint8_t h[LOCAL_HEADER_SIZE - SIGNATURE_SIZE];
    if (!read_exact(f, at + SIGNATURE_SIZE, h, sizeof h))
        return "local header truncated" + at_text(at);
    uint16_t flags = get_u16(h + 2), method = get_u16(h + 4), name_size = get_u16(h + 22);
    uint32_t packed = get_u32(h + 14), size = get_u32(h + 18);
    if (name_size > STUB_NAME_LIMIT)
        return "entry name over 260 bytes" + at_text(at);
    std::string name(name_size, '\0');
    if (!read_exact(f, at + LOCAL_HEADER_SIZE, &name[0], name_size))
        return "entry name truncated" + at_text(at);
    std::vector<uint8_t> extra(get_u16(h + 24));
    if (!read_exact(f, at + 30 + name_size, extra.data(), extra.size()))
        return "extra field truncated" + at_text(at);
    // Stored: the bytes the stub uses; shown: what Windows makes of them (its code page
    // taken as the builder's default when no Unicode Path field tells).
    std::printf("entry: method=%u compressed=%u uncompressed=%u encrypted=%s name=%s shown=\"%s\"\n", method, packed,
                size, (flags & GP_ENCRYPTED) ? "yes" : "no", quoted(name, true).c_str(),
                printable_name(shown_name(name, extra, DEFAULT_CODEPAGE)).c_str());
    // The stub steps over the data of every entry it does not write, directories included.
    at += LOCAL_HEADER_SIZE + uint64_t(name_size) + get_u16(h + 24) + packed + ((flags & GP_DESCRIPTOR) ? DESCRIPTOR_SIZE : 0);
    return "";
}

// Walks the records from archive_offset as the stub does: local headers and central
// headers are stepped over, the end record or a digital signature ends the walk. Returns
// an error text, empty when the walk reaches the end.
std::string walk_entries(std::FILE* f, const Record& r, size_t& entries)
{
    uint64_t at = r.archive_offset;
    bool spanned = (r.flags & SFX_MULTI_VOLUME) != 0;
    for (;;) {
        uint8_t sig[4];
        // A spanned archive goes on in the next disk's file, as the stub's reads do.
        if (!read_exact(f, at, sig, 4))
            return spanned ? "" : "file ends where a record should start" + at_text(at);
        uint32_t s = get_u32(sig);
        std::string error;
        if (s == SIG_END || s == SIG_DIGITAL_SIGNATURE) {
            uint8_t rest[18];
            return read_exact(f, at + 4, rest, sizeof rest) ? "" : "end record truncated" + at_text(at);
        }
        if (s == SIG_SINGLE_VOLUME || (s == SIG_SPANNING && spanned)) {
            at += 4;
            continue;
        }
        if (s == SIG_CENTRAL) {
            error = step_over_central_header(f, at);
        } else if (s == SIG_LOCAL) {
            error = step_over_local_entry(f, at);
            entries += error.empty() ? 1 : 0;
        } else {
            return "not a ZIP record (the stub stops with \"invalid header\")" + at_text(at);
        }
        if (!error.empty())
            return error;
    }
}

const char* verdict(int result)
{
    return result > 0 ? "ok" : result == 0 ? "FAILED" : "skipped";
}

// The checks return 1 (passes), 0 (fails) or -1 (skipped, as the stub skips it).
int check_stub_checksum(std::FILE* f, const Record& r, uint64_t file_size)
{
    if (r.stub_crc == 0)
        return -1;
    if (r.archive_offset > file_size)
        return 0;
    std::vector<uint8_t> part(r.archive_offset);
    if (!read_exact(f, 0, part.data(), part.size()))
        return 0;
    long marker = find_stub_marker(part.data(), part.size());
    return marker >= 0 && compute_stub_crc(part, size_t(marker), r.flags) == r.stub_crc;
}

int check_entry_point(const std::vector<uint8_t>& head, const Record& r)
{
    if (head.size() < 64)
        return 0;
    uint64_t pe = get_u32(head.data() + DOS_E_LFANEW);
    if (pe + PE_HEADERS_SIZE > head.size())
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

}  // namespace

int run_inspect(const std::string& path)
{
    FilePtr f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) {
        std::fprintf(stderr, "tvsfx inspect: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return 2;
    }
    fseeko(f.get(), 0, SEEK_END);
    uint64_t file_size = uint64_t(ftello(f.get()));
    std::vector<uint8_t> head;
    long at = find_record(f.get(), file_size, head);
    if (at < 0) {
        std::fprintf(stderr, "tvsfx inspect: %s has no stub record\n", path.c_str());
        return 2;
    }
    Record r = decode_record(head.data() + at);
    std::printf("file: %s (%llu bytes)\n", path.c_str(), (unsigned long long)file_size);
    print_record(at, r);
    bool config_ok = print_configuration(f.get(), r, file_size);

    size_t entries = 0;
    // With .ZIP volumes the stub reads the archive from the disks' .ZIP files, not from here.
    bool archive_elsewhere = (r.flags & SFX_MULTI_VOLUME) && !(r.flags & SFX_EXE_VOLUMES);
    std::string walk_error = archive_elsewhere ? "" : walk_entries(f.get(), r, entries);

    // The three start-up checks and the complete mark, as the stub runs them.
    int crc = check_stub_checksum(f.get(), r, file_size);
    int entry = check_entry_point(head, r);
    int end = check_end_record(f.get(), r);
    int complete = r.complete != 0;

    std::printf("check stub checksum: %s\n", verdict(crc));
    std::printf("check entry point: %s\n", verdict(entry));
    std::printf("check end record: %s\n", verdict(end));
    std::printf("check complete mark: %s\n", verdict(complete));
    std::printf("check configuration: %s\n", verdict(config_ok));
    if (archive_elsewhere)
        std::printf("check archive walk: skipped (the archive is in the disks' .ZIP files)\n");
    else if (walk_error.empty())
        std::printf("check archive walk: ok (%zu entries)\n", entries);
    else
        std::printf("check archive walk: FAILED (%s)\n", walk_error.c_str());
    bool failed = crc == 0 || entry == 0 || end == 0 || complete == 0 || !config_ok || !walk_error.empty();
    return failed ? 1 : 0;
}
