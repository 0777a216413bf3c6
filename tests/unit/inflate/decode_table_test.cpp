// The table builder: results for complete, incomplete and over-subscribed codes, the narrowed
// width, and the worst-case size of the distance arena re-derived by search.
#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "harness.h"
#include "inflate_internal.h"

namespace {

struct BuildCase {
    const char* name;
    std::vector<uint8_t> lengths;
    uint32_t requested;
    bool keeps_incomplete;
    int result;
    int width;
};

TEST(BuildDecodeTable, ResultsAndNarrowedWidths)
{
    const BuildCase cases[] = {
        {"complete, widths 1..3", {1, 2, 3, 3}, 9, false, 0, 3},
        {"root raised to the shortest: width 7, root stays 6", std::vector<uint8_t>(128, 7), 6, false, 0, 7},
        {"single one-bit code counts as complete", {0, 1}, 9, false, 0, 1},
        {"incomplete, rejected", {1, 2}, 9, false, 1, 2},
        {"incomplete, kept", {2, 2, 0, 3}, 6, true, 1, 3},
        {"lone 15-bit code: width 15, root stays 6", {15}, 6, true, 1, 15},
        {"over-subscribed", {1, 1, 1}, 9, true, 2, -1},
        {"over-subscribed at the longest length", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 15, 15}, 9, true, 2, -1},
        {"all zero", {0, 0, 0}, 6, true, 0, 0},
    };
    for (const BuildCase& c : cases) {
        SCOPED_TRACE(c.name);
        static uint32_t arena[DISTANCE_TABLE_ENTRIES];
        DecodeTable code = {arena, DISTANCE_TABLE_ENTRIES, c.keeps_incomplete, false, 0, 0};
        // Every symbol below first_coded: no base tables needed.
        int result = build_decode_table(c.lengths.data(), (uint32_t)c.lengths.size(), 288, nullptr, nullptr,
                                        &code, c.requested);
        EXPECT_EQ(result, c.result);
        if (c.width >= 0) {
            EXPECT_EQ(code.width, c.width);
            EXPECT_LE(code.root_bits, c.requested);
        }
        EXPECT_EQ(code.built, c.result == 0 || (c.result == 1 && c.keeps_incomplete));
        free_decode_tables(&code);
        EXPECT_FALSE(code.built);
    }
}

// Worst case of the distance arena: codes of 7..15 bits (shorter ones only use up symbols) in
// canonical order, each root slot that holds codes beyond the root getting a sub-table as wide
// as its longest code. A search over (length, units used in the open slot, codes left, longest
// code in the slot) finds the most entries; then the code it found must fit the arena exactly.
struct DistanceSearch {
    static constexpr int root = DISTANCE_ROOT_BITS;
    static constexpr int slot_units = 1 << (15 - root);
    std::map<std::tuple<int, int, int, int>, std::pair<int, int>> memo;  // -> (entries, codes here)

    int best(int bits, int used, int left, int longest)
    {
        if (bits > 15)
            return used > 0 ? 1 << (longest - root) : 0;
        auto key = std::make_tuple(bits, used, left, longest);
        auto found = memo.find(key);
        if (found != memo.end())
            return found->second.first;
        int result = best(bits + 1, used, left, longest), choice = 0;
        int closed = 0;
        for (int c = 1; c <= left; ++c) {
            longest = bits;
            used += 1 << (15 - bits);
            if (used == slot_units) {
                closed += 1 << (longest - root);
                used = 0;
            }
            int total = closed + best(bits + 1, used, left - c, used ? longest : 0);
            if (total > result) {
                result = total;
                choice = c;
            }
        }
        memo[key] = {result, choice};
        return result;
    }
};

TEST(DistanceArena, HoldsTheWorstIncompleteCode)
{
    DistanceSearch search;
    int most = (1 << DISTANCE_ROOT_BITS) + search.best(7, 0, 32, 0);
    EXPECT_EQ(most, DISTANCE_TABLE_ENTRIES);

    // Rebuild the code the search chose and build it.
    std::vector<uint8_t> lengths;
    int used = 0, left = 32, longest = 0;
    for (int bits = 7; bits <= 15; ++bits) {
        int count = search.memo[std::make_tuple(bits, used, left, longest)].second;
        for (int c = 0; c < count; ++c) {
            lengths.push_back((uint8_t)bits);
            longest = bits;
            used = (used + (1 << (15 - bits))) % DistanceSearch::slot_units;
        }
        left -= count;
        if (used == 0)
            longest = 0;
    }
    ASSERT_LE(lengths.size(), 32u);
    static uint32_t arena[DISTANCE_TABLE_ENTRIES];
    DecodeTable fits = {arena, DISTANCE_TABLE_ENTRIES, true, false, 0, 0};
    EXPECT_NE(build_decode_table(lengths.data(), (uint32_t)lengths.size(), 0, distance_base, distance_extra,
                                 &fits, DISTANCE_ROOT_BITS),
              INFLATE_BAD_CODE);
    DecodeTable one_short = {arena, DISTANCE_TABLE_ENTRIES - 1, true, false, 0, 0};
    EXPECT_EQ(build_decode_table(lengths.data(), (uint32_t)lengths.size(), 0, distance_base, distance_extra,
                                 &one_short, DISTANCE_ROOT_BITS),
              INFLATE_BAD_CODE);
}

