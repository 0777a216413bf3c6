#include "printable.h"

#include "names.h"

std::string printable(const std::string& text)
{
    return escape_text(text, ESCAPE_NAMED_CONTROLS);
}

std::string quoted(const std::string& text, bool bytes_above_ascii)
{
    unsigned how = ESCAPE_QUOTE | ESCAPE_BACKSLASH | ESCAPE_NAMED_CONTROLS | (bytes_above_ascii ? unsigned(ESCAPE_ALL_HIGH) : 0u);
    return "\"" + escape_text(text, how) + "\"";
}
