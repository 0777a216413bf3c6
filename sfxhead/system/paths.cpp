#include "paths.h"

#include <windows.h>

#include "wide_api.h"

const char* last_char(const char* text)
{
    const char* last = text;
    for (const char* p = text; *p; p = next_char(p))
        last = p;
    return last;
}

const char* file_name_part(const char* path)
{
    const char* name = path;
    for (const char* p = path; *p; p = next_char(p)) {
        if (is_separator(*p))
            name = p + 1;
    }
    return name;
}

// The first character that a trailing separator may be removed after: the third when the path
// opens with two separators or with a drive letter and a colon.
static const char* protected_start(const char* path)
{
    if (is_separator(path[0]) && is_separator(path[1]))
        return path + 2;
    if (is_drive_letter(path[0]) && path[1] == ':')
        return path + 2;
    return path;
}

int strip_trailing_separator(char* path)
{
    if (path[0] == '\0')
        return 0;
    char* last = (char*)last_char(path);
    if (last <= protected_start(path) || !is_separator(*last))
        return 0;
    *last = '\0';
    return 1;
}
