// Raw Deflate and Deflate64 decoder.
//
// Portable C++ without Win32: it is built into the stub and natively for the unit tests,
// the benchmarks and the fuzzer. All state is global; one stream is decoded at a time.
//
// The decoder reads compressed bytes from a byte source and writes into a 64 KiB sliding
// window, which it empties into a byte sink. The embedding program owns the buffers and
// provides refill_input() and flush_output() (the stub's entry pipeline, or a test harness).
#ifndef TVSFX_INFLATE_H
#define TVSFX_INFLATE_H

#include <stddef.h>
#include <stdint.h>

// Results of inflate_stream.
enum InflateResult {
    INFLATE_OK = 0,
    INFLATE_DATA_ERROR = 1,  // bad data, or the input ran out
    INFLATE_BAD_CODE = 2,    // block type 3 or an over-subscribed code
};

// Window: 64 KiB of history; distances reach back up to 65,536 bytes (Deflate64, and
// distance symbols 30/31 in either method). WINDOW_ALLOC_SIZE adds slack after the ring so
// that the fast match copy may store a few bytes past its end; the embedding program
// allocates that many bytes (zero-filled) and never clears them between streams.
enum { WINDOW_SIZE = 65536, WINDOW_SLACK = 64, WINDOW_ALLOC_SIZE = WINDOW_SIZE + WINDOW_SLACK };

// Output reaches the sink in pieces of this size: a full piece triggers flush_output(). The
// stub's refill_input reads its input in chunks of the same size, and both buffers are
// allocated IO_BUFFER_CAPACITY bytes, 20 more than they use; every embedding (the stub, the
// unit tests, the fuzzer, the benchmark) uses these names.
enum {
    OUTPUT_PIECE_SIZE = 28672,
    INPUT_CHUNK_SIZE = OUTPUT_PIECE_SIZE,
    IO_BUFFER_CAPACITY = OUTPUT_PIECE_SIZE + 20,
};

extern uint8_t* slide_window;  // WINDOW_ALLOC_SIZE bytes, allocated by the embedding program

// Byte source, shared with the entry pipeline.
extern const uint8_t* input_cursor;  // next unread compressed byte
extern int32_t input_avail;          // bytes left at input_cursor
extern bool input_exhausted;         // set when the source has no more bytes
// Compressed bytes of the current stream not yet taken, 64-bit (a ZIP64 entry's). For an
// archive entry this is the compressed_size field of the entry header itself, so the source,
// the cipher header check and the spanned-archive skipper all count down the same number.
// Defined by the embedding program.
extern uint64_t& source_remaining;

// Byte sink, shared with the entry pipeline.
extern uint8_t* output_cursor;       // next free byte of the sink
extern uint32_t output_count;        // bytes put into the sink since its last flush
extern bool memory_mode;             // the sink is the caller's memory block
// In memory mode the sink never writes at or past output_end: a stream that would produce
// more is cut there and ends with INFLATE_DATA_ERROR.
extern uint8_t* output_end;

// Decodes one stream from the byte source into the sink. deflate64 is 1 for Deflate64
// (ZIP method 9), 0 for Deflate. The window content survives from one stream to the next.
int inflate_stream(uint8_t deflate64);

// After inflate_stream returned INFLATE_OK: the whole bytes of the source behind the final
// block (held in the bit buffer or not yet taken). A ZIP entry's stream should have none.
uint64_t inflate_unused_bytes();

// In-memory decode of plain Deflate data stored in the program (configuration block,
// message table, dialog template): sets up source and sink, decodes, clears the cursors.
// Never writes outside dest[0, dest_capacity).
int inflate_memory(const uint8_t* src, uint32_t src_len, uint8_t* dest, uint32_t dest_capacity);

// Fetches one byte of the source into the bit buffer's feed: 8 when a byte was delivered,
// 0 at the end of input (input_exhausted is then set).
int fetch_byte(uint8_t* byte);

// Passes the first n bytes of the window to the sink, in pieces of at most
// OUTPUT_PIECE_SIZE - output_count bytes, calling flush_output() each time output_count
// reaches OUTPUT_PIECE_SIZE.
void flush_window(uint32_t n);

// Provided by the embedding program.
// Reads the next chunk of compressed data; returns its byte count (0 when there is none),
// with input_cursor at the chunk and input_avail at the count minus one.
uint32_t refill_input();
// Empties the sink when output_count reaches OUTPUT_PIECE_SIZE; in memory mode it only sets
// output_count to 0.
void flush_output();

#endif
