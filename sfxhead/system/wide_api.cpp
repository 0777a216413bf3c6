// The run's text form: UTF-8 texts and W calls on the NT family, ANSI texts and A calls on
// Windows 95, 98 and Me.
//
// The A and the W form of a call take the same arguments but for the type of their texts, and
// their records lay out alike where no text is inside them (STARTUPINFO, BROWSEINFO). So the
// form is chosen once, in a table of calls, and each function below hands its call the text in
// that form: the ANSI text as it stands, or its UTF-16 in a static buffer.
#include "wide_api.h"

#include <shellapi.h>
#include <shlobj.h>
#include <string.h>


bool wide_mode;

// Room in front of a full path for "\\?\UNC" (7 units; the path's own second '\' follows).
enum { PREFIX_ROOM = 8, WIDE_PATH_UNITS = LONG_PATH_UNITS + 1 + PREFIX_ROOM, UI_TEXT_UNITS = LONG_PATH_UNITS + 1024 };

// The converted paths of one call (two for a move), the text a path converts to before it
// is made full, and a window text. Static: the program's stack is small.
static WCHAR first_path[WIDE_PATH_UNITS];
static WCHAR second_path[WIDE_PATH_UNITS];
static WCHAR plain_path[LONG_PATH_UNITS + 1];
static WCHAR window_text[UI_TEXT_UNITS];

// The calls whose form the run chooses, their texts as untyped pointers; in the order of
// CALL_NAMES. Null where the system lacks one (ReplaceFile, GetTempPath2, the shell's W calls
// on Windows 95).
static struct {
    // kernel32
    HANDLE(WINAPI* create_file)(const void*, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* create_directory)(const void*, SECURITY_ATTRIBUTES*);
    DWORD(WINAPI* get_attributes)(const void*);
    BOOL(WINAPI* set_attributes)(const void*, DWORD);
    BOOL(WINAPI* delete_file)(const void*);
    BOOL(WINAPI* remove_directory)(const void*);
    BOOL(WINAPI* move_file)(const void*, const void*, DWORD);
    HANDLE(WINAPI* find_first)(const void*, void*);
    BOOL(WINAPI* find_next)(HANDLE, void*);
    DWORD(WINAPI* full_path)(const void*, DWORD, void*, void*);
    DWORD(WINAPI* module_path)(HMODULE, void*, DWORD);
    DWORD(WINAPI* environment)(const void*, void*, DWORD);
    BOOL(WINAPI* set_current)(const void*);
    DWORD(WINAPI* get_current)(DWORD, void*);
    BOOL(WINAPI* create_process)(const void*, void*, void*, void*, BOOL, DWORD, void*, const void*, void*,
                                 PROCESS_INFORMATION*);
    BOOL(WINAPI* replace_file)(const void*, const void*, const void*, DWORD, void*, void*);
    DWORD(WINAPI* temp_path2)(DWORD, void*);
    void*(WINAPI* command_line)();
    // user32
    int(WINAPI* message_box)(HWND, const void*, const void*, UINT);
    BOOL(WINAPI* set_text)(HWND, const void*);
    UINT(WINAPI* get_item_text)(HWND, int, void*, int);
    INT_PTR(WINAPI* dialog_box)(HINSTANCE, const void*, HWND, DLGPROC, LPARAM);
    DWORD(WINAPI* upper_case)(void*, DWORD);
    // shell32
    UINT_PTR(WINAPI* find_executable)(const void*, const void*, void*);
    UINT_PTR(WINAPI* shell_execute)(HWND, const void*, const void*, const void*, const void*, INT);
    LPITEMIDLIST(WINAPI* browse)(void*);
    BOOL(WINAPI* path_of_list)(LPCITEMIDLIST, void*);
} calls;

// The A form's names, one module after the other; wide mode asks for the W twin. Looked up
// rather than imported: one name here costs less than two imports, and Windows 95 would not
// load a program that imports a call its shell32 lacks.
static const char CALL_NAMES[] =
    "CreateFileA\0CreateDirectoryA\0GetFileAttributesA\0SetFileAttributesA\0DeleteFileA\0RemoveDirectoryA\0"
    "MoveFileExA\0FindFirstFileA\0FindNextFileA\0GetFullPathNameA\0GetModuleFileNameA\0"
    "GetEnvironmentVariableA\0SetCurrentDirectoryA\0GetCurrentDirectoryA\0CreateProcessA\0ReplaceFileA\0"
    "GetTempPath2A\0GetCommandLineA\0"
    "MessageBoxA\0SetWindowTextA\0GetDlgItemTextA\0DialogBoxIndirectParamA\0CharUpperBuffA\0"
    "FindExecutableA\0ShellExecuteA\0SHBrowseForFolderA\0SHGetPathFromIDListA\0";
