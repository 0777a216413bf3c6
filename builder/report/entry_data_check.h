// Deflate64 and LZMA entries of an input ZIP are checked with the stub's own decoders: no
// library on the build machine decodes Deflate64, an LZMA entry should pass the decoder that
// will extract it (its dictionary limit included), and a damaged one would otherwise only
// fail on the user's machine.
#ifndef TVSFX_ENTRY_DATA_CHECK_H
#define TVSFX_ENTRY_DATA_CHECK_H

#include <cstdint>
#include <cstdio>
#include <string>

// Decodes the `compressed_size` bytes at `offset` of `file` and compares length and CRC-32
// with the entry's. Returns "" when they match, else what is wrong. Decoding stops at the
// next input chunk once the output passes `uncompressed_size`, so the work stays bounded.
std::string check_deflate64_data(std::FILE* file, uint64_t offset, uint32_t compressed_size,
                                 uint32_t uncompressed_size, uint32_t crc32);
// The same for an LZMA entry; `flags` holds its end-marker bit.
std::string check_lzma_data(std::FILE* file, uint64_t offset, uint16_t flags, uint32_t compressed_size,
                            uint32_t uncompressed_size, uint32_t crc32);

// The same for any method the stub extracts (stored, Deflate through zlib, Deflate64 and LZMA
// as above), for data that is not encrypted; `inspect` runs it on every such entry.
std::string check_entry_data(std::FILE* file, uint64_t offset, uint16_t method, uint16_t flags, uint32_t compressed_size,
                             uint32_t uncompressed_size, uint32_t crc32);

#endif
