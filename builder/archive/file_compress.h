// Compressing one file of a folder input into an entry's payload.
#ifndef TVSFX_FILE_COMPRESS_H
#define TVSFX_FILE_COMPRESS_H

#include <cstdint>
#include <string>

#include "archive.h"

// Levels of --level: 0 stores every file; 1..12 are libdeflate's levels, and for LZMA
// liblzma's presets 1..9 (10..12 are preset 9).
enum { MIN_LEVEL = 0, MAX_LEVEL = 12, DEFAULT_LEVEL = 12 };

// --method: how the files of a folder input are compressed.
enum class Method { deflate, lzma };

struct Compression {
    int level = DEFAULT_LEVEL;
    Method method = Method::deflate;
};

// Files up to this size are compressed in memory with libdeflate; larger ones are streamed
// through zlib into a temporary file, so memory stays bounded whatever the input size.
constexpr uint64_t IN_MEMORY_LIMIT = 64u << 20;

// What compressing a file settled about its entry.
struct CompressedFile {
    uint16_t method = METHOD_STORED;
    uint16_t version_needed = 20;  // 63 for LZMA (APPNOTE 4.4.3)
    uint32_t crc32 = 0;
    uint64_t compressed_size = 0;
    uint64_t uncompressed_size = 0;
    PayloadReader reader;  // the payload, ready to copy
};

// Reads and compresses the walked `file` (of `size` bytes when listed; `label` names it in
// messages); stored when compression would not make it smaller. Safe to call from several
// threads.
CompressedFile compress_file(const WalkedFile& file, const std::string& label, uint64_t size, Compression how);

// The memory compress_file holds for a file of `size` bytes until its payload is written.
uint64_t compress_memory_cost(uint64_t size, Compression how);

#endif
