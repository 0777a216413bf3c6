// Writing the archive: the entries, encrypted when --password asks, the central directory
// and the end record, at the output's current position.
#ifndef TVSFX_ARCHIVE_WRITER_H
#define TVSFX_ARCHIVE_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

#include "archive.h"

class OutputFile;

struct WrittenArchive {
    uint64_t end_record_offset = 0;
    uint64_t data_end = 0;  // end of the end record and the input's comment, before padding
    uint64_t file_end = 0;  // after the padding: aligned like the section's raw size
    uint64_t total_size = 0;
    size_t encrypted_entries = 0;
};

// How --password encrypts the entries the builder writes.
enum class EntryCipher {
    aes256,     // AES-256 (AE-2): method 99 with the 0x9901 record, salt, verifier and code
    zipcrypto,  // the traditional ZIP cipher
};

// True when --password would encrypt this entry: it has data of its own to protect.
bool will_encrypt(const ArchiveEntry& entry, const std::string& password);

// Writes the entries, the central directory and the end record at the output's current
// position, all offsets absolute in the output file. The file then ends on a multiple of
// `alignment` counted from `section_start`: the padding is the tail of the archive comment,
// so ZIP tools see no stray bytes behind the end record.
// With a password, entries are encrypted with `cipher`.
WrittenArchive write_archive(OutputFile& out, std::vector<ArchiveEntry>& entries, std::vector<uint8_t> comment,
                             const std::string& password, EntryCipher cipher, uint64_t section_start,
                             uint32_t alignment);

#endif