enum { KERNEL_CALLS = 18, USER_CALLS = 23, ALL_CALLS = 27, CALL_NAME_CAPACITY = 32 };
static_assert(sizeof calls == ALL_CALLS * sizeof(void*), "one name per call");

static void take_calls()
{
    void** slot = (void**)&calls;
    const char* name = CALL_NAMES;
    for (int i = 0; i < ALL_CALLS; ++i, name += strlen(name) + 1) {
        const char* module = i < KERNEL_CALLS ? "kernel32.dll" : i < USER_CALLS ? "user32.dll" : "shell32.dll";
        char form_name[CALL_NAME_CAPACITY];
        size_t length = strlen(name);
        memcpy(form_name, name, length + 1);
        if (wide_mode)
            form_name[length - 1] = 'W';
        HMODULE handle = GetModuleHandleA(module);
        slot[i] = handle != NULL ? (void*)GetProcAddress(handle, form_name) : NULL;
    }
}

void choose_text_form()
{
    // Windows 95, 98 and Me export the W functions as stubs that fail with
    // ERROR_CALL_NOT_IMPLEMENTED; MAX_PATH units are enough for an answer either way.
    wide_mode = GetModuleFileNameW(NULL, plain_path, MAX_PATH) != 0;
    take_calls();
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
static const WCHAR LONG_PREFIX[] = L"\\\\?\\UNC";

static WCHAR* long_form(WCHAR* out)
{
    WCHAR* full = out + PREFIX_ROOM;
    DWORD length = GetFullPathNameW(plain_path, LONG_PATH_UNITS + 1, full, NULL);
    if (length == 0 || length > LONG_PATH_UNITS)
        return NULL;
    if (has_prefix(full))
        return full;
    if (full[0] == L'\\' && full[1] == L'\\') {
        // "\\server" becomes "\\?\UNC\server": the prefix takes the place of the first '\'.
        memcpy(out + 2, LONG_PREFIX, 7 * sizeof(WCHAR));
        return out + 2;
    }
    memcpy(out + PREFIX_ROOM - 4, LONG_PREFIX, 4 * sizeof(WCHAR));  // "\\?\" alone
    return out + PREFIX_ROOM - 4;
}

// The path for the chosen call: itself in the ANSI form; in wide mode its UTF-16 in out, a long
// one in the "\\?\" form. Null (with ERROR_INVALID_NAME) when it is no valid UTF-8.
static const void* native_path(const char* path, WCHAR* out)
{
    if (!wide_mode)
        return path;
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

HANDLE open_path(const char* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                 DWORD flags)
{
    const void* native = native_path(path, first_path);
    return native ? calls.create_file(native, access, share, security, disposition, flags, NULL)
                  : INVALID_HANDLE_VALUE;
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
    const void* native = native_path(path, first_path);
    return native ? calls.create_directory(native, security) : FALSE;
}

DWORD path_attributes(const char* path)
{
    const void* native = native_path(path, first_path);
    return native ? calls.get_attributes(native) : INVALID_FILE_ATTRIBUTES;
}

BOOL set_path_attributes(const char* path, DWORD attributes)
{
    const void* native = native_path(path, first_path);
    return native ? calls.set_attributes(native, attributes) : FALSE;
}

BOOL delete_file_path(const char* path)
{
    const void* native = native_path(path, first_path);
    return native ? calls.delete_file(native) : FALSE;
}

BOOL remove_folder_path(const char* path)
{
    const void* native = native_path(path, first_path);
    return native ? calls.remove_directory(native) : FALSE;
}

BOOL move_path(const char* from, const char* to, DWORD flags)
{
    const void* native_from = native_path(from, first_path);
    const void* native_to = to != NULL ? native_path(to, second_path) : NULL;
    if (native_from == NULL || (to != NULL && native_to == NULL))
        return FALSE;
    return calls.move_file(native_from, native_to, flags);
}

BOOL plain_move_path(const char* from, const char* to)
{
    return wide_mode ? move_path(from, to, 0) : MoveFileA(from, to);
}

// Windows 95, 98 and NT 4 lack ReplaceFile.
int replace_path(const char* replaced, const char* replacement)
{
    if (calls.replace_file == NULL)
        return -1;
    const void* native_replaced = native_path(replaced, first_path);
    const void* native_replacement = native_path(replacement, second_path);
    if (native_replaced == NULL || native_replacement == NULL)
        return FALSE;
    return calls.replace_file(native_replaced, native_replacement, NULL, REPLACEFILE_IGNORE_MERGE_ERRORS, NULL, NULL);
}

// What FindFirstFile and FindNextFile write: the form's record.
static union {
    WIN32_FIND_DATAA ansi;
    WIN32_FIND_DATAW wide;
} find_data;

static BOOL take_found(BOOL ok, FoundFile* found)
{
    found->attributes = find_data.ansi.dwFileAttributes;  // the same place in both forms
    if (!wide_mode)
        memcpy(found->name, find_data.ansi.cFileName, sizeof find_data.ansi.cFileName);
    else if (ok && wide_to_utf8(find_data.wide.cFileName, -1, found->name, sizeof found->name) == 0)
        found->name[0] = '\0';
    return ok;
}

HANDLE find_first_path(const char* pattern, FoundFile* found)
{
    const void* native = native_path(pattern, first_path);
    HANDLE search = native ? calls.find_first(native, &find_data) : INVALID_HANDLE_VALUE;
    take_found(search != INVALID_HANDLE_VALUE, found);
    return search;
}

BOOL find_next_path(HANDLE search, FoundFile* found)
{
    return take_found(calls.find_next(search, &find_data), found);
}

// Where the chosen call writes a text: into text itself in the ANSI form, into plain_path in
// wide mode.
static void* result_buffer(char* text)
{
    return wide_mode ? (void*)plain_path : (void*)text;
}

static DWORD result_capacity(DWORD capacity)
{
    return wide_mode ? (DWORD)LONG_PATH_UNITS + 1 : capacity;
}

// The call's result of length units (or the capacity it needed) in text: the length without
// NUL, a capacity-or-more length when it does not fit, 0 on failure.
static DWORD take_result(DWORD length, char* text, DWORD capacity)
{
    if (!wide_mode)
        return length;
    if (length == 0) {
        text[0] = '\0';  // an empty field reads as empty, as with the A call
        return 0;
    }
    if (length >= LONG_PATH_UNITS + 1)
        return capacity;
    int size = wide_to_utf8(plain_path, (int)length, text, (int)capacity);
    return size == 0 ? capacity : (DWORD)size - 1;
}

DWORD full_path_of(const char* path, DWORD capacity, char* full)
{
    if (wide_mode && utf8_to_wide(path, first_path, LONG_PATH_UNITS + 1) == 0)
        return 0;
    const void* native = wide_mode ? (const void*)first_path : (const void*)path;
    return take_result(calls.full_path(native, result_capacity(capacity), result_buffer(full), NULL), full, capacity);
}

DWORD own_module_path(char* path, DWORD capacity)
{
    return take_result(calls.module_path(NULL, result_buffer(path), result_capacity(capacity)), path, capacity);
}

// An ASCII text of the program (a variable's name, a verb) for the chosen call: widened in wide
// mode into out, of ASCII_TEXT_UNITS.
enum { ASCII_TEXT_UNITS = 16 };

static const void* native_ascii(const char* text, WCHAR* out)
{
    if (!wide_mode)
        return text;
    int i = 0;
    for (; text[i] != '\0' && i < ASCII_TEXT_UNITS - 1; ++i)
        out[i] = (unsigned char)text[i];
    out[i] = L'\0';
    return out;
}

DWORD environment_text(const char* name, char* text, DWORD capacity)
{
    WCHAR wide_name[ASCII_TEXT_UNITS];
    const void* native = native_ascii(name, wide_name);
    return take_result(calls.environment(native, result_buffer(text), result_capacity(capacity)), text, capacity);
}

BOOL change_current_folder(const char* path)
{
    if (wide_mode && utf8_to_wide(path, first_path, LONG_PATH_UNITS + 1) == 0)
        return FALSE;
    return calls.set_current(wide_mode ? (const void*)first_path : (const void*)path);
}

DWORD current_folder(DWORD capacity, char* path)
{
    return take_result(calls.get_current(result_capacity(capacity), result_buffer(path)), path, capacity);
}

// GetTempPath2 (Windows 11, and 10 with updates) gives a process running as SYSTEM a folder of
// its own instead of the shared Windows\Temp.
DWORD system_temp_path(DWORD capacity, char* path)
{
    if (calls.temp_path2 == NULL)
        return 0;
    return take_result(calls.temp_path2(result_capacity(capacity), result_buffer(path)), path, capacity);
}

void upper_case_path(char* text, size_t capacity)
{
    if (!wide_mode) {
        calls.upper_case(text, (DWORD)strlen(text));
        return;
    }
    int units = utf8_to_wide(text, plain_path, LONG_PATH_UNITS + 1);
    if (units == 0)
        return;
    calls.upper_case(plain_path, (DWORD)units - 1);
    wide_to_utf8(plain_path, -1, text, (int)capacity);
}

// --- windows ---------------------------------------------------------------------------------

// A window text for the chosen call. Wide mode: UTF-8, or (the program's fixed texts, which are
// in the ANSI code page) read in that code page when it is no valid UTF-8; a text too long for
// the buffer is cut.
static const void* native_text(const char* text, WCHAR* out, int capacity)
{
    if (!wide_mode)
        return text;
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
    return calls.message_box(owner, native_text(text, window_text, UI_TEXT_UNITS),
                             native_text(caption, second_path, WIDE_PATH_UNITS), type);
}

BOOL set_window_text(HWND window, const char* text)
{
    return calls.set_text(window, native_text(text, window_text, UI_TEXT_UNITS));
}

BOOL set_item_text(HWND dialog, int id, const char* text)
{
    return set_window_text(GetDlgItem(dialog, id), text);
}

UINT get_item_text(HWND dialog, int id, char* text, int capacity)
{
    return take_result(calls.get_item_text(dialog, id, result_buffer(text), (int)result_capacity(capacity)), text,
                       capacity);
}

INT_PTR run_dialog(HINSTANCE module, const void* dialog_template, HWND owner, DLGPROC procedure, LPARAM param)
{
    return calls.dialog_box(module, dialog_template, owner, procedure, param);
}

bool browse_folder(HWND owner, const char* title, char* folder)
{
    IMalloc* allocator;
    if (calls.browse == NULL || calls.path_of_list == NULL || SHGetMalloc(&allocator) != NOERROR)
        return false;
    WCHAR display_name[MAX_PATH];  // room for either form
    BROWSEINFOA info = {};         // the W form's record is laid out alike
    info.hwndOwner = owner;
    info.pszDisplayName = (char*)display_name;
    info.lpszTitle = (const char*)native_text(title, window_text, UI_TEXT_UNITS);
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    LPITEMIDLIST chosen = calls.browse(&info);
    bool taken = false;
    if (chosen != NULL) {
        taken = calls.path_of_list(chosen, result_buffer(folder)) &&
                (!wide_mode || wide_to_utf8(plain_path, -1, folder, LONG_PATH_CAPACITY) != 0);
        allocator->Free(chosen);
    }
    allocator->Release();
    return taken;
}

// --- the command -----------------------------------------------------------------------------

// A program is started by a path of fewer than MAX_PATH units: the "\\?\" form is not taken for
// it. A longer one fails with ERROR_FILENAME_EXCED_RANGE, which the box names.
static const void* program_path(const char* path)
{
    if (!wide_mode)
        return path;
    if (utf8_to_wide(path, first_path, MAX_PATH) != 0)
        return first_path;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return NULL;
}

BOOL start_suspended(const char* path, char* command_line, PROCESS_INFORMATION* started)
{
    static WCHAR line[LONG_PATH_UNITS + 1];
    const void* program = program_path(path);
    if (program == NULL)
        return FALSE;
    void* native_line = command_line;
    if (wide_mode) {
        if (utf8_to_wide(command_line, line, LONG_PATH_UNITS + 1) == 0)
            return FALSE;
        native_line = line;
    }
    STARTUPINFOW startup;  // the A form's record is laid out alike
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    return calls.create_process(program, native_line, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &startup,
                                started);
}

UINT_PTR find_program(const char* path, char* program)
{
    const void* native = program_path(path);
    if (calls.find_executable == NULL || native == NULL)
        return SE_ERR_FNF;
    return calls.find_executable(native, NULL, wide_mode ? (void*)second_path : (void*)program);
}

UINT_PTR shell_start(HWND owner, const char* verb, const char* path, const char* parameters, const char* folder)
{
    static WCHAR wide_parameters[LONG_PATH_UNITS + 1];
    const void* native = program_path(path);
    const void* native_folder = native_text(folder, second_path, WIDE_PATH_UNITS);
    const void* native_parameters = parameters != NULL ? native_text(parameters, wide_parameters, LONG_PATH_UNITS + 1)
                                                       : NULL;
    WCHAR wide_verb[ASCII_TEXT_UNITS];
    const void* native_verb = verb != NULL ? native_ascii(verb, wide_verb) : NULL;
    if (calls.shell_execute == NULL || native == NULL)
        return ERROR_FILENAME_EXCED_RANGE;
    return calls.shell_execute(owner, native_verb, native, native_parameters, native_folder, SW_SHOWNORMAL);
}

char* argument_text()
{
    static char line[LONG_PATH_CAPACITY];
    if (!wide_mode)
        return (char*)calls.command_line();
    if (wide_to_utf8((const WCHAR*)calls.command_line(), -1, line, sizeof line) == 0)
        line[0] = '\0';
    return line;
}
