// Hand-built streams for the rules zlib's encoder never exercises: Deflate64's symbol 285 and
// distance symbols 30/31, distances reaching before the stream start, the accepted incomplete
// distance codes, and the result of every kind of bad header.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"
#include "inflate_internal.h"

namespace {

// RFC 1951 length and distance symbols, written out here rather than taken from the decoder.
const int length_bases[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
                              35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const int length_extras[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                               3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int distance_bases[32] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385,
                                513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577,
                                32769, 49153};
const int distance_extras[32] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6,
                                 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

// Writes symbols of one compressed block with given code lengths, and keeps the output a
// correct decoder must produce.
struct BlockWriter {
    BitWriter& out;
    Bytes& expected;
    std::vector<uint8_t> literal_lengths, distance_lengths;
    std::vector<uint32_t> literal_codes, distance_codes;

    BlockWriter(BitWriter& o, Bytes& e, std::vector<uint8_t> ll, std::vector<uint8_t> dl)
        : out(o), expected(e), literal_lengths(ll), distance_lengths(dl),
          literal_codes(canonical_codes(ll)), distance_codes(canonical_codes(dl)) {}

    void symbol(int s) { out.put_code(literal_codes.at(s), literal_lengths.at(s)); }
    void literal(uint8_t byte)
    {
        symbol(byte);
        expected.push_back(byte);
    }
    void end() { symbol(256); }
    void distance(int d)
    {
        int s = 31;
        while (distance_bases[s] > d)
            --s;
        out.put_code(distance_codes.at(s), distance_lengths.at(s));
        out.put(d - distance_bases[s], distance_extras[s]);
        for (int i = 0; i < pending_length; ++i)
            expected.push_back(expected[expected.size() - d]);
    }
    // A length from symbols 257..284, or 285 (258 in Deflate).
    void match(int length, int d)
    {
        int s = 28;
        while (length_bases[s] > length)
            --s;
        symbol(257 + s);
        out.put(length - length_bases[s], length_extras[s]);
        pending_length = length;
        distance(d);
    }
    // Deflate64's symbol 285: 3 plus 16 extra bits.
    void long_match(int length, int d)
    {
        symbol(285);
        out.put(length - 3, 16);
        pending_length = length;
        distance(d);
    }
    int pending_length = 0;
};

std::vector<uint8_t> lengths_with(size_t count, std::initializer_list<std::pair<int, int>> codes)
{
    std::vector<uint8_t> lengths(count);
    for (auto [symbol, bits] : codes)
        lengths.at(symbol) = (uint8_t)bits;
    return lengths;
}

void start_block(BitWriter& out, bool final, int type)
{
    out.put(final, 1);
    out.put(type, 2);
}

void stored_block(BitWriter& out, bool final, const Bytes& data, Bytes& expected)
{
    start_block(out, final, 0);
    out.align();
    out.put((uint32_t)data.size(), 16);
    out.put(~(uint32_t)data.size(), 16);
    for (uint8_t b : data)
        out.put(b, 8);
    expected.insert(expected.end(), data.begin(), data.end());
}

// Fills the window with known bytes: a stored stream of exactly 64 KiB, so window[i] == bytes[i].
Bytes fill_window(uint32_t seed)
{
    Bytes bytes = make_data("random", WINDOW_SIZE, seed);
    BitWriter out;
    Bytes expected;
    stored_block(out, false, Bytes(bytes.begin(), bytes.begin() + 40000), expected);
    stored_block(out, true, Bytes(bytes.begin() + 40000, bytes.end()), expected);
    DecodeRun run = decode_stream(out.finish());
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.output == bytes);
    return bytes;
}

struct EdgeCase {
    const char* name;
    Bytes stream;
    bool deflate64;
    int result;
    Bytes output;  // checked when result is 0
};

void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.name; }

// --- streams -------------------------------------------------------------------------------------

EdgeCase empty_stored_block()
{
    BitWriter out;
    Bytes expected;
    stored_block(out, true, {}, expected);
    return {"stored LEN 0", out.finish(), false, 0, {}};
}

EdgeCase stored_length_mismatch()
{
    BitWriter out;
    start_block(out, true, 0);
    out.align();
    out.put(5, 16);
    out.put(0x1234, 16);
    return {"stored NLEN mismatch", out.finish(), false, 1, {}};
}

EdgeCase block_type_3()
{
    BitWriter out;
    start_block(out, true, 3);
    return {"block type 3", out.finish(), false, 2, {}};
}

