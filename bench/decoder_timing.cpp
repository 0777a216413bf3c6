#include "decoder_timing.h"

#include <string.h>

#include <time.h>

#include <algorithm>
#include <chrono>

#include "crc32.h"
#include "inflate_internal.h"

// --- the embedding: memory source, discarding sink ------------------------------------------

static uint32_t compressed_size;
uint32_t& source_remaining = compressed_size;

static const Bytes* source_stream;
static size_t source_offset;
static uint8_t input_buffer[IO_BUFFER_CAPACITY];
static uint8_t output_buffer[IO_BUFFER_CAPACITY];
static const Bytes* expected_output;  // compared piece by piece on the checking run
static size_t output_offset;
static bool output_differs;

uint32_t refill_input()
{
    if ((int32_t)compressed_size <= 0) {
        input_avail = 0;
        return 0;
    }
    uint32_t want = compressed_size < (uint32_t)INPUT_CHUNK_SIZE ? compressed_size : (uint32_t)INPUT_CHUNK_SIZE;
    memcpy(input_buffer, source_stream->data() + source_offset, want);  // stands in for the read
    source_offset += want;
    input_cursor = input_buffer;
    input_avail = (int32_t)want - 1;
    return want;
}

static void check_piece()
{
    if (expected_output == nullptr)
        return;
    if (output_offset + output_count > expected_output->size() ||
        memcmp(expected_output->data() + output_offset, output_buffer, output_count) != 0)
        output_differs = true;
    output_offset += output_count;
}

void flush_output()
{
    check_piece();
    output_cursor = output_buffer;
    output_count = 0;
}

double cpu_seconds()
{
#if defined(CLOCK_THREAD_CPUTIME_ID) && !defined(_WIN32)
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
#else
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
#endif
}

static int decode_once(const Bytes& stream, bool deflate64)
{
    source_stream = &stream;
    source_offset = 0;
    compressed_size = (uint32_t)stream.size();
    input_avail = 0;
    output_cursor = output_buffer;
    output_count = 0;
    output_offset = 0;
    int result = inflate_stream(deflate64 ? 1 : 0);
    check_piece();
    return result;
}

bool check_inflate(const Bytes& stream, const Bytes& expected, bool deflate64)
{
    if (slide_window == nullptr)
        slide_window = new uint8_t[WINDOW_ALLOC_SIZE]();
    expected_output = &expected;
    output_differs = false;
    int result = decode_once(stream, deflate64);
    expected_output = nullptr;
    return result == 0 && !output_differs && output_offset == expected.size();
}

double time_inflate_once(const Bytes& stream, bool deflate64, bool fast_loop)
{
    fast_loop_enabled = fast_loop;
    double start = cpu_seconds();
    decode_once(stream, deflate64);
    double elapsed = cpu_seconds() - start;
    fast_loop_enabled = true;
    return elapsed;
}

double time_update_crc_once(const Bytes& data, uint32_t* crc, bool folding)
{
    static bool table_built, processor_folds;
    if (!table_built) {
        build_crc_table();
        table_built = true;
        processor_folds = crc_folding;
    }
    crc_folding = folding && processor_folds;
    double start = cpu_seconds();
    crc_register = 0xFFFFFFFFu;
    for (size_t at = 0; at < data.size(); at += OUTPUT_PIECE_SIZE) {
        size_t piece = std::min<size_t>(data.size() - at, OUTPUT_PIECE_SIZE);
        update_crc(data.data() + at, (uint32_t)piece);
    }
    double elapsed = cpu_seconds() - start;
    *crc = ~crc_register;
    crc_folding = processor_folds;
    return elapsed;
}
