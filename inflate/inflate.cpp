// Raw Deflate / Deflate64 decoder: byte source, byte sink, block decoding and the careful
// symbol path. The fast loop (inflate_fast.cpp) takes over whenever enough input is buffered
// and enough window space is left; everything that touches the ends of the input chunk or of
// the window, and so decides when refill_input and flush_output run, happens here.
#include "inflate_internal.h"

// --- state -------------------------------------------------------------------------------------


const uint8_t* input_cursor;
int32_t input_avail;
bool input_exhausted;

uint8_t* output_cursor;
uint32_t output_count;
bool memory_mode;
uint8_t* output_end;

uint32_t window_pos;
uint32_t bit_buffer;
uint32_t bit_count;
uint8_t deflate64;
bool fast_loop_enabled = true;
uint32_t overread_bits;

#ifdef INFLATE_TRACE_ERRORS
const char* inflate_error_reason;
#endif

// Bits of a value of up to 16 bits.
static uint32_t low_bits(uint32_t value, uint32_t count)
{
    return value & ((1u << count) - 1);
}

// --- byte source -------------------------------------------------------------------------------

int fetch_byte(uint8_t* byte)
{
    if (source_remaining == 0) {
        input_exhausted = true;
        return 0;
    }
    if (input_avail == 0) {
        // refill_input leaves input_avail at the chunk size minus the byte taken below.
        if (refill_input() == 0) {
            input_exhausted = true;
            return 0;
        }
    } else {
        --input_avail;
    }
    *byte = *input_cursor++;
    --source_remaining;
    return 8;
}

// Makes at least n bits (n <= 16) available. Past the end of input the bits are zeros: they
// mean nothing, and the decoder stops at its next check of input_exhausted. overread_bits
// counts them, so the end of the stream can tell looked-at zeros from taken ones.
static void need_bits(uint32_t n)
{
    while (bit_count < n) {
        uint8_t byte = 0;
        if (fetch_byte(&byte) == 0)
            overread_bits += 8;
        bit_buffer |= (uint32_t)byte << bit_count;
        bit_count += 8;
    }
}

static void drop_bits(uint32_t n)
{
    bit_buffer >>= n;
    bit_count -= n;
}

static uint32_t take_bits(uint32_t n)
{
    need_bits(n);
    uint32_t value = low_bits(bit_buffer, n);
    drop_bits(n);
    return value;
}

static void put_byte(uint32_t byte)
{
    slide_window[window_pos++] = (uint8_t)byte;
    if (window_pos == WINDOW_SIZE) {
        flush_window(WINDOW_SIZE);
        window_pos = 0;
    }
}

// --- symbols -----------------------------------------------------------------------------------

// Decodes one code: asks for the code's reported width first (the narrowed width, also when
// the root table indexes fewer bits), then for the sub-table's width. These lookaheads, not the
// codes' own lengths, fix when a byte is fetched, so they fix the moments of refills and of
// running out of input. Returns the code's entry with its bits dropped (extra bits still to
// take).
static uint32_t decode_entry(const DecodeTable* code)
{
    need_bits(code->width);
    uint32_t entry = code->entries[low_bits(bit_buffer, code->root_bits)];
    if (entry & ENTRY_SUBTABLE) {
        drop_bits(code->root_bits);
        need_bits(entry_code_bits(entry));
        entry = code->entries[entry_value(entry) + low_bits(bit_buffer, entry_code_bits(entry))];
    }
    drop_bits(entry_code_bits(entry));
    return entry;
}

// One literal or match, the careful way.
static DecodeStep decode_symbol(const DecodeTable* literals, const DecodeTable* distances)
{
    uint32_t entry = decode_entry(literals);
    if (entry & ENTRY_LITERAL) {
        put_byte(entry_value(entry));
        return STEP_MORE;
    }
    if (entry & ENTRY_END_OF_BLOCK)
        return STEP_END_OF_BLOCK;
    if (entry_is_invalid(entry)) {
        NOTE_ERROR("invalid literal/length code");
        return STEP_BAD_DATA;
    }
    uint32_t length = entry_value(entry) + take_bits(entry_extra_bits(entry));
    entry = decode_entry(distances);
    if (entry_is_invalid(entry)) {
        NOTE_ERROR("invalid distance code");
        return STEP_BAD_DATA;
    }
    uint32_t distance = entry_value(entry) + take_bits(entry_extra_bits(entry));
    window_pos = copy_match(window_pos, distance, length);
    return STEP_MORE;
}

