#include "decoder_timing.h"

#include <string.h>

#include <time.h>

#include <algorithm>
#include <chrono>

#include "crc32.h"
#include "decoder_embedding.h"
#include "inflate_internal.h"

// --- the embedding: chunks copied into the input buffer, pieces compared or discarded -------

static const Bytes* expected_output;  // compared piece by piece on the checking run
static size_t output_offset;
static bool output_differs;

static void check_piece(const uint8_t* piece, uint32_t n)
{
    if (output_offset + n > expected_output->size() || memcmp(expected_output->data() + output_offset, piece, n) != 0)
        output_differs = true;
    output_offset += n;
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

static int decode_once(const Bytes& stream, bool is_deflate64)
{
    embedded.take_piece = expected_output ? check_piece : nullptr;
    output_offset = 0;
    start_embedded_stream(stream.data(), stream.size(), (uint32_t)stream.size());
    int result = inflate_stream(is_deflate64 ? 1 : 0);
    finish_embedded_stream();
    return result;
}

bool check_inflate(const Bytes& stream, const Bytes& expected, bool is_deflate64)
{
    expected_output = &expected;
    output_differs = false;
    int result = decode_once(stream, is_deflate64);
    expected_output = nullptr;
    return result == 0 && !output_differs && output_offset == expected.size();
}

double time_inflate_once(const Bytes& stream, bool is_deflate64, bool fast_loop)
{
    fast_loop_enabled = fast_loop;
    double start = cpu_seconds();
    decode_once(stream, is_deflate64);
    double elapsed = cpu_seconds() - start;
    fast_loop_enabled = true;
    return elapsed;
}

CrcMethod fastest_crc_method_here()
{
    static bool table_built;
    static CrcMethod fastest;
    if (!table_built) {
        build_crc_table();
        fastest = crc_method;
        table_built = true;
    }
    return fastest;
}

const char* crc_method_name(CrcMethod method)
{
    switch (method) {
    case CRC_FOLDING_WIDE: return "wide-folding";
    case CRC_FOLDING: return "folding";
    default: return "tables";
    }
}

double time_update_crc_once(const Bytes& data, uint32_t* crc, CrcMethod method)
{
    fastest_crc_method_here();
    crc_method = method;
    double start = cpu_seconds();
    crc_register = 0xFFFFFFFFu;
    for (size_t at = 0; at < data.size(); at += OUTPUT_PIECE_SIZE) {
        size_t piece = std::min<size_t>(data.size() - at, OUTPUT_PIECE_SIZE);
        update_crc(data.data() + at, (uint32_t)piece);
    }
    double elapsed = cpu_seconds() - start;
    *crc = ~crc_register;
    crc_method = fastest_crc_method_here();
    return elapsed;
}
