// --password: traditional ZIP encryption of every entry the builder writes, checked with
// unzip, 7-Zip and by decrypting the check byte here.
#include "builder_test_support.h"

namespace {

TEST_F(BuilderTest, PasswordFolderRoundTrip)
{
    std::string in = make_sample_folder();
    RunResult r = build(in, at("out.exe"), {"--password", "geheim"});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_NE(r.err.find("SFX_PASSWORD_FIRST set"), std::string::npos) << r.err;

    Bytes f = read_bytes(at("out.exe"));
    EXPECT_TRUE(read_record(f).flags & 0x100);
    for (const LocalEntry& e : walk_local_headers(f, read_record(f).archive_offset)) {
        SCOPED_TRACE(e.name);
        if (e.name.back() == '/') {
            EXPECT_EQ(e.flags & 1, 0) << "folders carry no data to encrypt";
            continue;
        }
        EXPECT_EQ(e.flags & 9, 1) << "encrypted, no descriptor";
        EXPECT_EQ(decrypted_check_byte("geheim", &f[e.data_offset]), uint8_t(e.crc >> 24));
    }
    RunResult tested = run({"unzip", "-t", "-P", "geheim", at("out.exe")});
    EXPECT_EQ(tested.exit_code, 0) << tested.all();
    EXPECT_NE(run({"unzip", "-t", "-P", "falsch", at("out.exe")}).exit_code, 0);
    RunResult seven = run({"7zz", "t", "-tzip", "-pgeheim", at("out.exe")});
    EXPECT_EQ(seven.exit_code, 0) << seven.all();

    ASSERT_EQ(run({"unzip", "-q", "-P", "geheim", at("out.exe"), "-d", at("x")}).exit_code, 0);
    EXPECT_EQ(read_bytes(at("x/readme.txt")), read_bytes(in + "/readme.txt"));
}

TEST_F(BuilderTest, PasswordEncryptsThePlainEntriesOfAnInputZip)
{
    std::string in = make_sample_folder();
    ASSERT_EQ(run_shell("cd '" + in + "' && zip -q -r ../input.zip .").exit_code, 0);
    ASSERT_EQ(build(at("input.zip"), at("out.exe"), {"--password=a"}).exit_code, 0);
    RunResult tested = run({"unzip", "-t", "-P", "a", at("out.exe")});
    EXPECT_EQ(tested.exit_code, 0) << tested.all();
    Bytes f = read_bytes(at("out.exe"));
    CentralView central = read_central_directory(f);
    std::vector<LocalEntry> locals = walk_local_headers(f, read_record(f).archive_offset);
    Bytes plain_zip = read_bytes(at("input.zip"));
    CentralView plain = read_central_directory(plain_zip);
    for (size_t i = 0; i < locals.size(); ++i) {
        if (locals[i].name.back() == '/')
            continue;
        EXPECT_EQ(locals[i].compressed_size, plain.entries[i].compressed_size + 12) << locals[i].name;
        EXPECT_EQ(central.entries[i].compressed_size, locals[i].compressed_size);
        EXPECT_EQ(central.entries[i].flags & 1, 1);
    }
}

TEST_F(BuilderTest, NoPasswordFirstLeavesTheFlagClear)
{
    RunResult r = build(make_sample_folder(), at("out.exe"), {"--password", "x", "--no-password-first"});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_EQ(read_record(read_bytes(at("out.exe"))).flags & 0x100, 0u);
}

TEST_F(BuilderTest, PasswordOfNinetyNineCharactersIsAccepted)
{
    std::string password(99, 'k');
    ASSERT_EQ(build(make_sample_folder(), at("out.exe"), {"--password", password}).exit_code, 0);
    EXPECT_EQ(run({"unzip", "-t", "-P", password, at("out.exe")}).exit_code, 0);
}

}  // namespace