// Decodes the symbols of one compressed block up to its end of block. Result 0 or 1.
static int decode_symbols(const DecodeTable* literals, const DecodeTable* distances)
{
    for (;;) {
        DecodeStep step = decode_fast(literals, distances);
        if (step == STEP_MORE) {
            if (input_exhausted) {
                NOTE_ERROR("input ran out");
                flush_window(window_pos);
                return INFLATE_DATA_ERROR;
            }
            step = decode_symbol(literals, distances);
        }
        if (step != STEP_MORE)
            return step == STEP_END_OF_BLOCK ? INFLATE_OK : INFLATE_DATA_ERROR;
    }
}

// --- blocks ------------------------------------------------------------------------------------

// Input bytes that can be taken without a refill.
static uint32_t buffered_input()
{
    int32_t count = input_avail;
    if (count > 0 && (uint64_t)count > source_remaining)
        count = (int32_t)source_remaining;
    return count > 0 ? (uint32_t)count : 0;
}

// Stored bytes go one at a time through the bit buffer until it is empty, then straight from
// the input chunk as far as it reaches; the last byte of a chunk is taken the careful way, so
// refills happen exactly when a byte is needed and none is buffered.
static int copy_stored_block()
{
    drop_bits(bit_count & 7);
    uint32_t length = take_bits(16);
    uint32_t complement = take_bits(16);
    if (complement != (~length & 0xFFFF)) {
        NOTE_ERROR("invalid stored block lengths");
        return INFLATE_DATA_ERROR;
    }
    while (length > 0) {
        if (input_exhausted) {
            NOTE_ERROR("input ran out");
            flush_window(window_pos);
            return INFLATE_DATA_ERROR;
        }
        uint32_t run = bit_count == 0 ? buffered_input() : 0;
        if (run > length)
            run = length;
        if (run > WINDOW_SIZE - window_pos)
            run = WINDOW_SIZE - window_pos;
        if (run == 0) {
            put_byte(take_bits(8));
            --length;
            continue;
        }
        memcpy(slide_window + window_pos, input_cursor, run);
        input_cursor += run;
        input_avail -= (int32_t)run;
        source_remaining -= run;
        length -= run;
        window_pos += run;
        if (window_pos == WINDOW_SIZE) {
            flush_window(WINDOW_SIZE);
            window_pos = 0;
        }
    }
    return INFLATE_OK;
}

static int decode_fixed_block()
{
    if (fixed_literal_code.built && fixed_tables_deflate64 != deflate64) {
        free_decode_tables(&fixed_literal_code);
        free_decode_tables(&fixed_distance_code);
    }
    if (!fixed_literal_code.built) {
        uint8_t lengths[288];
        memset(lengths, 8, 144);
        memset(lengths + 144, 9, 112);
        memset(lengths + 256, 7, 24);
        memset(lengths + 280, 8, 8);
        int result = build_decode_table(lengths, 288, 257, deflate64 ? length_base64 : length_base,
                                        deflate64 ? length_extra64 : length_extra, &fixed_literal_code,
                                        FIXED_LITERAL_ROOT_BITS);
        if (result != INFLATE_OK) {
            free_decode_tables(&fixed_literal_code);
            return result;
        }
        memset(lengths, 5, 32);
        result = build_decode_table(lengths, 32, 0, distance_base, distance_extra, &fixed_distance_code,
                                    FIXED_DISTANCE_ROOT_BITS);
        if (result > INFLATE_DATA_ERROR) {
            free_decode_tables(&fixed_literal_code);
            return result;
        }
        fixed_tables_deflate64 = deflate64;
    }
    return decode_symbols(&fixed_literal_code, &fixed_distance_code);
}

// Reads the HLIT + HDIST code lengths with the code length code. Result 0 or 1.
static int read_code_lengths(uint8_t* lengths, uint32_t total)
{
    uint32_t i = 0;
    uint32_t last = 0;
    while (i < total) {
        uint32_t entry = decode_entry(&precode);
        if (entry_is_invalid(entry)) {
            NOTE_ERROR("invalid code length code");
            return INFLATE_DATA_ERROR;
        }
        uint32_t symbol = (uint8_t)entry_value(entry);
        if (symbol < 16) {
            lengths[i++] = (uint8_t)symbol;
            last = symbol;
            continue;
        }
        // 16 repeats the last length (0 before the first), 17 and 18 write zeros.
        uint32_t repeat;
        if (symbol == 16) {
            repeat = 3 + take_bits(2);
        } else {
            repeat = symbol == 17 ? 3 + take_bits(3) : 11 + take_bits(7);
            last = 0;
        }
        if (repeat > total - i) {
            NOTE_ERROR("code length repeat past the end");
            return INFLATE_DATA_ERROR;
        }
        memset(lengths + i, (int)last, repeat);
        i += repeat;
    }
    return INFLATE_OK;
}

