#include "text_encoding.h"

#include <cstdint>

#include <cerrno>
#include <cstdio>
#include <iconv.h>
#include <unicode/ustring.h>
#include <vector>

#include "build_error.h"

bool is_ascii(const std::string& text)
{
    for (unsigned char c : text) {
        if (c >= 0x80)
            return false;
    }
    return true;
}

bool is_valid_utf8(const std::string& text)
{
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = text[i];
        size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        uint32_t code = length == 1 ? c : c & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3F);
        }
        // RFC 3629: the shortest form only, no surrogates, nothing above U+10FFFF.
        static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

void check_codepage(const std::string& codepage)
{
    if (codepage == RAW_CODEPAGE)
        return;
    iconv_t cd = iconv_open(codepage.c_str(), "UTF-8");
    if (cd == iconv_t(-1))
        fail("unknown code page " + codepage + " (use an iconv name such as CP1252, or raw)");
    iconv_close(cd);
}

namespace {

// One conversion from the start state; false when iconv refuses or the input is incomplete.
bool convert_whole(iconv_t cd, const std::string& in, std::string& out)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char buffer[32];
    char* in_ptr = const_cast<char*>(in.data());
    size_t in_left = in.size();
    char* out_ptr = buffer;
    size_t out_left = sizeof buffer;
    if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == size_t(-1) ||
        iconv(cd, nullptr, nullptr, &out_ptr, &out_left) == size_t(-1))
        return false;
    out.assign(buffer, sizeof buffer - out_left);
    return true;
}

// A whole text through `cd`; false when iconv refuses it.
bool convert_whole_text(iconv_t cd, const std::string& in, std::string& out)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::vector<char> buffer(in.size() * 4 + 8);
    char* in_ptr = const_cast<char*>(in.data());
    size_t in_left = in.size();
    char* out_ptr = buffer.data();
    size_t out_left = buffer.size();
    if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == size_t(-1))
        return false;
    out.assign(buffer.data(), buffer.size() - out_left);
    return true;
}

std::string utf8_of(uint32_t code)
{
    std::string s;
    if (code < 0x800) {
        s += char(0xC0 | code >> 6);
    } else {
        s += char(0xE0 | code >> 12);
        s += char(0x80 | (code >> 6 & 0x3F));
    }
    s += char(0x80 | (code & 0x3F));
    return s;
}

std::string hex_byte(unsigned char b)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", unsigned(b));
    return text;
}

std::string code_point_text(uint32_t code)
{
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", unsigned(code));
    return text;
}

// What keeps `codepage` from being an ANSI code page Windows can run the stub under, or "".
// Windows runs programs in single- and double-byte code pages whose bytes 0-127 are ASCII
// and which never write a character with an ASCII byte first: the stub's path and command
// line scans rely on both. Each byte 0-127 must read alone as itself; every character of the
// Basic Multilingual Plane that the code page holds (and reads back as the same one) must take
// one or two bytes, the first from 0x80 up. One-way best fits (CP932 writes U+00A5 as 0x5C but
// reads 0x5C as a backslash) are not the code page's own characters and are not counted.
// Stateful encodings fail the first test (UTF-7's "+", ISO-2022's ESC), multi-byte ones
// beyond two bytes and EBCDIC the others.
std::string why_not_ansi(iconv_t to_unicode, iconv_t from_unicode)
{
    std::string out;
    for (unsigned b = 1; b < 0x80; ++b) {  // NUL ends every text anyway
        if (!convert_whole(to_unicode, std::string(1, char(b)), out))
            return "byte " + hex_byte((unsigned char)b) + " alone is no character (a shift or the start of a longer sequence)";
        if (out != std::string(1, char(b)))
            return "it reads byte " + hex_byte((unsigned char)b) + " as something other than ASCII";
    }
    std::string back;
    for (uint32_t code = 0x80; code <= 0xFFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF)
            continue;
        std::string utf8 = utf8_of(code);
        if (!convert_whole(from_unicode, utf8, out) || !convert_whole(to_unicode, out, back) || back != utf8)
            continue;
        if (out.size() > 2)
            return "it writes " + code_point_text(code) + " with " + std::to_string(out.size()) + " bytes";
        // CP1258 writes some letters as their ASCII base letter and a combining mark of its own;
        // any other ASCII byte in a character would read as that character.
        bool base_and_mark = out.size() == 2 && static_cast<unsigned char>(out[1]) >= 0x80;
        if (static_cast<unsigned char>(out[0]) < 0x80 && !base_and_mark)
            return "it writes " + code_point_text(code) + " starting with the ASCII byte " +
                   hex_byte(static_cast<unsigned char>(out[0]));
    }
    return "";
}

}  // namespace

