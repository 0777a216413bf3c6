// The run's text form: UTF-8 texts and W calls on the NT family, ANSI texts and A calls on
// Windows 95, 98 and Me.
#include "wide_api.h"

#include <shellapi.h>
#include <string.h>

#include "system.h"

bool wide_mode;

// Room in front of a full path for "\\?\UNC" (7 units; the path's own second '\' follows).
enum { PREFIX_ROOM = 8, WIDE_PATH_UNITS = LONG_PATH_UNITS + 1 + PREFIX_ROOM, UI_TEXT_UNITS = LONG_PATH_UNITS + 1024 };

// The converted paths of one call (two for a move), the text a path converts to before it
// is made full, and a window text. Static: the program's stack is small.
static WCHAR first_path[WIDE_PATH_UNITS];
static WCHAR second_path[WIDE_PATH_UNITS];
static WCHAR plain_path[LONG_PATH_UNITS + 1];
static WCHAR window_text[UI_TEXT_UNITS];

void choose_text_form()
{
    // Windows 95, 98 and Me export the W functions as stubs that fail with
    // ERROR_CALL_NOT_IMPLEMENTED; MAX_PATH units are enough for an answer either way.
    wide_mode = GetModuleFileNameW(NULL, plain_path, MAX_PATH) != 0;
}

const char* next_char(const char* p)
{
    if (!wide_mode)
        return CharNextA(p);
    if (*p == '\0')
        return p;
    ++p;
    while ((*p & 0xC0) == 0x80)
        ++p;
    return p;
}

// The first byte of a sequence: its payload bits, its tail length and the smallest code it may
// carry (anything smaller is an overlong form). False for a byte that starts nothing.
static bool sequence_start(unsigned c, unsigned* code, int* tail, unsigned* smallest)
{
    if (c >= 0xC2 && c <= 0xDF) {
        *code = c & 0x1F, *tail = 1, *smallest = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        *code = c & 0x0F, *tail = 2, *smallest = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        *code = c & 0x07, *tail = 3, *smallest = 0x10000;
    } else {
        return false;
    }
    return true;
}

bool is_valid_utf8(const char* text, size_t length)
{
    const unsigned char* p = (const unsigned char*)text;
    const unsigned char* end = p + length;
    while (p < end) {
        unsigned c = *p++, code, smallest;
        int tail;
        if (c < 0x80)
            continue;
        if (!sequence_start(c, &code, &tail, &smallest) || end - p < tail)
            return false;
        for (; tail > 0; --tail, ++p) {
            if ((*p & 0xC0) != 0x80)
                return false;
            code = code << 6 | (*p & 0x3F);
        }
        if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
    }
    return true;
}

size_t utf16_length(const char* text)
{
    size_t units = 0;
    for (const unsigned char* p = (const unsigned char*)text; *p; ++p) {
        if ((*p & 0xC0) != 0x80)
            units += *p >= 0xF0 ? 2 : 1;  // four bytes: a surrogate pair
    }
    return units;
}

// Checked first: NT 4 and 2000 know no MB_ERR_INVALID_CHARS for UTF-8 and would convert any bytes.
int utf8_to_wide(const char* text, WCHAR* wide, int capacity)
{
    size_t length = strlen(text);
    if (!is_valid_utf8(text, length))
        return 0;
    return MultiByteToWideChar(CP_UTF8, 0, text, (int)length + 1, wide, capacity);
}

int wide_to_utf8(const WCHAR* wide, int length, char* text, int capacity)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, text, capacity - (length < 0 ? 0 : 1), NULL, NULL);
    if (size == 0 && length != 0)
        return 0;
    if (length >= 0)
        text[size++] = '\0';
    return size;
}

bool utf8_to_ansi(const char* text, size_t length, char* ansi, size_t capacity)
{
    if (!is_valid_utf8(text, length))
        return false;
    int units = length == 0 ? 0 : MultiByteToWideChar(CP_UTF8, 0, text, (int)length, plain_path, LONG_PATH_UNITS);
    if (units == 0 && length != 0)
        return false;
    BOOL defaulted = FALSE;
    int size = units == 0 ? 0
                          : WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, plain_path, units, ansi, (int)capacity - 1,
                                                NULL, &defaulted);
    if (size == 0 && units != 0)
        return false;
    ansi[size] = '\0';
    return !defaulted;
}

