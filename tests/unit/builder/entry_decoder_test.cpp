// The decoder embedding of `tvsfx test` on a file the system fails to read partway: the line
// gives the system's reason, and only a file that really ends early is called truncated. No
// file of a test machine fails on request, so these run the embedding on a stdio stream whose
// reads fail where the case says.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "build_error.h"
#include "entry_decoder.h"
#include "extra_field.h"
#include "format/zip_format.h"

namespace {

// A source of `readable` bytes; past them a read fails with EIO, or the source ends.
struct CutSource {
    size_t readable;
    bool fails;
    size_t position = 0;
};

ssize_t read_cut(void* cookie, char* buffer, size_t size)
{
    auto* source = static_cast<CutSource*>(cookie);
    if (source->position >= source->readable) {
        if (!source->fails)
            return 0;
        errno = EIO;
        return -1;
    }
    size_t count = std::min(size, source->readable - source->position);
    std::memset(buffer, 0x5A, count);
    source->position += count;
    return ssize_t(count);
}

int seek_cut(void* cookie, off64_t* offset, int whence)
{
    if (whence != SEEK_SET)
        return -1;
    static_cast<CutSource*>(cookie)->position = size_t(*offset);
    return 0;
}

InspectedEntry entry(uint16_t method, bool encrypted)
{
    InspectedEntry e{};
    e.name = "readme.txt";
    e.method = method;
    e.flags = encrypted ? GP_ENCRYPTED : 0;
    e.compressed_size = 4000;
    e.uncompressed_size = 4000;
    if (method == METHOD_AES) {
        // AE-2, vendor "AE", 256 bits, stored.
        e.aes = find_aes_record({uint8_t(EXTRA_AES), uint8_t(EXTRA_AES >> 8), AES_EXTRA_SIZE, 0, 2, 0, 'A', 'E', 3,
                                 0, 0});
    }
    return e;
}

struct CutCase {
    const char* name;
    uint16_t method;
    bool encrypted;
    size_t readable;  // bytes of data before the cut
    bool fails;       // the read fails there (else the file ends there)
    const char* message;
};

void PrintTo(const CutCase& c, std::ostream* out)
{
    *out << c.name;
}

class EntryDecoderCutTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(EntryDecoderCutTest, NamesTheSystemsReasonOrTheEnd)
{
    const CutCase& c = GetParam();
    CutSource source{c.readable, c.fails};
    std::FILE* file = fopencookie(&source, "r", cookie_io_functions_t{read_cut, nullptr, seek_cut, nullptr});
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(decode_entry_data(file, entry(c.method, c.encrypted), "geheim"), c.message);
    std::fclose(file);
}

const char* const READ_FAILED = "cannot read the data: Input/output error";

INSTANTIATE_TEST_SUITE_P(
    Cut, EntryDecoderCutTest,
    ::testing::Values(CutCase{"StoredFails", METHOD_STORED, false, 1000, true, READ_FAILED},
                      CutCase{"StoredEnds", METHOD_STORED, false, 1000, false, "data truncated"},
                      CutCase{"DeflateFails", METHOD_DEFLATE, false, 0, true, READ_FAILED},
                      CutCase{"ZipCryptoHeaderFails", METHOD_STORED, true, 5, true, READ_FAILED},
                      CutCase{"ZipCryptoHeaderEnds", METHOD_STORED, true, 5, false, "data truncated"},
                      CutCase{"AesSaltFails", METHOD_AES, true, 10, true, READ_FAILED},
                      CutCase{"AesSaltEnds", METHOD_AES, true, 10, false, "data truncated"}),
    [](const ::testing::TestParamInfo<CutCase>& case_info) { return std::string(case_info.param.name); });

}  // namespace

// The builder's program prints its warnings and notes (main.cpp); the decoder gives none.
void warn(const std::string&) {}
void note(const std::string&) {}

