/* argecho.exe: records how it was started, for tests of the command run after extraction.
 *
 * Appends one JSON line {"cmdline":..,"args":..,"cwd":..,"exe":..,"tmp":..,"temp":..} to the
 * file named by the environment variable ARGECHO_LOG, or to argecho.log in its current
 * folder, and exits 0, or with the number in ARGECHO_EXIT. With ARGECHO_CHILD set to a number of
 * milliseconds it first starts a copy of itself that sleeps that long, logs a line with
 * "child":true and exits, so the parent ends before its child. TMP and TEMP are recorded because the stub's default folder comes
 * from them; an unset variable is logged as null.
 * For files held open while a package removes what it extracted: with ARGECHO_HOLD=path it
 * waits until that file exists and opens it with read sharing only (nobody may delete it)
 * before it logs ("held":true); with ARGECHO_WAITFOR=path it waits after logging until that
 * file exists, and only then exits (and lets go of a held file). Both waits end after a
 * minute at the latest.
 * With ARGECHO_BROADCAST set it first tells every top-level window that the environment changed
 * (SendMessage to HWND_BROADCAST, as setups do), and logs "broadcast":true once every window
 * has answered; a window whose thread handles no messages holds it there.
 * A GUI program, like the setup programs the stub usually starts, so no console appears. */
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

enum { TEXT_CAPACITY = 32768, FILE_WAIT_MS = 60000, FILE_POLL_MS = 20 };

/* Waits until the file named by the variable exists; false when the variable is not set. */
static int wait_for_file(const wchar_t *variable, wchar_t *path)
{
    if (!GetEnvironmentVariableW(variable, path, MAX_PATH)) return 0;
    for (DWORD waited = 0; waited < FILE_WAIT_MS && GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES;
         waited += FILE_POLL_MS)
        Sleep(FILE_POLL_MS);
    return 1;
}

/* ARGECHO_HOLD: the file, opened so that it cannot be deleted or replaced while we run. It
 * cannot be opened so while its writer still has it open for writing: tried until it can. */
static HANDLE hold_file(void)
{
    wchar_t path[MAX_PATH];
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!wait_for_file(L"ARGECHO_HOLD", path)) return file;
    for (DWORD waited = 0; waited < FILE_WAIT_MS && file == INVALID_HANDLE_VALUE; waited += FILE_POLL_MS) {
        file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE) Sleep(FILE_POLL_MS);
    }
    return file;
}

/* The argument part the way the C runtime and WinMain's lpCmdLine cut it: the program token
 * (quoted or up to the first blank) and the blanks after it are skipped. */
static const wchar_t *argument_part(const wchar_t *command_line)
{
    const wchar_t *cursor = command_line;
    if (*cursor == L'"') {
        cursor++;
        while (*cursor && *cursor != L'"') cursor++;
        if (*cursor) cursor++;
    } else {
        while (*cursor && *cursor != L' ' && *cursor != L'\t') cursor++;
    }
    while (*cursor == L' ' || *cursor == L'\t') cursor++;
    return cursor;
}

/* Appends "key":"text" (UTF-8, JSON-escaped) to line. */
static void append_field(char *line, size_t capacity, const char *key, const wchar_t *text)
{
    static char utf8[4 * TEXT_CAPACITY];
    size_t length = strlen(line);
    if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL)) utf8[0] = 0;
    length += snprintf(line + length, capacity - length, "%s\"%s\":\"", length > 1 ? "," : "", key);
    for (const unsigned char *c = (const unsigned char *)utf8; *c && length + 8 < capacity; c++) {
        if (*c == '"' || *c == '\\') length += snprintf(line + length, capacity - length, "\\%c", *c);
        else if (*c < 0x20) length += snprintf(line + length, capacity - length, "\\u%04x", *c);
        else line[length++] = (char)*c;
    }
    line[length] = 0;
    snprintf(line + length, capacity - length, "\"");
}

/* Appends "key":"value" of an environment variable, or "key":null when it is not set. */
static void append_variable(char *line, size_t capacity, const char *key, const wchar_t *name)
{
    static wchar_t value[TEXT_CAPACITY];
    SetLastError(0); /* an empty value also returns 0, but leaves no error */
    if (GetEnvironmentVariableW(name, value, TEXT_CAPACITY) || GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
        append_field(line, capacity, key, value);
    } else {
        size_t length = strlen(line);
        snprintf(line + length, capacity - length, ",\"%s\":null", key);
    }
}

static void append_to_log(const char *line)
{
    wchar_t path[MAX_PATH];
    DWORD written;
    if (!GetEnvironmentVariableW(L"ARGECHO_LOG", path, MAX_PATH)) wcscpy(path, L"argecho.log");
    HANDLE log = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (log == INVALID_HANDLE_VALUE) return;
    WriteFile(log, line, (DWORD)strlen(line), &written, NULL);
    CloseHandle(log);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR ansi_arguments, int show)
{
    static char line[8 * TEXT_CAPACITY];
    static wchar_t cwd[TEXT_CAPACITY], exe[TEXT_CAPACITY];
    (void)instance; (void)previous; (void)ansi_arguments; (void)show;
    const wchar_t *command_line = GetCommandLineW();
    GetCurrentDirectoryW(TEXT_CAPACITY, cwd);
    GetModuleFileNameW(NULL, exe, TEXT_CAPACITY);
    strcpy(line, "{");
    append_field(line, sizeof line, "cmdline", command_line);
    append_field(line, sizeof line, "args", argument_part(command_line));
    append_field(line, sizeof line, "cwd", cwd);
    append_field(line, sizeof line, "exe", exe);
    append_variable(line, sizeof line, "tmp", L"TMP");
    append_variable(line, sizeof line, "temp", L"TEMP");
    wchar_t number[32];
    if (GetEnvironmentVariableW(L"ARGECHO_SLEEP", number, 32)) {
        Sleep((DWORD)_wtoi(number));
        strcat(line, ",\"child\":true");
    }
    if (GetEnvironmentVariableW(L"ARGECHO_BROADCAST", number, 32)) {
        SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, (LPARAM)L"Environment");
        strcat(line, ",\"broadcast\":true");
    }
    HANDLE held = hold_file();
    if (held != INVALID_HANDLE_VALUE) strcat(line, ",\"held\":true");
    strcat(line, "}\n");
    if (GetEnvironmentVariableW(L"ARGECHO_CHILD", number, 32)) {
        STARTUPINFOW startup;
        PROCESS_INFORMATION started;
        static wchar_t child_line[] = L"argecho child";  /* CreateProcessW may write to it */
        memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        SetEnvironmentVariableW(L"ARGECHO_CHILD", NULL);
        SetEnvironmentVariableW(L"ARGECHO_SLEEP", number);
        if (CreateProcessW(exe, child_line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &started)) {
            CloseHandle(started.hThread);
            CloseHandle(started.hProcess);
        }
    }
    append_to_log(line);
    wchar_t release[MAX_PATH];
    wait_for_file(L"ARGECHO_WAITFOR", release);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    return GetEnvironmentVariableW(L"ARGECHO_EXIT", number, 32) ? _wtoi(number) : 0;
}
