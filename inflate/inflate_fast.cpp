// The fast loop of the decoder and its inline match copy.
//
// Built with -O2 even inside the size-optimised stub (INFLATE_SPEED_SOURCES): this file is
// where nearly all decoding time goes.
#include <stddef.h>

#include "inflate_internal.h"

// --- the fast loop's match copy -------------------------------------------------------------

// The usual match: it ends before the window end, and its source (wrapped around the window
// end or not) does not cross the window end and lies 8 or more bytes behind the match or any
// distance ahead of it (a source ahead after wrapping: each word is loaded before any store
// reaches it, and a distance of 65,536 copies the bytes onto themselves). It copies 40 bytes
// without a test, then 32 at a time, so it may store up to 39 bytes past the match. Those
// bytes are live history (distances up to 65,536 reach them): the 40 bytes after the match are
// saved first and put back afterwards. Loads reach at most 39 bytes past the source's end,
// stores 39 past the match's end; near the window end both fall into the window's slack.
static_assert(WINDOW_SLACK >= 40, "the match copy's loads and stores past the window end");

static inline void copy_words(uint8_t* dst, const uint8_t* src, uint32_t length)
{
    uint8_t* end = dst + length;
    uint64_t after0 = load_u64(end), after1 = load_u64(end + 8);
    uint64_t after2 = load_u64(end + 16), after3 = load_u64(end + 24);
    uint64_t after4 = load_u64(end + 32);
    store_u64(dst, load_u64(src));
    store_u64(dst + 8, load_u64(src + 8));
    store_u64(dst + 16, load_u64(src + 16));
    store_u64(dst + 24, load_u64(src + 24));
    store_u64(dst + 32, load_u64(src + 32));
    dst += 40;
    src += 40;
    while (dst < end) {
        store_u64(dst, load_u64(src));
        store_u64(dst + 8, load_u64(src + 8));
        store_u64(dst + 16, load_u64(src + 16));
        store_u64(dst + 24, load_u64(src + 24));
        dst += 32;
        src += 32;
    }
    store_u64(end, after0);
    store_u64(end + 8, after1);
    store_u64(end + 16, after2);
    store_u64(end + 24, after3);
    store_u64(end + 32, after4);
}

// --- fast loop ---------------------------------------------------------------------------------
//
// Entry: the careful path's state (bit_buffer with bit_count <= 23 bits, input_cursor,
// window_pos). Runs while at least FAST_INPUT_MARGIN bytes are buffered (input_avail, capped
// by source_remaining) and at most FAST_WINDOW_LIMIT bytes of the window are in use; tests both
// at the bottom of every item. Never calls refill_input; calls flush_window only through
// copy_match for a Deflate64 match that does not fit the window.
//
// Exit: end of block (its code dropped), an invalid code, or margins reached (STEP_MORE: the
// careful path decodes the next symbol). Whole unused bytes of the word-sized bit buffer go
// back to the input, so the careful path resumes with what it held on entry at most, and it
// asks for its next byte exactly when it would have without the fast loop: refill_input runs
// at the same moments. The one trace the loop leaves: the careful path looks ahead by a table's
// width even for a shorter code, so where the stream ends (or a code is bad) it would have
// taken up to two bytes more of the buffered input; nothing reads the source after that.
//
// Shape (as libdeflate's): each item ends with a refill and the lookup of the next
// literal/length entry, so the table load overlaps the item's end; an entry's low byte is
// dropped before its kind is tested. Codes are looked up in the fast views (11 and 8 bits);
// only longer codes follow a link into the arena's sub-tables. On 64-bit the distance entry
// and, after a match, the next literal/length entry are looked up before the refill, from bits
// already in the word, so the refill's load is off their path. Only the low byte of the bit
// count is meaningful: an entry's bits are dropped by subtracting the whole entry.
//
// Bit budget. A refill loads one word at the cursor and counts the whole bytes that fit:
// afterwards at least WORD_BITS - 8 bits are held (24 on 32-bit, 56 on 64-bit). Bits above the
// count are the stream's next bits as well (or zeros shifted in at the top), so a lookup may
// use them once enough bits are held for the code itself.
//   literal/length: at most 15 (a code, also through a link) + 5 = 20 bits <= 24.
//   64-bit extra literals: two view literals of at most 11 bits each leave 56 - 22 = 34 bits,
//           enough for a following literal/length (20).
//   64-bit distance: the word holds at least one bit more than the count (a refill fills all
//           of it), so after a literal/length at least 56 - 42 + 1 = 15 stream bits are there
//           for the 8-bit view lookup. It refills when fewer than 8 + 14 + 10 = 32 bits are
//           held (a view distance and its extra bits, and 11 bits left for the next lookup),
//           or, after a link, fewer than 15 + 14 + 10 = 39; Deflate64 symbol 285 refills after
//           its 16 extra bits.
//   32-bit distance: the view lookup finds at least 32 - 20 = 12 stream bits in the word; it
//           refills when fewer than 15 bits are held for its code, and again when fewer than
//           its code and extra bits (at most 9 + 14 after a sub-table step).
//   Deflate64 symbol 285 drops its code, refills when fewer than 16 bits are held for them.
// Input margin. The longest item takes 15 + 16 + 15 + 14 = 60 bits. At a refill the cursor is
// at most (60 + WORD_BITS - 1) / 8 bytes past where the item began (its bits plus fewer than
// WORD_BITS held), and the load reads WORD_BYTES from there: 15 + 8 = 23 bytes on 64-bit,
// 11 + 4 = 15 on 32-bit.
// Window margin. The loop leaves the window end to copy_match: any match that would reach
// 65,536 goes there (it copies in pieces and flushes the full window), so an iteration only
// needs room for the literals it may write without a check: three on 64-bit (two extra ones),
// one on 32-bit. The window position thus stays below 65,536, as the careful path expects.