// Literals 'a' 'b' and end of block only: HLIT 257, one distance length of 0.
EdgeCase literals_without_distance_code()
{
    BitWriter out;
    Bytes expected;
    auto ll = lengths_with(257, {{'a', 1}, {'b', 2}, {256, 2}});
    auto dl = lengths_with(1, {});
    start_block(out, true, 2);
    write_dynamic_header(out, 257, 1, plain_length_symbols(ll, dl));
    BlockWriter w(out, expected, ll, dl);
    for (char c : std::string("abba"))
        w.literal(c);
    w.end();
    return {"HLIT 257, no distance code", out.finish(), false, 0, expected};
}

// The same with a length symbol in the code: HLIT 258 needs a distance code.
EdgeCase lengths_without_distance_code()
{
    BitWriter out;
    Bytes expected;
    auto ll = lengths_with(258, {{'a', 1}, {256, 2}, {257, 2}});
    auto dl = lengths_with(1, {});
    start_block(out, true, 2);
    write_dynamic_header(out, 258, 1, plain_length_symbols(ll, dl));
    BlockWriter w(out, expected, ll, dl);
    w.literal('a');  // decodable but for the rule
    w.end();
    return {"HLIT 258, no distance code", out.finish(), false, 1, {}};
}

// The first code length symbol is 16: it repeats length 0.
EdgeCase repeat_before_first_length()
{
    BitWriter out;
    Bytes expected;
    auto ll = lengths_with(257, {{'c', 1}, {'d', 2}, {256, 2}});
    auto dl = lengths_with(1, {{0, 1}});
    std::vector<LengthSymbol> symbols = {{16, 3}};  // six zeros: symbols 0..5
    for (size_t i = 6; i < ll.size(); ++i)
        symbols.push_back({ll[i], 0});
    symbols.push_back({dl[0], 0});
    start_block(out, true, 2);
    write_dynamic_header(out, 257, 1, symbols);
    BlockWriter w(out, expected, ll, dl);
    for (char c : std::string("dccd"))
        w.literal(c);
    w.end();
    return {"repeat 16 first", out.finish(), false, 0, expected};
}

EdgeCase repeat_past_the_end()
{
    BitWriter out;
    auto ll = lengths_with(257, {{'c', 1}, {256, 1}});
    std::vector<LengthSymbol> symbols;
    for (int i = 0; i < 250; ++i)
        symbols.push_back({0, 0});
    symbols.push_back({18, 0});  // 11 zeros where 8 are left
    start_block(out, true, 2);
    write_dynamic_header(out, 257, 1, symbols);
    return {"repeat past the end", out.finish(), false, 1, {}};
}

EdgeCase oversubscribed_literal_code()
{
    BitWriter out;
    auto ll = lengths_with(257, {{'a', 1}, {'b', 1}, {256, 1}});
    auto dl = lengths_with(1, {{0, 1}});
    start_block(out, true, 2);
    write_dynamic_header(out, 257, 1, plain_length_symbols(ll, dl));
    return {"over-subscribed literal/length code", out.finish(), false, 2, {}};
}

EdgeCase oversubscribed_distance_code()
{
    BitWriter out;
    auto ll = lengths_with(258, {{'a', 1}, {256, 2}, {257, 2}});
    auto dl = lengths_with(3, {{0, 1}, {1, 1}, {2, 1}});
    start_block(out, true, 2);
    write_dynamic_header(out, 258, 3, plain_length_symbols(ll, dl));
    return {"over-subscribed distance code", out.finish(), false, 2, {}};
}

EdgeCase oversubscribed_code_length_code()
{
    BitWriter out;
    start_block(out, true, 2);
    out.put(0, 5);
    out.put(0, 5);
    out.put(19 - 4, 4);
    for (int i = 0; i < 19; ++i)
        out.put(1, 3);
    return {"over-subscribed code length code", out.finish(), false, 2, {}};
}

EdgeCase incomplete_literal_code()
{
    BitWriter out;
    Bytes expected;
    auto ll = lengths_with(257, {{'a', 1}, {256, 2}});
    auto dl = lengths_with(1, {{0, 1}});
    start_block(out, true, 2);
    write_dynamic_header(out, 257, 1, plain_length_symbols(ll, dl));
    BlockWriter w(out, expected, ll, dl);
    w.literal('a');  // decodable but for the rule
    w.end();
    return {"incomplete literal/length code", out.finish(), false, 1, {}};
}

