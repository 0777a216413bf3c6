// The traditional cipher against archives that Info-ZIP zip and 7-Zip encrypt: decrypting the
// stored entry's header and data with our keys must give the check byte and the plain text.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crc32.h"
#include "crypt.h"
#include "byte_order.h"

namespace {

std::vector<uint8_t> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}


struct Tool {
    const char* name;
    const char* command;  // %s: archive, password "geheim", input file plain.txt, stored
};

class CryptTest : public ::testing::TestWithParam<Tool> {};

TEST_P(CryptTest, DecryptsStoredEntryOfRealTool)
{
    build_crc_table();
    std::string dir = ::testing::TempDir() + "crypt_" + GetParam().name;
    std::string plain_text;
    for (int i = 0; i < 300; ++i)
        plain_text += "Zeile " + std::to_string(i) + ": verschluesselt und gespeichert\n";
    ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str()), 0);
    std::ofstream(dir + "/plain.txt", std::ios::binary) << plain_text;
    char command[512];
    std::snprintf(command, sizeof command, GetParam().command, (dir + "/a.zip").c_str());
    ASSERT_EQ(std::system(("cd " + dir + " && " + command + " >/dev/null").c_str()), 0);

    std::vector<uint8_t> zip = read_file(dir + "/a.zip");
    ASSERT_GE(zip.size(), 30u);
    ASSERT_EQ(get_u32(&zip[0]), 0x04034B50u);
    uint16_t flags = get_u16(&zip[6]);
    ASSERT_EQ(get_u16(&zip[8]), 0) << "the entry should be stored";
    ASSERT_TRUE(flags & 1) << "the entry should be encrypted";
    uint16_t mod_time = get_u16(&zip[10]);
    uint32_t crc = get_u32(&zip[14]);
    size_t data = 30 + get_u16(&zip[26]) + get_u16(&zip[28]);
    ASSERT_LE(data + 12 + plain_text.size(), zip.size());

    std::vector<uint8_t> body(zip.begin() + data, zip.begin() + data + 12 + plain_text.size());
    init_keys("geheim");
    decrypt_buffer(body.data(), 12);
    uint8_t check = (flags & 8) ? (uint8_t)(mod_time >> 8) : (uint8_t)(crc >> 24);
    EXPECT_EQ(body[11], check);
    decrypt_buffer(body.data() + 12, (uint32_t)plain_text.size());
    EXPECT_EQ(std::string(body.begin() + 12, body.end()), plain_text);
}

INSTANTIATE_TEST_SUITE_P(Tools, CryptTest,
                         ::testing::Values(Tool{"infozip", "zip -q -0 -P geheim %s plain.txt"},
                                           Tool{"sevenzip", "7zz a -tzip -mx=0 -mem=ZipCrypto -pgeheim %s plain.txt"}),
                         [](const ::testing::TestParamInfo<Tool>& case_info) { return std::string(case_info.param.name); });

}  // namespace
