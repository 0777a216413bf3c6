// LZMA decoder: ZIP LZMA header, range decoder, probability model, the symbol loop, and the
// dictionary that runs out into the shared byte sink.
//
// Written from the public description of the LZMA format. Terms: a "symbol" is a literal, a
// match (length, new distance), a rep match (length, one of the four last distances) or a
// short rep (one byte at the last distance). Distances are kept minus one (rep0 = 0 copies the
// byte just written), lengths as decoded (0 = the shortest match, 2 bytes).
#include "lzma_decode.h"

#include <string.h>

#include "zip_format.h"

#if defined(__GNUC__)
#define ALWAYS_INLINE inline __attribute__((always_inline))
#define UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define ALWAYS_INLINE inline
#define UNLIKELY(x) (x)
#endif

uint32_t lzma_dictionary_size;

// --- probability model -----------------------------------------------------------------------

// A probability is the chance of a 0 bit in 1/2048ths; each decoded bit moves it 1/32 of the
// way towards what was seen.
enum { PROB_BITS = 11, PROB_ONE = 1 << PROB_BITS, PROB_START = PROB_ONE / 2, MOVE_BITS = 5 };

enum {
    STATES = 12,             // what the last few symbols were (literal, match, rep, short rep)
    LITERAL_STATES = 7,      // states 0..6 follow a literal: the next literal is a plain one
    POS_BITS_MAX = 4,        // pb <= 4
    LITERAL_BITS_MAX = 4,    // lc + lp <= 4: at most 16 literal coders
    LITERAL_CODER_SIZE = 0x300,  // 256 plain tree nodes and 2 x 256 nodes of the matched coder
    LENGTH_LOW_BITS = 3,     // lengths 0..7
    LENGTH_MID_BITS = 3,     // lengths 8..15
    LENGTH_HIGH_BITS = 8,    // lengths 16..271
    LENGTH_MID_BASE = 1 << LENGTH_LOW_BITS,
    LENGTH_HIGH_BASE = LENGTH_MID_BASE + (1 << LENGTH_MID_BITS),
    MATCH_MIN = 2,           // a decoded length 0 is 2 bytes; the largest, 271, is 273
    DISTANCE_LENGTH_STATES = 4,  // the slot coder is picked by the length: 0, 1, 2, 3 and more
    SLOT_BITS = 6,
    END_SLOT_WITH_MODEL = 14,    // slots 4..13 code their low bits with probabilities
    FULL_DISTANCES = 1 << (END_SLOT_WITH_MODEL >> 1),  // 128: distances those slots cover
    ALIGN_BITS = 4,              // the low bits of the far slots' distances, modelled
};

struct LengthCoder {
    uint16_t choice;   // 0: low
    uint16_t choice2;  // 0: mid, 1: high
    uint16_t low[1 << POS_BITS_MAX][1 << LENGTH_LOW_BITS];
    uint16_t mid[1 << POS_BITS_MAX][1 << LENGTH_MID_BITS];
    uint16_t high[1 << LENGTH_HIGH_BITS];
};

// Every probability of a stream; all start at one half. Sized for the largest lc, lp, pb
// allowed here (28 KiB), so that nothing is allocated per stream.
struct Model {
    uint16_t is_match[STATES][1 << POS_BITS_MAX];
    uint16_t is_rep[STATES];
    uint16_t is_rep0[STATES];
    uint16_t is_rep1[STATES];
    uint16_t is_rep2[STATES];
    uint16_t is_rep0_long[STATES][1 << POS_BITS_MAX];
    uint16_t slot[DISTANCE_LENGTH_STATES][1 << SLOT_BITS];
    // Reverse trees of slots 4..13, each starting at base - slot, indexed from 1.
    uint16_t special[1 + FULL_DISTANCES - END_SLOT_WITH_MODEL];
    uint16_t align[1 << ALIGN_BITS];
    LengthCoder match_length;
    LengthCoder rep_length;
    uint16_t literal[1 << LITERAL_BITS_MAX][LITERAL_CODER_SIZE];
};

static Model model;

static void reset_model()
{
    uint16_t* p = (uint16_t*)&model;
    for (size_t i = 0; i < sizeof model / sizeof *p; ++i)
        p[i] = PROB_START;
}

// --- stream state ----------------------------------------------------------------------------