// The fast loop's view of a code decodes every bit pattern as the arena does: the same entry
// (value, kind, extra bits) after the same number of code bits, whether the view holds it
// merged or sends the lookup through the root table's link.
struct Decoded {
    uint32_t value, kind, extra, code_bits;
    bool operator==(const Decoded& o) const
    {
        return value == o.value && kind == o.kind && extra == o.extra && code_bits == o.code_bits;
    }
};

Decoded finish(const DecodeTable& code, uint32_t entry, uint32_t bits, uint32_t taken)
{
    if (entry & ENTRY_SUBTABLE) {
        uint32_t sub = code.entries[entry_value(entry) + ((bits >> taken) & ((1u << entry_code_bits(entry)) - 1))];
        return {entry_value(sub), sub & ENTRY_KIND_MASK, entry_extra_bits(sub), taken + entry_code_bits(sub)};
    }
    return {entry_value(entry), entry & ENTRY_KIND_MASK, entry_extra_bits(entry), entry_code_bits(entry)};
}

TEST(FastView, DecodesEveryBitPatternAsTheArena)
{
    std::vector<uint8_t> skewed(288, 0);
    for (int i = 0; i < 15; ++i)
        skewed[i * 19] = (uint8_t)(i + 1);
    skewed[287] = 15;  // 1, 2, ..., 15, 15: complete, one code of every length
    // The distance arena's worst case: 7 codes of 8 bits, 1 of 9, 17 of 10, 1 each of 11..14,
    // 3 of 15 (incomplete): merged 8-bit entries and links side by side.
    std::vector<uint8_t> worst_distances(7, 8);
    worst_distances.push_back(9);
    worst_distances.insert(worst_distances.end(), 17, 10);
    for (uint8_t bits : {11, 12, 13, 14, 15, 15, 15})
        worst_distances.push_back(bits);
    struct ViewCase {
        const char* name;
        std::vector<uint8_t> lengths;
        uint32_t first_coded, root, fast_bits;
        bool keeps_incomplete;
    } cases[] = {
        {"fixed literal/length code, root 7", fixed_literal_lengths(), 257, FIXED_LITERAL_ROOT_BITS, FAST_LITERAL_BITS, false},
        {"fixed distance code", fixed_distance_lengths(), 0, FIXED_DISTANCE_ROOT_BITS, FAST_DISTANCE_BITS, false},
        {"one code of every length 1..15", skewed, 257, LITERAL_ROOT_BITS, FAST_LITERAL_BITS, false},
        {"worst incomplete distance code, kept", worst_distances, 0, DISTANCE_ROOT_BITS, FAST_DISTANCE_BITS, true},
        {"lone 15-bit distance code", {0, 0, 15}, 0, DISTANCE_ROOT_BITS, FAST_DISTANCE_BITS, true},
    };
    for (const ViewCase& c : cases) {
        SCOPED_TRACE(c.name);
        static uint32_t arena[LITERAL_TABLE_ENTRIES + DISTANCE_TABLE_ENTRIES];
        static uint32_t view[1 << FAST_LITERAL_BITS];
        DecodeTable code = {arena, LITERAL_TABLE_ENTRIES + DISTANCE_TABLE_ENTRIES, c.keeps_incomplete, false, 0, 0,
                            view, (uint8_t)c.fast_bits};
        uint32_t n = (uint32_t)std::min<size_t>(c.lengths.size(), c.first_coded ? 288 : 32);
        const uint16_t* base = c.first_coded ? length_base64 : distance_base;
        const uint8_t* extra = c.first_coded ? length_extra64 : distance_extra;
        ASSERT_NE(build_decode_table(c.lengths.data(), n, c.first_coded, base, extra, &code, c.root), INFLATE_BAD_CODE);
        uint32_t view_mask = (1u << c.fast_bits) - 1, root_mask = (1u << code.root_bits) - 1;
        int differing = 0;
        for (uint32_t bits = 0; bits < (1u << 15); ++bits) {
            uint32_t root_entry = arena[bits & root_mask];
            Decoded expected = finish(code, root_entry, bits, code.root_bits);
            uint32_t viewed = view[bits & view_mask];
            Decoded got = finish(code, viewed, bits, (viewed & ENTRY_SUBTABLE) ? entry_drop_bits(viewed) : 0);
            if (!(got == expected) && ++differing <= 3)
                ADD_FAILURE() << "bits " << bits;
            if (!(viewed & ENTRY_SUBTABLE)) {
                EXPECT_LE(got.code_bits, c.fast_bits);
            }
        }
        free_decode_tables(&code);
    }
}

}  // namespace
