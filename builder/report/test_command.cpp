// `tvsfx test`: decodes every entry of a built file with the stub's own decoder and cipher
// (inflate/ and crypt/, built natively) and checks its CRC and size, after the start-up
// checks of inspect. A fault of the decoder shows up here on Linux, not only under Windows.
//
// The decoder takes its input through refill_input and gives its output to flush_output,
// which this file provides as the stub's entry pipeline does, reading from the file
// instead of a Win32 handle. It is the builder's only embedding of the decoders: the data
// checks of the ZIP reader and inspect decode through decode_entry_data too.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive.h"
#include "crc32.h"
#include "crypt.h"
#include "entry_decoder.h"
#include "file_report.h"
#include "printable.h"
#include "inflate.h"
#include "lzma_decode.h"
#include "stub_record_io.h"
#include "zip_aes.h"

namespace {

// --- the decoder's byte source and sink -------------------------------------------------------

// Compressed bytes of the current entry not yet read (the decoder counts it down too).
uint64_t entry_remaining;
std::FILE* archive_file;
bool entry_encrypted;
bool entry_aes;  // encrypted with AES: aes_cipher holds its keys
ZipAes aes_cipher;
bool read_failed;
int read_error;  // the system's reason when a read failed; 0: the file ended
uint8_t input_buffer[IO_BUFFER_CAPACITY];
uint8_t output_buffer[IO_BUFFER_CAPACITY];
uint64_t output_total;
uint64_t output_limit;  // the header's size: more output than that ends the input
uint64_t trailing_bytes;  // whole bytes of the data behind the final Deflate block
std::string stream_fault;  // what was wrong with a bad Deflate stream, when known

// A read that came short: the file ends there, or the system failed to read it.
void note_read_failure()
{
    read_failed = true;
    read_error = std::ferror(archive_file) ? errno : 0;
}

bool read_exactly(void* buffer, size_t size)
{
    if (std::fread(buffer, 1, size, archive_file) == size)
        return true;
    note_read_failure();
    return false;
}

std::string read_failure_text()
{
    return read_error == 0 ? "data truncated" : std::string("cannot read the data: ") + std::strerror(read_error);
}

}  // namespace

uint64_t& source_remaining = entry_remaining;

// The LZMA decoder's dictionary: one block, replaced for each entry that needs another size.
uint8_t* provide_dictionary(uint32_t size)
{
    static std::vector<uint8_t> block;
    if (block.size() != size)
        std::vector<uint8_t>(size).swap(block);
    return block.data();
}

uint32_t refill_input()
{
    // More output than the header announces: the entry is wrong whatever follows, so the
    // input ends at the next chunk and data made to expand costs bounded work. (The count the
    // decoder keeps is left alone; its fast loop holds it in a local.)
    if (int64_t(entry_remaining) <= 0 || output_total > output_limit) {
        input_avail = 0;
        return 0;
    }
    uint32_t want = entry_remaining < uint32_t(INPUT_CHUNK_SIZE) ? uint32_t(entry_remaining) : uint32_t(INPUT_CHUNK_SIZE);
    uint32_t count = uint32_t(std::fread(input_buffer, 1, want, archive_file));
    if (count != want) {
        note_read_failure();
        input_avail = 0;
        return 0;
    }
    if (entry_aes)
        zip_aes_decrypt(&aes_cipher, input_buffer, count);
    else if (entry_encrypted)
        decrypt_buffer(input_buffer, count);
    input_cursor = input_buffer;
    input_avail = int32_t(count) - 1;
    return count;
}

void flush_output()
{
    update_crc(output_buffer, output_count);
    output_total += output_count;
    output_cursor = output_buffer;
    output_count = 0;
}

