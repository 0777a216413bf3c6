#include "decoder_embedding.h"

#include <string.h>

#include "inflate_internal.h"

EmbeddedStream embedded;

static uint64_t compressed_size;
uint64_t& source_remaining = compressed_size;

static uint8_t input_buffer[IO_BUFFER_CAPACITY];
static uint8_t output_buffer[IO_BUFFER_CAPACITY];

static uint8_t* copy_into_buffer(const uint8_t* data, uint32_t n)
{
    memcpy(input_buffer, data, n);
    return input_buffer;
}

void ensure_slide_window()
{
    if (slide_window == nullptr)
        slide_window = new uint8_t[WINDOW_ALLOC_SIZE]();
}

void start_embedded_stream(const uint8_t* data, uint64_t size, uint32_t declared)
{
    ensure_slide_window();
    embedded.data = data;
    embedded.size = size;
    embedded.handed = 0;
    embedded.declared = declared;
    embedded.refill_beyond = false;
    embedded.bad_piece = false;
    embedded.flushed = 0;
    compressed_size = declared;
    input_avail = 0;
    input_cursor = nullptr;
    output_cursor = output_buffer;
    output_count = 0;
}

uint32_t finish_embedded_stream()
{
    if (embedded.take_piece && output_count > 0)
        embedded.take_piece(output_buffer, output_count);
    embedded.flushed += output_count;
    output_count = 0;
    return (uint32_t)(embedded.declared - compressed_size);
}

uint32_t refill_input()
{
    if ((int64_t)compressed_size <= 0) {
        input_avail = 0;
        return 0;
    }
    uint32_t want = compressed_size < embedded.chunk ? (uint32_t)compressed_size : embedded.chunk;
    if (embedded.handed + want > embedded.size) {
        embedded.refill_beyond = true;
        input_avail = 0;
        return 0;
    }
    const uint8_t* bytes = embedded.data + embedded.handed;
    input_cursor = embedded.place_chunk ? embedded.place_chunk(bytes, want) : copy_into_buffer(bytes, want);
    embedded.handed += want;
    if (embedded.refill_marks)
        embedded.refill_marks->push_back(embedded.flushed + output_count + window_pos);
    input_avail = (int32_t)want - 1;
    return want;
}

void flush_output()
{
    if (memory_mode) {
        output_count = 0;
        return;
    }
    if (output_count != OUTPUT_PIECE_SIZE)
        embedded.bad_piece = true;
    uint32_t n = output_count;
    output_cursor = output_buffer;
    output_count = 0;
    embedded.flushed += n;
    if (embedded.take_piece)
        embedded.take_piece(output_buffer, n);  // may leave by longjmp (the fuzzer's budget)
}
