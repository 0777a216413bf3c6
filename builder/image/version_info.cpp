// VS_VERSIONINFO is a tree of blocks of one shape: wLength (the block with its children),
// wValueLength (in WORDs for a text, in bytes for binary data), wType (1 text, 0 binary), the
// key as UTF-16 with its NUL, then the value and the children, each starting on a 32-bit
// boundary. The root's value is VS_FIXEDFILEINFO; its children are StringFileInfo (tables of
// String blocks) and VarFileInfo (the Translation Var).
#include "version_info.h"

#include <cstdlib>

#include "byte_buffer.h"
#include "text_encoding.h"

namespace {

enum : uint32_t {
    FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BDu,
    FIXED_FILE_INFO_VERSION = 0x00010000u,  // dwStrucVersion 1.0
    FIXED_FILE_INFO_SIZE = 52,
    FILE_FLAGS_MASK = 0x3Fu,                // VS_FFI_FILEFLAGSMASK
    FILE_OS_NT_WINDOWS32 = 0x00040004u,     // VOS_NT_WINDOWS32
    FILE_TYPE_APP = 1,                      // VFT_APP
    BLOCK_HEADER_SIZE = 6,
    BLOCK_TEXT = 1,
    BLOCK_BINARY = 0,
};

// Root 0, StringFileInfo 1, table 2, String 3: the deepest blocks have no children.
constexpr int MAX_BLOCK_DEPTH = 3;

struct Block {
    std::u16string key;
    uint16_t type = BLOCK_TEXT;
    std::vector<uint8_t> value;
    uint16_t value_length = 0;  // wValueLength as read or to be written
    std::vector<Block> children;
};

void pad_to_dword(std::vector<uint8_t>& out)
{
    out.resize(align_up(out.size(), 4), 0);
}

std::vector<uint8_t> encode_block(const Block& b)
{
    std::vector<uint8_t> out(BLOCK_HEADER_SIZE, 0);
    put_u16(&out[2], b.value_length);
    put_u16(&out[4], b.type);
    for (char16_t c : b.key)
        append_u16(out, uint16_t(c));
    append_u16(out, 0);
    pad_to_dword(out);
    out.insert(out.end(), b.value.begin(), b.value.end());
    for (const Block& child : b.children) {
        pad_to_dword(out);
        std::vector<uint8_t> bytes = encode_block(child);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    put_u16(&out[0], uint16_t(out.size()));
    return out;
}

Block text_block(const std::string& key, const std::string& text)
{
    Block b;
    b.key = to_utf16(key);
    std::u16string value = to_utf16(text);
    for (char16_t c : value)
        append_u16(b.value, uint16_t(c));
    append_u16(b.value, 0);
    b.value_length = uint16_t(value.size() + 1);  // in WORDs, with the NUL
    return b;
}

Block fixed_file_info_block(const VersionInfo& info)
{
    Block root;
    root.key = u"VS_VERSION_INFO";
    root.type = BLOCK_BINARY;
    std::vector<uint8_t>& v = root.value;
    append_u32(v, FIXED_FILE_INFO_SIGNATURE);
    append_u32(v, FIXED_FILE_INFO_VERSION);
    for (const uint16_t* n : {info.file_version, info.product_version}) {
        append_u32(v, uint32_t(n[0]) << 16 | n[1]);
        append_u32(v, uint32_t(n[2]) << 16 | n[3]);
    }
    append_u32(v, FILE_FLAGS_MASK);
    append_u32(v, 0);  // no debug, pre-release or patched flags
    append_u32(v, FILE_OS_NT_WINDOWS32);
    append_u32(v, FILE_TYPE_APP);
    append_u32(v, 0);  // subtype
    append_u32(v, 0);  // no file date (builds stay reproducible)
    append_u32(v, 0);
    root.value_length = uint16_t(v.size());
    return root;
}

// ---- reading -------------------------------------------------------------------------------

// A string from UTF-16 units; an unpaired surrogate becomes U+FFFD, so any resource reads.
std::string text_of(const std::u16string& units)
{
    std::u16string clean = units;
    for (size_t i = 0; i < clean.size(); ++i) {
        bool high = clean[i] >= 0xD800 && clean[i] <= 0xDBFF, low = clean[i] >= 0xDC00 && clean[i] <= 0xDFFF;
        bool paired = high && i + 1 < clean.size() && clean[i + 1] >= 0xDC00 && clean[i + 1] <= 0xDFFF;
        if (paired)
            ++i;
        else if (high || low)
            clean[i] = 0xFFFD;
    }
    return to_utf8(clean);
}

// UTF-16 units from `at` up to a NUL or `end`; `at` moves past the NUL.
std::u16string read_units(const std::vector<uint8_t>& data, size_t& at, size_t end)
{
    std::u16string units;
    while (at + 2 <= end) {
        char16_t c = char16_t(get_u16(&data[at]));
        at += 2;
        if (c == 0)
            break;
        units += c;
    }
    return units;
}

bool decode_block(const std::vector<uint8_t>& data, size_t at, int depth, Block& b, size_t& length, std::string& error)
{
    length = at + BLOCK_HEADER_SIZE <= data.size() ? get_u16(&data[at]) : 0;
    if (length < BLOCK_HEADER_SIZE || at + length > data.size() || depth > MAX_BLOCK_DEPTH) {
        error = "a version block's length runs past its parent";
        return false;
    }
    size_t end = at + length;
    b.value_length = get_u16(&data[at + 2]);
    b.type = get_u16(&data[at + 4]);
    size_t cursor = at + BLOCK_HEADER_SIZE;
    b.key = read_units(data, cursor, end);
    cursor = align_up(cursor, 4);
    size_t value_size = b.type == BLOCK_TEXT ? size_t(b.value_length) * 2 : b.value_length;
    size_t value_end = std::min(end, cursor + value_size);
    if (cursor < value_end)
        b.value.assign(data.begin() + long(cursor), data.begin() + long(value_end));
    // A String's value may be shorter than its header says; nothing behind it is a child.
    for (cursor = align_up(value_end, 4); depth < MAX_BLOCK_DEPTH && cursor + BLOCK_HEADER_SIZE <= end;) {
        Block child;
        size_t child_length = 0;
        if (!decode_block(data, cursor, depth + 1, child, child_length, error))
            return false;
        b.children.push_back(std::move(child));
        cursor = align_up(cursor + child_length, 4);
    }
    return true;
}

void read_fixed_file_info(const Block& root, VersionInfo& info)
{
    if (root.value.size() < FIXED_FILE_INFO_SIZE || get_u32(&root.value[0]) != FIXED_FILE_INFO_SIGNATURE)
        return;
    uint16_t* targets[] = {info.file_version, info.product_version};
    for (int k = 0; k < 2; ++k) {
        uint32_t ms = get_u32(&root.value[8 + 8 * k]), ls = get_u32(&root.value[12 + 8 * k]);
        uint16_t numbers[4] = {uint16_t(ms >> 16), uint16_t(ms), uint16_t(ls >> 16), uint16_t(ls)};
        std::copy(numbers, numbers + 4, targets[k]);
    }
}

void read_string_table(const Block& table, VersionInfo& info)
{
    info.table = text_of(table.key);
    for (const Block& s : table.children) {
        size_t at = 0;
        info.strings.push_back({text_of(s.key), text_of(read_units(s.value, at, s.value.size()))});
    }
}

}  // namespace

const std::string* VersionInfo::find(const std::string& name) const
{
    for (const auto& s : strings) {
        if (s.first == name)
            return &s.second;
    }
    return nullptr;
}

void VersionInfo::set(const std::string& name, const std::string& text)
{
    for (auto& s : strings) {
        if (s.first == name) {
            s.second = text;
            return;
        }
    }
    strings.push_back({name, text});
}

bool parse_version_numbers(const std::string& text, uint16_t numbers[4])
{
    std::fill(numbers, numbers + 4, uint16_t(0));
    size_t part = 0, at = 0;
    uint16_t parsed[4] = {0, 0, 0, 0};
    while (part < 4) {
        size_t digits = 0;
        unsigned long value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 6) {
            value = value * 10 + unsigned(text[at++] - '0');
            ++digits;
        }
        if (digits == 0 || value > 0xFFFF)
            return false;
        parsed[part++] = uint16_t(value);
        // A dot must lead to another number: "1.2." and "1.2.3.4." are not versions.
        if (at == text.size())
            break;
        if (part == 4 || text[at++] != '.')
            return false;
    }
    std::copy(parsed, parsed + 4, numbers);
    return true;
}