namespace {

// --- one entry ----------------------------------------------------------------------------------

// Stored data: every byte through the source, as the stub copies it.
void copy_stored()
{
    while (refill_input() != 0) {
        uint32_t count = uint32_t(input_avail) + 1;
        update_crc(input_cursor, count);
        output_total += count;
        entry_remaining -= count;
    }
}

// Reads an AES entry's salt and verifier and derives its keys, as the stub does; an empty
// text when the password fits.
std::string open_aes(const InspectedEntry& e, const std::string& password)
{
    if (!e.aes.usable())
        return "AES entry of vendor version " + std::to_string(e.aes.version) + " and strength " +
               std::to_string(e.aes.strength) + ", which the stub cannot decrypt";
    if (e.compressed_size < aes_overhead(e.aes.strength))
        return "AES data shorter than its salt, verifier and code";
    static bool tables_built = (build_zip_aes(), true);
    (void)tables_built;
    uint8_t header[AES_MAX_SALT_SIZE + AES_VERIFIER_SIZE];
    size_t salt_size = aes_salt_size(e.aes.strength);
    if (!read_exactly(header, salt_size + AES_VERIFIER_SIZE))
        return read_failure_text();
    entry_remaining -= aes_overhead(e.aes.strength);
    uint8_t verifier[AES_VERIFIER_SIZE];
    zip_aes_start(&aes_cipher, reinterpret_cast<const uint8_t*>(password.data()), password.size(), e.aes.strength,
                  header, verifier);
    entry_aes = true;
    return std::memcmp(verifier, header + salt_size, AES_VERIFIER_SIZE) == 0 ? "" : "wrong password";
}

// Reads the rest of the encrypted data the decoder left (as the stub does, so the code covers
// every byte) and compares the stored code with the computed one.
std::string check_aes_code()
{
    entry_remaining -= uint32_t(input_avail);
    input_avail = 0;
    while (int64_t(entry_remaining) > 0 && !read_failed) {
        output_limit = UINT64_MAX;  // only the code is wanted now
        entry_remaining -= refill_input();
    }
    uint8_t stored[AES_CODE_SIZE], computed[AES_CODE_SIZE];
    if (read_failed || !read_exactly(stored, sizeof stored))
        return read_failure_text();
    zip_aes_finish(&aes_cipher, computed);
    return zip_aes_codes_equal(stored, computed) ? "" : "AES authentication code does not match (damaged data)";
}

// Reads and decrypts the encryption header; an empty text when the password fits.
std::string open_encrypted(const InspectedEntry& e, const std::string& password)
{
    if (password.empty())
        return "encrypted; give --password";
    if (e.method == METHOD_AES)
        return open_aes(e, password);
    if (e.compressed_size < ENCRYPTION_HEADER_SIZE)
        return "encrypted data shorter than its header";
    uint8_t header[ENCRYPTION_HEADER_SIZE];
    if (!read_exactly(header, sizeof header))
        return read_failure_text();
    entry_remaining -= ENCRYPTION_HEADER_SIZE;
    init_keys(password.c_str());
    decrypt_buffer(header, sizeof header);
    // Writers that stream the data do not know the CRC when they write the header, so with a
    // descriptor the check byte is the time's high byte, as the stub compares it.
    bool descriptor = (e.flags & GP_DESCRIPTOR) != 0;
    uint8_t check = descriptor ? uint8_t(e.mod_time >> 8) : uint8_t(e.crc32 >> 24);
    return header[ENCRYPTION_HEADER_SIZE - 1] == check ? "" : "wrong password";
}

// Decodes the entry's data into the sink; "" when the data ended where it should (stored data
// always does, a Deflate stream when its final block ended within the entry's data), else
// what went wrong.
std::string decode_data(const InspectedEntry& e)
{
    uint16_t method = entry_aes ? e.aes.method : e.method;
    switch (method) {
    case METHOD_STORED:
        copy_stored();
        return "";
    case METHOD_DEFLATE:
    case METHOD_DEFLATE64: {
        int result = inflate_stream(method == METHOD_DEFLATE64 ? 1 : 0);
        flush_output();
        trailing_bytes = result == INFLATE_OK ? inflate_unused_bytes() : 0;
        stream_fault = result == INFLATE_OK          ? ""
                       : result == INFLATE_BAD_CODE ? "invalid block type or code"
                       : input_exhausted            ? "the final block does not end within the data"
                                                    : "";
        if (result == INFLATE_OK)
            return "";
        return stream_fault.empty() ? "bad Deflate data" : "bad Deflate data (" + stream_fault + ")";
    }
    case METHOD_LZMA: {
        int result = decode_lzma(e.uncompressed_size, (e.flags & GP_LZMA_END_MARKER) != 0);
        flush_output();
        if (result == LZMA_UNSUPPORTED_PROPERTIES)
            return "LZMA properties the stub does not decode (lc + lp above 4)";
        if (result == LZMA_DICTIONARY_TOO_LARGE || result == LZMA_NO_DICTIONARY_MEMORY)
            return "an LZMA dictionary of " + std::to_string(lzma_dictionary_size) + " bytes, more than the " +
                   std::to_string(ZIP_LZMA_DICTIONARY_LIMIT) + " the stub allows";
        return result == LZMA_DECODED ? "" : "bad LZMA data";
    }
    default:
        return "method " + std::to_string(method) + ", which the stub cannot decode";
    }
}

// The CRC table and the window, once; the window stays for the builder's lifetime.
void prepare_decoder()
{
    static std::unique_ptr<uint8_t[]> window_memory;
    if (!window_memory) {
        build_crc_table();
        window_memory.reset(new uint8_t[WINDOW_ALLOC_SIZE]());
    }
    slide_window = window_memory.get();
}

struct NamedCheck {
    const char* name;
    int result;  // 0 failed
};

// The start-up checks `tvsfx test` makes, by the names its messages give them.
std::array<NamedCheck, 5> named_checks(const StartupChecks& c)
{
    return {{{"stub checksum", c.stub_checksum},
             {"entry point", c.entry_point},
             {"end record", c.end_record},
             {"complete mark", c.complete_mark},
             {"configuration", c.configuration ? 1 : 0}}};
}

// Prints a line per failed start-up check; true when all passed.
bool report_checks(const InspectReport& report)
{
    bool ok = true;
    for (const NamedCheck& check : named_checks(report.checks)) {
        if (check.result == 0)
            std::fprintf(stderr, "tvsfx test: %s: check %s: FAILED\n", printable(report.path).c_str(), check.name);
        ok &= check.result != 0;
    }
    if (!report.walk_error.empty())
        std::fprintf(stderr, "tvsfx test: %s: check archive walk: FAILED (%s)\n", printable(report.path).c_str(),
                     report.walk_error.c_str());
    return ok && report.walk_error.empty();
}

}  // namespace