bool ansi_to_run_text(const char* ansi, size_t length, char* text, size_t capacity)
{
    if (!wide_mode) {
        if (length >= capacity)
            return false;
        memcpy(text, ansi, length);
        text[length] = '\0';
        return true;
    }
    int units = length == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, ansi, (int)length, plain_path, LONG_PATH_UNITS);
    if (units == 0 && length != 0)
        return false;
    return wide_to_utf8(plain_path, units, text, (int)capacity) != 0;
}

// --- paths -----------------------------------------------------------------------------------

static bool has_prefix(const WCHAR* path)
{
    return path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') && path[3] == L'\\';
}

// A long path in the form that passes the system's length limit: "\\?\C:\..." or
// "\\?\UNC\server\share\...". That form is taken as it stands, so the path is made full and
// normalised first ("." and "..", '/' as '\', trailing dots and blanks), as a short path is.
static WCHAR* long_form(WCHAR* out)
{
    WCHAR* full = out + PREFIX_ROOM;
    DWORD length = GetFullPathNameW(plain_path, LONG_PATH_UNITS + 1, full, NULL);
    if (length == 0 || length > LONG_PATH_UNITS || has_prefix(full))
        return length == 0 || length > LONG_PATH_UNITS ? NULL : full;
    if (full[0] == L'\\' && full[1] == L'\\') {
        // "\\server" becomes "\\?\UNC\server": the prefix takes the place of the first '\'.
        memcpy(out + 2, L"\\\\?\\UNC", 7 * sizeof(WCHAR));
        return out + 2;
    }
    memcpy(out + PREFIX_ROOM - 4, L"\\\\?\\", 4 * sizeof(WCHAR));
    return out + PREFIX_ROOM - 4;
}

// The path for a W call, in out; null (with ERROR_INVALID_NAME) when it is no valid text.
static const WCHAR* wide_path(const char* path, WCHAR* out)
{
    int units = utf8_to_wide(path, plain_path, LONG_PATH_UNITS + 1);
    const WCHAR* result = NULL;
    if (units != 0 && (units - 1 <= PLAIN_PATH_UNITS || has_prefix(plain_path))) {
        memcpy(out, plain_path, units * sizeof(WCHAR));
        result = out;
    } else if (units != 0) {
        result = long_form(out);
    }
    if (result == NULL)
        SetLastError(ERROR_INVALID_NAME);
    return result;
}

