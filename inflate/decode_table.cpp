// Huffman decode tables: the constant symbol tables and the table builder.
#include "inflate_internal.h"

// --- symbol tables -----------------------------------------------------------------------------

// Length symbols 257..287: base length and extra bits. Symbol 285 is 258 without extra bits in
// Deflate; 286 and 287 never decode.
const uint16_t length_base[31] = {
    3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
    35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0, 0};
const uint8_t length_extra[31] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
    3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, EXTRA_INVALID, EXTRA_INVALID};
// Deflate64: symbol 285 is base 3 with 16 extra bits (lengths 3..65,538).
const uint16_t length_base64[31] = {
    3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
    35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3, 0, 0};
const uint8_t length_extra64[31] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
    3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16, EXTRA_INVALID, EXTRA_INVALID};
// Distance symbols 0..31. Both methods have all 32: symbols 30 and 31 reach 64 KiB back.
const uint16_t distance_base[32] = {
    1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193,
    257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577,
    32769, 49153};
const uint8_t distance_extra[32] = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6,
    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

// --- arenas ------------------------------------------------------------------------------------

static uint32_t literal_entries[LITERAL_TABLE_ENTRIES];
static uint32_t distance_entries[DISTANCE_TABLE_ENTRIES];
static uint32_t precode_entries[PRECODE_TABLE_ENTRIES];
static uint32_t fixed_literal_entries[FIXED_LITERAL_TABLE_ENTRIES];
static uint32_t fixed_distance_entries[FIXED_DISTANCE_TABLE_ENTRIES];

static uint32_t literal_view[1 << FAST_LITERAL_BITS];
static uint32_t distance_view[1 << FAST_DISTANCE_BITS];
static uint32_t fixed_literal_view[1 << FAST_LITERAL_BITS];
static uint32_t fixed_distance_view[1 << FAST_DISTANCE_BITS];

DecodeTable literal_code = {literal_entries, LITERAL_TABLE_ENTRIES, false, false, 0, 0,
                            literal_view, FAST_LITERAL_BITS};
DecodeTable distance_code = {distance_entries, DISTANCE_TABLE_ENTRIES, true, false, 0, 0,
                             distance_view, FAST_DISTANCE_BITS};
DecodeTable precode = {precode_entries, PRECODE_TABLE_ENTRIES, false, false, 0, 0, 0, 0};
DecodeTable fixed_literal_code = {fixed_literal_entries, FIXED_LITERAL_TABLE_ENTRIES, false, false, 0, 0,
                                  fixed_literal_view, FAST_LITERAL_BITS};
DecodeTable fixed_distance_code = {fixed_distance_entries, FIXED_DISTANCE_TABLE_ENTRIES, false, false, 0, 0,
                                   fixed_distance_view, FAST_DISTANCE_BITS};
uint8_t fixed_tables_deflate64;

static_assert(LITERAL_TABLE_ENTRIES >= (1 << LITERAL_ROOT_BITS), "root table fits its arena");
static_assert(DISTANCE_TABLE_ENTRIES >= (1 << DISTANCE_ROOT_BITS), "root table fits its arena");
static_assert(PRECODE_TABLE_ENTRIES == (1 << PRECODE_ROOT_BITS), "code length codes have at most 7 bits");
static_assert(FIXED_LITERAL_TABLE_ENTRIES == 128 + 76 * 2 + 28 * 4, "fixed code: 7, 8 and 9 bits");
static_assert(FIXED_DISTANCE_TABLE_ENTRIES == 1 << FIXED_DISTANCE_ROOT_BITS, "fixed distances: 5 bits");

// --- builder -----------------------------------------------------------------------------------

// The entry of symbol, whose code has code_bits bits at its table level.
static uint32_t make_entry(uint32_t symbol, uint32_t code_bits, uint32_t first_coded,
                           const uint16_t* base, const uint8_t* extra)
{
    uint32_t bits = code_bits << 8 | code_bits;
    if (symbol < first_coded) {
        if (symbol < 256)
            return ENTRY_LITERAL | symbol << 16 | bits;
        return ENTRY_EXCEPTIONAL | ENTRY_END_OF_BLOCK | bits;
    }
    uint32_t extra_bits = extra[symbol - first_coded];
    if (extra_bits == EXTRA_INVALID)
        return ENTRY_INVALID | bits;
    uint32_t value = (uint32_t)base[symbol - first_coded] << 16;
    if (extra_bits > 15)
        return value | ENTRY_EXCEPTIONAL | ENTRY_LONG_LENGTH | bits;  // extra bits taken apart
    return value | code_bits << 8 | (code_bits + extra_bits);
}

