// The run's text form and the calls that depend on it. On the NT family ("wide mode") every
// text of the program (paths, names, messages, the dialog's fields) is UTF-8 in the usual char
// buffers, and each file-system and window call below converts it to UTF-16 for the W function;
// long paths get the "\\?\" form there. Windows 95, 98 and Me have no working W functions: there
// texts are in the ANSI code page and every call is the A function, as it always was.
#ifndef TVSFX_WIDE_API_H
#define TVSFX_WIDE_API_H

#include <stddef.h>
#include <string.h>
#include <windows.h>

// A path of the NT family has at most this many UTF-16 units; in UTF-8 each takes at most 3
// bytes (a pair of surrogates, 2 units, takes 4).
enum {
    LONG_PATH_UNITS = 32767,
    LONG_PATH_CAPACITY = 3 * LONG_PATH_UNITS + 1,
    // A path up to this many units goes to the W call as it is; a longer one in the "\\?\" form.
    // 248 is the shortest limit of the calls used (CreateDirectoryW leaves room for an 8.3 name).
    PLAIN_PATH_UNITS = 247,
    // A name found in a folder: 255 UTF-16 units, in UTF-8.
    FOUND_NAME_CAPACITY = 3 * 255 + 1,
};

// True on the NT family, from choose_text_form on.
extern bool wide_mode;
// Asks the system whether its W functions work (not its version number: a 9x system with the
// Unicode layer answers like NT only through that layer, which the program does not load),
// and takes the calls of that form. First thing at start-up: every call below needs it.
void choose_text_form();

// The character after p: UTF-8 sequences in wide mode, the ANSI code page's double-byte
// characters otherwise (a UTF-8 tail byte may look like a lead byte of a double-byte code
// page and swallow a following '\').
const char* next_char(const char* p);

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF, nothing cut off).
bool is_valid_utf8(const char* text, size_t length);
// How many UTF-16 units a valid UTF-8 text takes.
size_t utf16_length(const char* text);
// A text's length in characters as the limits of the ANSI form count them: its bytes there,
// its UTF-16 units in wide mode (the same count for a text of a single-byte code page).
inline size_t text_length(const char* text) { return wide_mode ? utf16_length(text) : strlen(text); }
// UTF-16 of a UTF-8 text; 0 when it is invalid or longer than capacity (the NUL included),
// otherwise the units written with the NUL.
int utf8_to_wide(const char* text, WCHAR* wide, int capacity);
// UTF-8 of length units (-1: NUL-terminated); the bytes written with the NUL, 0 when too long.
int wide_to_utf8(const WCHAR* wide, int length, char* text, int capacity);
// A UTF-8 text in the ANSI code page, for Windows 95, 98 and Me: false when a character has
// no place there (never a best-fit stand-in) or the result does not fit capacity.
bool utf8_to_ansi(const char* text, size_t length, char* ansi, size_t capacity);
// A text in the ANSI code page in the run's form: converted to UTF-8 in wide mode, copied
// otherwise. False when it does not fit capacity.
bool ansi_to_run_text(const char* ansi, size_t length, char* text, size_t capacity);

// --- file system: paths in the run's form; each call as its A or W function ------------------
HANDLE open_path(const char* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                 DWORD flags);
// _lopen(path, OF_READ | share) in the ANSI form; the handle of CreateFileW in wide mode.
HFILE open_for_reading(const char* path, int share);
BOOL create_folder_path(const char* path, SECURITY_ATTRIBUTES* security);
DWORD path_attributes(const char* path);
BOOL set_path_attributes(const char* path, DWORD attributes);
BOOL delete_file_path(const char* path);
BOOL remove_folder_path(const char* path);
// MoveFileEx; to may be null (with MOVEFILE_DELAY_UNTIL_REBOOT).
BOOL move_path(const char* from, const char* to, DWORD flags);
BOOL plain_move_path(const char* from, const char* to);
// ReplaceFile without a backup; -1 where the system lacks it.
int replace_path(const char* replaced, const char* replacement);
// What FindFirstFile/FindNextFile report of one name.
struct FoundFile {
    DWORD attributes;
    char name[FOUND_NAME_CAPACITY];
};
HANDLE find_first_path(const char* pattern, FoundFile* found);
BOOL find_next_path(HANDLE search, FoundFile* found);
// GetFullPathName; returns the length without NUL, or the capacity needed, or 0.
DWORD full_path_of(const char* path, DWORD capacity, char* full);
DWORD own_module_path(char* path, DWORD capacity);
DWORD environment_text(const char* name, char* text, DWORD capacity);
BOOL change_current_folder(const char* path);
DWORD current_folder(DWORD capacity, char* path);
// GetTempPath2's folder; 0 where the system lacks the call.
DWORD system_temp_path(DWORD capacity, char* path);
// Upper case as the file system compares names, in place (in UTF-8 a few letters change their
// length: capacity bounds the result).
void upper_case_path(char* text, size_t capacity);

// --- windows ---------------------------------------------------------------------------------
// The shell's folder browser with title; the chosen folder into folder (LONG_PATH_CAPACITY
// bytes). False when none was chosen.
bool browse_folder(HWND owner, const char* title, char* folder);
int show_message_box(HWND owner, const char* text, const char* caption, UINT type);
BOOL set_item_text(HWND dialog, int id, const char* text);
BOOL set_window_text(HWND window, const char* text);
UINT get_item_text(HWND dialog, int id, char* text, int capacity);
INT_PTR run_dialog(HINSTANCE module, const void* dialog_template, HWND owner, DLGPROC procedure, LPARAM param);
// The command after extraction: CreateProcess (suspended), FindExecutable (program: MAX_PATH
// bytes, filled only in the ANSI form) and ShellExecute.
BOOL start_suspended(const char* path, char* command_line, PROCESS_INFORMATION* started);
UINT_PTR find_program(const char* path, char* program);
UINT_PTR shell_start(HWND owner, const char* verb, const char* path, const char* parameters, const char* folder);
// The program's whole command line in the run's form (static storage).
char* argument_text();

#endif