// The bit buffer is a machine word. INFLATE_FAST_WORD32 makes it 32 bits on a 64-bit build, so
// that native tests run the stub's 32-bit loop too.
#ifdef INFLATE_FAST_WORD32
typedef uint32_t BitWord;
#else
typedef size_t BitWord;
#endif
enum {
    WORD_BYTES = sizeof(BitWord),
    WORD_BITS = 8 * WORD_BYTES,
    MAX_ITEM_BITS = 15 + 16 + 15 + 14,
    MAX_DISTANCE_BITS = 15 + 14,
    // 64-bit: bits of the next literal/length lookup that must be left in the word after a
    // distance; the word holds at least one bit more than the count.
    PRELOAD_BITS = FAST_LITERAL_BITS - 1,
    // Bits held after the distance's refill: on 64-bit a distance of the view (8 + 14 bits)
    // and the next lookup; on 32-bit the code.
    DISTANCE_REFILL_BITS = WORD_BITS == 64 ? FAST_DISTANCE_BITS + 14 + PRELOAD_BITS : MAX_CODE_BITS,
    FAST_INPUT_MARGIN = (MAX_ITEM_BITS + WORD_BITS - 1) / 8 + WORD_BYTES,
    MAX_ITEM_LITERALS = WORD_BITS == 64 ? 3 : 1,
    FAST_WINDOW_LIMIT = WINDOW_SIZE - 1 - MAX_ITEM_LITERALS,
};
static_assert(FAST_INPUT_MARGIN == (WORD_BITS == 64 ? 23 : 15), "margin as derived above");
static_assert(MAX_CODE_BITS + 5 <= WORD_BITS - 8, "a literal/length and its extra bits after one refill");
static_assert(WORD_BITS == 32 || 2 * FAST_LITERAL_BITS + MAX_CODE_BITS + 5 <= WORD_BITS - 8,
              "64-bit: two extra literals and a literal/length after one refill");
static_assert(WORD_BITS == 32 || MAX_DISTANCE_BITS + 20 <= WORD_BITS - 8,
              "64-bit: a length and its distance after one refill");

static inline BitWord load_word(const uint8_t* p)
{
    BitWord word;
    memcpy(&word, p, sizeof word);
    return word;
}

static inline BitWord low_bits(BitWord word, uint32_t count)
{
    return word & (((BitWord)1 << count) - 1);
}

// Adds whole bytes at the cursor until at least WORD_BITS - 8 bits are held. Bits above the
// count are the stream's next bits too, so loading them again later changes nothing.
#define REFILL_BITS()                                                \
    do {                                                             \
        bits |= load_word(in) << (uint8_t)count;                     \
        in += WORD_BYTES - 1 - ((count >> 3) & (WORD_BYTES - 1));    \
        count |= WORD_BITS - 8;                                      \
    } while (0)

// Drops an entry's bits. Only the low byte of count is meaningful: subtracting the whole
// entry leaves its low byte right and saves a mask per drop.
#define DROP_ENTRY_BITS(entry)     \
    do {                           \
        bits >>= (uint8_t)(entry); \
        count -= (entry);          \
    } while (0)

#define DROP_BITS(n)      \
    do {                  \
        bits >>= (n);     \
        count -= (n);     \
    } while (0)

