#include "entry_names.h"

namespace {

// Windows' device names without their number; COM and LPT take one digit behind them.
const char* const device_names[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
const char* const numbered_device_names[] = {"COM", "LPT"};

char upper_ascii(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

bool is_drive_letter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_forbidden_char(unsigned char c)
{
    return c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*';
}

// True when [start, end) equals `word` in ASCII, any case.
bool equals_upper(const char* start, const char* end, const char* word)
{
    for (; start < end && *word != '\0'; ++start, ++word) {
        if (upper_ascii(*start) != *word)
            return false;
    }
    return start == end && *word == '\0';
}

// True when [start, end) holds exactly the NUL-terminated bytes `bytes`, which are not empty.
bool equals_bytes(const char* start, const char* end, const char* bytes)
{
    if (*bytes == '\0')
        return false;
    for (; start < end && *bytes != '\0'; ++start, ++bytes) {
        if (*start != *bytes)
            return false;
    }
    return start == end && *bytes == '\0';
}

// The number behind COM or LPT: one digit, or a superscript 1, 2 or 3, which Windows counts
// as a digit too.
bool is_device_number(const char* start, const char* end, const NameCodePage* page)
{
    if (end - start == 1 && *start >= '0' && *start <= '9')
        return true;
    for (int i = 0; page != 0 && i < 3; ++i) {
        if (equals_bytes(start, end, page->superscripts[i]))
            return true;
    }
    return false;
}

// The device part of a component is what comes before its first dot, blanks at its end
// dropped: "con .txt" and "CON..." open the console just as "CON" does. A dot is never the
// trail byte of a double-byte character (those start at 0x40), so a byte search is safe.
bool is_device_component(const char* start, const char* end, const NameCodePage* page)
{
    const char* stem = start;
    while (stem < end && *stem != '.')
        ++stem;
    while (stem > start && stem[-1] == ' ')
        --stem;
    for (const char* device : device_names) {
        if (equals_upper(start, stem, device))
            return true;
    }
    for (const char* device : numbered_device_names) {
        if (stem - start > 3 && equals_upper(start, start + 3, device) && is_device_number(start + 3, stem, page))
            return true;
    }
    return false;
}

// A component of dots alone (and blanks, which Windows drops at a name's end) climbs out of
// its folder when it holds two dots or more; one dot names the folder itself.
int count_dots_if_only_dots(const char* start, const char* end)
{
    int dots = 0;
    for (const char* p = start; p < end; ++p) {
        if (*p == '.')
            ++dots;
        else if (*p != ' ')
            return -1;
    }
    return dots;
}

struct Finding {
    NameVerdict verdict;
    const char* where;
};

void note(Finding& f, NameVerdict verdict, const char* where)
{
    if (verdict != NAME_OK && (f.verdict == NAME_OK || verdict < f.verdict)) {
        f.verdict = verdict;
        f.where = where;
    }
}

// Trail bytes are 0x40 or above, so the last byte of a component is a dot or a blank only
// when its last character is.
void check_component(Finding& f, const char* start, const char* end, const NameCodePage* page)
{
    if (start == end)
        return;
    int dots = count_dots_if_only_dots(start, end);
    if (dots >= 2)
        note(f, NAME_LEAVES_TARGET, start);
    if (is_device_component(start, end, page))
        note(f, NAME_DEVICE, start);
    bool single_dot = end - start == 1 && *start == '.';
    if (!single_dot && (end[-1] == '.' || end[-1] == ' '))
        note(f, NAME_TRAILING_DOT_OR_BLANK, start);
}

}  // namespace

const char* next_name_char(const char* p, const NameCodePage* page)
{
    if (is_lead_byte(page, (unsigned char)*p) && p[1] != '\0')
        return p + 2;
    return p + 1;
}

NameVerdict check_entry_name(const char* name, const NameCodePage* page, const char** where)
{
    Finding f = {NAME_OK, name};
    // The stub drops one leading separator; what is absolute after that leaves the target.
    const char* n = is_name_separator(*name) ? name + 1 : name;
    if (is_name_separator(*n) || (is_drive_letter(n[0]) && n[1] == ':'))
        note(f, NAME_LEAVES_TARGET, name);
    const char* component = n;
    for (const char* p = n;; p = next_name_char(p, page)) {
        if (*p == '\0' || is_name_separator(*p)) {
            check_component(f, component, p, page);
            if (*p == '\0')
                break;
            component = p + 1;
        } else if (*p == ':') {
            note(f, NAME_STREAM, p);
        } else if (is_forbidden_char((unsigned char)*p)) {
            note(f, NAME_FORBIDDEN_CHAR, p);
        }
    }
    if (where != 0)
        *where = f.where;
    return f.verdict;
}