#define WIDE_PATH_OR(path, out, failure)    \
    const WCHAR* out = wide_path(path, out##_path); \
    if (out == NULL)                         \
        return failure

HANDLE open_path(const char* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                 DWORD flags)
{
    if (!wide_mode)
        return CreateFileA(path, access, share, security, disposition, flags, NULL);
    WIDE_PATH_OR(path, first, INVALID_HANDLE_VALUE);
    return CreateFileW(first, access, share, security, disposition, flags, NULL);
}

HFILE open_for_reading(const char* path, int share)
{
    if (!wide_mode)
        return _lopen(path, OF_READ | share);
    DWORD sharing = share == OF_SHARE_DENY_WRITE ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE file = open_path(path, GENERIC_READ, sharing, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    return file == INVALID_HANDLE_VALUE ? HFILE_ERROR : (HFILE)(INT_PTR)file;
}

BOOL create_folder_path(const char* path, SECURITY_ATTRIBUTES* security)
{
    if (!wide_mode)
        return CreateDirectoryA(path, security);
    WIDE_PATH_OR(path, first, FALSE);
    return CreateDirectoryW(first, security);
}

DWORD path_attributes(const char* path)
{
    if (!wide_mode)
        return GetFileAttributesA(path);
    WIDE_PATH_OR(path, first, INVALID_FILE_ATTRIBUTES);
    return GetFileAttributesW(first);
}

BOOL set_path_attributes(const char* path, DWORD attributes)
{
    if (!wide_mode)
        return SetFileAttributesA(path, attributes);
    WIDE_PATH_OR(path, first, FALSE);
    return SetFileAttributesW(first, attributes);
}

BOOL delete_file_path(const char* path)
{
    if (!wide_mode)
        return DeleteFileA(path);
    WIDE_PATH_OR(path, first, FALSE);
    return DeleteFileW(first);
}

BOOL remove_folder_path(const char* path)
{
    if (!wide_mode)
        return RemoveDirectoryA(path);
    WIDE_PATH_OR(path, first, FALSE);
    return RemoveDirectoryW(first);
}

BOOL move_path(const char* from, const char* to, DWORD flags)
{
    if (!wide_mode)
        return MoveFileExA(from, to, flags);
    WIDE_PATH_OR(from, first, FALSE);
    if (to == NULL)
        return MoveFileExW(first, NULL, flags);
    WIDE_PATH_OR(to, second, FALSE);
    return MoveFileExW(first, second, flags);
}

BOOL plain_move_path(const char* from, const char* to)
{
    return wide_mode ? move_path(from, to, 0) : MoveFileA(from, to);
}

typedef BOOL(WINAPI* ReplaceFileCallA)(LPCSTR, LPCSTR, LPCSTR, DWORD, LPVOID, LPVOID);
typedef BOOL(WINAPI* ReplaceFileCallW)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, LPVOID, LPVOID);

// ReplaceFile is looked up at run time: Windows 95, 98 and NT 4 lack it.
int replace_path(const char* replaced, const char* replacement)
{
    if (!wide_mode) {
        ReplaceFileCallA call = (ReplaceFileCallA)(void*)kernel_procedure("ReplaceFileA");
        return call == NULL ? -1 : call(replaced, replacement, NULL, REPLACEFILE_IGNORE_MERGE_ERRORS, NULL, NULL);
    }
    ReplaceFileCallW call = (ReplaceFileCallW)(void*)kernel_procedure("ReplaceFileW");
    if (call == NULL)
        return -1;
    WIDE_PATH_OR(replaced, first, FALSE);
    WIDE_PATH_OR(replacement, second, FALSE);
    return call(first, second, NULL, REPLACEFILE_IGNORE_MERGE_ERRORS, NULL, NULL);
}

static BOOL take_found(BOOL ok, const WIN32_FIND_DATAW* data, FoundFile* found)
{
    found->attributes = data->dwFileAttributes;
    if (ok && wide_to_utf8(data->cFileName, -1, found->name, sizeof found->name) == 0)
        found->name[0] = '\0';
    return ok;
}

static BOOL take_found_ansi(BOOL ok, const WIN32_FIND_DATAA* data, FoundFile* found)
{
    found->attributes = data->dwFileAttributes;
    memcpy(found->name, data->cFileName, sizeof data->cFileName);
    return ok;
}

HANDLE find_first_path(const char* pattern, FoundFile* found)
{
    HANDLE search;
    if (!wide_mode) {
        WIN32_FIND_DATAA data;
        search = FindFirstFileA(pattern, &data);
        take_found_ansi(search != INVALID_HANDLE_VALUE, &data, found);
        return search;
    }
    WIDE_PATH_OR(pattern, first, INVALID_HANDLE_VALUE);
    WIN32_FIND_DATAW data;
    search = FindFirstFileW(first, &data);
    take_found(search != INVALID_HANDLE_VALUE, &data, found);
    return search;
}

BOOL find_next_path(HANDLE search, FoundFile* found)
{
    if (!wide_mode) {
        WIN32_FIND_DATAA data;
        return take_found_ansi(FindNextFileA(search, &data), &data, found);
    }
    WIN32_FIND_DATAW data;
    return take_found(FindNextFileW(search, &data), &data, found);
}

// A UTF-16 result of length units (the needed capacity when it did not fit) as UTF-8 in text:
// the length without NUL, capacity when it does not fit, 0 on failure.
static DWORD utf8_result(DWORD length, DWORD wide_capacity, char* text, DWORD capacity)
{
    if (length == 0 || length >= wide_capacity)
        return length == 0 ? 0 : capacity;
    int size = wide_to_utf8(plain_path, (int)length, text, (int)capacity);
    return size == 0 ? capacity : (DWORD)size - 1;
}

DWORD full_path_of(const char* path, DWORD capacity, char* full)
{
    if (!wide_mode)
        return GetFullPathNameA(path, capacity, full, NULL);
    if (utf8_to_wide(path, first_path, LONG_PATH_UNITS + 1) == 0)
        return 0;
    DWORD length = GetFullPathNameW(first_path, LONG_PATH_UNITS + 1, plain_path, NULL);
    return utf8_result(length, LONG_PATH_UNITS + 1, full, capacity);
}

DWORD own_module_path(char* path, DWORD capacity)
{
    if (!wide_mode)
        return GetModuleFileNameA(NULL, path, capacity);
    DWORD length = GetModuleFileNameW(NULL, plain_path, LONG_PATH_UNITS + 1);
    return utf8_result(length, LONG_PATH_UNITS + 1, path, capacity);
}

DWORD environment_text(const char* name, char* text, DWORD capacity)
{
    if (!wide_mode)
        return GetEnvironmentVariableA(name, text, capacity);
    // The names asked for are ASCII.
    WCHAR wide_name[16];
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide_name, 16) == 0)
        return 0;
    DWORD length = GetEnvironmentVariableW(wide_name, plain_path, LONG_PATH_UNITS + 1);
    return utf8_result(length, LONG_PATH_UNITS + 1, text, capacity);
}