// Writes entry at every position of a table of 2^table_bits entries whose low code_bits bits
// are the (bit-reversed) code.
static void replicate_entry(uint32_t* table, uint32_t table_bits, uint32_t code, uint32_t code_bits, uint32_t entry)
{
    for (uint32_t i = code; i < (1u << table_bits); i += 1u << code_bits)
        table[i] = entry;
}

static void fill_invalid(uint32_t* table, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        table[i] = ENTRY_INVALID;
}

// Width of the sub-table opened by a code of code_bits bits beyond the root: just wide enough
// for the codes sharing its root prefix. remaining[] counts the codes not yet placed; codes are
// placed in canonical order, so the ones sharing the prefix come first and fill the sub-table
// (only the last sub-table of an incomplete code stays partly empty; it grows to the longest
// length).
static uint32_t subtable_bits(const uint16_t* remaining, uint32_t root, uint32_t code_bits, uint32_t longest)
{
    uint32_t bits = code_bits - root;
    int32_t left = 1 << bits;
    while (bits + root < longest) {
        left -= remaining[bits + root];
        if (left <= 0)
            break;
        ++bits;
        left <<= 1;
    }
    return bits;
}

// The next bit-reversed canonical code after code (code_bits bits long): zlib's backwards
// increment. A longer code continues from the same value (canonical codes are extended by 0).
static uint32_t next_reversed_code(uint32_t code, uint32_t code_bits)
{
    uint32_t increment = 1u << (code_bits - 1);
    while (code & increment)
        increment >>= 1;
    return increment ? (code & (increment - 1)) + increment : 0;
}

// Fills code->entries with the codes of sorted[0..count), already sorted by length. Result:
// INFLATE_OK, or INFLATE_BAD_CODE when the sub-tables would not fit the arena. That cannot
// happen for any code a stream can describe (the arenas are the worst cases); the check only
// guarantees that no table is ever written out of bounds.
static int fill_decode_table(const uint8_t* lengths, const uint16_t* sorted, uint32_t count,
                             uint16_t* remaining, uint32_t longest, bool incomplete,
                             uint32_t first_coded, const uint16_t* base, const uint8_t* extra,
                             DecodeTable* code)
{
    uint32_t* table = code->entries;
    uint32_t root = code->root_bits;
    uint32_t used = 1u << root;
    if (incomplete)
        fill_invalid(table, used);
    uint32_t reversed = 0;               // current code, bit-reversed: the table index
    uint32_t open_prefix = 0xFFFFFFFFu;  // root index of the sub-table being filled
    uint32_t* subtable = table;
    uint32_t sub_bits = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t symbol = sorted[i];
        uint32_t bits = lengths[symbol];
        if (bits <= root) {
            replicate_entry(table, root, reversed, bits, make_entry(symbol, bits, first_coded, base, extra));
        } else {
            uint32_t prefix = reversed & ((1u << root) - 1);
            if (prefix != open_prefix) {
                sub_bits = subtable_bits(remaining, root, bits, longest);
                if (used + (1u << sub_bits) > code->capacity)
                    return INFLATE_BAD_CODE;
                subtable = table + used;
                if (incomplete)
                    fill_invalid(subtable, 1u << sub_bits);
                table[prefix] = ENTRY_EXCEPTIONAL | ENTRY_SUBTABLE | used << 16 | sub_bits << 8 | root;
                used += 1u << sub_bits;
                open_prefix = prefix;
            }
            replicate_entry(subtable, sub_bits, reversed >> root, bits - root,
                            make_entry(symbol, bits - root, first_coded, base, extra));
        }
        --remaining[bits];
        reversed = next_reversed_code(reversed, bits);
    }
    return INFLATE_OK;
}

