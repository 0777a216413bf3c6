// Shared helpers of the builder tests: running programs, temporary folders, and small
// independent readers for the PE headers, the stub record and the ZIP records, so the
// tests check the builder's output without reusing the builder's own code.
#ifndef TVSFX_BUILDER_TEST_SUPPORT_H
#define TVSFX_BUILDER_TEST_SUPPORT_H

#include <cstdint>
#include <sys/types.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;

struct RunResult {
    int exit_code = -1;
    std::string out;
    std::string err;
    std::string all() const { return out + err; }
};

// Runs argv[0] (looked up in PATH) with the rest as arguments; stdin is /dev/null.
RunResult run(const std::vector<std::string>& argv);
// In a forked child: replaces it by argv (searched on PATH when it has no slash); 127 if that fails.
[[noreturn]] void exec_program(const std::vector<std::string>& argv);
// Peak resident memory of a program run to its end, in KiB; expects it to exit with 0.
long peak_memory_kib(const std::vector<std::string>& argv);
// Runs a shell command line (for pipes and redirections).
RunResult run_shell(const std::string& command);
bool have_program(const std::string& name);

std::string tvsfx_path();
// The real stub when it has been built, the test fixture stub otherwise.
std::string stub_path();
std::string fixture_stub_path();
std::string fixture_stub64_path();  // the same program built for x86-64 (a PE32+ image)

Bytes read_bytes(const std::string& path);
// size bytes that Deflate cannot shrink, the same for the same seed.
Bytes noise_bytes(size_t size, uint32_t seed);
void write_bytes(const std::string& path, const Bytes& bytes);
void write_text(const std::string& path, const std::string& text);
bool exists(const std::string& path);
std::vector<std::string> list_folder(const std::string& path);

inline uint16_t le16(const Bytes& b, size_t at) { return uint16_t(b.at(at) | b.at(at + 1) << 8); }
inline uint32_t le32(const Bytes& b, size_t at) { return uint32_t(le16(b, at)) | uint32_t(le16(b, at + 2)) << 16; }
inline void put_le16(Bytes& b, size_t at, uint16_t v)
{
    b.at(at) = uint8_t(v);
    b.at(at + 1) = uint8_t(v >> 8);
}
inline void put_le32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.at(at + i) = uint8_t(v >> (8 * i));
}
inline void append_le16(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void append_le32(Bytes& b, uint32_t v)
{
    append_le16(b, v & 0xFFFF);
    append_le16(b, v >> 16);
}

uint32_t crc32_of(const uint8_t* data, size_t size);

struct Section {
    std::string name;
    uint32_t virtual_size, virtual_address, raw_size, raw_pointer, characteristics;
};

struct PeView {
    uint32_t pe_offset;
    uint16_t section_count;
    uint32_t entry_point, section_alignment, file_alignment, size_of_image, size_of_headers;
    uint32_t checksum, size_of_initialized_data;
    std::vector<Section> sections;
};
PeView read_pe(const Bytes& file);

// The PE image checksum as Windows defines it, skipping the CheckSum field.
uint32_t pe_checksum(const Bytes& file, uint32_t checksum_offset);

struct RecordView {
    size_t offset;  // of the marker in the file
    uint32_t stub_crc, archive_offset, config_offset, end_record_offset, total_size, flags;
    uint32_t reserved1, reserved2, reserved3, reserved4, total_size_high, reserved6;
    uint16_t complete;
    uint32_t entry_point;
};
// The record at the first marker occurrence; fails the test when there is none.
RecordView read_record(const Bytes& file);
long find_marker(const Bytes& file);

// One local header as the stub walks it.
// Sizes and offsets as a ZIP64 reader takes them: from the ZIP64 record (0x0001) where the
// header's field holds 0xFFFFFFFF; `zip64` tells that the header has such a record.
struct LocalEntry {
    size_t offset;
    uint16_t version_needed, flags, method, time, date;
    uint32_t crc;
    uint64_t compressed_size, uncompressed_size;
    std::string name;
    Bytes extra;
    size_t data_offset;
    bool descriptor_with_signature;  // bit 3 and 50 4B 07 08 right after the data
    bool zip64;
};
// Walks the local headers from `start` to the first record that is not one.
std::vector<LocalEntry> walk_local_headers(const Bytes& file, size_t start);

struct CentralEntry {
    uint16_t flags, method, time, date;
    uint32_t crc;
    uint64_t compressed_size, uncompressed_size, local_offset;
    std::string name;
    bool zip64;
};
// The directory as the end record, or the ZIP64 end record its locator points to, gives it.
struct CentralView {
    size_t end_record;
    uint64_t directory_offset, directory_size;
    uint16_t comment_size;
    bool zip64_end;  // a ZIP64 end record and locator stand in front of the end record
    std::vector<CentralEntry> entries;
};
CentralView read_central_directory(const Bytes& file);

// Inflates a raw Deflate stream with zlib; empty and `ok` false when it is not one.
Bytes inflate_raw(const uint8_t* data, size_t size, bool& ok);
// The configuration block of a built file split into its NUL-terminated strings.
std::vector<std::string> read_config_fields(const Bytes& file);

// Decrypts the 12-byte traditional encryption header; returns its last plain byte.
uint8_t decrypted_check_byte(const std::string& password, const uint8_t* header);

// A terminal whose output is stopped, as by Ctrl-S. A build started on it (stderr, with
// TVSFX_PROGRESS_DELAY=0) draws its progress line when it writes its first entry, and that
// write blocks until resume(): the walk is done, the temporary files exist, and the rest
// waits, whatever the machine's speed. Lets a test act at that point.
class StoppedTerminal {
public:
    StoppedTerminal();  // ok() tells whether a terminal could be made
    ~StoppedTerminal();
    StoppedTerminal(const StoppedTerminal&) = delete;
    StoppedTerminal& operator=(const StoppedTerminal&) = delete;
    bool ok() const { return terminal_ >= 0; }
    // Starts argv (argv[0] a path) with stderr on the terminal, stdout on /dev/null and no
    // core file; returns its process id.
    pid_t start(const std::vector<std::string>& argv);
    void resume();
    // What the program wrote so far.
    std::string output();

private:
    int master_ = -1;
    int terminal_ = -1;
};

// Polls `ready` every 10 ms for up to a minute (a bound for a stuck test, never a verdict).
bool wait_until(bool (*ready)(const std::string&), const std::string& path);
bool has_entries(const std::string& folder);  // exists and is not empty

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Base fixture: a fresh folder per test and a one-call build.
class BuilderTest : public ::testing::Test {
protected:
    TempFolder dir;
    std::string at(const std::string& name) const { return dir / name; }
    // Runs `tvsfx build --stub STUB -o OUT args... INPUT`.
    RunResult build(const std::string& input, const std::string& output, const std::vector<std::string>& args = {},
                    const std::string& stub = stub_path());
    // A small folder with a compressible file, a tiny one, a nested one and an empty folder.
    std::string make_sample_folder(const std::string& name = "in");
};

#endif