void check_stub_codepage(const std::string& codepage, const std::string& option)
{
    if (codepage == RAW_CODEPAGE)
        return;
    check_codepage(codepage);
    iconv_t to_unicode = iconv_open("UTF-8", codepage.c_str());
    iconv_t from_unicode = iconv_open(codepage.c_str(), "UTF-8");
    std::string reason = to_unicode == iconv_t(-1) || from_unicode == iconv_t(-1)
                             ? "iconv cannot read it"
                             : why_not_ansi(to_unicode, from_unicode);
    if (to_unicode != iconv_t(-1))
        iconv_close(to_unicode);
    if (from_unicode != iconv_t(-1))
        iconv_close(from_unicode);
    if (!reason.empty())
        fail(option + " " + codepage + " is not a code page the stub can run under: " + reason +
             ". Windows runs programs only in single- and double-byte code pages that keep ASCII, such as "
             "CP1252, CP1250, CP1251, CP932 or CP936 (EBCDIC, UTF-7, UTF-8, UTF-16, ISO-2022 and GB18030 are "
             "none; raw keeps the bytes as given)");
}

std::string to_stub_codepage(const std::string& text, const std::string& codepage, const std::string& what)
{
    if (codepage == RAW_CODEPAGE || is_ascii(text) || !is_valid_utf8(text))
        return text;
    iconv_t cd = iconv_open(codepage.c_str(), "UTF-8");
    if (cd == iconv_t(-1))
        fail("unknown code page " + codepage);
    std::vector<char> out(text.size() * 4 + 4);
    char* in_ptr = const_cast<char*>(text.data());
    size_t in_left = text.size();
    char* out_ptr = out.data();
    size_t out_left = out.size();
    size_t result = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    iconv_close(cd);
    if (result == size_t(-1))
        fail(what + " has a character that code page " + codepage + " cannot hold");
    std::string converted(out.data(), out.size() - out_left);
    // A character written as another one (CP932 writes U+00A5 as the backslash 0x5C) would
    // change a path or a command: only what reads back as given is held.
    iconv_t back = iconv_open("UTF-8", codepage.c_str());
    std::string read_back;
    bool exact = back != iconv_t(-1) && convert_whole_text(back, converted, read_back) && read_back == text;
    if (back != iconv_t(-1))
        iconv_close(back);
    if (!exact)
        fail(what + " has a character that code page " + codepage + " cannot hold (it would read back as another)");
    return converted;
}

bool fits_codepage(const std::string& text, const std::string& codepage)
{
    try {
        to_stub_codepage(text, codepage, "text");
        return true;
    } catch (const BuildError&) {
        return false;
    }
}

std::u16string to_utf16(const std::string& utf8)
{
    std::u16string out(utf8.size() + 1, 0);
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8(&out[0], int32_t(out.size()), &length, utf8.data(), int32_t(utf8.size()), &status);
    if (U_FAILURE(status))
        fail("cannot read a text as UTF-8");
    out.resize(size_t(length));
    return out;
}

std::string to_utf8(const std::u16string& text)
{
    std::string out(text.size() * 3 + 1, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8(&out[0], int32_t(out.size()), &length, text.data(), int32_t(text.size()), &status);
    if (U_FAILURE(status))
        fail("cannot write a text as UTF-8");
    out.resize(size_t(length));
    return out;
}