// The extra bits of a length or distance entry whose bits were dropped from `saved`: the low
// bits to drop (at least one: its code) taken by shifting them to the top and back, which
// needs no mask, then the code's bits shifted out. Such an entry has no kind flags, so its
// second byte is its code bits.
static inline uint32_t extra_bits_value(uint32_t entry, BitWord saved)
{
    uint32_t unused = (0u - entry) & (WORD_BITS - 1);  // WORD_BITS minus the bits to drop
    return (uint32_t)(((saved << unused) >> unused) >> (uint8_t)(entry >> 8));
}

// Base value plus the extra bits of a length or distance entry whose bits were dropped from
// `saved`.
#define ENTRY_VALUE_PLUS_EXTRA(entry, saved) \
    (entry_value(entry) + extra_bits_value(entry, saved))

// gcc's loop vectorizer (-O3) turns the match copy's word loop into 16-byte moves behind
// run-time overlap tests, which cost more than they save on matches of a few words: text
// decodes 2.5 % slower with it.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-loop-vectorize")))
#endif
DecodeStep decode_fast(const DecodeTable* literals, const DecodeTable* distances)
{
    int32_t avail = input_avail;
    if (avail > 0 && (uint64_t)avail > source_remaining)
        avail = (int32_t)source_remaining;
    if (!fast_loop_enabled || input_exhausted || avail < FAST_INPUT_MARGIN || window_pos > FAST_WINDOW_LIMIT)
        return STEP_MORE;

    const uint8_t* in = input_cursor;
    const uint8_t* const in_limit = in + (avail - FAST_INPUT_MARGIN);
    uint8_t* const win = slide_window;
    uint8_t* out = win + window_pos;
    uint8_t* const out_limit = win + FAST_WINDOW_LIMIT;
    BitWord bits = bit_buffer;
    uint32_t count = bit_count;
    const uint32_t* const literal_view = literals->fast_entries;
    const uint32_t* const distance_view = distances->fast_entries;
    const uint32_t* const literal_table = literals->entries;  // sub-tables of long codes
    const uint32_t* const distance_table = distances->entries;
    const BitWord literal_mask = ((BitWord)1 << FAST_LITERAL_BITS) - 1;
    const BitWord distance_mask = ((BitWord)1 << FAST_DISTANCE_BITS) - 1;
    DecodeStep step = STEP_MORE;
    uint32_t entry, literal, length, distance, pos, source;
    BitWord saved;

    REFILL_BITS();
    entry = literal_view[bits & literal_mask];
    do {
        saved = bits;
        DROP_ENTRY_BITS(entry);
        if ((int32_t)entry < 0) {
            literal = entry >> 16;
            entry = literal_view[bits & literal_mask];
            if (WORD_BITS == 64) {
                // Up to two more root literals before the next refill.
                saved = bits;
                DROP_ENTRY_BITS(entry);
                *out++ = (uint8_t)literal;
                if ((int32_t)entry >= 0)
                    goto not_literal;
                literal = entry >> 16;
                entry = literal_view[bits & literal_mask];
                saved = bits;
                DROP_ENTRY_BITS(entry);
                *out++ = (uint8_t)literal;
                if ((int32_t)entry >= 0)
                    goto not_literal;
                literal = entry >> 16;
                entry = literal_view[bits & literal_mask];
            }
            REFILL_BITS();
            *out++ = (uint8_t)literal;
            continue;
        }
    not_literal:
        if (entry & ENTRY_EXCEPTIONAL) {
            if (entry & ENTRY_SUBTABLE) {
                entry = literal_table[entry_value(entry) + low_bits(bits, entry_code_bits(entry))];
                saved = bits;
                DROP_ENTRY_BITS(entry);
                if ((int32_t)entry < 0) {
                    literal = entry >> 16;
                    REFILL_BITS();
                    entry = literal_view[bits & literal_mask];
                    *out++ = (uint8_t)literal;
                    continue;
                }
            }
            if (entry & ENTRY_EXCEPTIONAL) {
                if (entry & ENTRY_END_OF_BLOCK) {
                    step = STEP_END_OF_BLOCK;
                    break;
                }
                if (!(entry & ENTRY_LONG_LENGTH)) {
                    NOTE_ERROR("invalid literal/length code");
                    step = STEP_BAD_DATA;
                    break;
                }
                // Deflate64 symbol 285: its code is dropped, its 16 extra bits follow.
                if ((uint8_t)count < 16)
                    REFILL_BITS();
                length = entry_value(entry) + (uint32_t)low_bits(bits, 16);
                DROP_BITS(16);
                REFILL_BITS();  // bits for the distance lookup
                goto decode_distance;
            }
        }
        length = ENTRY_VALUE_PLUS_EXTRA(entry, saved);

    decode_distance:
        // Looked up before the refill: at least 8 of the stream's bits are in the word.
        entry = distance_view[bits & distance_mask];
        if ((uint8_t)count < DISTANCE_REFILL_BITS)
            REFILL_BITS();
        if (entry & ENTRY_EXCEPTIONAL) {
            if (!(entry & ENTRY_SUBTABLE)) {
                NOTE_ERROR("invalid distance code");
                step = STEP_BAD_DATA;
                break;
            }
            if (WORD_BITS == 64 && (uint8_t)count < MAX_DISTANCE_BITS + PRELOAD_BITS)
                REFILL_BITS();
            DROP_ENTRY_BITS(entry);
            entry = distance_table[entry_value(entry) + low_bits(bits, entry_code_bits(entry))];
            if (entry & ENTRY_EXCEPTIONAL) {
                NOTE_ERROR("invalid distance code");
                step = STEP_BAD_DATA;
                break;
            }
        }
        if (WORD_BITS == 32 && (uint8_t)count < entry_drop_bits(entry))
            REFILL_BITS();
        saved = bits;
        DROP_ENTRY_BITS(entry);
        distance = ENTRY_VALUE_PLUS_EXTRA(entry, saved);
        // The next entry is loaded before the copy, so the two overlap; on 64-bit also before
        // the refill, from the bits left in the word.
        if (WORD_BITS == 64) {
            entry = literal_view[bits & literal_mask];
            REFILL_BITS();
        } else {
            REFILL_BITS();
            entry = literal_view[bits & literal_mask];
        }

        pos = (uint32_t)(out - win);
        source = (pos - distance) & WINDOW_MASK;
        if (length < WINDOW_SIZE - pos && source + length <= WINDOW_SIZE && distance >= 8) {
            copy_words(out, win + source, length);
            out += length;
        } else {
            // The rarer matches go out of the loop (inline they cost it registers): one that
            // reaches the window end (copied in pieces, the full window flushed), a distance
            // below 8, a source crossing the window end.
            out = win + copy_match(pos, distance, length);
            if (input_exhausted)
                break;  // the memory sink is full
        }
    } while (in <= in_limit && out <= out_limit);

    // Give back the whole bytes loaded but not used, but never more than this loop loaded:
    // bytes the careful path held on entry may come from the previous input chunk.
    count = (uint8_t)count;
    uint32_t unused = count >> 3;
    uint32_t loaded = (uint32_t)(in - input_cursor);
    if (unused > loaded)
        unused = loaded;
    in -= unused;
    count -= unused * 8;
    uint32_t taken = (uint32_t)(in - input_cursor);
    input_cursor = in;
    input_avail -= (int32_t)taken;
    source_remaining -= taken;
    bit_buffer = (uint32_t)low_bits(bits, count);
    bit_count = count;
    window_pos = (uint32_t)(out - win);
    return step;
}