BOOL change_current_folder(const char* path)
{
    if (!wide_mode)
        return SetCurrentDirectoryA(path);
    if (utf8_to_wide(path, first_path, LONG_PATH_UNITS + 1) == 0)
        return FALSE;
    return SetCurrentDirectoryW(first_path);
}

DWORD current_folder(DWORD capacity, char* path)
{
    if (!wide_mode)
        return GetCurrentDirectoryA(capacity, path);
    DWORD length = GetCurrentDirectoryW(LONG_PATH_UNITS + 1, plain_path);
    return utf8_result(length, LONG_PATH_UNITS + 1, path, capacity);
}

UINT drive_type(const char* root)
{
    // A drive root is ASCII: the A call serves both forms.
    return GetDriveTypeA(root);
}

typedef DWORD(WINAPI* TempPathCallA)(DWORD, LPSTR);
typedef DWORD(WINAPI* TempPathCallW)(DWORD, LPWSTR);

// GetTempPath2 (Windows 11, and 10 with updates) gives a process running as SYSTEM a folder of
// its own instead of the shared Windows\Temp.
DWORD system_temp_path(DWORD capacity, char* path)
{
    if (!wide_mode) {
        TempPathCallA call = (TempPathCallA)(void*)kernel_procedure("GetTempPath2A");
        return call != NULL ? call(capacity, path) : 0;
    }
    TempPathCallW call = (TempPathCallW)(void*)kernel_procedure("GetTempPath2W");
    DWORD length = call != NULL ? call(MAX_PATH + 1, plain_path) : 0;
    return utf8_result(length, MAX_PATH + 1, path, capacity);
}

void upper_case_path(char* text, size_t capacity)
{
    if (!wide_mode) {
        CharUpperBuffA(text, (DWORD)strlen(text));
        return;
    }
    int units = utf8_to_wide(text, plain_path, LONG_PATH_UNITS + 1);
    if (units == 0)
        return;
    CharUpperBuffW(plain_path, (DWORD)units - 1);
    wide_to_utf8(plain_path, -1, text, (int)capacity);
}

// --- windows ---------------------------------------------------------------------------------

// A window text: UTF-8, or (the program's fixed texts, which are in the ANSI code page) read in
// that code page when it is no valid UTF-8. A text too long for the buffer is cut.
static const WCHAR* wide_text(const char* text, WCHAR* out, int capacity)
{
    size_t length = strlen(text);
    UINT code_page = is_valid_utf8(text, length) ? CP_UTF8 : CP_ACP;
    if (length >= (size_t)capacity)
        length = capacity - 1;
    int units = MultiByteToWideChar(code_page, 0, text, (int)length, out, capacity - 1);
    out[units] = L'\0';
    return out;
}

int show_message_box(HWND owner, const char* text, const char* caption, UINT type)
{
    if (!wide_mode)
        return MessageBoxA(owner, text, caption, type);
    return MessageBoxW(owner, wide_text(text, window_text, UI_TEXT_UNITS),
                       wide_text(caption, second_path, WIDE_PATH_UNITS), type);
}

BOOL set_window_text(HWND window, const char* text)
{
    if (!wide_mode)
        return SetWindowTextA(window, text);
    return SetWindowTextW(window, wide_text(text, window_text, UI_TEXT_UNITS));
}