namespace {

// --- the one rule for a good entry --------------------------------------------------------------

// "Zeile fuer" as a fixed block whose last byte holds only the end-of-block code.
const std::vector<uint8_t> ZEILE_STREAM = {0x8B, 0x4A, 0xCD, 0xCC, 0x49, 0x55, 0x48, 0x2B, 0x4D, 0x2D, 0x02, 0x00};
const uint32_t ZEILE_CRC = 0xABF41B66, ZEILE_SIZE = 10;

struct RuleCase {
    const char* name;
    uint16_t method;
    std::vector<uint8_t> data;
    uint32_t size, crc;
    EntryFault fault;
    uint32_t unused_bytes;  // when good
};

void PrintTo(const RuleCase& c, std::ostream* out)
{
    *out << c.name;
}

std::vector<uint8_t> plus(std::vector<uint8_t> bytes, std::vector<uint8_t> more)
{
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

std::vector<uint8_t> without_last(std::vector<uint8_t> bytes)
{
    bytes.pop_back();
    return bytes;
}

class EntryRuleTest : public ::testing::TestWithParam<RuleCase> {};

// The faults the headers cannot hide: every byte and the CRC right, yet the stream cut before
// its end; the right stream read by another method (an AES record's unauthenticated method);
// sizes that disagree either way.
TEST_P(EntryRuleTest, JudgesTheDataAsTheStubDoes)
{
    const RuleCase& c = GetParam();
    std::vector<uint8_t> bytes = c.data;
    std::FILE* file = fmemopen(bytes.data(), bytes.size(), "rb");
    ASSERT_NE(file, nullptr);
    InspectedEntry e{};
    e.name = "zeile.txt";
    e.method = c.method;
    e.compressed_size = uint32_t(bytes.size());
    e.uncompressed_size = c.size;
    e.crc32 = c.crc;
    DecodeDetails details;
    std::string error = decode_entry_data(file, e, "", &details);
    std::fclose(file);
    EXPECT_EQ(details.fault, c.fault) << error;
    EXPECT_EQ(error.empty(), c.fault == ENTRY_GOOD) << error;
    if (c.fault == ENTRY_GOOD) {
        EXPECT_EQ(details.unused_bytes, c.unused_bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, EntryRuleTest,
    ::testing::Values(
        RuleCase{"Whole", METHOD_DEFLATE, ZEILE_STREAM, ZEILE_SIZE, ZEILE_CRC, ENTRY_GOOD, 0},
        RuleCase{"BytesBehindTheFinalBlock", METHOD_DEFLATE, plus(ZEILE_STREAM, {1, 2, 3}), ZEILE_SIZE, ZEILE_CRC,
                 ENTRY_GOOD, 3},
        RuleCase{"EndOfBlockCutOff", METHOD_DEFLATE, without_last(ZEILE_STREAM), ZEILE_SIZE, ZEILE_CRC,
                 ENTRY_BAD_STREAM, 0},
        RuleCase{"ReadAsStored", METHOD_STORED, ZEILE_STREAM, ZEILE_SIZE, ZEILE_CRC, ENTRY_TOO_LONG, 0},
        RuleCase{"ReadAsDeflate64", METHOD_DEFLATE64, ZEILE_STREAM, ZEILE_SIZE, ZEILE_CRC, ENTRY_GOOD, 0},
        RuleCase{"SizeOneMore", METHOD_DEFLATE, ZEILE_STREAM, ZEILE_SIZE + 1, ZEILE_CRC, ENTRY_TOO_SHORT, 0},
        RuleCase{"SizeOneLess", METHOD_DEFLATE, ZEILE_STREAM, ZEILE_SIZE - 1, ZEILE_CRC, ENTRY_TOO_LONG, 0},
        RuleCase{"OtherCrc", METHOD_DEFLATE, ZEILE_STREAM, ZEILE_SIZE, ZEILE_CRC ^ 1, ENTRY_CRC_MISMATCH, 0}),
    [](const ::testing::TestParamInfo<RuleCase>& case_info) { return std::string(case_info.param.name); });

}  // namespace
