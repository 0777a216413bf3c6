// The sliding window: the copies inside it that both decoding paths use, and its flush into
// the byte sink. Both the careful path (inflate.cpp) and the fast loop (inflate_fast.cpp) call
// down into this file, which calls only the embedding's flush_output.
//
// Built with -O2 even inside the size-optimised stub (INFLATE_SPEED_SOURCES): every match of
// the careful path and the fast loop's rarer copies go through copy_forward.
#include <stddef.h>

#include "inflate_internal.h"

uint8_t* slide_window;  // allocated by the embedding program, WINDOW_ALLOC_SIZE bytes
bool output_cut;

// --- window copies -----------------------------------------------------------------------------

// src and dst at least 8 bytes apart, in either direction. Word copies forward are exact then:
// every load reads bytes that are either final already (source behind by 8 or more) or not
// yet overwritten (source ahead by 8 or more). The last word is copied at n - 8, overlapping
// the one before: nothing is written past dst + n, because the bytes after the write position
// are live history (distances up to 65,536 reach them).
static inline void copy_far(uint8_t* dst, const uint8_t* src, uint32_t n)
{
    if (n >= 8) {
        for (uint32_t i = 0; i + 8 < n; i += 8)
            store_u64(dst + i, load_u64(src + i));
        store_u64(dst + n - 8, load_u64(src + n - 8));
    } else if (n >= 4) {
        uint32_t head = load_u32(src);
        uint32_t tail = load_u32(src + n - 4);
        store_u32(dst, head);
        store_u32(dst + n - 4, tail);
    } else {
        dst[0] = src[0];
        dst[n / 2] = src[n / 2];
        dst[n - 1] = src[n - 1];
    }
}

static inline void copy_bytes(uint8_t* dst, const uint8_t* src, uint32_t n)
{
    ptrdiff_t gap = dst - src;
    if (gap >= 8 || gap <= -8) {
        copy_far(dst, src, n);
    } else if (gap == 1) {
        memset(dst, *src, n);  // distance 1: a run of one byte
    } else if (gap != 0) {     // gap 0 is a distance of exactly 64 KiB: every byte stays
        for (uint32_t i = 0; i < n; ++i)
            dst[i] = src[i];
    }
}

// Out of line: the fast loop's own copy handles the common case inline.
__attribute__((noinline)) void copy_forward(uint8_t* dst, const uint8_t* src, uint32_t n)
{
    if (n > 0)
        copy_bytes(dst, src, n);
}

// --- byte sink ---------------------------------------------------------------------------------

// Copies at most what the memory block still holds; a stream that would write more is cut
// and ends as if its input had run out.
static uint32_t room_in_memory_sink(uint32_t piece)
{
    uint32_t room = (uint32_t)(output_end - output_cursor);
    if (piece <= room)
        return piece;
    output_cut = true;
    input_exhausted = true;
    return room;
}

void flush_window(uint32_t n)
{
    const uint8_t* from = slide_window;
    while (n > 0 && !output_cut) {
        uint32_t piece = OUTPUT_PIECE_SIZE - output_count;
        if (piece > n)
            piece = n;
        if (memory_mode)
            piece = room_in_memory_sink(piece);
        memcpy(output_cursor, from, piece);
        output_cursor += piece;
        output_count += piece;
        from += piece;
        n -= piece;
        if (output_count == OUTPUT_PIECE_SIZE)
            flush_output();
    }
}

uint32_t copy_match(uint32_t pos, uint32_t distance, uint32_t length)
{
    // A distance beyond the output of this stream copies whatever the window holds.
    uint32_t source = (pos - distance) & WINDOW_MASK;
    while (length > 0) {
        uint32_t piece = WINDOW_SIZE - (source > pos ? source : pos);
        if (piece > length)
            piece = length;
        copy_forward(slide_window + pos, slide_window + source, piece);
        length -= piece;
        source = (source + piece) & WINDOW_MASK;
        pos += piece;
        if (pos == WINDOW_SIZE) {
            flush_window(WINDOW_SIZE);
            pos = 0;
        }
    }
    return pos;
}
