// `tvsfx test`: decodes every entry with the stub's decoder and checks its CRC. It must
// pass a good file and name the entry of each kind of damage; the archives of real tools
// are tested in zip_input_test.cpp.
#include "builder_test_support.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

class TestCommandTest : public BuilderTest {
protected:
    RunResult test_file(const std::string& name, const std::vector<std::string>& args = {})
    {
        std::vector<std::string> argv = {tvsfx_path(), "test"};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back(at(name));
        return run(argv);
    }
    // The local entry named `name` in a built file.
    static LocalEntry entry_named(const Bytes& file, const std::string& name)
    {
        for (const LocalEntry& e : walk_local_headers(file, read_record(file).archive_offset)) {
            if (e.name == name)
                return e;
        }
        ADD_FAILURE() << "no entry " << name;
        return LocalEntry{};
    }
};

TEST_F(TestCommandTest, PassesAGoodFileOfEveryKindOfEntry)
{
    std::string in = make_sample_folder();
    Bytes noise = noise_bytes(5000, 99);
    write_bytes(in + "/noise.bin", noise);  // stored: Deflate does not make it smaller
    ASSERT_EQ(build(in, at("plain.exe")).exit_code, 0);
    ASSERT_EQ(build(in, at("locked.exe"), {"--password", "geheim"}).exit_code, 0);

    RunResult plain = test_file("plain.exe");
    EXPECT_EQ(plain.exit_code, 0) << plain.all();
    EXPECT_NE(plain.out.find("5 entries ok"), std::string::npos) << plain.all();
    RunResult locked = test_file("locked.exe", {"--password", "geheim"});
    EXPECT_EQ(locked.exit_code, 0) << locked.all();
}

struct DamageCase {
    const char* name;
    const char* password;  // given to both build and test; nullptr: none
    void (*damage)(Bytes& file, const LocalEntry& entry);
    const char* message;   // in the line naming the entry
    const char* encryption = nullptr;  // --encryption for the build; nullptr: the default, AES-256
};

void PrintTo(const DamageCase& c, std::ostream* out)
{
    *out << c.name;
}

class TestCommandDamageTest : public TestCommandTest, public ::testing::WithParamInterface<DamageCase> {};

// The data of readme.txt is damaged in the built file; only that entry is reported.
TEST_P(TestCommandDamageTest, NamesTheBadEntryAndFails)
{
    const DamageCase& c = GetParam();
    std::vector<std::string> password;
    if (c.password)
        password = {"--password", c.password};
    std::vector<std::string> build_args = password;
    if (c.encryption)
        build_args.insert(build_args.end(), {"--encryption", c.encryption});
    ASSERT_EQ(build(make_sample_folder(), at("good.exe"), build_args).exit_code, 0);
    Bytes file = read_bytes(at("good.exe"));
    c.damage(file, entry_named(file, "readme.txt"));
    write_bytes(at("bad.exe"), file);

    RunResult r = test_file("bad.exe", c.password ? std::vector<std::string>{"--password", c.password}
                                                  : std::vector<std::string>{});
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.err.find("bad.exe: entry readme.txt: " + std::string(c.message)), std::string::npos) << r.all();
    EXPECT_EQ(r.err.find("entry docs/"), std::string::npos) << "only the damaged entry: " << r.all();
    EXPECT_NE(r.out.find("1 of 4 entries bad"), std::string::npos) << r.all();
}

INSTANTIATE_TEST_SUITE_P(
    Damage, TestCommandDamageTest,
    ::testing::Values(
        // A flipped bit in the middle of the Deflate data: the decoder stops or the CRC differs.
        DamageCase{"FlippedDataByte", nullptr,
                   [](Bytes& f, const LocalEntry& e) { f[e.data_offset + e.compressed_size / 2] ^= 0x10; }, "bad "},
        DamageCase{"WrongCrc", nullptr,
                   [](Bytes& f, const LocalEntry& e) { put_le32(f, e.offset + 14, e.crc ^ 0x00010000u); }, "bad CRC"},
        DamageCase{"FlippedEncryptedByte", "geheim",
                   [](Bytes& f, const LocalEntry& e) { f[e.data_offset + 12 + (e.compressed_size - 12) / 2] ^= 0x10; },
                   "bad ", "zipcrypto"},
        // AES-256: 16 bytes of salt and 2 of verifier in front of the data, 10 of code behind it.
        DamageCase{"FlippedAesByte", "geheim",
                   [](Bytes& f, const LocalEntry& e) { f[e.data_offset + 18 + (e.compressed_size - 28) / 2] ^= 0x10; },
                   "AES authentication code does not match"},
        DamageCase{"FlippedAesCode", "geheim",
                   [](Bytes& f, const LocalEntry& e) { f[e.data_offset + e.compressed_size - 1] ^= 0x01; },
                   "AES authentication code does not match"}),
    [](const ::testing::TestParamInfo<DamageCase>& case_info) { return std::string(case_info.param.name); });

TEST_F(TestCommandTest, RefusesAWrongOrMissingPassword)
{
    ASSERT_EQ(build(make_sample_folder(), at("locked.exe"), {"--password", "geheim"}).exit_code, 0);
    RunResult wrong = test_file("locked.exe", {"--password", "falsch"});
    EXPECT_EQ(wrong.exit_code, 1) << wrong.all();
    EXPECT_NE(wrong.err.find("entry readme.txt: wrong password"), std::string::npos) << wrong.all();
    RunResult missing = test_file("locked.exe");
    EXPECT_EQ(missing.exit_code, 1) << missing.all();
    EXPECT_NE(missing.err.find("entry readme.txt: encrypted; give --password"), std::string::npos) << missing.all();
}

// The start-up checks of inspect run too: a damaged stub fails even with good entries.
TEST_F(TestCommandTest, RunsTheStartupChecks)
{
    ASSERT_EQ(build(make_sample_folder(), at("good.exe")).exit_code, 0);
    Bytes f = read_bytes(at("good.exe"));
    f[read_pe(f).sections[0].raw_pointer + 16] ^= 0x01;
    write_bytes(at("bad.exe"), f);
    RunResult r = test_file("bad.exe");
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.err.find("check stub checksum: FAILED"), std::string::npos) << r.all();
    EXPECT_NE(r.out.find("start-up checks FAILED, 0 of 4 entries bad"), std::string::npos) << r.all();
}

}  // namespace