// Tried (x86-64, gcc 12 -O2, 8 MB level-6 corpora of bench_inflate, best of 10; MB/s of
// output; keep this list when changing the loop):
// - Exact copies (a loop of 8-byte words closed by one overlapping word) instead of copying
//   past the match and restoring the 16 bytes after it: text 1,061 vs 1,125. Kept the restore;
//   then 16 bytes without a test: text 1,128 -> 1,228, binary unchanged (426); then 32 bytes
//   for matches over 16: text 1,233 -> 1,283. Kept both.
// - Extra bits through a table of masks (masks[extra] & (saved >> code_bits)) instead of
//   (saved & (2^drop - 1)) >> code_bits: slower, text 1,125 -> 1,080, binary 418 -> 408.
// - Root masks as constants (9 and 6 bits, which would need a second loop for the fixed
//   tables): no gain, text 1,103 vs 1,125, binary 414 vs 418.
// - -mbmi2 (shrx, bzhi) for this file: no gain worth a run-time dispatch, text 1,254 -> 1,263,
//   binary 426 -> 425, compressed 1,909 -> 1,952.
// - The window position as an index (win[pos++]) instead of an output pointer: about equal
//   (text 1,127 vs 1,160, binary 414 vs 411); kept the pointer.
// - The rarely taken copies (distance below 8, a source wrapping around the window end)
//   inlined into the loop: no faster (binary 426 vs 430), and 800 bytes more in the stub.
// - Branch hints (__builtin_expect) on the rare paths: no change (text 1,282 vs 1,289,
//   binary 433 vs 431).
// - Fast views of 11/8 bits in front of the 9/6-bit arenas (kept): text 1,146 -> 1,216,
//   binary 395 -> 452, compressed unchanged (2,143 / 2,127); libdeflate in the same runs
//   1,732-1,750, 542-588, 2,181-2,273.
// - Next literal/length entry loaded before the match copy instead of after it (kept): text
//   1,216 -> 1,262-1,271, binary 452 -> 477-496.
// - Distances 1..7 inline as word stores stepping by the distance (a broadcast for 1), the
//   overrun restored: no gain, text 1,245-1,251 vs 1,262-1,271, binary 465-495 vs 477-496.
// Second round (x86-64, gcc 12 -O3 as in the native build, the same corpora; figures are
// ours / libdeflate for text, binary, compressed, each the best of 30-60 decodes alternating
// with libdeflate's, the variants of one line measured in the same session). Start: 0.74,
// 0.89, 0.95.
// - Bits dropped by whole entries (count -= entry, only its low byte meaningful, compares on
//   (uint8_t)count): alone no change (0.73 / 0.88 / 0.95 vs 0.74 / 0.89 / 0.94). Kept: it pays
//   with the two below (without it and the next: text 0.79 instead of 0.89).
// - The distance entry looked up before the refill that precedes its use, and after a match the
//   next literal/length entry before the refill (64-bit; refill thresholds 32 and 39 instead of
//   29): alone no change (0.745 / 0.90 / 0.96 vs 0.748 / 0.90 / 0.95); with the copy below text
//   0.84 -> 0.87, binary 0.91 -> 0.94. Kept.
// - 32 bytes copied without a test instead of 16 and 32 for matches over 16: text 0.76 ->
//   0.84, binary unchanged (0.91). Then 40 bytes: text 0.87 -> 0.89, binary unchanged; 48:
//   text 0.88 -> 0.91 but binary 0.93 -> 0.91 (more short matches). Kept 40, and the 40 bytes
//   after the match restored.
// - The loop after the first step copying 16 bytes per round instead of 8: text 0.83 -> 0.85,
//   binary 0.91 -> 0.92; 32: text 0.89 -> 0.91; 40: text 0.93 -> 0.91. Kept 32.
// - 16-byte moves (SSE) where the distance is 16 or more: no change (text 0.850 vs 0.849,
//   binary 0.92 vs 0.90). Dropped.
// - gcc's loop vectorizer off for the loop (at -O3 it made the copy's word loop into 16-byte
//   moves behind run-time overlap tests): text 0.91 -> 0.93, others unchanged. Kept.
// - The copy's tests as one sign test: (pos - distance) | (distance - 8) | (65,535 - pos -
//   length) >= 0, the source unmasked: slower, text 0.86 -> 0.82, binary 0.92 -> 0.88 (8 % of
//   the matches have sources wrapping around the window end and fell to the slow branch); the
//   same with the masked source and four terms: text 0.86 -> 0.83, binary 0.92 -> 0.89. Kept
//   three plain tests.
// - Fast copy also for sources ahead by fewer than 8 bytes after wrapping (correct for any
//   distance ahead): speed unchanged, one test fewer. Kept.
// - The rare copies (window end, distance below 8, crossing source) in one function out of line
//   instead of inline calls: text unchanged (0.90), binary 0.92 -> 0.925, fewer spills. Kept,
//   then that function replaced by copy_match, which does the same: text 0.92-0.93, binary
//   0.94, compressed 0.96-0.98, unchanged.
// - Extra bits as (saved << (64 - drop)) >> (64 - drop) >> code_bits instead of a mask built
//   from -1 (one register fewer), code bits read as the entry's second byte: binary 0.917 ->
//   0.933, text unchanged. Kept.
// - An unconditional refill before the distance (64-bit): slower, text 0.89 -> 0.88, binary
//   0.94 -> 0.93. Dropped.
// - One loop test ((in_limit - in) | (out_limit - out)) >= 0 instead of two: no change.
//   Dropped.
// - Measured to know the rest: not restoring the bytes after a match (wrong output) is no
//   faster; the flush of the window into 28,672-byte pieces (a memcpy libdeflate does not
//   have) costs about 4 % of the text corpus.
// Literal-heavy data (the "compressed" corpus: Huffman-coded bytes of .gz files) stays near
// zlib's speed: each literal is a table load whose index depends on the shift by the previous
// entry, the same chain zlib has with the same 9-bit root.
