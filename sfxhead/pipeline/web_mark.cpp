// Passing the package's Mark of the Web on to the files it extracts.
#include "web_mark.h"

#include <string.h>
#include <windows.h>

#include "failure.h"
#include "globals.h"

// Zones that pass on: 3 Internet, 4 Restricted sites. The others (0 this computer, 1 local
// intranet, 2 trusted sites) carry no warning, so there is nothing to pass on.
enum { ZONE_INTERNET = 3, ZONE_RESTRICTED = 4 };
// Windows writes a few hundred bytes (the zone, the referring page and the download's address);
// a longer stream passes on as its zone alone.
enum { WEB_MARK_CAPACITY = 1024 };
static const char STREAM_SUFFIX[] = ":Zone.Identifier";

enum MarkState { MARK_UNREAD, MARK_NONE, MARK_PRESENT };
static MarkState mark_state;
static char mark_text[WEB_MARK_CAPACITY];
static DWORD mark_length;

static char lower_ascii(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c + ('a' - 'A')) : c;
}

// True when the line at p (ending at end) begins with word, in any letter case.
static bool line_starts_with(const char* p, const char* end, const char* word)
{
    for (; *word; ++p, ++word) {
        if (p == end || lower_ascii(*p) != lower_ascii(*word))
            return false;
    }
    return true;
}

static const char* skip_blanks(const char* p, const char* end)
{
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    return p;
}

// The value of a line "ZoneId = n" (blanks allowed around "="), or -1.
static int zone_value(const char* p, const char* end)
{
    p = skip_blanks(p + 6, end);
    if (p == end || *p != '=')
        return -1;
    p = skip_blanks(p + 1, end);
    int value = -1;
    for (; p < end && *p >= '0' && *p <= '9' && value < 1000; ++p)
        value = (value < 0 ? 0 : value * 10) + (*p - '0');
    p = skip_blanks(p, end);
    return p == end ? value : -1;
}

// The zone a Zone.Identifier text names in its [ZoneTransfer] section, or -1 when it names none.
static int read_zone_id(const char* text, size_t length)
{
    const char* end_of_text = text + length;
    bool in_zone_section = false;
    int zone = -1;
    for (const char* line = text; line < end_of_text;) {
        const char* end = line;
        while (end < end_of_text && *end != '\r' && *end != '\n')
            ++end;
        const char* p = skip_blanks(line, end);
        if (p < end && *p == '[')
            in_zone_section = line_starts_with(p, end, "[ZoneTransfer]") && skip_blanks(p + 14, end) == end;
        else if (in_zone_section && line_starts_with(p, end, "ZoneId"))
            zone = zone_value(p, end);
        line = end < end_of_text ? end + 1 : end;
    }
    return zone;
}

// A path and the stream's name; static, as the stack is small.
enum { STREAM_PATH_CAPACITY = LONG_PATH_CAPACITY + sizeof STREAM_SUFFIX };
static char stream_path_text[STREAM_PATH_CAPACITY];

static void stream_path(char* destination, const char* path)
{
    memcpy(destination, path, strlen(path) + 1);
    strcat(destination, STREAM_SUFFIX);
}

// Reads the package's own stream once. A stream too long for the buffer passes on as a
// minimal one that names only its zone.
static void read_package_mark()
{
    mark_state = MARK_NONE;
    char* path = stream_path_text;
    stream_path(path, self_path);
    HANDLE stream = open_path(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL);
    if (stream == INVALID_HANDLE_VALUE)
        return;
    DWORD length = 0;
    BOOL read = ReadFile(stream, mark_text, sizeof mark_text, &length, NULL);
    CloseHandle(stream);
    if (!read)
        return;
    int zone = read_zone_id(mark_text, length);
    if (zone != ZONE_INTERNET && zone != ZONE_RESTRICTED)
        return;
    if (length == sizeof mark_text)
        length = format_checked(mark_text, sizeof mark_text, 7610, 7610, "[ZoneTransfer]\r\nZoneId=%d\r\n", zone);
    mark_length = length;
    mark_state = MARK_PRESENT;
}

void mark_extracted_file(const char* path)
{
    if (mark_state == MARK_UNREAD)
        read_package_mark();
    if (mark_state != MARK_PRESENT)
        return;
    char* marked = stream_path_text;
    stream_path(marked, path);
    HANDLE stream = open_path(marked, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (stream == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(stream, mark_text, mark_length, &written, NULL);
    CloseHandle(stream);
}

void remove_web_mark(const char* path)
{
    if (mark_state != MARK_PRESENT)
        return;
    char* marked = stream_path_text;
    stream_path(marked, path);
    delete_file_path(marked);
}