// Builds the code length code and reads the code lengths of both codes into lengths.
static int read_dynamic_lengths(uint8_t* lengths, uint32_t total)
{
    // Code length code lengths come in this order, the rarest last.
    static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    uint32_t count = take_bits(4) + 4;
    memset(lengths, 0, 19);
    for (uint32_t i = 0; i < count; ++i)
        lengths[order[i]] = (uint8_t)take_bits(3);
    int result = build_decode_table(lengths, 19, 19, 0, 0, &precode, PRECODE_ROOT_BITS);
    if (result == INFLATE_OK && precode.width == 0)
        result = INFLATE_DATA_ERROR;
    if (result == INFLATE_OK)
        result = read_code_lengths(lengths, total);
    else
        NOTE_ERROR(result == INFLATE_BAD_CODE ? "over-subscribed code length code" : "incomplete code length code");
    free_decode_tables(&precode);
    return result;
}

static int decode_dynamic_block()
{
    // HLIT <= 288 and HDIST <= 32 by their 5-bit fields: nothing to check.
    uint32_t literal_count = take_bits(5) + 257;
    uint32_t distance_count = take_bits(5) + 1;
    uint8_t lengths[288 + 32];
    int result = read_dynamic_lengths(lengths, literal_count + distance_count);
    if (result != INFLATE_OK)
        return result;

    result = build_decode_table(lengths, literal_count, 257, deflate64 ? length_base64 : length_base,
                                deflate64 ? length_extra64 : length_extra, &literal_code, LITERAL_ROOT_BITS);
    if (result == INFLATE_OK && literal_code.width == 0)
        result = INFLATE_DATA_ERROR;
    if (result != INFLATE_OK) {
        NOTE_ERROR(result == INFLATE_BAD_CODE ? "over-subscribed literal/length code" : "incomplete literal/length code");
        free_decode_tables(&literal_code);
        return result;
    }
    // An incomplete distance code is usable; none at all only when there are no lengths.
    result = build_decode_table(lengths + literal_count, distance_count, 0, distance_base, distance_extra,
                                &distance_code, DISTANCE_ROOT_BITS);
    if (result == INFLATE_DATA_ERROR)
        result = INFLATE_OK;
    if (result == INFLATE_OK && distance_code.width == 0 && literal_count > 257) {
        NOTE_ERROR("length codes without distance codes");
        result = INFLATE_DATA_ERROR;
    }
    if (result == INFLATE_OK)
        result = decode_symbols(&literal_code, &distance_code);
    else if (result == INFLATE_BAD_CODE)
        NOTE_ERROR("over-subscribed distance code");
    free_decode_tables(&distance_code);
    free_decode_tables(&literal_code);
    return result;
}

// Decodes one block; *final_block receives its final-block bit.
static int decode_block(bool* final_block)
{
    if (input_exhausted) {
        NOTE_ERROR("input ran out");
        return INFLATE_DATA_ERROR;
    }
    *final_block = take_bits(1) != 0;
    switch (take_bits(2)) {
    case 0:
        return copy_stored_block();
    case 1:
        return decode_fixed_block();
    case 2:
        return decode_dynamic_block();
    }
    NOTE_ERROR("invalid block type");
    return INFLATE_BAD_CODE;
}

// --- streams -----------------------------------------------------------------------------------

int inflate_stream(uint8_t is_deflate64)
{
    deflate64 = is_deflate64 ? 1 : 0;
    input_exhausted = false;
    output_cut = false;
    window_pos = 0;
    bit_buffer = 0;
    bit_count = 0;
    overread_bits = 0;
    bool final_block = false;
    do {
        int result = decode_block(&final_block);
        if (result != INFLATE_OK)
            return result;  // what the window holds since its last flush is not passed on
    } while (!final_block);
    // Zeros past the input decode as a fixed block's end-of-block code, and as the tail of
    // many others: a final block that took any of them is cut, however well its output reads.
    if (overread_bits > bit_count) {
        NOTE_ERROR("final block ends past the input");
        return INFLATE_DATA_ERROR;
    }
    flush_window(window_pos);
    if (output_cut) {
        NOTE_ERROR("output block full");
        return INFLATE_DATA_ERROR;
    }
    return INFLATE_OK;
}

uint64_t inflate_unused_bytes()
{
    return source_remaining + (bit_count - overread_bits) / 8;
}

int inflate_memory(const uint8_t* src, uint32_t src_len, uint8_t* dest, uint32_t dest_capacity)
{
    // Both counts are the data's length, so refill_input is never reached.
    input_cursor = src;
    input_avail = (int32_t)src_len;
    source_remaining = src_len;
    output_cursor = dest;
    output_count = 0;
    output_end = dest + dest_capacity;
    memory_mode = true;
    int result = inflate_stream(0);
    memory_mode = false;
    input_cursor = 0;
    output_cursor = 0;
    output_end = 0;
    return result;
}
