// Decoder internals shared by the table builder (decode_table.cpp), the careful path
// (inflate.cpp), the fast loop (inflate_fast.cpp) and the window (window.cpp). Calls point one
// way: inflate.cpp -> inflate_fast.cpp -> window.cpp, and both to decode_table.cpp. Also read by the unit tests, the
// benchmark and the fuzzer, which inspect the table records and can switch the fast loop off.
#ifndef TVSFX_INFLATE_INTERNAL_H
#define TVSFX_INFLATE_INTERNAL_H

#include <stdint.h>
#include <string.h>

#include "inflate.h"

// --- decoder state (reset by inflate_stream, except where noted) -------------------------------

extern uint32_t window_pos;   // next write position in window, 0..65,535
extern uint32_t bit_buffer;   // bit accumulator: bits enter at bit_count, stream order LSB first;
                              // bits above bit_count are always 0
extern uint32_t bit_count;    // valid bits in bit_buffer; at most 23 on the careful path
extern uint8_t deflate64;     // 1 while a Deflate64 stream is decoded
extern uint32_t overread_bits; // zero bits fed past the end of the input in this stream

// False makes every symbol go through the careful path; the tests and the fuzzer compare
// the two paths with it. Always true in the stub.
extern bool fast_loop_enabled;

enum { WINDOW_MASK = WINDOW_SIZE - 1 };
enum { MAX_CODE_BITS = 15 };       // longest Huffman code of either method

// --- decode table entries ----------------------------------------------------------------------
//
// One u32 per table position:
//
//   bits  0..7   bits to drop for this entry at its table level, extra bits included
//                (a link: the root width)
//   bits  8..11  bits of the code itself at this level (a link: the sub-table's width)
//   bits 12..15  kind flags below
//   bits 16..31  value: literal byte (with ENTRY_LITERAL), base length, base distance, or
//                for a link the sub-table's offset from the start of the table
//
// Literals carry bit 31 so that the hottest test is a sign test. Everything the fast loop
// does not handle inline (link, end of block, invalid code, Deflate64's 16-bit length)
// carries ENTRY_EXCEPTIONAL, so ordinary lengths cost one more test and nothing else.
// Dropping the low byte is right for every kind, so the fast loop drops it before it knows
// the kind. Deflate64's symbol 285 keeps its 16 extra bits out of the low byte (code and extra
// bits together do not fit the 32-bit loop's bit budget); both paths take them separately,
// and entry_extra_bits reports them. Unused code values of an incomplete code decode as
// ENTRY_INVALID.
enum : uint32_t {
    ENTRY_LITERAL = 0x80000000u,
    ENTRY_EXCEPTIONAL = 0x8000,
    ENTRY_SUBTABLE = 0x4000,
    ENTRY_END_OF_BLOCK = 0x2000,
    ENTRY_LONG_LENGTH = 0x1000,  // Deflate64 length symbol 285: base 3, 16 extra bits
    ENTRY_INVALID = ENTRY_EXCEPTIONAL,
    ENTRY_KIND_MASK = 0xF000,
};

inline uint32_t entry_drop_bits(uint32_t entry) { return entry & 0xFF; }
inline uint32_t entry_code_bits(uint32_t entry) { return (entry >> 8) & 0xF; }
inline uint32_t entry_extra_bits(uint32_t entry)
{
    return (entry & ENTRY_LONG_LENGTH) ? 16 : entry_drop_bits(entry) - entry_code_bits(entry);
}
inline uint32_t entry_value(uint32_t entry) { return entry >> 16; }
inline bool entry_is_invalid(uint32_t entry) { return (entry & ENTRY_KIND_MASK) == ENTRY_INVALID; }

// --- decode tables -----------------------------------------------------------------------------
//
// Every code has a static arena that holds its root table and, behind it, its sub-tables
// (two levels; a sub-table is as wide as the longest code sharing its root prefix). The arenas
// replace per-block heap blocks: building can never run out of memory, and the results are
// those of the chained tables. Arena sizes are the worst cases over all codes a stream can
// ask for; the builder checks its completeness from the counts before filling anything, so
// an incomplete literal/length code (rejected anyway) is never filled:
//
//   dynamic literal/length  854   root 9, 288 symbols, complete codes
//                                 (512 root entries + at most 342 in sub-tables; found by an
//                                 exhaustive search over all complete codes, as zlib's
//                                 "enough" program does for its 286 symbols: 852)
//   dynamic distance       1108   root 6, 32 symbols, incomplete codes allowed: 64 root entries
//                                 + 1,044 (7 codes of 8 bits, 1 of 9, 17 of 10, 1 each of 11..14,
//                                 3 of 15); tests/unit/inflate re-derives it by search
//   code length code        128   root 7 = the longest code length code: no sub-tables
//   fixed literal/length    392   root 7: 128 + 76 sub-tables of 1 bit + 28 of 2 bits
//   fixed distance           32   32 codes of 5 bits, root 5
enum {
    LITERAL_TABLE_ENTRIES = 854,
    DISTANCE_TABLE_ENTRIES = 1108,
    PRECODE_TABLE_ENTRIES = 128,
    FIXED_LITERAL_TABLE_ENTRIES = 392,
    FIXED_DISTANCE_TABLE_ENTRIES = 32,
};

// Requested root widths. Dynamic codes: 9 and 6 keep most codes to one lookup; the fixed
// literal/length code asks for 7, its shortest length.
enum {
    LITERAL_ROOT_BITS = 9,
    DISTANCE_ROOT_BITS = 6,
    PRECODE_ROOT_BITS = 7,
    FIXED_LITERAL_ROOT_BITS = 7,
    FIXED_DISTANCE_ROOT_BITS = 5,
};