// State a run leaves for the next one (decode_run keeps it in locals while it works).
struct Stream {
    // range decoder
    uint32_t range;
    uint32_t code;
    // symbol state
    uint32_t state;     // 0..11
    uint32_t rep0, rep1, rep2, rep3;  // the last four distances, minus one
    uint32_t pending;   // bytes of a match cut off at the end of the last run
    // dictionary: a ring of dict_size bytes; pos is where the next byte goes
    uint8_t* dict;
    uint32_t dict_size;
    uint32_t pos;
    uint32_t total;     // bytes produced so far: the stream position lp and pb look at
    // properties
    uint32_t lc;
    uint32_t lp_mask;
    uint32_t pb_mask;
};

static Stream s;

// --- input -----------------------------------------------------------------------------------

// The range decoder reads straight from the source's chunk through its own cursor; the shared
// cursor, input_avail and source_remaining are brought up to date whenever it steps to another
// chunk and when the stream ends, so that every user of the source (the AES code check, the
// end checks) sees exactly the bytes taken.
struct RangeDecoder {
    uint32_t range;
    uint32_t code;
    const uint8_t* next;
    const uint8_t* end;
};

// Read in place of data once the source has run out: the decoder stops at its next check of
// input_exhausted, and what it decodes from these zeros in between is never used.
static const uint8_t zero_input[8] = {};
static const uint8_t* chunk_end;

static void settle_input(const uint8_t* next)
{
    if (input_exhausted)
        return;
    uint32_t taken = (uint32_t)(next - input_cursor);
    input_cursor = next;
    input_avail -= (int32_t)taken;
    source_remaining -= taken;
}

// The next chunk, once the decoder has taken every byte of the current one.
static const uint8_t* __attribute__((noinline)) take_chunk(const uint8_t* next)
{
    settle_input(next);
    if (!input_exhausted && source_remaining != 0 && refill_input() != 0) {
        ++input_avail;  // refill_input counts the byte fetch_byte would take at once; none is taken yet
        chunk_end = input_cursor + input_avail;
        return input_cursor;
    }
    input_exhausted = true;
    input_cursor = zero_input;
    input_avail = 0;
    chunk_end = zero_input + sizeof zero_input;
    return zero_input;
}

// --- range decoder ---------------------------------------------------------------------------

// The range is kept at 2^24 or more before each bit, so that a probability's share of it
// (range / 2048 * p) never rounds to nothing.
enum : uint32_t { RANGE_TOP = 1u << 24 };

static ALWAYS_INLINE void normalize(RangeDecoder& rc)
{
    if (rc.range < RANGE_TOP) {
        if (UNLIKELY(rc.next == rc.end)) {
            rc.next = take_chunk(rc.next);
            rc.end = chunk_end;
        }
        rc.range <<= 8;
        rc.code = (rc.code << 8) | *rc.next++;
    }
}

static ALWAYS_INLINE uint32_t decode_bit(RangeDecoder& rc, uint16_t* p)
{
    normalize(rc);
    uint32_t prob = *p;
    uint32_t bound = (rc.range >> PROB_BITS) * prob;
    if (rc.code < bound) {
        rc.range = bound;
        *p = (uint16_t)(prob + ((PROB_ONE - prob) >> MOVE_BITS));
        return 0;
    }
    rc.range -= bound;
    rc.code -= bound;
    *p = (uint16_t)(prob - (prob >> MOVE_BITS));
    return 1;
}

// A bit tree of `bits` levels, most significant bit first; probs[1] is the root.
static ALWAYS_INLINE uint32_t decode_tree(RangeDecoder& rc, uint16_t* probs, uint32_t bits)
{
    uint32_t node = 1;
    for (uint32_t i = 0; i < bits; ++i)
        node = (node << 1) | decode_bit(rc, probs + node);
    return node - (1u << bits);
}

// The same tree read least significant bit first (the low bits of distances).
static ALWAYS_INLINE uint32_t decode_reverse_tree(RangeDecoder& rc, uint16_t* probs, uint32_t bits)
{
    uint32_t node = 1;
    uint32_t value = 0;
    for (uint32_t i = 0; i < bits; ++i) {
        uint32_t bit = decode_bit(rc, probs + node);
        node = (node << 1) | bit;
        value |= bit << i;
    }
    return value;
}

// Bits of equal probability, most significant first.
static uint32_t decode_direct(RangeDecoder& rc, uint32_t bits)
{
    uint32_t value = 0;
    while (bits-- != 0) {
        normalize(rc);
        rc.range >>= 1;
        uint32_t bit = rc.code >= rc.range;
        rc.code -= rc.range & (0u - bit);
        value = (value << 1) | bit;
    }
    return value;
}

// --- lengths and distances -------------------------------------------------------------------

