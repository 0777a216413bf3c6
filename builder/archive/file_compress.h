// Compressing one file of a folder input into an entry's payload.
#ifndef TVSFX_FILE_COMPRESS_H
#define TVSFX_FILE_COMPRESS_H

#include <cstdint>
#include <string>

#include "archive.h"

// Levels of --level: 0 stores every file; 1..12 are libdeflate's levels.
enum { MIN_LEVEL = 0, MAX_LEVEL = 12, DEFAULT_LEVEL = 12 };

// Files up to this size are compressed in memory with libdeflate; larger ones are streamed
// through zlib into a temporary file, so memory stays bounded whatever the input size.
constexpr uint64_t IN_MEMORY_LIMIT = 64u << 20;

// What compressing a file settled about its entry.
struct CompressedFile {
    uint16_t method = METHOD_STORED;
    uint32_t crc32 = 0;
    uint64_t compressed_size = 0;
    uint64_t uncompressed_size = 0;
    PayloadReader reader;  // the payload, ready to copy
};

// Reads and compresses the walked `file` (of `size` bytes when listed; `label` names it in
// messages); stored when Deflate would not make it smaller. Safe to call from several threads.
CompressedFile compress_file(const WalkedFile& file, const std::string& label, uint64_t size, int level);

// The memory compress_file holds for a file of `size` bytes until its payload is written.
uint64_t compress_memory_cost(uint64_t size);

#endif