std::string decode_entry_data(std::FILE* file, const InspectedEntry& e, const std::string& password,
                              DecodeDetails* details)
{
    archive_file = file;
    entry_remaining = e.compressed_size;
    entry_encrypted = (e.flags & GP_ENCRYPTED) != 0;
    entry_aes = false;
    read_failed = false;
    read_error = 0;
    output_total = 0;
    output_limit = e.uncompressed_size;
    output_cursor = output_buffer;
    output_count = 0;
    input_avail = 0;
    input_exhausted = false;
    crc_register = 0xFFFFFFFFu;
    if (fseeko(archive_file, off_t(e.data_offset), SEEK_SET) != 0)
        return std::string("cannot seek to the data: ") + std::strerror(errno);
    prepare_decoder();
    if (entry_encrypted) {
        std::string error = open_encrypted(e, password);
        if (!error.empty()) {
            zip_aes_wipe(&aes_cipher);
            return error;
        }
    }
    // As in the stub, an entry without data bytes is not decoded at all.
    trailing_bytes = 0;
    stream_fault.clear();
    uint16_t method = entry_aes ? e.aes.method : e.method;
    std::string error = entry_remaining > 0 ? decode_data(e) : "";
    EntryOutcome outcome;
    outcome.decoded_size = output_total;
    outcome.crc32 = ~crc_register;
    outcome.stream_ended = error.empty();
    std::string code_error = entry_aes && !read_failed ? check_aes_code() : "";
    outcome.code_matches = code_error.empty();
    zip_aes_wipe(&aes_cipher);
    if (read_failed)
        return read_failure_text();
    if (entry_remaining > 0 && !entry_method_known(method))
        return error;
    // AE-2 entries store no CRC: their code alone protects the data.
    EntryPromise promise = {e.uncompressed_size, e.crc32, !entry_aes || e.aes.version == AES_VERSION_AE1, entry_aes};
    EntryFault fault = judge_entry_data(promise, outcome);
    if (details != nullptr)
        *details = DecodeDetails{fault, trailing_bytes, stream_fault};
    char text[96];
    switch (fault) {
    case ENTRY_GOOD:
        return "";
    case ENTRY_CODE_MISMATCH:
        return code_error;
    case ENTRY_TOO_LONG:
        return "more than the " + std::to_string(e.uncompressed_size) + " bytes the header says";
    case ENTRY_BAD_STREAM:
        return error;
    case ENTRY_CRC_MISMATCH:
        std::snprintf(text, sizeof text, "bad CRC (0x%08X, the header says 0x%08X)", outcome.crc32, e.crc32);
        return text;
    case ENTRY_TOO_SHORT:
        break;
    }
    std::snprintf(text, sizeof text, "%llu bytes, the header says %llu", (unsigned long long)outcome.decoded_size,
                  (unsigned long long)e.uncompressed_size);
    return text;
}

