// The LZMA decoder against liblzma's encoder: varied data, presets and properties, with and
// without the end marker, fed in small and large chunks; the stream's edges (empty, one byte,
// matches back to the first byte and across the ring, the longest match, the end marker early
// or late); the ZIP LZMA header and the dictionary limit; and damaged streams.
#include <gtest/gtest.h>

#include "dictionary_embedding.h"
#include "lzma_decode.h"
#include "lzma_harness.h"
#include "zip_format.h"

namespace {

// --- agreement with liblzma -------------------------------------------------------------------

struct AgreementCase {
    const char* kind;
    size_t size;
    LzmaEncoding encoding;
    uint32_t chunk;
};

void PrintTo(const AgreementCase& c, std::ostream* os)
{
    *os << c.kind << " " << c.size << " preset " << c.encoding.preset << (c.encoding.end_marker ? " marker" : "")
        << " lc" << c.encoding.lc << " lp" << c.encoding.lp << " pb" << c.encoding.pb << " chunk " << c.chunk;
}

std::vector<AgreementCase> agreement_cases()
{
    std::vector<AgreementCase> cases;
    for (const char* kind : {"text", "binary", "random", "runs", "mixed"}) {
        for (size_t size : {1, 300, 28672, 28673, 100000, 300000}) {
            for (uint32_t preset : {0u, 1u, 6u, 9u})
                cases.push_back({kind, size, {preset, preset % 2 == 1}, INPUT_CHUNK_SIZE});
        }
    }
    // Properties other than the presets' lc3 lp0 pb2, including the most lc + lp allows.
    for (int lc : {0, 4})
        for (int lp : {0, 2})
            for (int pb : {0, 4})
                if (lc + lp <= 4)
                    cases.push_back({"mixed", 200000, {6, false, lc, lp, pb}, INPUT_CHUNK_SIZE});
    // Small chunks: the range decoder crosses a chunk between any two bytes.
    for (uint32_t chunk : {1u, 2u, 5u, 4099u})
        cases.push_back({"mixed", 120000, {6, chunk % 2 == 1}, chunk});
    // A ring of 4 KiB (the smallest) that the output wraps many times.
    cases.push_back({"mixed", 300000, {6, false, -1, -1, -1, 4096}, INPUT_CHUNK_SIZE});
    cases.push_back({"text", 300000, {9, true, -1, -1, -1, 5000}, 333});
    return cases;
}

class Agreement : public testing::TestWithParam<AgreementCase> {};

TEST_P(Agreement, DecodesWhatLiblzmaEncoded)
{
    const AgreementCase& c = GetParam();
    Bytes data = make_data(c.kind, c.size, (uint32_t)c.size + c.encoding.preset);
    Bytes entry = zip_lzma_data(data, c.encoding);
    ASSERT_FALSE(entry.empty());
    LzmaRun run = decode_zip_lzma(entry, (uint32_t)data.size(), c.encoding.end_marker, c.chunk);
    EXPECT_EQ(run.result, LZMA_DECODED);
    EXPECT_TRUE(run.output == data) << "output differs (" << run.output.size() << " of " << data.size() << " bytes)";
    EXPECT_EQ(run.problems, "");
}

INSTANTIATE_TEST_SUITE_P(Liblzma, Agreement, testing::ValuesIn(agreement_cases()));

// --- edges of a stream --------------------------------------------------------------------------

Bytes repeated(const Bytes& unit, size_t times)
{
    Bytes out;
    for (size_t i = 0; i < times; ++i)
        out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

struct EdgeCase {
    const char* name;
    Bytes data;
    LzmaEncoding encoding;
    int64_t unpacked_size;   // -1: the data's size
    bool end_marker_flag;    // what the entry's bit 1 says
    int expected;
};

std::vector<EdgeCase> edge_cases()
{
    Bytes text = make_data("text", 5000);
    Bytes random4k = make_data("random", 4096, 7);
    return {
        {"Empty", {}, {6, false}, -1, false, LZMA_DECODED},
        {"EmptyWithMarker", {}, {6, true}, -1, true, LZMA_DECODED},
        {"OneByte", {'x'}, {6, false}, -1, false, LZMA_DECODED},
        {"OneByteWithMarker", {'x'}, {6, true}, -1, true, LZMA_DECODED},
        // "abcabc...": the first match reaches back to the stream's first byte.
        {"MatchToFirstByte", repeated({'a', 'b', 'c'}, 400), {6, false}, -1, false, LZMA_DECODED},
        // Random 4 KiB repeated in a 4 KiB ring: every match reaches exactly one ring back.
        {"MatchOneRingBack", repeated(random4k, 6), {9, false, -1, -1, -1, 4096}, -1, false, LZMA_DECODED},
        // 100,000 equal bytes: matches of the longest length, 273.
        {"LongestMatches", Bytes(100000, 0x55), {9, false}, -1, false, LZMA_DECODED},
        // The marker after 5000 bytes, but the entry says 5010: it came early.
        {"EndMarkerEarly", text, {6, true}, 5010, true, LZMA_BAD_DATA},
        // The marker after 5000 bytes, but the entry says 4990: a literal stands where it belongs.
        {"EndMarkerLate", text, {6, true}, 4990, true, LZMA_BAD_DATA},
        // Bit 1 set, but the writer put no marker.
        {"EndMarkerMissing", text, {6, false}, -1, true, LZMA_BAD_DATA},
        // A marker the entry does not announce is never read: the size ends the stream.
        {"EndMarkerUnannounced", text, {6, true}, -1, false, LZMA_DECODED},
        // A stream shorter than the entry says runs out of input.
        {"SizeLargerThanStream", text, {6, false}, 6000, false, LZMA_BAD_DATA},
    };
}

class Edge : public testing::TestWithParam<EdgeCase> {};

TEST_P(Edge, EndsAsExpected)
{
    const EdgeCase& c = GetParam();
    Bytes entry = zip_lzma_data(c.data, c.encoding);
    ASSERT_FALSE(entry.empty());
    uint32_t size = c.unpacked_size < 0 ? (uint32_t)c.data.size() : (uint32_t)c.unpacked_size;
    LzmaRun run = decode_zip_lzma(entry, size, c.end_marker_flag);
    EXPECT_EQ(run.result, c.expected);
    EXPECT_EQ(run.problems, "");
    if (c.expected == LZMA_DECODED) {
        EXPECT_TRUE(run.output == c.data);
    }
    EXPECT_LE(run.output.size(), size);
}

INSTANTIATE_TEST_SUITE_P(Streams, Edge, testing::ValuesIn(edge_cases()),
                         [](const testing::TestParamInfo<EdgeCase>& i) { return std::string(i.param.name); });

// --- the ZIP LZMA header and the dictionary -----------------------------------------------------

struct HeaderCase {
    const char* name;
    Bytes data;
    uint32_t unpacked_size;
    int expected;
    uint32_t dictionary_asked;  // 0: none asked for
};

Bytes with_stream(Bytes header)
{
    Bytes stream = zip_lzma_data(Bytes(1000, 'a'));
    header.insert(header.end(), stream.begin() + ZIP_LZMA_HEADER_SIZE, stream.end());
    return header;
}

// lc 3, lp 0, pb 2: the properties byte of every liblzma preset.
const uint8_t usual = (2 * 5 + 0) * 9 + 3;

std::vector<HeaderCase> header_cases()
{
    Bytes full = zip_lzma_header(usual, 1 << 16);
    return {
        {"NoHeader", {}, 10, LZMA_BAD_DATA},
        {"VersionOnly", Bytes(full.begin(), full.begin() + 2), 10, LZMA_BAD_DATA},
        {"PropertiesCut", Bytes(full.begin(), full.begin() + 8), 10, LZMA_BAD_DATA},
        {"HeaderWithoutStream", full, 10, LZMA_BAD_DATA, 10},
        {"PropertiesSize4", {9, 20, 4, 0, usual, 0, 0, 1, 0}, 10, LZMA_BAD_DATA},
        {"PropertiesByteOver224", zip_lzma_header(225, 1 << 16), 10, LZMA_BAD_DATA},
        {"Lc4Lp1", with_stream(zip_lzma_header((0 * 5 + 1) * 9 + 4, 1 << 16)), 1000, LZMA_UNSUPPORTED_PROPERTIES},
        {"Lc8", with_stream(zip_lzma_header(8, 1 << 16)), 1000, LZMA_UNSUPPORTED_PROPERTIES},
        // The dictionary asked for is what the entry can use: its size, within 4 KiB .. declared.
        {"DictionaryCutToEntry", with_stream(zip_lzma_header(usual, 1u << 26)), 1000, LZMA_DECODED, 1000},
        {"DictionaryAtLeast4KiB", with_stream(zip_lzma_header(usual, 100)), 1000, LZMA_DECODED, 1000},
        {"HugeDeclaredSmallEntry", with_stream(zip_lzma_header(usual, 0xFFFFFFFFu)), 1000, LZMA_DECODED, 1000},
        // An entry that could use more than 64 MiB of history is refused before anything is
        // asked for; exactly 64 MiB is allowed.
        {"DictionaryOverLimit", with_stream(zip_lzma_header(usual, ZIP_LZMA_DICTIONARY_LIMIT + 1)), 0xFFFFFFFFu,
         LZMA_DICTIONARY_TOO_LARGE},
        {"DictionaryAtLimit", with_stream(zip_lzma_header(usual, ZIP_LZMA_DICTIONARY_LIMIT)), 0xFFFFFFFFu,
         LZMA_BAD_DATA, ZIP_LZMA_DICTIONARY_LIMIT},
    };
}

class Header : public testing::TestWithParam<HeaderCase> {};

TEST_P(Header, IsCheckedBeforeDecoding)
{
    const HeaderCase& c = GetParam();
    dictionary_embedding.last_request = 0;
    LzmaRun run = decode_zip_lzma(c.data, c.unpacked_size, false);
    EXPECT_EQ(run.result, c.expected);
    EXPECT_EQ(dictionary_embedding.last_request, c.dictionary_asked);
    EXPECT_EQ(run.problems, "");
}

INSTANTIATE_TEST_SUITE_P(ZipLzma, Header, testing::ValuesIn(header_cases()),
                         [](const testing::TestParamInfo<HeaderCase>& i) { return std::string(i.param.name); });

TEST(Dictionary, NoMemoryIsItsOwnResult)
{
    Bytes data = make_data("text", 50000);
    dictionary_embedding.limit = 40000;
    LzmaRun run = decode_zip_lzma(zip_lzma_data(data), (uint32_t)data.size(), false);
    dictionary_embedding.limit = 0xFFFFFFFFu;
    EXPECT_EQ(run.result, LZMA_NO_DICTIONARY_MEMORY);
    EXPECT_EQ(lzma_dictionary_size, 50000u);
    EXPECT_TRUE(run.output.empty());
}

// --- damaged streams ----------------------------------------------------------------------------

// Every damage ends in a result, never past the entry's size or the dictionary block; a flip
// may leave the output intact only when it reports success (a bit the model never needed).
TEST(Damage, FlippedBytesAndCutStreams)
{
    Bytes data = make_data("mixed", 60000, 3);
    for (bool marker : {false, true}) {
        Bytes entry = zip_lzma_data(data, {6, marker});
        for (size_t at = ZIP_LZMA_HEADER_SIZE; at < entry.size(); at += 1 + at / 50) {
            Bytes damaged = entry;
            damaged[at] ^= 0x5A;
            LzmaRun run = decode_zip_lzma(damaged, (uint32_t)data.size(), marker, 4096);
            EXPECT_EQ(run.problems, "") << "flip at " << at;
            EXPECT_LE(run.output.size(), data.size());
            if (run.result == LZMA_DECODED && run.output != data)
                ADD_FAILURE() << "flip at " << at << ": wrong output reported as decoded";
        }
        // The range coder's last byte may carry nothing the output needs: cut by one, the
        // stream either fails or decodes whole. Cut deeper, it fails.
        Bytes one_short(entry.begin(), entry.end() - 1);
        LzmaRun last = decode_zip_lzma(one_short, (uint32_t)data.size(), marker);
        EXPECT_TRUE(last.result == LZMA_BAD_DATA || (last.result == LZMA_DECODED && last.output == data));
        for (size_t cut : {entry.size() - 8, entry.size() / 2, (size_t)ZIP_LZMA_HEADER_SIZE + 3}) {
            Bytes shorter(entry.begin(), entry.begin() + cut);
            LzmaRun run = decode_zip_lzma(shorter, (uint32_t)data.size(), marker);
            EXPECT_EQ(run.result, LZMA_BAD_DATA) << "cut to " << cut;
            EXPECT_EQ(run.problems, "");
        }
    }
}

// The source's count stays exact: the decoder never takes more than the entry holds, and bytes
// after the stream (an AES code, the next entry) are left where they are.
TEST(Source, TakesNoMoreThanTheStream)
{
    Bytes data = make_data("text", 40000, 5);
    Bytes entry = zip_lzma_data(data);
    Bytes padded = entry;
    padded.insert(padded.end(), 64, 0xEE);
    LzmaRun run = decode_zip_lzma(padded, (uint32_t)data.size(), false, 1000);
    EXPECT_EQ(run.result, LZMA_DECODED);
    EXPECT_LE(run.bytes_taken, entry.size());
    EXPECT_GE(run.bytes_taken, entry.size() - 4);
}

}  // namespace
