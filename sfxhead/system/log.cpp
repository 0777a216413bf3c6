// The log file and the exit code.
#include "log.h"

#include <windows.h>
#include <string.h>

#include "resource_data.h"
#include "wide_api.h"

int exit_code;
int silent_mode;

static HANDLE log_file = INVALID_HANDLE_VALUE;
static const TextSet* log_words = &text_sets[LANGUAGE_GERMAN];

void set_log_language(const TextSet* set)
{
    log_words = set;
}

// A line holds at most this many characters; a longer text is cut (no message comes close).
enum { LOG_LINE_CHARS = 1024, LOG_LINE_BYTES = 3 * LOG_LINE_CHARS + 2 };

bool open_log(const char* path)
{
    log_file = open_path(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL);
    return log_file != INVALID_HANDLE_VALUE;
}

// Texts are in the ANSI code page, in wide mode in UTF-8 (the fixed texts there too are in the
// ANSI code page, and are no valid UTF-8); the log is UTF-8 whatever the system's code page, so
// that logs of many machines read alike. Line breaks inside a text become blanks: one line each.
static void write_line(const char* prefix, const char* text)
{
    if (log_file == INVALID_HANDLE_VALUE)
        return;
    WCHAR wide[LOG_LINE_CHARS];
    int length = MultiByteToWideChar(CP_ACP, 0, prefix, -1, wide, LOG_LINE_CHARS) - 1;
    if (length < 0)
        return;
    int cut = (int)strlen(text);
    if (cut > LOG_LINE_CHARS - 1 - length)
        cut = LOG_LINE_CHARS - 1 - length;
    UINT code_page = wide_mode && is_valid_utf8(text, strlen(text)) ? CP_UTF8 : CP_ACP;
    length += MultiByteToWideChar(code_page, 0, text, cut, wide + length, LOG_LINE_CHARS - 1 - length);
    for (int i = 0; i < length; ++i) {
        if (wide[i] == L'\r' || wide[i] == L'\n')
            wide[i] = L' ';
    }
    char line[LOG_LINE_BYTES];
    int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, line, LOG_LINE_BYTES - 2, NULL, NULL);
    line[size] = '\r';
    line[size + 1] = '\n';
    // Another run may have appended since: every line goes to the current end.
    SetFilePointer(log_file, 0, NULL, FILE_END);
    DWORD written;
    WriteFile(log_file, line, (DWORD)size + 2, &written, NULL);
}

void log_message(const char* text)
{
    write_line(log_words->log_message, text);
}

void log_extracted(const char* path)
{
    write_line(log_words->log_file, path);
}

void log_left_behind(const char* path, LeftBehind reason)
{
    const char* const prefixes[] = {log_words->log_at_restart, log_words->log_not_removed, log_words->log_not_empty,
                                    log_words->log_link,       log_words->log_replaced,    log_words->log_gone};
    write_line(prefixes[reason], path);
}

void log_private_folder(const char* path)
{
    write_line(log_words->log_folder, path);
}

void log_license_accepted()
{
    write_line(log_words->log_license, "");
}

int log_outcome(int code)
{
    // A command's exit code is any DWORD (3010, 1603, 0xC0000005): written unsigned.
    char text[11];
    char* digits = text + sizeof text - 1;
    *digits = '\0';
    unsigned value = (unsigned)code;
    do {
        *--digits = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    write_line(log_words->log_end, digits);
    return code;
}