static ALWAYS_INLINE uint32_t decode_length(RangeDecoder& rc, LengthCoder* coder, uint32_t pos_state)
{
    if (decode_bit(rc, &coder->choice) == 0)
        return decode_tree(rc, coder->low[pos_state], LENGTH_LOW_BITS);
    if (decode_bit(rc, &coder->choice2) == 0)
        return LENGTH_MID_BASE + decode_tree(rc, coder->mid[pos_state], LENGTH_MID_BITS);
    return LENGTH_HIGH_BASE + decode_tree(rc, coder->high, LENGTH_HIGH_BITS);
}

// A new distance (minus one) for a match of decoded length `length`. The end marker comes out
// as 0xFFFFFFFF.
static uint32_t decode_distance(RangeDecoder& rc, uint32_t length)
{
    uint32_t length_state = length < DISTANCE_LENGTH_STATES - 1 ? length : DISTANCE_LENGTH_STATES - 1;
    uint32_t slot = decode_tree(rc, model.slot[length_state], SLOT_BITS);
    if (slot < 4)
        return slot;
    uint32_t low_bits = (slot >> 1) - 1;
    uint32_t distance = (2 | (slot & 1)) << low_bits;
    if (slot < END_SLOT_WITH_MODEL)
        return distance + decode_reverse_tree(rc, model.special + distance - slot, low_bits);
    distance += decode_direct(rc, low_bits - ALIGN_BITS) << ALIGN_BITS;
    return distance + decode_reverse_tree(rc, model.align, ALIGN_BITS);
}

// --- the symbol loop -------------------------------------------------------------------------

enum RunResult { RUN_FULL, RUN_END_MARKER, RUN_BAD };

static uint32_t next_state_after_literal(uint32_t state)
{
    return state < 4 ? 0 : state < 10 ? state - 3 : state - 6;
}

// Copies `n` bytes from `distance` + 1 back; the caller has made sure that pos + n stays
// within the ring and that the distance lies in the output. Byte by byte, forwards, so that
// a match overlapping itself repeats its pattern.
static ALWAYS_INLINE void copy_match(uint8_t* dict, uint32_t dict_size, uint32_t pos, uint32_t distance, uint32_t n)
{
    uint32_t from = pos >= distance + 1 ? pos - distance - 1 : pos + dict_size - distance - 1;
    uint8_t* out = dict + pos;
    if (from + n <= dict_size) {
        const uint8_t* in = dict + from;
        for (uint32_t i = 0; i < n; ++i)
            out[i] = in[i];
        return;
    }
    for (uint32_t i = 0; i < n; ++i) {
        out[i] = dict[from];
        if (++from == dict_size)
            from = 0;
    }
}

