// Writes the ZIP archive into the output file. Every local header carries the real CRC and
// sizes, because the stub takes them from there and never reads a data descriptor; offsets
// in the central directory and end record are absolute, so ZIP tools read the .exe as it is.
#include "archive_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <sys/random.h>

#include "build_error.h"
#include "byte_buffer.h"
#include "names.h"
#include "output_file.h"
#include "crc32.h"
#include "crypt.h"
#include "extra_field.h"
#include "format/zip_format.h"
#include "printable.h"
#include "zip_aes.h"

namespace {

// What the central directory needs to repeat about a written entry.
struct WrittenEntry {
    uint16_t version_needed;
    uint16_t gp_flags;
    uint64_t stored_size;
    uint64_t local_offset;
    bool zip64_local;  // the local header has a ZIP64 record (and the descriptor 8-byte sizes)
};

// ZIP64 is written only where a value does not fit its field, so an archive within the
// classic limits is what it always was. A value equal to the field's largest would read as
// the mark, so it goes to ZIP64 too.
bool needs_zip64(uint64_t value)
{
    return value >= ZIP64_MARK_32;
}

uint32_t field_or_mark(uint64_t value)
{
    return needs_zip64(value) ? ZIP64_MARK_32 : uint32_t(value);
}

// A ZIP64 record of the given 8-byte values, in the order they are passed.
std::vector<uint8_t> zip64_record(const std::vector<uint64_t>& values)
{
    std::vector<uint8_t> r;
    append_u16(r, EXTRA_ZIP64);
    append_u16(r, uint16_t(8 * values.size()));
    for (uint64_t v : values)
        append_u64(r, v);
    return r;
}

// The local record holds both sizes, as readers of a local header expect.
std::vector<uint8_t> local_extra_of(const ArchiveEntry& e, const WrittenEntry& w)
{
    if (!w.zip64_local)
        return e.local_extra;
    std::vector<uint8_t> extra = zip64_record({e.uncompressed_size, w.stored_size});
    extra.insert(extra.end(), e.local_extra.begin(), e.local_extra.end());
    return extra;
}

// The central record holds only the values whose field is marked.
std::vector<uint8_t> central_extra_of(const ArchiveEntry& e, const WrittenEntry& w)
{
    std::vector<uint64_t> values;
    for (uint64_t v : {e.uncompressed_size, w.stored_size, w.local_offset}) {
        if (needs_zip64(v))
            values.push_back(v);
    }
    if (values.empty())
        return e.central_extra;
    std::vector<uint8_t> extra = zip64_record(values);
    extra.insert(extra.end(), e.central_extra.begin(), e.central_extra.end());
    return extra;
}

// A header's name, extra fields and comment each have a 16-bit length: more would wrap and
// shift everything behind it, so it is refused before anything of the entry is written.
uint16_t field_length(size_t size, const ArchiveEntry& e, const char* what)
{
    if (size > 0xFFFF)
        fail(describe_entry(e) + ": its " + what + " would take " + std::to_string(size) +
             " bytes, more than the 65535 a ZIP header holds; repack the input without them");
    return uint16_t(size);
}

// The bytes the builder adds to both extra blocks of an entry it encrypts with AES.
size_t added_extra_size(const ArchiveEntry& e, const std::string& password, EntryCipher cipher)
{
    return will_encrypt(e, password) && cipher == EntryCipher::aes256 ? 4 + AES_EXTRA_SIZE : 0;
}

void check_field_lengths(const ArchiveEntry& e, size_t added_extra)
{
    field_length(e.name.size(), e, "name");
    field_length(e.local_extra.size() + added_extra, e, "local header's extra fields");
    field_length(e.central_extra.size() + added_extra, e, "central header's extra fields");
    field_length(e.comment_size, e, "comment");
}

std::vector<uint8_t> local_header(const ArchiveEntry& e, const WrittenEntry& w)
{
    std::vector<uint8_t> extra = local_extra_of(e, w);
    std::vector<uint8_t> h;
    append_u32(h, SIG_LOCAL);
    append_u16(h, w.version_needed);
    append_u16(h, w.gp_flags);
    append_u16(h, e.method);
    append_u16(h, e.dos_time);
    append_u16(h, e.dos_date);
    append_u32(h, e.crc32);
    append_u32(h, w.zip64_local ? ZIP64_MARK_32 : uint32_t(w.stored_size));
    append_u32(h, w.zip64_local ? ZIP64_MARK_32 : uint32_t(e.uncompressed_size));
    append_u16(h, field_length(e.name.size(), e, "name"));
    append_u16(h, field_length(extra.size(), e, "local header's extra fields"));
    append_bytes(h, e.name.data(), e.name.size());
    append_bytes(h, extra.data(), extra.size());
    return h;
}

void append_central_header(std::vector<uint8_t>& h, const ArchiveEntry& e, const WrittenEntry& w)
{
    std::vector<uint8_t> extra = central_extra_of(e, w);
    append_u32(h, SIG_CENTRAL);
    append_u16(h, e.version_made_by);
    append_u16(h, w.version_needed);
    append_u16(h, w.gp_flags);
    append_u16(h, e.method);
    append_u16(h, e.dos_time);
    append_u16(h, e.dos_date);
    append_u32(h, e.crc32);
    append_u32(h, field_or_mark(w.stored_size));
    append_u32(h, field_or_mark(e.uncompressed_size));
    append_u16(h, field_length(e.name.size(), e, "name"));
    append_u16(h, field_length(extra.size(), e, "central header's extra fields"));
    std::vector<uint8_t> comment = e.comment_size != 0 ? e.read_comment() : std::vector<uint8_t>();
    append_u16(h, field_length(comment.size(), e, "comment"));
    append_u16(h, 0);  // disk number start
    append_u16(h, e.internal_attributes);
    append_u32(h, e.external_attributes);
    append_u32(h, field_or_mark(w.local_offset));
    append_bytes(h, e.name.data(), e.name.size());
    append_bytes(h, extra.data(), extra.size());
    append_bytes(h, comment.data(), comment.size());
}

// Writes the 12-byte header that starts an encrypted entry: 11 random bytes and the check
// byte, encrypted with keys fresh from the password. The keys then go on with the entry's data.
void write_encryption_header(OutputFile& out, const std::string& password, uint8_t check_byte)
{
    // The cipher steps a CRC-32 register with the decoder's table, built on first use.
    static bool crc_table_built = (build_crc_table(), true);
    (void)crc_table_built;
    // The random bytes only have to differ between entries and runs so that equal data
    // does not encrypt equally; std::random_device reads the system's entropy source.
    static std::random_device entropy;
    uint8_t header[ENCRYPTION_HEADER_SIZE];
    for (size_t i = 0; i + 1 < ENCRYPTION_HEADER_SIZE; ++i)
        header[i] = uint8_t(entropy());
    header[ENCRYPTION_HEADER_SIZE - 1] = check_byte;
    init_keys(password.c_str());
    encrypt_buffer(header, ENCRYPTION_HEADER_SIZE);
    out.write(header, ENCRYPTION_HEADER_SIZE);
}

// The AES salt must be unpredictable: it comes from the kernel's random source.
void fill_random(uint8_t* bytes, size_t size)
{
    while (size > 0) {
        ssize_t n = getrandom(bytes, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(std::string("cannot read the system's random source for the AES salt: ") + std::strerror(errno));
        bytes += n;
        size -= size_t(n);
    }
}

// The entry becomes an AES-256 entry (AE-2): method 99, the 0x9901 record naming the real
// method in both headers, version 5.1 needed. AE-2 stores no CRC, which would tell something
// about the plain data; the authentication code protects it instead.
void convert_to_aes(ArchiveEntry& e)
{
    std::vector<uint8_t> record = make_aes_record(AES_STRENGTH_256, e.method);
    e.local_extra.insert(e.local_extra.end(), record.begin(), record.end());
    e.central_extra.insert(e.central_extra.end(), record.begin(), record.end());
    e.method = METHOD_AES;
    e.crc32 = 0;
}

// Salt and verifier in front of the data; the cipher is then ready for it.
void write_aes_header(OutputFile& out, const std::string& password, ZipAes& aes)
{
    static bool tables_built = (build_zip_aes(), true);
    (void)tables_built;
    uint8_t header[AES_MAX_SALT_SIZE + AES_VERIFIER_SIZE];
    fill_random(header, AES_MAX_SALT_SIZE);
    zip_aes_start(&aes, reinterpret_cast<const uint8_t*>(password.data()), password.size(), AES_STRENGTH_256, header,
                  header + AES_MAX_SALT_SIZE);
    out.write(header, sizeof header);
}

// Encrypts a chunk of the payload in place; empty when the entry is copied as it is.
using ChunkCipher = std::function<void(uint8_t*, size_t)>;

// Copies the payload, encrypting it on the way with `encrypt` when there is one, and insists on
// exactly the announced number of bytes: the local header was already written.
void copy_payload(OutputFile& out, const ArchiveEntry& e, PayloadReader& reader, const ChunkCipher& encrypt)
{
    // A multiple of 16 bytes: AES takes every chunk but the last in whole blocks.
    static uint8_t chunk[1 << 16];
    uint64_t copied = 0;
    for (;;) {
        size_t n = reader(chunk, sizeof chunk);
        if (n == 0)
            break;
        if (encrypt)
            encrypt(chunk, n);
        out.write(chunk, n);
        copied += n;
    }
    if (copied != e.compressed_size)
        fail(describe_entry(e) + ": " + std::to_string(copied) + " data bytes instead of " +
             std::to_string(e.compressed_size));
}

WrittenEntry write_entry(OutputFile& out, ArchiveEntry& e, const std::string& password, EntryCipher cipher)
{
    PayloadReader reader = e.open_payload ? e.open_payload(e) : PayloadReader([](uint8_t*, size_t) { return size_t(0); });
    bool encrypt = will_encrypt(e, password);
    bool aes = encrypt && cipher == EntryCipher::aes256;
    uint32_t traditional_check = uint8_t(e.crc32 >> 24);
    if (aes)
        convert_to_aes(e);
    WrittenEntry w;
    w.local_offset = out.position();
    w.gp_flags = e.gp_flags;
    w.version_needed = e.version_needed;
    // Bit 3 stays only on entries that arrive encrypted: their check byte was made from the
    // time field because of it. Everything else gets its real sizes and no descriptor.
    if (!e.encrypted())
        w.gp_flags &= ~GP_DESCRIPTOR;
    if (encrypt) {
        w.gp_flags |= GP_ENCRYPTED;
        // AES entries need version 5.1 of the format.
        w.version_needed = std::max<uint16_t>(w.version_needed, aes ? 51 : 20);
    }
    uint64_t overhead = aes ? aes_overhead(AES_STRENGTH_256) : encrypt ? ENCRYPTION_HEADER_SIZE : 0;
    w.stored_size = e.compressed_size + overhead;
    w.zip64_local = needs_zip64(w.stored_size) || needs_zip64(e.uncompressed_size);
    if (w.zip64_local || needs_zip64(w.local_offset))
        w.version_needed = std::max<uint16_t>(w.version_needed, ZIP64_VERSION_NEEDED);

    std::vector<uint8_t> header = local_header(e, w);
    out.write(header.data(), header.size());
    ZipAes aes_cipher;
    ChunkCipher encrypt_chunk;
    if (aes) {
        write_aes_header(out, password, aes_cipher);
        encrypt_chunk = [&aes_cipher](uint8_t* data, size_t n) { zip_aes_encrypt(&aes_cipher, data, n); };
    } else if (encrypt) {
        // Written without bit 3, so the stub compares the check byte with the CRC's high byte.
        write_encryption_header(out, password, uint8_t(traditional_check));
        encrypt_chunk = [](uint8_t* data, size_t n) { encrypt_buffer(data, uint32_t(n)); };
    }
    copy_payload(out, e, reader, encrypt_chunk);
    if (aes) {
        uint8_t code[AES_CODE_SIZE];
        zip_aes_finish(&aes_cipher, code);
        zip_aes_wipe(&aes_cipher);
        out.write(code, sizeof code);
    }
    if (w.gp_flags & GP_DESCRIPTOR) {
        // The stub steps over exactly 16 bytes (24 behind a ZIP64 local header), so the
        // descriptor carries its signature.
        std::vector<uint8_t> d;
        append_u32(d, SIG_DESCRIPTOR);
        append_u32(d, e.crc32);
        if (w.zip64_local) {
            append_u64(d, w.stored_size);
            append_u64(d, e.uncompressed_size);
        } else {
            append_u32(d, uint32_t(w.stored_size));
            append_u32(d, uint32_t(e.uncompressed_size));
        }
        out.write(d.data(), d.size());
    }
    return w;
}

// A count of exactly 65,535 stays classic, as the builder always wrote it: only more entries
// need the ZIP64 end record.
bool directory_needs_zip64(size_t count, uint64_t directory_size, uint64_t directory_offset)
{
    return count > ZIP64_MARK_16 || needs_zip64(directory_size) || needs_zip64(directory_offset);
}

std::vector<uint8_t> end_record(size_t count, uint64_t directory_size, uint64_t directory_offset, size_t comment_size)
{
    uint16_t shown_count = count > ZIP64_MARK_16 ? uint16_t(ZIP64_MARK_16) : uint16_t(count);
    std::vector<uint8_t> r;
    append_u32(r, SIG_END);
    append_u16(r, 0);  // this disk
    append_u16(r, 0);  // disk of the central directory
    append_u16(r, shown_count);
    append_u16(r, shown_count);
    append_u32(r, field_or_mark(directory_size));
    append_u32(r, field_or_mark(directory_offset));
    append_u16(r, uint16_t(comment_size));
    return r;
}

// The ZIP64 end record at `at` and the locator that points to it.
std::vector<uint8_t> zip64_end_records(uint64_t at, size_t count, uint64_t directory_size, uint64_t directory_offset)
{
    std::vector<uint8_t> r;
    append_u32(r, SIG_ZIP64_END);
    append_u64(r, ZIP64_END_RECORD_SIZE - 12);  // the record's size after this field
    append_u16(r, ZIP64_VERSION_NEEDED);         // made by
    append_u16(r, ZIP64_VERSION_NEEDED);         // needed
    append_u32(r, 0);  // this disk
    append_u32(r, 0);  // disk of the central directory
    append_u64(r, count);
    append_u64(r, count);
    append_u64(r, directory_size);
    append_u64(r, directory_offset);
    append_u32(r, SIG_ZIP64_LOCATOR);
    append_u32(r, 0);  // disk of the ZIP64 end record
    append_u64(r, at);
    append_u32(r, 1);  // disks in all
    return r;
}

}  // namespace

bool will_encrypt(const ArchiveEntry& entry, const std::string& password)
{
    // Directory entries have no data; encrypting them would only add a header to skip.
    return !password.empty() && !entry.encrypted() && !entry.is_directory();
}

WrittenArchive write_archive(OutputFile& out, std::vector<ArchiveEntry>& entries, std::vector<uint8_t> comment,
                             const std::string& password, EntryCipher cipher, uint64_t section_start,
                             uint32_t alignment)
{
    for (const ArchiveEntry& e : entries)
        check_field_lengths(e, added_extra_size(e, password, cipher));
    WrittenArchive result;
    std::vector<WrittenEntry> written;
    for (ArchiveEntry& e : entries) {
        written.push_back(write_entry(out, e, password, cipher));
        result.total_size += e.uncompressed_size;
        result.encrypted_entries += (written.back().gp_flags & GP_ENCRYPTED) ? 1 : 0;
        e.open_payload = nullptr;  // releases the input's resources early
    }

    // Header by header, so the directory (with the comments) is never in memory whole.
    uint64_t directory_offset = out.position();
    std::vector<uint8_t> header;
    for (size_t i = 0; i < entries.size(); ++i) {
        header.clear();
        append_central_header(header, entries[i], written[i]);
        out.write(header.data(), header.size());
    }
    uint64_t directory_size = out.position() - directory_offset;
    if (directory_needs_zip64(entries.size(), directory_size, directory_offset)) {
        std::vector<uint8_t> records = zip64_end_records(out.position(), entries.size(), directory_size, directory_offset);
        out.write(records.data(), records.size());
    }

    result.end_record_offset = out.position();
    result.data_end = result.end_record_offset + END_RECORD_SIZE + comment.size();
    uint64_t used = result.data_end - section_start;
    uint64_t padding = align_up(used, alignment) - used;
    if (comment.size() + padding > 0xFFFF) {
        warn("the archive comment was dropped: with the section padding it would exceed 65535 bytes");
        result.data_end -= comment.size();
        comment.clear();
        used = result.data_end - section_start;
        padding = align_up(used, alignment) - used;
    }
    comment.resize(comment.size() + padding, 0);
    std::vector<uint8_t> end = end_record(entries.size(), directory_size, directory_offset, comment.size());
    out.write(end.data(), end.size());
    out.write(comment.data(), comment.size());
    result.file_end = out.position();
    return result;
}
