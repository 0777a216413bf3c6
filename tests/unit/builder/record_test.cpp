// The StubRecord as the builder fills it, and the stub checksum recomputed here from the
// written file.
#include "builder_test_support.h"

namespace {

// CRC-32 of file bytes [start, archive_offset) with the 4 stub_crc bytes taken as zero.
uint32_t stub_crc_of(Bytes file, const RecordView& r, bool after_headers)
{
    put_le32(file, r.offset + 8, 0);
    size_t start = after_headers ? le32(file, 0x3C) + 248 : 0;
    return crc32_of(file.data() + start, r.archive_offset - start);
}

TEST_F(BuilderTest, RecordDescribesTheWrittenFile)
{
    RunResult r = build(make_sample_folder(), at("out.exe"), {"--overwrite", "--auto"});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    Bytes stub = read_bytes(stub_path()), f = read_bytes(at("out.exe"));
    RecordView rec = read_record(f);
    CentralView central = read_central_directory(f);

    EXPECT_EQ(long(rec.offset), find_marker(stub)) << "the record stays where the stub has its marker";
    EXPECT_EQ(le32(f, rec.archive_offset), 0x04034B50u) << "archive_offset is the first local header";
    EXPECT_EQ(rec.config_offset, read_pe(f).sections.back().raw_pointer);
    EXPECT_LT(rec.config_offset, rec.archive_offset);
    EXPECT_EQ(rec.end_record_offset, central.end_record);
    EXPECT_EQ(le32(f, rec.end_record_offset), 0x06054B50u);
    uint64_t total = 0;
    for (const CentralEntry& e : central.entries)
        total += e.uncompressed_size;
    EXPECT_EQ(rec.total_size, total);
    EXPECT_EQ(rec.flags, 0x00000002u | 0x00000200u | 0x00000800u);
    EXPECT_EQ(rec.complete, 0xFFFF);
    EXPECT_EQ(rec.entry_point, read_pe(f).entry_point);
    EXPECT_EQ(std::vector<uint32_t>({rec.reserved1, rec.reserved2, rec.reserved3, rec.reserved4, rec.total_size_high,
                                     rec.reserved6}),
              std::vector<uint32_t>({0, 0, 0, 8, 0, 0}));
}

struct CrcCase {
    const char* option;  // nullptr: defaults
    bool after_headers;
};

void PrintTo(const CrcCase& c, std::ostream* out)
{
    *out << (c.option ? c.option : "defaults");
}

class StubCrcTest : public BuilderTest, public ::testing::WithParamInterface<CrcCase> {};

TEST_P(StubCrcTest, CoversTheStubPartWithoutItsOwnBytes)
{
    std::vector<std::string> args;
    if (GetParam().option)
        args.push_back(GetParam().option);
    ASSERT_EQ(build(make_sample_folder(), at("out.exe"), args).exit_code, 0);
    Bytes f = read_bytes(at("out.exe"));
    RecordView rec = read_record(f);
    bool after = GetParam().after_headers;
    EXPECT_EQ((rec.flags & 0x800) != 0, after);
    EXPECT_EQ(rec.stub_crc, stub_crc_of(f, rec, after));
    // Summed with its own on-disk bytes the value would differ: they really count as zero.
    size_t start = after ? le32(f, 0x3C) + 248 : 0;
    EXPECT_NE(rec.stub_crc, crc32_of(f.data() + start, rec.archive_offset - start));

    // A change in the DOS stub is outside the sum only when it starts after the headers.
    Bytes changed = f;
    changed[0x50] ^= 0xFF;
    EXPECT_EQ(stub_crc_of(changed, rec, after) == rec.stub_crc, after);
}

INSTANTIATE_TEST_SUITE_P(Ranges, StubCrcTest,
                         ::testing::Values(CrcCase{nullptr, true}, CrcCase{"--crc-from-start", false}));

TEST_F(BuilderTest, NoStubCrcWritesZero)
{
    ASSERT_EQ(build(make_sample_folder(), at("out.exe"), {"--no-stub-crc"}).exit_code, 0);
    EXPECT_EQ(read_record(read_bytes(at("out.exe"))).stub_crc, 0u);
}

}  // namespace
