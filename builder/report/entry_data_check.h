// Entry data of an input ZIP and of a built file, checked with the stub's own decoder and
// its rule for a good entry: what passes here extracts on the user's machine.
#ifndef TVSFX_ENTRY_DATA_CHECK_H
#define TVSFX_ENTRY_DATA_CHECK_H

#include <cstdint>
#include <cstdio>
#include <string>

// Decodes the `compressed_size` bytes at `offset` of `file` (data that is not encrypted) by
// any method the stub extracts and judges them by its rule; returns "" when they are good,
// else what is wrong. Inspect runs it on every such entry, the ZIP reader on every input
// entry; `flags` holds an LZMA entry's end-marker bit. `unused_bytes`, when given, receives the whole bytes behind the final Deflate block.
std::string check_entry_data(std::FILE* file, uint64_t offset, uint16_t method, uint16_t flags,
                             uint64_t compressed_size, uint64_t uncompressed_size, uint32_t crc32, uint64_t* unused_bytes = nullptr);

#endif
