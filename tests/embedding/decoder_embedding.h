// The decoder's embedding for everything outside the stub: the unit tests, the fuzzer and the
// benchmarks. It provides what the stub's entry pipeline provides (source_remaining,
// refill_input, flush_output) with the stub's sizes from inflate.h: a source that hands out a
// stream in chunks of a chosen size (INPUT_CHUNK_SIZE by default) and a sink of
// OUTPUT_PIECE_SIZE pieces. Each user plugs in where a chunk is placed (a guarded page, an
// exact heap block) and what happens to a piece (collected, compared).
#ifndef TVSFX_TESTS_DECODER_EMBEDDING_H
#define TVSFX_TESTS_DECODER_EMBEDDING_H

#include <stdint.h>

#include <vector>

#include "inflate.h"

struct EmbeddedStream {
    const uint8_t* data = nullptr;
    uint64_t size = 0;            // bytes the source may hand out
    uint64_t handed = 0;          // bytes handed out so far
    uint32_t chunk = INPUT_CHUNK_SIZE;
    uint32_t declared = 0;        // compressed size the decoder counts down
    bool refill_beyond = false;   // a refill asked for bytes past `size`
    bool bad_piece = false;       // flush_output was called with a partial piece
    // Output produced (sink + window) at each refill, when not null.
    std::vector<uint64_t>* refill_marks = nullptr;
    uint64_t flushed = 0;         // bytes passed to take_piece so far
    // Where a refill's bytes go; by default a static buffer of IO_BUFFER_CAPACITY bytes.
    uint8_t* (*place_chunk)(const uint8_t* data, uint32_t n) = nullptr;
    // Receives every full piece and, from finish_embedded_stream, the last partial one.
    void (*take_piece)(const uint8_t* piece, uint32_t n) = nullptr;
};

extern EmbeddedStream embedded;

// Makes sure the process-wide window exists (the stub allocates it at start-up).
void ensure_slide_window();
// Sets up source and sink for one stream of `size` bytes, `declared` of which the decoder may
// take; the hooks and options in `embedded` are kept.
void start_embedded_stream(const uint8_t* data, uint64_t size, uint32_t declared);
// Passes the partial last piece on; returns the bytes the decoder took.
uint32_t finish_embedded_stream();

#endif
