#include "option_text.h"

#include <cstdint>
#include <cstdio>

#include "build_error.h"
#include "format/password_limit.h"
#include "text_encoding.h"

namespace {

// 7-Zip neither writes nor reads an AES entry whose password is longer than this (in
// characters); its traditional cipher has no such limit.
constexpr size_t SEVEN_ZIP_AES_PASSWORD_MAX = 99;

// The code point at `at` in valid UTF-8; `at` moves past it.
uint32_t next_code_point(const std::string& text, size_t& at)
{
    unsigned char c = static_cast<unsigned char>(text[at++]);
    size_t more = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    uint32_t code = more == 0 ? c : c & (0x3F >> more);
    for (; more > 0 && at < text.size(); --more)
        code = code << 6 | (static_cast<unsigned char>(text[at++]) & 0x3F);
    return code;
}

bool is_control(uint32_t code, TextLines lines)
{
    if (lines == MULTI_LINE && (code == '\t' || code == '\n' || code == '\r'))
        return false;
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029;
}

std::string code_point_name(uint32_t code)
{
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", unsigned(code));
    return name;
}

}  // namespace

std::string find_control_character(const std::string& text, TextLines lines, bool raw_bytes)
{
    for (size_t at = 0; at < text.size();) {
        uint32_t code = raw_bytes ? static_cast<unsigned char>(text[at++]) : next_code_point(text, at);
        if (raw_bytes && code >= 0x80)
            continue;
        if (is_control(code, lines))
            return code_point_name(code);
    }
    return "";
}

void check_text_characters(const std::string& option, const std::string& text, TextLines lines, bool raw_bytes)
{
    if (!raw_bytes && !is_valid_utf8(text))
        fail(option + " is not UTF-8 text");
    std::string control = find_control_character(text, lines, raw_bytes);
    if (!control.empty())
        fail(option + " holds a control character (" + control + ")");
}

void check_text_length(const std::string& option, size_t count, size_t limit, const std::string& unit,
                       const std::string& holder)
{
    if (count > limit)
        fail(option + " has " + std::to_string(count) + " " + unit + "; " + holder + " takes at most " +
             std::to_string(limit));
}

size_t count_characters(const std::string& utf8)
{
    size_t count = 0;
    for (unsigned char c : utf8)
        count += (c & 0xC0) != 0x80;
    return count;
}

std::string settle_password(const std::string& given, const std::string& codepage)
{
    if (given.empty())
        fail("--password is empty; leave it out for a package without encryption");
    check_text_characters("--password", given, ONE_LINE, codepage == RAW_CODEPAGE);
    std::string bytes = to_stub_codepage(given, codepage, "--password");
    check_text_length("--password", bytes.size(), PASSWORD_MAX, "bytes in code page " + codepage,
                      "the stub (its password dialog and -password=)");
    return bytes;
}

void warn_about_password(const std::string& given, const std::string& codepage, bool aes)
{
    if (!is_ascii(given))
        warn("--password holds characters beyond ASCII: the package's program takes the password as bytes "
             "of the Windows ANSI code page (" + codepage + " here, as --codepage says), while 7-Zip, bsdtar "
             "and zip.js take it as UTF-8, so none of them opens the package with it");
    if (given.find(PASSWORD_SWITCH_QUOTE) != std::string::npos)
        warn("--password holds a double quote, which -password=\"...\" cannot carry: the password can only "
             "be typed into the password dialog");
    if (aes && count_characters(given) > SEVEN_ZIP_AES_PASSWORD_MAX)
        warn("--password has " + std::to_string(count_characters(given)) + " characters: 7-Zip opens AES "
             "entries only with passwords of up to " + std::to_string(SEVEN_ZIP_AES_PASSWORD_MAX) +
             " (bsdtar and the package's program take longer ones)");
}
