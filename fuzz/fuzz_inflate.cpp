// libFuzzer target for the decoder.
//
// Input: byte 0 picks the mode, byte 1 a parameter, the rest is the stream.
//   mode 0  plain Deflate, compared with zlib's raw inflate: same bytes out, or both fail,
//           apart from the differences this decoder has on purpose (below).
//   mode 1  Deflate64: no reference decoder; must not crash and must keep its bounds.
//   mode 2  in-memory decode into a block of a chosen size: never writes past it, and what it
//           writes is what the stream decode gives.
// In every mode the fast loop is compared with the careful path alone: same result, same
// output, same bytes taken, refill_input called at the same moments. Input chunks are exact
// heap blocks, so AddressSanitizer sees any read past what refill_input handed out.
#include <setjmp.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "decoder_embedding.h"
#include "inflate_internal.h"

using Bytes = std::vector<uint8_t>;

namespace {

const size_t OUTPUT_BUDGET = 4u << 20;  // a run stops here: Deflate64 can expand 20,000-fold

uint8_t* chunk;  // exactly the bytes of the current refill
Bytes collected;
std::vector<uint64_t> refill_marks;
jmp_buf over_budget;

void fail(const char* what)
{
    fprintf(stderr, "fuzz check failed: %s\n", what);
    abort();
}

// Input chunks are exact heap blocks, so AddressSanitizer sees any read past a refill.
uint8_t* place_in_exact_block(const uint8_t* data, uint32_t n)
{
    free(chunk);
    chunk = (uint8_t*)malloc(n ? n : 1);
    memcpy(chunk, data, n);
    return chunk;
}

void collect_piece(const uint8_t* piece, uint32_t n)
{
    collected.insert(collected.end(), piece, piece + n);
    if (collected.size() > OUTPUT_BUDGET)
        longjmp(over_budget, 1);
}

struct Run {
    int result;
    bool over_budget;
    bool exhausted;
    Bytes output;
    uint32_t taken;
    std::vector<uint64_t> marks;
    std::string reason;
};

void reset_window()
{
    memset(slide_window, 0, WINDOW_ALLOC_SIZE);
}

Run run_stream(const uint8_t* data, size_t size, bool deflate64, uint32_t chunk_bytes, bool fast)
{
    reset_window();
    Run run = {};
    embedded.chunk = chunk_bytes;
    embedded.place_chunk = place_in_exact_block;
    embedded.take_piece = collect_piece;
    embedded.refill_marks = &refill_marks;
    collected.clear();
    refill_marks.clear();
    start_embedded_stream(data, size, (uint32_t)size);
    inflate_error_reason = "";
    fast_loop_enabled = fast;
    if (setjmp(over_budget) == 0) {
        run.result = inflate_stream(deflate64 ? 1 : 0);
        embedded.take_piece = nullptr;  // the last partial piece is no reason to stop
        collected.insert(collected.end(), output_cursor - output_count, output_cursor);
        finish_embedded_stream();
    } else {
        // Left through the sink, as the stub leaves on a cancel: the block's tables stay
        // marked as built until the next block builds them again.
        run.over_budget = true;
        free_decode_tables(&literal_code);
        free_decode_tables(&distance_code);
        free_decode_tables(&precode);
    }
    fast_loop_enabled = true;
    free(chunk);
    chunk = nullptr;
    run.exhausted = input_exhausted;
    run.output = collected;
    run.taken = (uint32_t)(size - source_remaining);
    run.marks = refill_marks;
    run.reason = inflate_error_reason;
    if (run.taken > size || embedded.handed > size || embedded.refill_beyond)
        fail("took more than the stream's size");
    if (embedded.bad_piece)
        fail("partial piece flushed");
    if (!run.over_budget && (literal_code.built || distance_code.built || precode.built))
        fail("per-block tables not released");
    return run;
}

void compare_paths(const Run& fast, const Run& careful)
{
    if (fast.over_budget != careful.over_budget)
        fail("budget reached by one path only");
    size_t common = fast.output.size() < careful.output.size() ? fast.output.size() : careful.output.size();
    if (common > 0 && memcmp(fast.output.data(), careful.output.data(), common) != 0)
        fail("fast loop output differs from the careful path");
    if (fast.over_budget)
        return;
    if (fast.result != careful.result || fast.output.size() != careful.output.size() || fast.marks != careful.marks)
        fail("fast loop result, size or refill moments differ from the careful path");
    // The careful path looks ahead by a table's width (up to 15 bits) when it decodes a code;
    // at the end of the stream (or at a bad code) it may so have taken up to two bytes more.
    // Nothing reads the source after inflate_stream returns, and refills happened alike.
    if (fast.taken > careful.taken || careful.taken > fast.taken + 2)
        fail("fast loop took a different number of bytes");
}

enum ZlibOutcome { ZLIB_END, ZLIB_NEEDS_MORE, ZLIB_ERROR, ZLIB_OVER_BUDGET };

ZlibOutcome zlib_inflate(const uint8_t* data, size_t size, Bytes* out, std::string* message)
{
    static uint8_t* buffer = (uint8_t*)malloc(OUTPUT_BUDGET + 1);
    z_stream z = {};
    inflateInit2(&z, -15);
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = (uInt)size;
    z.next_out = buffer;
    z.avail_out = (uInt)(OUTPUT_BUDGET + 1);
    int status = inflate(&z, Z_FINISH);
    out->assign(buffer, buffer + z.total_out);
    *message = z.msg ? z.msg : "";
    inflateEnd(&z);
    if (status == Z_STREAM_END)
        return ZLIB_END;
    if (status == Z_DATA_ERROR)
        return ZLIB_ERROR;
    return z.avail_out == 0 ? ZLIB_OVER_BUDGET : ZLIB_NEEDS_MORE;
}

bool is_prefix(const Bytes& part, const Bytes& whole)
{
    return part.size() <= whole.size() && (part.empty() || memcmp(part.data(), whole.data(), part.size()) == 0);
}

// Where zlib refuses and this decoder decodes on purpose: distances before the stream start
// (window content), distance symbols 30/31 and HDIST 31/32, HLIT 287/288, incomplete distance
// codes, and a first code length repeat of 16 (repeats 0).
bool intended_difference(const std::string& zlib_message)
{
    static const char* const messages[] = {"invalid distance too far back", "invalid distance code",
                                           "invalid distances set", "too many length or distance symbols",
                                           "invalid bit length repeat"};
    for (const char* m : messages)
        if (zlib_message == m)
            return true;
    return false;
}

void compare_with_zlib(const uint8_t* data, size_t size, const Run& ours)
{
    Bytes reference;
    std::string message;
    ZlibOutcome outcome = zlib_inflate(data, size, &reference, &message);
    if (ours.over_budget || outcome == ZLIB_OVER_BUDGET)
        return;
    switch (outcome) {
    case ZLIB_END:
        if (ours.result == 0) {
            if (ours.output != reference)
                fail("output differs from zlib");
        } else if (ours.reason == "input ran out" || ours.reason == "length codes without distance codes") {
            // Our lookahead needs the table's width even for a shorter last code; a code set
            // without distances is refused when length symbols exist.
            if (!is_prefix(ours.output, reference))
                fail("failed stream's output is not zlib's");
        } else {
            fail("zlib decodes a stream we reject");
        }
        break;
    case ZLIB_ERROR:
        if (!intended_difference(message) && ours.result == 0)
            fail("we decode a stream zlib rejects");
        break;
    case ZLIB_NEEDS_MORE:
        // Past the end the decoder reads zero bits; those may end the last block.
        if (ours.result == 0 && !ours.exhausted)
            fail("we finish a stream zlib finds incomplete");
        break;
    case ZLIB_OVER_BUDGET:
        break;
    }
}

void check_memory_mode(const uint8_t* data, size_t size, uint32_t capacity, const Run& stream_run)
{
    reset_window();
    uint8_t* src = (uint8_t*)malloc(size ? size : 1);
    memcpy(src, data, size);
    uint8_t* dest = (uint8_t*)malloc(capacity ? capacity : 1);
    int result = inflate_memory(src, (uint32_t)size, dest, capacity);
    if (memory_mode || input_cursor || output_cursor)
        fail("memory decode left its mode or cursors set");
    if (!stream_run.over_budget) {
        size_t expected = stream_run.output.size() < capacity ? stream_run.output.size() : capacity;
        if (expected > 0 && memcmp(dest, stream_run.output.data(), expected) != 0)
            fail("memory decode output differs from the stream decode");
        if (stream_run.output.size() > capacity && result != INFLATE_DATA_ERROR)
            fail("memory decode past its block did not fail");
        if (stream_run.output.size() <= capacity && result != stream_run.result)
            fail("memory decode result differs from the stream decode");
    }
    free(dest);
    free(src);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 2)
        return 0;
    if (slide_window == nullptr)
        slide_window = (uint8_t*)malloc(WINDOW_ALLOC_SIZE);
    int mode = input[0] % 3;
    uint8_t parameter = input[1];
    const uint8_t* data = input + 2;
    size -= 2;
    // Small chunks put refills everywhere; INPUT_CHUNK_SIZE is the pipeline's own.
    uint32_t chunk_bytes = parameter < 192 ? 1 + parameter % 64 : INPUT_CHUNK_SIZE;
    bool is_deflate64 = mode == 1;

    Run fast = run_stream(data, size, is_deflate64, chunk_bytes, true);
    Run careful = run_stream(data, size, is_deflate64, chunk_bytes, false);
    compare_paths(fast, careful);
    if (mode == 0)
        compare_with_zlib(data, size, fast);
    if (mode == 2) {
        // The same bytes as one chunk, as the in-memory source has them.
        Run whole = run_stream(data, size, false, size ? (uint32_t)size : 1, true);
        check_memory_mode(data, size, (uint32_t)parameter * 97, whole);
    }
    return 0;
}
