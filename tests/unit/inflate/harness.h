// Test embedding of the decoder: a byte source that hands out a stream in chunks the way the
// entry pipeline's refill_input does, and a sink that collects the flushed pieces. Every run
// also checks the invariants any embedding relies on (pieces of exactly 28,672 bytes, no byte
// taken beyond the declared size, every per-block table released).
#ifndef TVSFX_TEST_INFLATE_HARNESS_H
#define TVSFX_TEST_INFLATE_HARNESS_H

#include <stdint.h>

#include "inflate.h"

#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct DecodeRun {
    int result = -1;
    Bytes output;                        // flushed pieces plus the final partial buffer
    uint32_t bytes_taken = 0;            // compressed bytes the decoder took from the source
    std::vector<uint64_t> refill_marks;  // output produced (sink + window) at each refill
    uint32_t unused_bytes = 0;           // after result 0: whole bytes behind the final block
    std::string problems;                // broken invariants, empty when all held
};

struct DecodeOptions {
    bool deflate64 = false;
    uint32_t chunk = INPUT_CHUNK_SIZE;  // bytes per refill
    int64_t declared = -1;      // compressed size the source counts down; -1: the stream's size
    bool fast_loop = true;
};

// Decodes stream through refill_input/flush_output.
DecodeRun decode_stream(const Bytes& stream, const DecodeOptions& options = {});

struct MemoryRun {
    int result = -1;
    Bytes output;       // the first `capacity` bytes of the block
    bool guard_intact;  // the bytes after the block were not touched
};
// Decodes stream with inflate_memory into a block of capacity bytes.
MemoryRun decode_memory(const Bytes& stream, uint32_t capacity);

// Makes sure the process-wide window exists (the stub allocates it at start-up).
void ensure_window();

// --- stream makers -----------------------------------------------------------------------------

// Raw Deflate by zlib.
Bytes zlib_deflate(const Bytes& data, int level, int strategy = 0, int window_bits = 15, int mem_level = 8);
// Raw zlib inflate (32 KiB window); empty result and false on failure.
bool zlib_inflate(const Bytes& stream, Bytes* out);
// Raw Deflate64 stream made by 7-Zip (taken from the local header of a ZIP it writes); false
// when the archive did not come out as a Deflate64 entry (7-Zip stores incompressible data).
bool have_7zz();
bool sevenzip_deflate64(const Bytes& data, Bytes* stream);

// Test data of a kind: "text", "binary", "random", "runs", "mixed".
Bytes make_data(const std::string& kind, size_t size, uint32_t seed = 1);

// --- bit writer for hand-built streams -----------------------------------------------------------

struct BitWriter {
    Bytes bytes;
    uint64_t pending = 0;
    int pending_bits = 0;
    void put(uint32_t value, int bits);        // LSB first (headers, extra bits)
    void put_code(uint32_t code, int bits);    // a Huffman code, most significant bit first
    void align();                              // pad to a byte boundary with zeros
    Bytes finish();
};

// Canonical codes (RFC 1951) for lengths; codes[i] is meaningful where lengths[i] > 0.
std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& lengths);

// Fixed code lengths: literal/length (288) and distance (32).
std::vector<uint8_t> fixed_literal_lengths();
std::vector<uint8_t> fixed_distance_lengths();

// A code length code symbol (0..18) with the value of its extra bits (16: 2 bits, 17: 3, 18: 7).
struct LengthSymbol {
    int symbol;
    int extra;
};
// The code lengths sent one symbol each (no repeats).
std::vector<LengthSymbol> plain_length_symbols(const std::vector<uint8_t>& literal_lengths,
                                               const std::vector<uint8_t>& distance_lengths);
// Writes a dynamic block header (after the final bit and block type): HLIT, HDIST, and the
// symbols with a complete code length code (0..12 in 4 bits, 13..18 in 5 bits).
void write_dynamic_header(BitWriter& out, int literal_count, int distance_count,
                          const std::vector<LengthSymbol>& symbols);

#endif