// Distance code using half its code space (two 2-bit codes): accepted; an unused value fails.
EdgeCase incomplete_distance_code(bool use_unused_value)
{
    BitWriter out;
    Bytes expected;
    auto ll = lengths_with(258, {{'a', 1}, {256, 2}, {257, 2}});
    auto dl = lengths_with(2, {{0, 2}, {1, 2}});
    start_block(out, true, 2);
    write_dynamic_header(out, 258, 2, plain_length_symbols(ll, dl));
    BlockWriter w(out, expected, ll, dl);
    w.literal('a');
    w.literal('a');
    w.match(3, 1);
    w.match(3, 2);
    if (use_unused_value) {
        w.symbol(257);
        out.put_code(3, 2);  // codes 00 and 01 are used, 11 is not
        return {"incomplete distance code, unused value", out.finish(), false, 1, {}};
    }
    w.end();
    return {"incomplete distance code", out.finish(), false, 0, expected};
}

EdgeCase invalid_fixed_symbol(int symbol)
{
    BitWriter out;
    Bytes expected;
    start_block(out, true, 1);
    BlockWriter w(out, expected, fixed_literal_lengths(), fixed_distance_lengths());
    w.literal('x');
    w.symbol(symbol);
    return {symbol == 286 ? "fixed symbol 286" : "fixed symbol 287", out.finish(), false, 1, {}};
}

// Symbol 285 is length 258 in Deflate; several blocks, the last one final.
EdgeCase deflate_symbol_285()
{
    BitWriter out;
    Bytes expected;
    start_block(out, false, 1);
    BlockWriter w(out, expected, fixed_literal_lengths(), fixed_distance_lengths());
    w.literal('z');
    w.match(258, 1);
    w.literal('y');
    w.match(258, 2);
    w.end();
    start_block(out, true, 1);
    w.match(258, 259);
    w.end();
    return {"Deflate symbol 285", out.finish(), false, 0, expected};
}

// Deflate64: symbol 285 with 16 extra bits (up to 65,538, crossing the window end), and
// distances over 32 KiB with symbols 30 and 31.
EdgeCase deflate64_long_matches()
{
    BitWriter out;
    Bytes expected;
    Bytes history = make_data("random", 70000, 11);
    stored_block(out, false, Bytes(history.begin(), history.begin() + 50000), expected);
    stored_block(out, false, Bytes(history.begin() + 50000, history.end()), expected);
    start_block(out, true, 1);
    BlockWriter w(out, expected, fixed_literal_lengths(), fixed_distance_lengths());
    w.long_match(1003, 65536);  // symbol 31, farthest
    w.long_match(3, 49153);     // symbol 31, nearest
    w.long_match(300, 40000);   // symbol 30
    w.match(257, 32769);        // symbol 30 with a short length symbol
    w.literal('r');
    w.long_match(65538, 1);     // longest, runs across the window end
    w.long_match(65000, 65536); // a distance of exactly 64 KiB: copies the window onto itself
    w.match(10, 3);
    w.end();
    return {"Deflate64 symbols 285, 30, 31", out.finish(), true, 0, expected};
}

// Deflate streams may use distance symbols 30 and 31 as well.
EdgeCase deflate_far_distances()
{
    BitWriter out;
    Bytes expected;
    Bytes history = make_data("text", 66000, 12);
    stored_block(out, false, Bytes(history.begin(), history.begin() + 60000), expected);
    stored_block(out, false, Bytes(history.begin() + 60000, history.end()), expected);
    start_block(out, true, 1);
    BlockWriter w(out, expected, fixed_literal_lengths(), fixed_distance_lengths());
    w.match(258, 65536);
    w.match(100, 50000);
    w.match(20, 33000);
    w.end();
    return {"Deflate distance symbols 30 and 31", out.finish(), false, 0, expected};
}

std::vector<EdgeCase> edge_cases()
{
    return {empty_stored_block(),
            stored_length_mismatch(),
            block_type_3(),
            literals_without_distance_code(),
            lengths_without_distance_code(),
            repeat_before_first_length(),
            repeat_past_the_end(),
            oversubscribed_literal_code(),
            oversubscribed_distance_code(),
            oversubscribed_code_length_code(),
            incomplete_literal_code(),
            incomplete_distance_code(false),
            incomplete_distance_code(true),
            invalid_fixed_symbol(286),
            invalid_fixed_symbol(287),
            deflate_symbol_285(),
            deflate64_long_matches(),
            deflate_far_distances()};
}

