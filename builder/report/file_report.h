// What `tvsfx inspect` finds in a built file, read the way the stub reads it at start-up.
// The text form, the JSON form (inspect_json.cpp) and `tvsfx test` share these facts.
#ifndef TVSFX_FILE_REPORT_H
#define TVSFX_FILE_REPORT_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "split_set.h"

#include "config_block.h"
#include "extra_field.h"
#include "package_identity.h"

struct Record {
    uint32_t stub_crc, archive_offset, config_offset, end_record_offset, total_size, flags;
    uint32_t license_offset, license_size, reserved4, total_size_high, entry_point;
    uint16_t reserved3, complete, reserved6;
};

// One local header as the stub walks it.
struct InspectedEntry {
    uint64_t offset;       // of the local header
    uint64_t data_offset;  // of the entry's data (the encryption header first when encrypted)
    std::string name;      // raw name bytes
    std::string shown_name;  // UTF-8: the name as Windows shows it
    uint16_t flags, method, mod_time, mod_date;
    uint32_t crc32;
    uint64_t compressed_size, uncompressed_size;  // the ZIP64 record's where the header's fields say so
    bool zip64 = false;  // the local header has a ZIP64 record: a descriptor has 8-byte sizes
    AesRecord aes;  // the local header's 0x9901 record, when it has one
    ExactTime time;  // the local header's exact time, which the stub sets instead of the DOS time
};

// The time the stub gives the entry's file: the exact moment in UTC ("2021-06-15 12:30:10
// UTC"), or the DOS time as the extracting system's local time; and where it comes from:
// "ntfs" (0x000A), "unix" (0x5455) or "dos".
std::string entry_time_text(const InspectedEntry& e);
const char* entry_time_source(const InspectedEntry& e);

// The entry's encryption as inspect shows it: no, zipcrypto, aes128/AE-1 ... aes256/AE-2, or
// aes-unknown for a method 99 entry the stub cannot decrypt.
std::string encryption_label(const InspectedEntry& e);

// The entry's compression by name: stored, deflate, deflate64, lzma; for an AES entry
// (method 99) the method its 0x9901 record names; unknown for any other number.
const char* method_label(const InspectedEntry& e);

// The start-up checks: 1 passes, 0 fails, -1 skipped (as the stub skips it).
struct StartupChecks {
    int stub_checksum = -1, entry_point = -1, end_record = -1, complete_mark = -1;
    bool configuration = true;
};

struct InspectReport {
    std::string path;
    std::string open_error;  // why the file could not be opened (or is no regular file)
    uint64_t file_size = 0;
    long record_offset = -1;
    Record record{};
    bool config_present = false;
    std::string config_error;  // empty: the block decodes
    uint32_t config_size = 0;
    ConfigFields fields;
    std::string license_error;     // empty: no licence, or its text decodes
    std::string license_text;      // as the stub shows it (its code page, CR LF)
    std::vector<InspectedEntry> entries;
    bool archive_elsewhere = false;  // the archive is in the disks' .ZIP files
    std::vector<SplitVolume> split_volumes;  // a split package's volume table
    std::string split_error;         // empty: every volume is beside it and matches its table entry
    std::string walk_error;          // empty: the walk reached the end record
    StartupChecks checks;
    std::string execution_level;     // the manifest's requestedExecutionLevel; empty: none
    IdentityReport identity;         // the version resource and the icon

    bool failed() const;
};

enum InspectStatus { INSPECT_OK, INSPECT_UNREADABLE, INSPECT_NO_RECORD };

// Reads the record, the configuration and the entries of `path` and runs the checks. With
// `check_data` the walk also decodes each entry that is not encrypted and stops at the first
// whose data does not give its size and CRC.
InspectStatus inspect_file(const std::string& path, InspectReport& report, bool check_data = true);
// The bytes the stub reads as its file: the file itself, or for a split package the program's
// part and its volumes as one stream. Null with `error` set when that cannot be opened.
FilePtr open_archive_stream(const InspectReport& report, std::string& error);

// Explains on stderr why `path` could not be inspected, for the command named `command`.
void report_inspect_status(const char* command, const InspectReport& report, InspectStatus status);

// The report as one JSON object (inspect --json).
void print_inspect_json(const InspectReport& report, std::FILE* to);

// The entries whose names Windows 95/98/ME may not extract (needs_nt_family).
size_t count_nt_only_names(const InspectReport& report);

// The verdict word of a check: "ok", "FAILED" or "skipped".
const char* verdict(int result);

// The configuration field names in their order, as inspect shows them.
extern const char* const field_labels[CONFIG_FIELD_COUNT];

// The commands `tvsfx inspect` and `tvsfx test`, and the check of a package just built.

// Prints the record, the configuration, the entries and the start-up checks of a built
// file, as text or as one JSON object; returns the exit code (0 all checks pass, 1 one
// fails or the file is unreadable or not a built file).
int run_inspect(const std::string& path, bool json);

// Decodes every entry with the stub's decoder and checks its CRC, after the start-up
// checks; returns 0 when all is right, 1 otherwise. `password` (in the stub's code page)
// opens encrypted entries; empty when none was given.
int run_test(const std::string& path, const std::string& password);

// Runs `tvsfx test`'s checks on a file the builder has just written: the start-up checks, the
// walk, and every entry decoded with the stub's decoder. Entries that arrived encrypted are
// decoded only where `password_known[i]` (in written order) says the builder has their
// password. Returns "" when all pass, else the first failure, naming the entry.
std::string verify_package(const std::string& path, const std::string& password,
                           const std::vector<bool>& password_known);

#endif
