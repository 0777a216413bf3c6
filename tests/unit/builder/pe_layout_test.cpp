// The PE side of a build: one more section, `_tarvel_`, holding the configuration block and
// the archive, and header fields that agree with it so Windows loads the image.
#include "builder_test_support.h"

namespace {

uint32_t align(uint32_t v, uint32_t a)
{
    return (v + a - 1) / a * a;
}

// Runs on the fixture stub (PE32 and PE32+), and on the real stub once it is built.
class PeLayoutTest : public BuilderTest, public ::testing::WithParamInterface<const char*> {
protected:
    std::string stub;
    void SetUp() override
    {
        std::string kind = GetParam();
        if (kind == "RealStub" && stub_path() == fixture_stub_path())
            GTEST_SKIP() << "the real stub is not built yet";
        stub = kind == "RealStub" ? stub_path() : kind == "FixtureStub64" ? fixture_stub64_path() : fixture_stub_path();
    }
};

TEST_P(PeLayoutTest, AddsOneSectionThatCoversTheAttachedData)
{
    RunResult r = build(make_sample_folder(), at("out.exe"), {}, stub);
    ASSERT_EQ(r.exit_code, 0) << r.all();
    Bytes before = read_bytes(stub), after = read_bytes(at("out.exe"));
    PeView old_pe = read_pe(before), pe = read_pe(after);
    RecordView record = read_record(after);

    ASSERT_EQ(pe.section_count, old_pe.section_count + 1);
    for (size_t i = 0; i < old_pe.sections.size(); ++i) {
        EXPECT_EQ(pe.sections[i].name, old_pe.sections[i].name);
        EXPECT_EQ(pe.sections[i].raw_pointer, old_pe.sections[i].raw_pointer);
        EXPECT_EQ(pe.sections[i].virtual_address, old_pe.sections[i].virtual_address);
    }
    const Section& added = pe.sections.back();
    EXPECT_EQ(added.name, "_tarvel_");
    EXPECT_EQ(added.characteristics, 0x42000040u);

    uint32_t raw_end = 0, virtual_end = 0;
    for (const Section& s : old_pe.sections) {
        if (s.raw_size != 0)
            raw_end = std::max(raw_end, s.raw_pointer + s.raw_size);
        virtual_end = std::max(virtual_end, s.virtual_address + std::max(s.virtual_size, s.raw_size));
    }
    EXPECT_EQ(added.raw_pointer, align(raw_end, pe.file_alignment));
    EXPECT_EQ(added.raw_pointer, record.config_offset);
    EXPECT_EQ(added.raw_size % pe.file_alignment, 0u);
    EXPECT_EQ(uint64_t(added.raw_pointer) + added.raw_size, after.size()) << "the section runs to the end of the file";
    EXPECT_EQ(added.virtual_address, align(virtual_end, pe.section_alignment));
    // Only the configuration block's largest size is mapped: the stub reads the rest from the file.
    EXPECT_EQ(added.virtual_size, std::min<uint32_t>(1256u, after.size() - added.raw_pointer)) << "VirtualSize";
    EXPECT_GE(added.raw_pointer + added.raw_size, record.end_record_offset + 22u) << "raw data covers the archive";
    EXPECT_EQ(pe.size_of_image, align(added.virtual_address + added.virtual_size, pe.section_alignment));
    EXPECT_EQ(pe.size_of_initialized_data, old_pe.size_of_initialized_data + added.raw_size);
    EXPECT_EQ(pe.size_of_headers, old_pe.size_of_headers);
    size_t table_end = pe.pe_offset + 24 + le16(after, pe.pe_offset + 20) + 40u * pe.section_count;
    EXPECT_LE(table_end, pe.size_of_headers) << "the new section header lies inside the headers";
}

TEST_P(PeLayoutTest, KeepsStubBytesExceptHeadersAndRecord)
{
    ASSERT_EQ(build(make_sample_folder(), at("out.exe"), {}, stub).exit_code, 0);
    Bytes before = read_bytes(stub), after = read_bytes(at("out.exe"));
    PeView pe = read_pe(after);
    RecordView record = read_record(after);
    size_t headers_end = pe.pe_offset + 24 + le16(after, pe.pe_offset + 20) + 40u * pe.section_count;
    size_t differing_outside = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        bool in_headers = i < headers_end;
        bool in_record = i >= record.offset && i < record.offset + 58;
        if (!in_headers && !in_record && before[i] != after[i])
            ++differing_outside;
    }
    EXPECT_EQ(differing_outside, 0u);
    EXPECT_EQ(pe.entry_point, read_pe(before).entry_point);
}

