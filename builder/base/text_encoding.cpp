#include "text_encoding.h"

#include <cstdint>

#include <cerrno>
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
    return std::string(out.data(), out.size() - out_left);
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