// Decodes symbols into the ring from s.pos up to `limit` (<= s.dict_size, and no further than
// the stream's size allows). A match that would pass `limit` is cut there; its rest waits in
// s.pending for the next run.
//
// Entry: the range decoder is normalised as after the last bit; s.pos < limit or a pending
// match. Exit: RUN_FULL with s.pos == limit; RUN_END_MARKER right after the marker (nothing
// written for it); RUN_BAD on a distance outside the output, a rep before any output, or
// input that ran out. The state in `s` is saved in every case.
static int decode_run(uint32_t limit)
{
    RangeDecoder rc = {s.range, s.code, input_cursor, chunk_end};
    uint8_t* const dict = s.dict;
    const uint32_t dict_size = s.dict_size;
    uint32_t pos = s.pos;
    uint32_t state = s.state;
    uint32_t rep0 = s.rep0, rep1 = s.rep1, rep2 = s.rep2, rep3 = s.rep3;
    // The stream position of ring position p is base + p within this run.
    const uint32_t base = s.total - pos;
    int result = RUN_FULL;

    if (s.pending != 0) {
        uint32_t n = s.pending < limit - pos ? s.pending : limit - pos;
        copy_match(dict, dict_size, pos, rep0, n);
        pos += n;
        s.pending -= n;
    }
    while (pos < limit) {
        if (UNLIKELY(input_exhausted)) {
            result = RUN_BAD;
            break;
        }
        uint32_t total = base + pos;
        uint32_t pos_state = total & s.pb_mask;
        if (decode_bit(rc, &model.is_match[state][pos_state]) == 0) {
            uint32_t previous = total == 0 ? 0 : dict[(pos == 0 ? dict_size : pos) - 1];
            uint16_t* probs = model.literal[((total & s.lp_mask) << s.lc) + (previous >> (8 - s.lc))];
            uint32_t symbol = 1;
            if (state >= LITERAL_STATES) {
                // The byte at the last distance steers the first bits, while they agree.
                uint32_t match_byte = dict[pos >= rep0 + 1 ? pos - rep0 - 1 : pos + dict_size - rep0 - 1];
                do {
                    uint32_t match_bit = (match_byte >> 7) & 1;
                    match_byte <<= 1;
                    uint32_t bit = decode_bit(rc, probs + ((1 + match_bit) << 8) + symbol);
                    symbol = (symbol << 1) | bit;
                    if (bit != match_bit)
                        break;
                } while (symbol < 0x100);
            }
            while (symbol < 0x100)
                symbol = (symbol << 1) | decode_bit(rc, probs + symbol);
            dict[pos++] = (uint8_t)symbol;
            state = next_state_after_literal(state);
            continue;
        }
        uint32_t length;
        if (decode_bit(rc, &model.is_rep[state]) == 0) {
            length = decode_length(rc, &model.match_length, pos_state);
            state = state < LITERAL_STATES ? 7 : 10;
            uint32_t distance = decode_distance(rc, length);
            if (distance == 0xFFFFFFFFu) {
                result = RUN_END_MARKER;
                break;
            }
            rep3 = rep2;
            rep2 = rep1;
            rep1 = rep0;
            rep0 = distance;
        } else {
            if (UNLIKELY(total == 0)) {
                result = RUN_BAD;
                break;
            }
            if (decode_bit(rc, &model.is_rep0[state]) == 0) {
                if (decode_bit(rc, &model.is_rep0_long[state][pos_state]) == 0) {
                    // Short rep: one byte from the last distance (valid: checked when it came).
                    dict[pos] = dict[pos >= rep0 + 1 ? pos - rep0 - 1 : pos + dict_size - rep0 - 1];
                    ++pos;
                    state = state < LITERAL_STATES ? 9 : 11;
                    continue;
                }
            } else {
                uint32_t distance;
                if (decode_bit(rc, &model.is_rep1[state]) == 0) {
                    distance = rep1;
                } else {
                    if (decode_bit(rc, &model.is_rep2[state]) == 0) {
                        distance = rep2;
                    } else {
                        distance = rep3;
                        rep3 = rep2;
                    }
                    rep2 = rep1;
                }
                rep1 = rep0;
                rep0 = distance;
            }
            length = decode_length(rc, &model.rep_length, pos_state);
            state = state < LITERAL_STATES ? 8 : 11;
        }
        // The distance must lie in what was written and in the ring. (Reps were checked when
        // they came as matches; the initial zeros only pass once a byte exists.)
        if (UNLIKELY(rep0 >= total || rep0 >= dict_size)) {
            result = RUN_BAD;
            break;
        }
        uint32_t n = length + MATCH_MIN;
        if (n > limit - pos) {
            s.pending = n - (limit - pos);
            n = limit - pos;
        }
        copy_match(dict, dict_size, pos, rep0, n);
        pos += n;
    }
    settle_input(rc.next);
    s.range = rc.range;
    s.code = rc.code;
    s.total = base + pos;
    // Of the count only its low bits (the position state) and whether it exceeds a distance
    // matter, and every distance is below the 64 MiB ring: past 3 GiB it drops by 2 GiB, so an
    // entry over 4 GiB never wraps it to a small count that would refuse a valid distance.
    if (s.total >= 0xC0000000u)
        s.total -= 0x80000000u;
    s.pos = pos;
    s.state = state;
    s.rep0 = rep0;
    s.rep1 = rep1;
    s.rep2 = rep2;
    s.rep3 = rep3;
    return result;
}

// --- output ----------------------------------------------------------------------------------

// Passes ring bytes [from, to) to the sink in OUTPUT_PIECE_SIZE pieces.
static void pass_to_sink(uint32_t from, uint32_t to)
{
    while (from < to) {
        uint32_t room = OUTPUT_PIECE_SIZE - output_count;
        uint32_t n = to - from < room ? to - from : room;
        memcpy(output_cursor, s.dict + from, n);
        output_cursor += n;
        output_count += n;
        from += n;
        if (output_count == OUTPUT_PIECE_SIZE)
            flush_output();
    }
}

// --- header and stream -----------------------------------------------------------------------

uint32_t lzma_dictionary_need(uint32_t declared, uint64_t unpacked_size)
{
    const uint32_t smallest = 4096;  // LZMA's minimum dictionary
    uint32_t size = declared < smallest ? smallest : declared;
    if (size > unpacked_size)
        size = (uint32_t)unpacked_size;
    return size == 0 ? 1 : size;
}