TEST_P(PeLayoutTest, ChecksumIsTheImageChecksumOrZeroWhenTheStubCrcCoversIt)
{
    std::string in = make_sample_folder();
    ASSERT_EQ(build(in, at("default.exe"), {}, stub).exit_code, 0);
    ASSERT_EQ(build(in, at("from_start.exe"), {"--crc-from-start"}, stub).exit_code, 0);
    ASSERT_EQ(build(in, at("no_crc.exe"), {"--crc-from-start", "--no-stub-crc"}, stub).exit_code, 0);
    for (const char* name : {"default.exe", "no_crc.exe"}) {
        Bytes f = read_bytes(at(name));
        PeView pe = read_pe(f);
        EXPECT_EQ(pe.checksum, pe_checksum(f, pe.pe_offset + 88)) << name;
    }
    EXPECT_EQ(read_pe(read_bytes(at("from_start.exe"))).checksum, 0u);
}

INSTANTIATE_TEST_SUITE_P(Stubs, PeLayoutTest, ::testing::Values("FixtureStub", "FixtureStub64", "RealStub"),
                         [](const ::testing::TestParamInfo<const char*>& case_info) { return std::string(case_info.param); });

// The fixture stub checks, inside Windows (Wine), that the loader mapped the attached
// section and that its memory equals the file: exit code 0. The PE32 image runs under 32-bit
// Wine, the PE32+ image under 64-bit Wine.
struct WineLoad {
    const char* name;
    std::string (*stub)();
    const char* loader;
};

class LoadUnderWineTest : public BuilderTest, public ::testing::WithParamInterface<WineLoad> {};

TEST_P(LoadUnderWineTest, BuiltImageLoadsAndMapsTheSection)
{
    const WineLoad& kind = GetParam();
    // Debian's Wine runs a 32-bit program in a 32-bit Linux process; a kernel without IA-32
    // emulation runs none, and then nothing here can be observed.
    if (run({kind.loader, "--version"}).exit_code != 0)
        GTEST_SKIP() << kind.loader << " cannot run on this machine";
    ASSERT_EQ(build(make_sample_folder(), at("out.exe"), {"--title", "Test"}, kind.stub()).exit_code, 0);
    // A prefix of the test's own, so the run never touches the user's Wine set-up.
    RunResult r = run({"env", "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=",
                       std::string("WINEPREFIX=" WINE_PREFIX_PATH "-") + kind.name, std::string("WINELOADER=") + kind.loader,
                       kind.loader, at("out.exe")});
    EXPECT_EQ(r.exit_code, 0) << "fixture result (3 entry point, 4 no section, 5 raw start, 7 memory differs): "
                              << r.all();
}

INSTANTIATE_TEST_SUITE_P(Kinds, LoadUnderWineTest,
                         ::testing::Values(WineLoad{"Pe32", fixture_stub_path, "/usr/lib/wine/wine"},
                                           WineLoad{"Pe32Plus", fixture_stub64_path, "/usr/lib/wine/wine64"}),
                         [](const ::testing::TestParamInfo<WineLoad>& case_info) { return std::string(case_info.param.name); });

}  // namespace
