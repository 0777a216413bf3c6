// LZMA decoder for ZIP entries of method 14.
//
// Portable C++ without Win32, like inflate/: built into the stub and natively for the unit
// tests, the benchmark, the fuzzer and the builder's round trip. All state is global; one
// stream is decoded at a time.
//
// It shares the Deflate decoder's byte source and sink (inflate.h): compressed bytes come
// through input_cursor / input_avail / fetch_byte, counted down in source_remaining, and the
// output leaves in OUTPUT_PIECE_SIZE pieces through output_cursor / output_count /
// flush_output. The history lives in a dictionary buffer that the embedding program hands
// out through provide_dictionary, sized for the entry (never more than it can use).
#ifndef TVSFX_LZMA_DECODE_H
#define TVSFX_LZMA_DECODE_H

#include <stdint.h>

#include "inflate.h"
#include "zip_format.h"

// Results of decode_lzma.
enum LzmaResult {
    LZMA_DECODED = 0,
    LZMA_BAD_DATA = 1,                // bad data, a cut stream, or output that disagrees with the size
    LZMA_UNSUPPORTED_PROPERTIES = 2,  // lc + lp above 4 (at most 16 literal coders, as ZIP writers use)
    LZMA_DICTIONARY_TOO_LARGE = 3,    // the entry needs more than ZIP_LZMA_DICTIONARY_LIMIT bytes of history
    LZMA_NO_DICTIONARY_MEMORY = 4,    // provide_dictionary found no block of that size
};

// The dictionary an entry needs: what its header declares (at least LZMA's minimum of 4 KiB),
// but never more than the entry's size, since no match reaches further back than the output.
// At least 1 byte, so that the embedding never sees a request for nothing.
uint32_t lzma_dictionary_need(uint32_t declared, uint64_t unpacked_size);

// Decodes the data of one ZIP entry of method 14: the 9-byte ZIP LZMA header (version,
// properties size 5, properties), then the LZMA stream of exactly `unpacked_size` bytes of
// output. With `end_marker` (general-purpose bit 1) the stream must end in the end marker
// right after them; without it the stream ends at that size. Either way an end marker
// anywhere else, a match that runs past the size or a distance before the start of the output
// is a data error. Never writes outside the dictionary block or the sink's pieces, and stops
// at once when the source runs out.
int decode_lzma(uint64_t unpacked_size, bool end_marker);

// After decode_lzma returned LZMA_DICTIONARY_TOO_LARGE or LZMA_NO_DICTIONARY_MEMORY: the bytes the
// entry needed, for the message.
extern uint32_t lzma_dictionary_size;

// Provided by the embedding program: a block of at least `size` bytes for the history (need
// not be zeroed; nothing is read before it is written), or null when there is no memory. The
// block stays the embedding's: the decoder never frees it.
uint8_t* provide_dictionary(uint32_t size);

#endif
