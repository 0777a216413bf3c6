// Every row of the shared name table through check_entry_name, in the row's code page.
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "format/entry_names.h"

namespace {

struct NameRow {
    int line;
    std::string name;  // raw bytes
    int codepage;
    std::string verdict;
};

void PrintTo(const NameRow& row, std::ostream* out)
{
    *out << "line " << row.line << ": " << ::testing::PrintToString(row.name) << " in " << row.codepage;
}

std::string unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            out += char(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<NameRow> read_table()
{
    std::ifstream in(NAME_TABLE_PATH);
    std::vector<NameRow> rows;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> cells;
        std::stringstream fields(line);
        for (std::string cell; std::getline(fields, cell, '\t');)
            cells.push_back(cell);
        if (cells.size() != 4)
            ADD_FAILURE() << NAME_TABLE_PATH << ":" << number << ": four tab-separated columns expected";
        else
            rows.push_back(NameRow{number, unescape(cells[0]), std::stoi(cells[1]), cells[2]});
    }
    return rows;
}

// What the rules need of each code page in the table, as Windows' code page tables give it:
// the lead bytes of 932 (Shift JIS) and 949 (Korean), and where a code page spells the
// superscripts 1, 2, 3 (U+00B9, U+00B2, U+00B3). 1250 has none of them: its 0xB9, 0xB2 and
// 0xB3 are the letter a with ogonek, the ogonek and l with stroke.
struct CodePageFacts {
    int codepage;
    int lead_ranges[2][2];
    const char* superscripts[3];
};

const CodePageFacts code_page_facts[] = {
    {1252, {}, {"\xB9", "\xB2", "\xB3"}},
    {1250, {}, {"", "", ""}},
    {850, {}, {"\xFB", "\xFD", "\xFC"}},
    {437, {}, {"", "\xFD", ""}},
    {932, {{0x81, 0x9F}, {0xE0, 0xFC}}, {"", "", ""}},
    {949, {{0x81, 0xFE}}, {"\xA9\xF6", "\xA9\xF7", "\xA9\xF8"}},
};

NameCodePage name_code_page_of(int codepage)
{
    NameCodePage page = {};
    for (const CodePageFacts& facts : code_page_facts) {
        if (facts.codepage != codepage)
            continue;
        for (const auto& range : facts.lead_ranges) {
            for (int c = range[0]; c <= range[1] && c > 0; ++c)
                set_lead_byte(&page, (unsigned char)c);
        }
        for (int i = 0; i < 3; ++i)
            std::strcpy(page.superscripts[i], facts.superscripts[i]);
        return page;
    }
    ADD_FAILURE() << "no facts for code page " << codepage;
    return page;
}

const char* verdict_word(NameVerdict v)
{
    switch (v) {
    case NAME_OK: return "ok";
    case NAME_LEAVES_TARGET: return "leaves";
    case NAME_DEVICE: return "device";
    case NAME_STREAM: return "stream";
    case NAME_FORBIDDEN_CHAR: return "forbidden";
    case NAME_TRAILING_DOT_OR_BLANK: return "trailing";
    }
    return "?";
}

class NameTableTest : public ::testing::TestWithParam<NameRow> {};

TEST_P(NameTableTest, VerdictMatchesTheTable)
{
    const NameRow& row = GetParam();
    NameCodePage page = name_code_page_of(row.codepage);
    const char* where = nullptr;
    NameVerdict verdict = check_entry_name(row.name.c_str(), &page, &where);
    EXPECT_STREQ(verdict_word(verdict), row.verdict.c_str());
    ASSERT_NE(where, nullptr);
    EXPECT_GE(where, row.name.c_str());
    EXPECT_LE(where, row.name.c_str() + row.name.size());
}

INSTANTIATE_TEST_SUITE_P(Table, NameTableTest, ::testing::ValuesIn(read_table()),
                         [](const ::testing::TestParamInfo<NameRow>& case_info) {
                             return "line" + std::to_string(case_info.param.line);
                         });

TEST(NameTable, CoversEveryVerdictAndBothCodePages)
{
    std::vector<NameRow> rows = read_table();
    for (const char* verdict : {"ok", "leaves", "device", "stream", "forbidden", "trailing"}) {
        bool found = false;
        for (const NameRow& r : rows)
            found |= r.verdict == verdict;
        EXPECT_TRUE(found) << verdict;
    }
    size_t dbcs = 0;
    for (const NameRow& r : rows)
        dbcs += r.codepage == 932;
    EXPECT_GE(dbcs, 3u);
}

// The decisive spot is reported: the stream's colon, the device's component.
TEST(NameTable, WhereNamesTheDecidingPart)
{
    const char* where = nullptr;
    const char* stream = "dir/a.txt:x";
    EXPECT_EQ(check_entry_name(stream, nullptr, &where), NAME_STREAM);
    EXPECT_EQ(where, stream + 9);
    const char* device = "dir/sub/Aux.c";
    EXPECT_EQ(check_entry_name(device, nullptr, &where), NAME_DEVICE);
    EXPECT_EQ(where, device + 8);
}

}  // namespace