// Reads the ZIP LZMA header and sets up model and properties; the dictionary size it declares
// goes to lzma_dictionary_size. LZMA_BAD_DATA when the header is cut or malformed.
static int read_zip_lzma_header()
{
    uint8_t header[ZIP_LZMA_HEADER_SIZE];
    for (uint32_t i = 0; i < ZIP_LZMA_HEADER_SIZE; ++i) {
        if (fetch_byte(&header[i]) == 0)
            return LZMA_BAD_DATA;
    }
    uint32_t properties_size = header[2] | (uint32_t)header[3] << 8;
    if (properties_size != ZIP_LZMA_PROPERTIES_SIZE)
        return LZMA_BAD_DATA;
    uint32_t packed = header[4];
    if (packed >= 9 * 5 * 5)
        return LZMA_BAD_DATA;
    uint32_t lc = packed % 9;
    uint32_t lp = packed / 9 % 5;
    uint32_t pb = packed / 45;
    if (lc + lp > LITERAL_BITS_MAX)
        return LZMA_UNSUPPORTED_PROPERTIES;
    s.lc = lc;
    s.lp_mask = (1u << lp) - 1;
    s.pb_mask = (1u << pb) - 1;
    lzma_dictionary_size = header[5] | (uint32_t)header[6] << 8 | (uint32_t)header[7] << 16 | (uint32_t)header[8] << 24;
    return LZMA_DECODED;
}

// The range decoder's first five bytes: a zero, then the code, most significant byte first.
static int start_range_decoder()
{
    uint8_t byte;
    if (fetch_byte(&byte) == 0 || byte != 0)
        return LZMA_BAD_DATA;
    s.code = 0;
    for (int i = 0; i < 4; ++i) {
        if (fetch_byte(&byte) == 0)
            return LZMA_BAD_DATA;
        s.code = s.code << 8 | byte;
    }
    s.range = 0xFFFFFFFFu;
    return s.code == s.range ? LZMA_BAD_DATA : LZMA_DECODED;
}

static int prepare_stream(uint64_t unpacked_size)
{
    int result = read_zip_lzma_header();
    if (result != LZMA_DECODED)
        return result;
    uint32_t need = lzma_dictionary_need(lzma_dictionary_size, unpacked_size);
    lzma_dictionary_size = need;
    if (need > ZIP_LZMA_DICTIONARY_LIMIT)
        return LZMA_DICTIONARY_TOO_LARGE;
    s.dict = provide_dictionary(need);
    if (s.dict == NULL)
        return LZMA_NO_DICTIONARY_MEMORY;
    s.dict_size = need;
    s.pos = 0;
    s.total = 0;
    s.state = 0;
    s.rep0 = s.rep1 = s.rep2 = s.rep3 = 0;
    s.pending = 0;
    reset_model();
    result = start_range_decoder();
    chunk_end = input_cursor + input_avail;
    return result;
}

// Output runs are at most a piece long, so the sink, the meter and the cancel check see data
// as often as with Deflate, whatever the dictionary size.
static uint32_t run_limit(uint64_t left)
{
    uint32_t limit = s.dict_size - s.pos;
    if (limit > OUTPUT_PIECE_SIZE)
        limit = OUTPUT_PIECE_SIZE;
    if (limit > left)
        limit = (uint32_t)left;
    return s.pos + limit;
}

// After the last byte: the end marker must follow when the entry says so. A run with no room
// reads exactly one symbol, which must be the marker.
static int check_end(bool end_marker)
{
    if (s.pending != 0)
        return LZMA_BAD_DATA;  // the last match runs past the entry's size
    if (!end_marker)
        return LZMA_DECODED;
    if (s.pos == s.dict_size)
        s.pos = 0;
    uint32_t saved = s.pos;
    // One symbol with no room to write: anything but the marker is a literal or match that
    // does not fit, which decode_run would write; so decode it against a limit of pos + 1 and
    // accept only the marker.
    int result = decode_run(s.pos + 1);
    return result == RUN_END_MARKER && s.pos == saved && !input_exhausted ? LZMA_DECODED : LZMA_BAD_DATA;
}

int decode_lzma(uint64_t unpacked_size, bool end_marker)
{
    input_exhausted = false;
    int result = prepare_stream(unpacked_size);
    if (result != LZMA_DECODED)
        return result;
    uint64_t left = unpacked_size;
    while (left != 0) {
        uint32_t from = s.pos;
        int run = decode_run(run_limit(left));
        pass_to_sink(from, s.pos);
        // A bad symbol, an end marker before the last byte, or a symbol decoded from past the
        // end of the input (a whole stream never needs a byte beyond its own: its encoder
        // flushes all the decoder reads).
        if (run != RUN_FULL || input_exhausted)
            return LZMA_BAD_DATA;
        left -= s.pos - from;
        if (s.pos == s.dict_size)
            s.pos = 0;
    }
    return check_end(end_marker);
}
