// The volume table of a split package (format/split_volumes.h) as the builder writes and
// reads it, the checks of the volumes beside NAME.exe, and one stream over NAME.exe's part in
// front of the archive and the volumes behind it, so inspect and test read a split package
// as they read a single file.
#ifndef TVSFX_SPLIT_SET_H
#define TVSFX_SPLIT_SET_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "input_file.h"
#include "sha256.h"

struct SplitVolume {
    std::string name;  // file name beside the program
    uint64_t size = 0;
    std::array<uint8_t, SHA256_DIGEST_SIZE> sha256{};
};

// The table's bytes, trailer included.
std::vector<uint8_t> encode_split_table(const std::vector<SplitVolume>& volumes);
// Reads the table that ends at `config_offset`; an error text when it is damaged.
std::string read_split_table(std::FILE* f, uint64_t config_offset, std::vector<SplitVolume>& volumes);

// SHA-256 and size of a file; fails (BuildError) naming it when it cannot be read.
SplitVolume hash_volume_file(const std::string& path);

// Checks every volume in `folder` against the table, in order; the first fault as one line
// naming the file ("NAME.z02 is missing", "... differs from the package's (damaged or
// replaced)"), empty when all are right.
std::string check_split_volumes(const std::string& folder, const std::vector<SplitVolume>& volumes);

// A read-only stream of program bytes 0 .. archive_offset followed by the volumes, in order:
// the offsets the stub's walk sees in a single file. Null with `error` set when a file cannot
// be opened.
FilePtr open_split_stream(const std::string& program, uint64_t archive_offset, const std::string& folder,
                          const std::vector<SplitVolume>& volumes, std::string& error);

// The folder part of a path ("." for a bare name).
std::string folder_of_path(const std::string& path);

#endif
