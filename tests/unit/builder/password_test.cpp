// --password: AES-256 (the default) or, with --encryption zipcrypto, traditional ZIP
// encryption of every entry the builder writes, checked with 7-Zip, bsdtar, unzip and by
// decrypting the check byte here; AES archives of other tools are copied as they are.
#include "builder_test_support.h"

#include <filesystem>
#include <set>

namespace {

const std::vector<std::string> kZipCrypto = {"--encryption", "zipcrypto"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more)
{
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// The 0x9901 record in an extra field: version, vendor "AE", strength, real method.
Bytes aes_record(uint16_t version, uint8_t strength, uint16_t method)
{
    return {0x01, 0x99, 0x07, 0x00, uint8_t(version), 0, 'A', 'E', strength, uint8_t(method), uint8_t(method >> 8)};
}

bool holds(const Bytes& extra, const Bytes& record)
{
    return std::search(extra.begin(), extra.end(), record.begin(), record.end()) != extra.end();
}

TEST_F(BuilderTest, PasswordEncryptsWithAes256ByDefault)
{
    std::string in = make_sample_folder();
    RunResult r = build(in, at("out.exe"), {"--password", "geheim"});
    ASSERT_EQ(r.exit_code, 0) << r.all();
    EXPECT_NE(r.err.find("SFX_PASSWORD_FIRST set"), std::string::npos) << r.err;

    Bytes f = read_bytes(at("out.exe"));
    EXPECT_TRUE(read_record(f).flags & 0x100);
    std::vector<LocalEntry> locals = walk_local_headers(f, read_record(f).archive_offset);
    CentralView central = read_central_directory(f);
    std::set<Bytes> salts;
    size_t encrypted = 0;
    for (size_t i = 0; i < locals.size(); ++i) {
        const LocalEntry& e = locals[i];
        SCOPED_TRACE(e.name);
        if (e.name.back() == '/') {
            EXPECT_EQ(e.flags & 1, 0) << "folders carry no data to encrypt";
            continue;
        }
        ++encrypted;
        EXPECT_EQ(e.flags & 9, 1) << "encrypted, no descriptor";
        EXPECT_EQ(e.method, 99);
        EXPECT_EQ(central.entries[i].method, 99);
        EXPECT_EQ(e.version_needed, 51);
        EXPECT_EQ(e.crc, 0u) << "AE-2 stores no CRC";
        uint16_t real = holds(e.extra, aes_record(2, 3, 8)) ? 8 : 0;
        EXPECT_TRUE(holds(e.extra, aes_record(2, 3, real))) << "AE-2, AES-256";
        EXPECT_TRUE(holds(e.extra, Bytes{0x55, 0x54, 5, 0, 1})) << "the exact time stays readable";
        if (real == 0) {
            EXPECT_EQ(e.compressed_size, e.uncompressed_size + 16 + 2 + 10) << "salt, verifier, code";
        }
        salts.insert(Bytes(f.begin() + long(e.data_offset), f.begin() + long(e.data_offset) + 16));
    }
    EXPECT_EQ(salts.size(), encrypted) << "every entry has its own salt";

    RunResult seven = run({"7zz", "t", "-tzip", "-pgeheim", at("out.exe")});
    EXPECT_EQ(seven.exit_code, 0) << seven.all();
    EXPECT_NE(run({"7zz", "t", "-tzip", "-pfalsch", at("out.exe")}).exit_code, 0);
    RunResult listed = run({"bsdtar", "tf", at("out.exe")});
    EXPECT_NE(listed.out.find("readme.txt"), std::string::npos) << listed.all();
    std::filesystem::create_directories(at("x"));
    RunResult extracted = run({"bsdtar", "xf", at("out.exe"), "--passphrase", "geheim", "-C", at("x")});
    ASSERT_EQ(extracted.exit_code, 0) << extracted.all();
    EXPECT_EQ(read_bytes(at("x/readme.txt")), read_bytes(in + "/readme.txt"));
    RunResult tested = run({tvsfx_path(), "test", "--password", "geheim", at("out.exe")});
    EXPECT_EQ(tested.exit_code, 0) << tested.all();
}

// AES archives of other tools: every strength, AE-1 (bsdtar, with data descriptors) and AE-2
// (7-Zip), stored and Deflate. The entries are copied byte for byte, inspect names their
// encryption, and the stub's code accepts them with the password.
struct AesInputCase {
    const char* name;
    const char* command;  // in the test folder: makes input.zip from the folder in/
    const char* shown;    // inspect's encrypted= of readme.txt
};

class AesInputTest : public BuilderTest, public ::testing::WithParamInterface<AesInputCase> {};

TEST_P(AesInputTest, IsCopiedAsItIsAndPassesTheTest)
{
    const AesInputCase& c = GetParam();
    make_sample_folder();
    ASSERT_EQ(run_shell(std::string("cd '") + at("") + "' && " + c.command + " >/dev/null").exit_code, 0);
    RunResult r = build(at("input.zip"), at("out.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    Bytes in = read_bytes(at("input.zip")), out = read_bytes(at("out.exe"));
    EXPECT_TRUE(read_record(out).flags & 0x100) << "password first, as for traditional encryption";
    // The input's local headers are found through its central directory: bsdtar streams, so
    // its local headers carry no sizes.
    std::vector<LocalEntry> out_locals = walk_local_headers(out, read_record(out).archive_offset);
    CentralView in_dir = read_central_directory(in);
    ASSERT_EQ(in_dir.entries.size(), out_locals.size());
    for (size_t i = 0; i < out_locals.size(); ++i) {
        const LocalEntry& o = out_locals[i];
        const CentralEntry& source = in_dir.entries[i];
        SCOPED_TRACE(o.name);
        size_t name_size = le16(in, source.local_offset + 26), extra_size = le16(in, source.local_offset + 28);
        size_t extra_at = source.local_offset + 30 + name_size, data_at = extra_at + extra_size;
        EXPECT_EQ(o.method, source.method);
        // Kept as it is; an entry that is not encrypted may gain the central record's exact
        // time field behind it (the stub reads only the local header).
        Bytes in_extra(in.begin() + long(extra_at), in.begin() + long(data_at));
        if (o.flags & 1) {
            EXPECT_EQ(o.extra, in_extra);
        } else {
            ASSERT_GE(o.extra.size(), in_extra.size());
            EXPECT_EQ(Bytes(o.extra.begin(), o.extra.begin() + long(in_extra.size())), in_extra);
        }
        ASSERT_EQ(o.compressed_size, source.compressed_size);
        EXPECT_TRUE(std::equal(out.begin() + long(o.data_offset), out.begin() + long(o.data_offset + o.compressed_size),
                               in.begin() + long(data_at)))
            << "the data bytes are copied as they are";
    }
    RunResult inspected = run({tvsfx_path(), "inspect", at("out.exe")});
    size_t readme = inspected.out.find(" name=\"readme.txt\"");
    ASSERT_NE(readme, std::string::npos) << inspected.out;
    size_t line = inspected.out.rfind('\n', readme) + 1;
    EXPECT_NE(inspected.out.substr(line, readme - line).find(std::string("encrypted=") + c.shown + " time="),
              std::string::npos)
        << inspected.out;
    RunResult tested = run({tvsfx_path(), "test", "--password", "secret", at("out.exe")});
    EXPECT_EQ(tested.exit_code, 0) << tested.all();
    RunResult wrong = run({tvsfx_path(), "test", "--password", "Secret", at("out.exe")});
    EXPECT_NE(wrong.err.find("entry readme.txt: wrong password"), std::string::npos) << wrong.all();
    RunResult seven = run({"7zz", "t", "-tzip", "-psecret", at("out.exe")});
    EXPECT_EQ(seven.exit_code, 0) << seven.all();
}

INSTANTIATE_TEST_SUITE_P(
    Tools, AesInputTest,
    ::testing::Values(
        AesInputCase{"SevenZipAes128Stored", "cd in && 7zz a -tzip -mx0 -mem=AES128 -psecret ../input.zip .",
                     "aes128/AE-2"},
        AesInputCase{"SevenZipAes192Deflate", "cd in && 7zz a -tzip -mem=AES192 -psecret ../input.zip .", "aes192/AE-2"},
        AesInputCase{"SevenZipAes256Deflate", "cd in && 7zz a -tzip -mem=AES256 -psecret ../input.zip .", "aes256/AE-2"},
        AesInputCase{"BsdtarAes256", "cd in && bsdtar -c --format zip --options zip:encryption=aes256 "
                                     "--passphrase secret -f ../input.zip $(ls -A)",
                     "aes256/AE-1"}),
    [](const ::testing::TestParamInfo<AesInputCase>& info_case) { return std::string(info_case.param.name); });

TEST_F(BuilderTest, EncryptionNeedsAPasswordAndAKnownKind)
{
    RunResult lone = build(make_sample_folder(), at("out.exe"), {"--encryption", "zipcrypto"});
    EXPECT_NE(lone.exit_code, 0) << lone.all();
    EXPECT_NE(lone.err.find("needs --password"), std::string::npos) << lone.all();
    RunResult unknown = build(make_sample_folder("in2"), at("out.exe"), {"--password", "x", "--encryption", "aes128"});
    EXPECT_NE(unknown.exit_code, 0);
    EXPECT_NE(unknown.err.find("aes256 or zipcrypto"), std::string::npos) << unknown.all();
}

TEST_F(BuilderTest, PasswordFolderRoundTrip)
{
    std::string in = make_sample_folder();
    RunResult r = build(in, at("out.exe"), with({"--password", "geheim"}, kZipCrypto));
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
        EXPECT_TRUE(holds(e.extra, Bytes{0x55, 0x54, 5, 0, 1})) << "the exact time stays readable";
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
    ASSERT_EQ(build(at("input.zip"), at("out.exe"), with({"--password=a"}, kZipCrypto)).exit_code, 0);
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
    ASSERT_EQ(build(make_sample_folder(), at("out.exe"), with({"--password", password}, kZipCrypto)).exit_code, 0);
    EXPECT_EQ(run({"unzip", "-t", "-P", password, at("out.exe")}).exit_code, 0);
    ASSERT_EQ(build(make_sample_folder("in2"), at("aes.exe"), {"--password", password}).exit_code, 0);
    EXPECT_EQ(run({"7zz", "t", "-tzip", "-p" + password, at("aes.exe")}).exit_code, 0);
}

}  // namespace

namespace {

// Passwords longer than 99 characters from other tools: every password up to the stub's 254
// bytes passes the builder and `tvsfx test` (7-Zip writes AES only up to 99, so its long
// passwords are traditional ones).
struct LongPasswordCase {
    const char* name;
    const char* command;  // in the test folder, with $PW: makes input.zip from the folder in/
    size_t length;
};

class LongPasswordTest : public BuilderTest, public ::testing::WithParamInterface<LongPasswordCase> {};

std::string long_password(size_t length)
{
    std::string password;
    for (size_t i = 0; i < length; ++i)
        password += char('a' + i % 26);
    return password;
}

TEST_P(LongPasswordTest, OpensInTheBuilderAndTest)
{
    const LongPasswordCase& c = GetParam();
    make_sample_folder();
    std::string password = long_password(c.length);
    ASSERT_EQ(run_shell("cd '" + at("") + "' && PW=" + password + " && " + c.command + " >/dev/null").exit_code, 0);
    RunResult r = build(at("input.zip"), at("out.exe"));
    ASSERT_EQ(r.exit_code, 0) << r.all();
    RunResult tested = run({tvsfx_path(), "test", "--password", password, at("out.exe")});
    EXPECT_EQ(tested.exit_code, 0) << tested.all();
    RunResult shorter = run({tvsfx_path(), "test", "--password", password.substr(0, c.length - 1), at("out.exe")});
    EXPECT_NE(shorter.err.find("wrong password"), std::string::npos) << shorter.all();
}

INSTANTIATE_TEST_SUITE_P(
    Tools, LongPasswordTest,
    ::testing::Values(
        LongPasswordCase{"BsdtarAes100", "cd in && bsdtar -c --format zip --options zip:encryption=aes256 "
                                         "--passphrase $PW -f ../input.zip $(ls -A)", 100},
        LongPasswordCase{"BsdtarAes254", "cd in && bsdtar -c --format zip --options zip:encryption=aes256 "
                                         "--passphrase $PW -f ../input.zip $(ls -A)", 254},
        LongPasswordCase{"InfoZip200", "cd in && zip -q -r -P $PW ../input.zip .", 200},
        LongPasswordCase{"SevenZipZipCrypto200", "cd in && 7zz a -tzip -mem=ZipCrypto -p$PW ../input.zip .", 200}),
    [](const ::testing::TestParamInfo<LongPasswordCase>& info_case) { return std::string(info_case.param.name); });

// The builder's own longest password opens its package; one byte more is refused by `test`
// as by the build, with the same words (the stub could not take it either).
TEST_F(BuilderTest, PasswordLimitIsTheSameForBuildAndTest)
{
    std::string password = long_password(254);  // the documented limit, not the header's number
    ASSERT_EQ(build(make_sample_folder(), at("out.exe"), with({"--password", password}, kZipCrypto)).exit_code, 0);
    RunResult tested = run({tvsfx_path(), "test", "--password", password, at("out.exe")});
    EXPECT_EQ(tested.exit_code, 0) << tested.all();
    EXPECT_EQ(run({"unzip", "-t", "-P", password, at("out.exe")}).exit_code, 0);
    const char* words = "--password has 255 bytes in code page CP1252; the stub (its password dialog and -password=) "
                        "takes at most 254";
    RunResult too_long = run({tvsfx_path(), "test", "--password", password + "a", at("out.exe")});
    EXPECT_EQ(too_long.exit_code, 2);
    EXPECT_NE(too_long.err.find(words), std::string::npos) << too_long.all();
    RunResult build_too_long = build(make_sample_folder("in2"), at("long.exe"), {"--password", password + "a"});
    EXPECT_NE(build_too_long.err.find(words), std::string::npos) << build_too_long.all();
    RunResult control = run({tvsfx_path(), "test", "--password", "a\x01", at("out.exe")});
    EXPECT_EQ(control.exit_code, 2);
    EXPECT_NE(control.err.find("--password holds a control character (U+0001)"), std::string::npos) << control.all();
}

// An AES record of another vendor ID is refused naming the vendor ID, not the version or
// strength, which are fine.
TEST_F(BuilderTest, AesRecordOfAnotherVendorIsRefusedByItsVendorId)
{
    make_sample_folder();
    ASSERT_EQ(run_shell("cd '" + at("in") + "' && 7zz a -tzip -mem=AES256 -psecret ../input.zip . >/dev/null").exit_code, 0);
    Bytes zip = read_bytes(at("input.zip"));
    Bytes record = aes_record(2, 3, 8);
    size_t patched = 0;
    for (auto at_record = zip.begin();
         (at_record = std::search(at_record, zip.end(), record.begin(), record.begin() + 6)) != zip.end(); ++patched) {
        at_record[6] = 'X';
        at_record[7] = 'X';
        at_record += 6;
    }
    ASSERT_GT(patched, 0u);
    write_bytes(at("vendor.zip"), zip);
    RunResult r = build(at("vendor.zip"), at("out.exe"));
    EXPECT_EQ(r.exit_code, 1) << r.all();
    EXPECT_NE(r.err.find("has an AES extra field whose vendor ID is not \"AE\""), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("vendor version 2"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(at("out.exe")));
}

}  // namespace