class EdgeCases : public testing::TestWithParam<EdgeCase> {};

TEST_P(EdgeCases, GiveTheExpectedResultAndOutput)
{
    const EdgeCase& c = GetParam();
    for (bool fast : {true, false}) {
        for (uint32_t chunk : {28672u, 3u}) {
            SCOPED_TRACE(testing::Message() << (fast ? "fast" : "careful") << ", chunk " << chunk);
            DecodeOptions options;
            options.deflate64 = c.deflate64;
            options.fast_loop = fast;
            options.chunk = chunk;
            DecodeRun run = decode_stream(c.stream, options);
            EXPECT_EQ(run.result, c.result);
            EXPECT_EQ(run.problems, "");
            if (c.result == 0) {
                ASSERT_EQ(run.output.size(), c.output.size());
                EXPECT_TRUE(run.output == c.output);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(HandBuilt, EdgeCases, testing::ValuesIn(edge_cases()),
                         [](const testing::TestParamInfo<EdgeCase>& case_info) {
                             std::string name = case_info.param.name;
                             for (char& ch : name)
                                 if (!isalnum((unsigned char)ch))
                                     ch = '_';
                             return name;
                         });

// A distance beyond this stream's output copies what the window holds from the stream before.
TEST(WindowHistory, DistancesBeforeTheStreamStartCopyTheOldWindow)
{
    Bytes old = fill_window(21);
    BitWriter out;
    Bytes ignored;
    start_block(out, true, 1);
    BlockWriter w(out, ignored, fixed_literal_lengths(), fixed_distance_lengths());
    ignored.assign(WINDOW_SIZE, 0);  // the writer's model needs some history; replaced below
    w.match(10, 1000);               // from window position 64,536
    w.literal('!');
    w.match(5, 60000);               // from 65,536 + 11 - 60,000 = 5,547
    w.end();
    Bytes expected(old.begin() + 64536, old.begin() + 64546);
    expected.push_back('!');
    expected.insert(expected.end(), old.begin() + 5547, old.begin() + 5552);
    for (bool fast : {true, false}) {
        fill_window(21);
        DecodeOptions options;
        options.fast_loop = fast;
        DecodeRun run = decode_stream(out.bytes, options);
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(run.output == expected);
    }
}

// The bytes right after a match are history too (64 KiB back): a match copy in the fast loop
// must leave them as they were, which the next stream sees through a far distance.
TEST(WindowHistory, BytesAfterTheLastMatchStayIntact)
{
    Bytes old = fill_window(22);
    BitWriter out;
    Bytes produced;
    start_block(out, true, 1);
    BlockWriter w(out, produced, fixed_literal_lengths(), fixed_distance_lengths());
    for (int i = 0; i < 60; ++i)
        w.literal((uint8_t)('a' + i % 26));
    w.match(5, 9);   // window 60..64: word copies must not spill into 65..
    w.match(12, 30); // 65..76
    w.end();
    Bytes stream = out.finish();
    stream.insert(stream.end(), 64, 0);  // never decoded, but lets the fast loop run to the end
    DecodeOptions options;
    options.declared = (int64_t)stream.size();
    DecodeRun run = decode_stream(stream, options);
    ASSERT_EQ(run.result, 0);
    ASSERT_TRUE(run.output == produced);

    // Next stream: copy window 77..140 (as far as any copy may reach past a match) from
    // 65,536 - 77 back.
    BitWriter next;
    Bytes ignored(WINDOW_SIZE, 0);
    start_block(next, true, 1);
    BlockWriter n(next, ignored, fixed_literal_lengths(), fixed_distance_lengths());
    n.match(64, WINDOW_SIZE - 77);
    n.end();
    run = decode_stream(next.finish());
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.output == Bytes(old.begin() + 77, old.begin() + 141));
}

// Fixed tables are kept per deflate64 value: switching methods rebuilds them, so symbol 285
// means 258 or 3 + 16 bits each time.
TEST(FixedTables, RebuiltWhenTheMethodChanges)
{
    Bytes plain, wide;
    BitWriter deflate_out, deflate64_out;
    start_block(deflate_out, true, 1);
    BlockWriter d(deflate_out, plain, fixed_literal_lengths(), fixed_distance_lengths());
    d.literal('k');
    d.match(258, 1);
    d.end();
    start_block(deflate64_out, true, 1);
    BlockWriter d64(deflate64_out, wide, fixed_literal_lengths(), fixed_distance_lengths());
    d64.literal('k');
    d64.long_match(8, 1);
    d64.end();
    Bytes deflate_stream = deflate_out.finish(), deflate64_stream = deflate64_out.finish();
    for (int round = 0; round < 3; ++round) {
        DecodeOptions options;
        DecodeRun run = decode_stream(deflate_stream, options);
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(run.output == plain);
        EXPECT_EQ(fixed_tables_deflate64, 0);
        options.deflate64 = true;
        run = decode_stream(deflate64_stream, options);
        EXPECT_EQ(run.result, 0);
        EXPECT_TRUE(run.output == wide);
        EXPECT_EQ(fixed_tables_deflate64, 1);
    }
}

// Items of the fast loop at every position before the window end: runs of literals (up to
// three per item) and groups of two literals and a 258-byte match (one item of 260 bytes),
// shifted by every prefix length. (Found by the fuzzer: the loop could leave the window
// position at 65,536 or beyond, where the careful path expects the window to be flushed.)
TEST(FastLoop, ItemsAtTheWindowEnd)
{
    auto ll = lengths_with(286, {{'a', 1}, {'b', 2}, {256, 3}, {285, 3}});
    auto dl = lengths_with(1, {{0, 1}});
    for (bool with_matches : {true, false}) {
        for (int prefix = 0; prefix < (with_matches ? 262 : 6); ++prefix) {
            BitWriter out;
            Bytes expected;
            start_block(out, true, 2);
            write_dynamic_header(out, 286, 1, plain_length_symbols(ll, dl));
            BlockWriter w(out, expected, ll, dl);
            for (int i = 0; i < prefix; ++i)
                w.literal('b');
            while (expected.size() < (with_matches ? 3 : 1) * WINDOW_SIZE + 1000) {
                w.literal('a');
                if (with_matches) {
                    w.literal('a');
                    w.match(258, 1);
                }
            }
            w.end();
            DecodeRun run = decode_stream(out.finish());
            ASSERT_EQ(run.result, 0) << "prefix " << prefix;
            ASSERT_TRUE(run.output == expected) << "prefix " << prefix;
        }
    }
}

// A Deflate64 match that ends exactly at the window end, decoded inside the fast loop (the
// literals after it keep enough input buffered).
TEST(FastLoop, Deflate64MatchEndingAtTheWindowEnd)
{
    for (int start : {1, 300, 65000, 65533}) {
        BitWriter out;
        Bytes expected;
        start_block(out, true, 1);
        BlockWriter w(out, expected, fixed_literal_lengths(), fixed_distance_lengths());
        w.literal('s');
        if (start >= 4)
            w.long_match(start - 1, 1);  // (symbol 285 is the 16-bit length here)
        while ((int)expected.size() < start)
            w.literal('t');
        w.long_match(WINDOW_SIZE - start, 1);
        for (int i = 0; i < 100; ++i)
            w.literal((uint8_t)i);
        w.end();
        DecodeOptions options;
        options.deflate64 = true;
        DecodeRun run = decode_stream(out.finish(), options);
        EXPECT_EQ(run.result, 0) << start;
        EXPECT_TRUE(run.output == expected) << start;
    }
}

// Matches at the distances and lengths where the fast loop's copy changes its method (below 8
// bytes, 8 or more behind or ahead after wrapping, lengths around its first 40-byte step),
// ending from two bytes before to two after the second window end: their sources wrap or cross
// the window end, and they end before, at or past it. The history before them mixes literals
// and matches of every distance, so a byte taken from a wrong place shows.
TEST(FastLoop, MatchCopiesAroundTheWindowEnd)
{
    for (int distance : {1, 7, 8, 9, 40, 65527, 65528, 65529, 65536}) {
        for (int length : {3, 8, 39, 40, 41, 258}) {
            for (int past_end = -2; past_end <= 2; ++past_end) {
                BitWriter out;
                Bytes expected;
                start_block(out, true, 1);
                BlockWriter w(out, expected, fixed_literal_lengths(), fixed_distance_lengths());
                uint32_t state = (uint32_t)(distance * 1000 + length * 10 + past_end + 3);
                auto next = [&state]() {
                    state ^= state << 13;
                    state ^= state >> 17;
                    state ^= state << 5;
                    return state;
                };
                int match_start = 2 * WINDOW_SIZE + past_end - length;
                while ((int)expected.size() < match_start) {
                    int room = match_start - (int)expected.size();
                    if (expected.size() < 1000 || room < 300) {
                        w.literal((uint8_t)next());
                    } else {
                        int far = std::min<int>((int)expected.size(), WINDOW_SIZE);
                        w.match(3 + (int)(next() % 256), 1 + (int)(next() % far));
                    }
                }
                w.match(length, distance);
                for (int i = 0; i < 100; ++i)
                    w.literal((uint8_t)next());
                w.end();
                Bytes stream = out.finish();
                for (bool fast : {true, false}) {
                    DecodeOptions options;
                    options.fast_loop = fast;
                    DecodeRun run = decode_stream(stream, options);
                    ASSERT_EQ(run.result, 0) << distance << " " << length << " " << past_end;
                    ASSERT_TRUE(run.output == expected) << distance << " " << length << " " << past_end;
                }
            }
        }
    }
}

// The careful path may hold bits of the previous input chunk when the fast loop starts; when
// the loop stops at once, it gives back only the whole bytes it loaded itself.
TEST(FastLoop, GivesBackOnlyBytesItLoaded)
{
    ensure_window();
    DecodeTable literals = {new uint32_t[FIXED_LITERAL_TABLE_ENTRIES], FIXED_LITERAL_TABLE_ENTRIES, false, false, 0, 0,
                            new uint32_t[1 << FAST_LITERAL_BITS], FAST_LITERAL_BITS};
    DecodeTable distances = {new uint32_t[FIXED_DISTANCE_TABLE_ENTRIES], FIXED_DISTANCE_TABLE_ENTRIES, false, false, 0, 0,
                             new uint32_t[1 << FAST_DISTANCE_BITS], FAST_DISTANCE_BITS};
    std::vector<uint8_t> ll = fixed_literal_lengths(), dl = fixed_distance_lengths();
    ASSERT_EQ(build_decode_table(ll.data(), 288, 257, length_base, length_extra, &literals, 7), 0);
    ASSERT_EQ(build_decode_table(dl.data(), 32, 0, distance_base, distance_extra, &distances, 5), 0);

    Bytes chunk(40, 0);  // zero bits: the fixed end-of-block code is 7 zeros
    uint64_t kept = source_remaining;
    source_remaining = 1000;
    input_cursor = chunk.data();
    input_avail = (int32_t)chunk.size();
    input_exhausted = false;
    window_pos = 0;
    bit_buffer = 0;
    bit_count = 15;  // one whole byte and 7 bits taken before this chunk
    EXPECT_EQ(decode_fast(&literals, &distances), STEP_END_OF_BLOCK);
    EXPECT_GE(input_cursor, chunk.data());
    EXPECT_EQ((size_t)(input_cursor - chunk.data()) * 8 + 15, 7 + bit_count);  // every bit accounted for
    EXPECT_EQ(input_avail + (input_cursor - chunk.data()), (int32_t)chunk.size());
    source_remaining = kept;
    delete[] literals.entries;
    delete[] distances.entries;
    delete[] literals.fast_entries;
    delete[] distances.fast_entries;
}

// --- in-memory decoding ----------------------------------------------------------------------

TEST(MemoryMode, DecodesIntoTheBlockAndNeverPastItsEnd)
{
    Bytes data = make_data("mixed", 150000, 5);
    Bytes stream = zlib_deflate(data, 6);
    struct {
        uint32_t capacity;
        int result;
    } cases[] = {
        {150000, 0}, {150064, 0}, {149999, 1}, {65536, 1}, {28672, 1}, {1000, 1}, {0, 1},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.capacity);
        MemoryRun run = decode_memory(stream, c.capacity);
        EXPECT_EQ(run.result, c.result);
        EXPECT_TRUE(run.guard_intact);
        size_t compared = std::min<size_t>(c.capacity, data.size());
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + compared, run.output.begin()));
    }
}

TEST(MemoryMode, TruncatedDataStopsAtItsLength)
{
    Bytes data = make_data("text", 5000, 8);
    Bytes stream = zlib_deflate(data, 9);
    stream.resize(stream.size() / 2);
    MemoryRun run = decode_memory(stream, 6000);
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(run.guard_intact);
}

}  // namespace