std::string version_numbers_text(const uint16_t numbers[4])
{
    return std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." + std::to_string(numbers[2]) + "." +
           std::to_string(numbers[3]);
}

std::vector<uint8_t> encode_version_info(const VersionInfo& info)
{
    Block root = fixed_file_info_block(info);
    Block strings, table, vars, translation;
    strings.key = u"StringFileInfo";
    table.key = to_utf16(info.table);
    for (const auto& s : info.strings)
        table.children.push_back(text_block(s.first, s.second));
    strings.children.push_back(table);
    vars.key = u"VarFileInfo";
    translation.key = u"Translation";
    translation.type = BLOCK_BINARY;
    for (uint16_t v : info.translation)
        append_u16(translation.value, v);
    translation.value_length = uint16_t(translation.value.size());
    vars.children.push_back(translation);
    root.children = {strings, vars};
    return encode_block(root);
}

bool decode_version_info(const std::vector<uint8_t>& data, VersionInfo& info, std::string& error)
{
    info = VersionInfo();
    info.table.clear();
    Block root;
    size_t length = 0;
    if (!decode_block(data, 0, 0, root, length, error))
        return false;
    if (root.key != u"VS_VERSION_INFO") {
        error = "the version resource does not start with VS_VERSION_INFO";
        return false;
    }
    read_fixed_file_info(root, info);
    for (const Block& child : root.children) {
        if (child.key == u"StringFileInfo" && !child.children.empty() && info.table.empty())
            read_string_table(child.children[0], info);
        for (const Block& var : child.children) {
            if (child.key == u"VarFileInfo" && var.key == u"Translation") {
                for (size_t i = 0; i + 2 <= var.value.size(); i += 2)
                    info.translation.push_back(get_u16(&var.value[i]));
            }
        }
    }
    return true;
}