// The disks of a spanned archive, which only the stub's prompts bring together; a split
// package's volumes lie beside it and are read here.
static bool is_spanned_on_disks(const InspectReport& report)
{
    return (report.record.flags & SFX_MULTI_VOLUME) && !(report.record.flags & SFX_SPLIT_VOLUMES);
}

std::string verify_package(const std::string& path, const std::string& password,
                           const std::vector<bool>& password_known)
{
    InspectReport report;
    InspectStatus status = inspect_file(path, report, false);
    if (status != INSPECT_OK)
        return report.open_error.empty() ? "no stub record found" : report.open_error;
    for (const NamedCheck& check : named_checks(report.checks)) {
        if (check.result == 0)
            return std::string("check ") + check.name + " FAILED";
    }
    if (!report.walk_error.empty())
        return "archive walk FAILED (" + report.walk_error + ")";
    if (!report.license_error.empty())
        return "licence text FAILED (" + report.license_error + ")";
    if (!report.split_error.empty())
        return report.split_error;
    if (is_spanned_on_disks(report))
        return "";
    if (report.entries.size() != password_known.size())
        return "the walk found " + std::to_string(report.entries.size()) + " entries, the builder wrote " +
               std::to_string(password_known.size());
    std::string open_error;
    FilePtr f = open_archive_stream(report, open_error);
    if (!f)
        return "cannot open it again: " + open_error;
    for (size_t i = 0; i < report.entries.size(); ++i) {
        const InspectedEntry& e = report.entries[i];
        // An entry that arrived encrypted keeps a password the builder does not know.
        if ((e.flags & GP_ENCRYPTED) && !password_known[i])
            continue;
        std::string error = decode_entry_data(f.get(), e, password);
        if (!error.empty())
            return "entry " + e.name + ": " + error;
    }
    return "";
}

int run_test(const std::string& path, const std::string& password)
{
    InspectReport report;
    // Entry data is decoded below, every entry with the stub's decoder, not in the walk.
    InspectStatus status = inspect_file(path, report, false);
    if (status != INSPECT_OK) {
        report_inspect_status("test", report, status);
        return 1;
    }
    bool checks_ok = report_checks(report);
    // A spanned archive goes on in the other disks' files, which the stub asks for.
    if (is_spanned_on_disks(report)) {
        std::printf("%s: start-up checks %s; the archive spans disks, test its volumes with a ZIP tool\n",
                    path.c_str(), checks_ok ? "ok" : "FAILED");
        return checks_ok ? 0 : 1;
    }
    if (!report.split_error.empty()) {
        std::fprintf(stderr, "tvsfx test: %s: %s\n", printable(path).c_str(), printable(report.split_error).c_str());
        std::printf("%s: start-up checks %s, volumes FAILED\n", path.c_str(), checks_ok ? "ok" : "FAILED");
        return 1;
    }
    std::string open_error;
    FilePtr f = open_archive_stream(report, open_error);
    if (!f) {
        std::fprintf(stderr, "tvsfx test: %s\n", printable(open_error).c_str());
        return 1;
    }
    size_t bad = 0;
    for (const InspectedEntry& e : report.entries) {
        std::string error = decode_entry_data(f.get(), e, password);
        if (!error.empty())
            std::fprintf(stderr, "tvsfx test: %s: entry %s: %s\n", printable(path).c_str(), printable(e.name).c_str(),
                         error.c_str());
        bad += error.empty() ? 0 : 1;
    }
    if (bad == 0 && checks_ok) {
        std::printf("%s: start-up checks ok, %zu entries ok\n", path.c_str(), report.entries.size());
        return 0;
    }
    std::printf("%s: %s, %zu of %zu entries bad\n", path.c_str(), checks_ok ? "start-up checks ok" : "start-up checks FAILED",
                bad, report.entries.size());
    return 1;
}