// Fast views. The fast loop looks codes up in single-level views of the built codes, wider than
// their root tables: every code of at most FAST_LITERAL_BITS (FAST_DISTANCE_BITS) bits is one
// lookup there, its extra bits included, so most literal/length codes of text and binaries
// (up to 11 bits) never take the second step. A longer code's slot holds its root table's link
// into the arena; the fast loop follows it there. The careful path never reads a view: its
// lookaheads (the 9- and 6-bit roots' widths and their sub-tables' widths) fix when bytes are
// fetched, and so the moments of refills, and stay as they are.
//   literal/length  2^11 = 2,048 entries: libdeflate's width; 8 KiB stays in the L1 cache
//   distance        2^8  =   256 entries: every distance code of usual streams (codes up to
//                   8 bits); 9 or 10 bits would cost a fill of 512/1,024 entries per block
enum { FAST_LITERAL_BITS = 11, FAST_DISTANCE_BITS = 8 };

// One built code. The per-block codes live for one block: build_decode_table marks the code
// built, and every return path of the block's decoder releases it with free_decode_tables
// (which only marks it released: the arena stays for the next block). The tests check after
// each stream that no per-block code is left built.
struct DecodeTable {
    uint32_t* entries;       // the arena: root table at 0, sub-tables behind it
    uint16_t capacity;       // entries in the arena
    bool keeps_incomplete;   // an incomplete code is built and usable (distance codes only)
    bool built;              // built and not yet released by free_decode_tables
    uint8_t root_bits;       // bits the root table indexes; never above the requested width
    uint8_t width;           // requested width narrowed to [shortest, longest length], as
                             // reported by the builder; 0 when every length is 0
    uint32_t* fast_entries;  // the fast view, 2^fast_bits entries, filled by the builder;
                             // null for codes the fast loop never uses (the code length code)
    uint8_t fast_bits;       // FAST_LITERAL_BITS or FAST_DISTANCE_BITS
};

extern DecodeTable literal_code;         // per dynamic block
extern DecodeTable distance_code;        // per dynamic block
extern DecodeTable precode;              // per dynamic block header
extern DecodeTable fixed_literal_code;   // kept for the process, per deflate64 value
extern DecodeTable fixed_distance_code;
extern uint8_t fixed_tables_deflate64;   // the deflate64 value the fixed tables were built for

// Symbol tables for symbols 257..287 (lengths; 286 and 287 are invalid) and 0..31
// (distances, including the 64 KiB symbols 30 and 31).
enum { EXTRA_INVALID = 99 };  // marks a symbol that decodes as an invalid code
extern const uint16_t length_base[31];
extern const uint8_t length_extra[31];
extern const uint16_t length_base64[31];   // Deflate64: symbol 285 is base 3, 16 extra bits
extern const uint8_t length_extra64[31];
extern const uint16_t distance_base[32];
extern const uint8_t distance_extra[32];

// Builds the decode table of n code lengths. Symbols below first_coded are literal bytes
// (symbol 256: end of block); symbols from first_coded on take their base value and extra
// bits from base/extra[symbol - first_coded]. requested_width is the requested root width;
// code->width receives the narrowed width. Result: INFLATE_OK (usable code),
// INFLATE_DATA_ERROR (incomplete code: more than one bit long and not every code value
// used), INFLATE_BAD_CODE (over-subscribed; nothing is built).
int build_decode_table(const uint8_t* lengths, uint32_t n, uint32_t first_coded,
                       const uint16_t* base, const uint8_t* extra,
                       DecodeTable* code, uint32_t requested_width);
// Releases a code: its arena is free for the next one. Does nothing to a code not built.
void free_decode_tables(DecodeTable* code);

// --- decoding steps ----------------------------------------------------------------------------

// Outcome of decoding symbols: go on, the block ended, or the data is bad (result 1).
enum DecodeStep { STEP_MORE, STEP_END_OF_BLOCK, STEP_BAD_DATA };

// The fast loop: decodes symbols while enough input is buffered and enough window space is
// left, then returns STEP_MORE so that the careful path takes over (see inflate_fast.cpp).
DecodeStep decode_fast(const DecodeTable* literals, const DecodeTable* distances);

// The memory sink reached output_end: the rest of the stream is dropped (window.cpp; reset by
// inflate_stream).
extern bool output_cut;

// Copies a match of any length into the window at pos, piece by piece, flushing the window
// each time it fills; returns the new window position.
uint32_t copy_match(uint32_t pos, uint32_t distance, uint32_t length);

// Copies n bytes forward from src to dst inside the window, with the result of a byte-by-byte
// copy also when the two overlap (a short distance repeats its pattern). Neither range may
// cross the window end. Writes nothing outside [dst, dst + n).
void copy_forward(uint8_t* dst, const uint8_t* src, uint32_t n);

// Little-endian loads and stores at any alignment.
inline uint32_t load_u32(const uint8_t* p) { uint32_t v; memcpy(&v, p, 4); return v; }
inline uint64_t load_u64(const uint8_t* p) { uint64_t v; memcpy(&v, p, 8); return v; }
inline void store_u32(uint8_t* p, uint32_t v) { memcpy(p, &v, 4); }
inline void store_u64(uint8_t* p, uint64_t v) { memcpy(p, &v, 8); }

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the word loads of the fast loop and the CRC assume a little-endian machine"
#endif

// Why a stream failed, for the fuzzer's comparison with zlib; compiled in only when
// INFLATE_TRACE_ERRORS is defined (the stub has no use for the texts).
#ifdef INFLATE_TRACE_ERRORS
extern const char* inflate_error_reason;
#define NOTE_ERROR(reason) (inflate_error_reason = (reason))
#else
#define NOTE_ERROR(reason) ((void)0)
#endif

#endif
