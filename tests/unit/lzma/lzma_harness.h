// Test side of the LZMA decoder: ZIP LZMA entry data made by liblzma (the encoder the builder
// uses), and a decode through the same byte source and sink as the stub's pipeline, checking
// the invariants every embedding relies on.
#ifndef TVSFX_TEST_LZMA_HARNESS_H
#define TVSFX_TEST_LZMA_HARNESS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "inflate.h"

using Bytes = std::vector<uint8_t>;

struct LzmaEncoding {
    uint32_t preset = 6;
    bool end_marker = false;
    int lc = -1, lp = -1, pb = -1;  // -1: the preset's
    uint32_t dictionary = 0;        // 0: the preset's
};

// Entry data of method 14: the 9-byte ZIP LZMA header and liblzma's raw LZMA stream.
Bytes zip_lzma_data(const Bytes& data, const LzmaEncoding& encoding = {});
// The 9-byte header alone, for hand-made properties.
Bytes zip_lzma_header(uint8_t properties, uint32_t dictionary);

struct LzmaRun {
    int result = -1;
    Bytes output;            // every byte that reached the sink
    uint32_t bytes_taken = 0;
    std::string problems;    // broken invariants, empty when all held
};

// Decodes entry data of `unpacked_size` bytes; `chunk` bytes per refill.
LzmaRun decode_zip_lzma(const Bytes& data, uint32_t unpacked_size, bool end_marker,
                        uint32_t chunk = INPUT_CHUNK_SIZE);

// Test data of a kind: "text", "binary", "random", "runs", "mixed" (inflate's harness).
Bytes make_data(const std::string& kind, size_t size, uint32_t seed = 1);

#endif