BOOL set_item_text(HWND dialog, int id, const char* text)
{
    return set_window_text(GetDlgItem(dialog, id), text);
}

UINT get_item_text(HWND dialog, int id, char* text, int capacity)
{
    if (!wide_mode)
        return GetDlgItemTextA(dialog, id, text, capacity);
    UINT units = GetDlgItemTextW(dialog, id, window_text, UI_TEXT_UNITS);
    int size = wide_to_utf8(window_text, (int)units, text, capacity);
    return size == 0 ? 0 : (UINT)size - 1;
}

INT_PTR run_dialog(HINSTANCE module, const void* dialog_template, HWND owner, DLGPROC procedure, LPARAM param)
{
    if (!wide_mode)
        return DialogBoxIndirectParamA(module, (LPCDLGTEMPLATEA)dialog_template, owner, procedure, param);
    return DialogBoxIndirectParamW(module, (LPCDLGTEMPLATEW)dialog_template, owner, procedure, param);
}

// --- the command -----------------------------------------------------------------------------

// The shell's W calls are looked up: shell32 of Windows 95 lacks some of them.
static FARPROC shell_procedure(const char* name)
{
    HMODULE shell = GetModuleHandleA("shell32.dll");
    return shell != NULL ? GetProcAddress(shell, name) : NULL;
}

BOOL start_suspended(const char* path, char* command_line, PROCESS_INFORMATION* started)
{
    if (!wide_mode) {
        STARTUPINFOA startup;
        memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        return CreateProcessA(path, command_line, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &startup, started);
    }
    // A program is started by a path of fewer than MAX_PATH units: the "\\?\" form is not
    // taken for it. A longer one fails with ERROR_FILENAME_EXCED_RANGE, which the box names.
    static WCHAR line[LONG_PATH_UNITS + 1];
    if (utf8_to_wide(path, first_path, MAX_PATH) == 0) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    if (utf8_to_wide(command_line, line, LONG_PATH_UNITS + 1) == 0) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    return CreateProcessW(first_path, line, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &startup, started);
}

typedef HINSTANCE(WINAPI* FindExecutableCall)(LPCWSTR, LPCWSTR, LPWSTR);
typedef HINSTANCE(WINAPI* ShellExecuteCall)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);

// program receives at most MAX_PATH bytes, as with FindExecutableA.
UINT_PTR find_program(const char* path, char* program)
{
    if (!wide_mode)
        return (UINT_PTR)FindExecutableA(path, NULL, program);
    FindExecutableCall call = (FindExecutableCall)(void*)shell_procedure("FindExecutableW");
    if (call == NULL || utf8_to_wide(path, first_path, MAX_PATH) == 0)
        return SE_ERR_FNF;
    UINT_PTR result = (UINT_PTR)call(first_path, NULL, second_path);
    if (result > 32 && wide_to_utf8(second_path, -1, program, MAX_PATH) == 0)
        program[0] = '\0';
    return result;
}

UINT_PTR shell_start(HWND owner, const char* verb, const char* path, const char* parameters, const char* folder)
{
    if (!wide_mode)
        return (UINT_PTR)ShellExecuteA(owner, verb, path, parameters, folder, SW_SHOWNORMAL);
    ShellExecuteCall call = (ShellExecuteCall)(void*)shell_procedure("ShellExecuteW");
    static WCHAR wide_parameters[LONG_PATH_UNITS + 1];
    if (call == NULL || utf8_to_wide(path, first_path, MAX_PATH) == 0 ||
        utf8_to_wide(folder, second_path, WIDE_PATH_UNITS) == 0 ||
        (parameters != NULL && utf8_to_wide(parameters, wide_parameters, LONG_PATH_UNITS + 1) == 0))
        return ERROR_FILENAME_EXCED_RANGE;
    const WCHAR* wide_verb = verb != NULL ? L"Install" : NULL;
    return (UINT_PTR)call(owner, wide_verb, first_path, parameters != NULL ? wide_parameters : NULL, second_path,
                          SW_SHOWNORMAL);
}

char* argument_text()
{
    static char line[LONG_PATH_CAPACITY];
    if (!wide_mode)
        return GetCommandLineA();
    if (wide_to_utf8(GetCommandLineW(), -1, line, sizeof line) == 0)
        line[0] = '\0';
    return line;
}