// Fills the fast view from the built arena. The root table is repeated up to the view's width
// by doubling; then each root slot that links to a sub-table gets, at every view position
// with its prefix, the sub-table's entry merged with the root step (its bits to drop and code
// bits grown by the root width) where the code fits the view, else the link itself.
static void fill_fast_view(DecodeTable* code)
{
    uint32_t* view = code->fast_entries;
    if (view == 0)
        return;
    uint32_t root = code->root_bits;
    uint32_t size = 1u << code->fast_bits;
    memcpy(view, code->entries, (sizeof *view) << root);
    for (uint32_t filled = 1u << root; filled < size; filled *= 2)
        memcpy(view + filled, view, filled * sizeof *view);
    for (uint32_t prefix = 0; prefix < (1u << root); ++prefix) {
        uint32_t link = code->entries[prefix];
        if (!(link & ENTRY_SUBTABLE))
            continue;
        const uint32_t* subtable = code->entries + entry_value(link);
        uint32_t sub_mask = (1u << entry_code_bits(link)) - 1;
        for (uint32_t at = prefix; at < size; at += 1u << root) {
            uint32_t entry = subtable[(at >> root) & sub_mask];
            if (entry_code_bits(entry) + root <= code->fast_bits)
                view[at] = entry + (root << 8 | root);
        }
    }
}

int build_decode_table(const uint8_t* lengths, uint32_t n, uint32_t first_coded,
                       const uint16_t* base, const uint8_t* extra,
                       DecodeTable* code, uint32_t requested_width)
{
    uint16_t counts[MAX_CODE_BITS + 1] = {0};
    for (uint32_t i = 0; i < n; ++i)
        ++counts[lengths[i]];
    if (counts[0] == n) {
        // No code at all: a one-entry root that decodes as invalid keeps lookups harmless.
        code->entries[0] = ENTRY_INVALID;
        code->root_bits = 0;
        code->width = 0;
        code->built = true;
        fill_fast_view(code);
        return INFLATE_OK;
    }
    uint32_t shortest = 1, longest = MAX_CODE_BITS;
    while (counts[shortest] == 0)
        ++shortest;
    while (counts[longest] == 0)
        --longest;

    // The reported width is narrowed to the lengths present; the root table itself never grows
    // beyond the requested width (a wider root would only cost memory).
    uint32_t width = requested_width;
    if (width < shortest)
        width = shortest;
    if (width > longest)
        width = longest;
    code->width = (uint8_t)width;
    code->root_bits = (uint8_t)(width < requested_width ? width : requested_width);

    // Code space, shortest length first: over-subscription is found before anything is written.
    int32_t left = 1;
    for (uint32_t bits = 1; bits <= MAX_CODE_BITS; ++bits) {
        left = (left << 1) - counts[bits];
        if (left < 0)
            return INFLATE_BAD_CODE;
    }
    bool incomplete = left > 0 && longest > 1;
    if (incomplete && !code->keeps_incomplete)
        return INFLATE_DATA_ERROR;

    // Symbols sorted by length, stable by symbol number: the canonical code order.
    uint16_t offsets[MAX_CODE_BITS + 1];
    offsets[1] = 0;
    for (uint32_t bits = 1; bits < MAX_CODE_BITS; ++bits)
        offsets[bits + 1] = (uint16_t)(offsets[bits] + counts[bits]);
    uint16_t sorted[288];  // n is at most 288 (HLIT)
    for (uint32_t symbol = 0; symbol < n; ++symbol) {
        if (lengths[symbol] != 0)
            sorted[offsets[lengths[symbol]]++] = (uint16_t)symbol;
    }
    // A single one-bit code leaves one code value unused: it decodes as invalid.
    int result = fill_decode_table(lengths, sorted, n - counts[0], counts, longest, left > 0,
                                   first_coded, base, extra, code);
    if (result != INFLATE_OK)
        return result;
    code->built = true;
    fill_fast_view(code);
    return incomplete ? INFLATE_DATA_ERROR : INFLATE_OK;
}

void free_decode_tables(DecodeTable* code)
{
    code->built = false;
}
