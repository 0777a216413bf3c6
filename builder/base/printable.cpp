#include "printable.h"

#include <cstdint>
#include <cstdio>
#include <unicode/utf8.h>

std::string printable(const std::string& text)
{
    return escape_text(text, ESCAPE_NAMED_CONTROLS);
}

std::string quoted(const std::string& text, bool bytes_above_ascii)
{
    unsigned how = ESCAPE_QUOTE | ESCAPE_BACKSLASH | ESCAPE_NAMED_CONTROLS | (bytes_above_ascii ? unsigned(ESCAPE_ALL_HIGH) : 0u);
    return "\"" + escape_text(text, how) + "\"";
}

std::string escape_text(const std::string& bytes, unsigned how)
{
    std::string out;
    int32_t i = 0, size = int32_t(bytes.size());
    const uint8_t* s = reinterpret_cast<const uint8_t*>(bytes.data());
    while (i < size) {
        int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, size, c);
        bool control = c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F);
        bool named = (how & ESCAPE_NAMED_CONTROLS) && (c == '\n' || c == '\r' || c == '\t');
        if (named) {
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
        } else if (c < 0 || control || ((how & ESCAPE_ALL_HIGH) && c >= 0x80)) {
            for (int32_t k = start; k < i; ++k) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%02X", s[k]);
                out += escape;
            }
        } else if ((c == '"' && (how & ESCAPE_QUOTE)) || (c == '\\' && (how & ESCAPE_BACKSLASH))) {
            out += '\\';
            out += char(c);
        } else {
            out.append(bytes, size_t(start), size_t(i - start));
        }
    }
    return out;
}

std::string printable_name(const std::string& bytes)
{
    return escape_text(bytes, ESCAPE_QUOTE);
}
