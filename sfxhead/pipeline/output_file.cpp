// The current entry's output file: created in place, or a temporary file that replaces an
// existing one at the end.
#include "output_file.h"

#include <string.h>

#include "cleanup.h"
#include "failure.h"
#include "globals.h"
#include "paths.h"
#include "system.h"
#include "wide_api.h"

// The temporary file: "~" and up to eight hexadecimal digits, beside the file it replaces and
// never longer than that file's name, so its path fits wherever the output path fits.
enum { TEMP_NAME_DIGITS = 8, TEMP_NAME_TRIES = 16 };

static char temp_path[LONG_PATH_CAPACITY];      // empty while no temporary file exists
static char replaced_path[LONG_PATH_CAPACITY];  // the file the temporary file replaces
static DWORD replaced_attributes;          // its attributes, which the new content keeps

static bool can_replace(const char* path, DWORD attributes)
{
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
        return false;
    HANDLE file = open_path(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

// Writes a candidate name into temp_path behind the folder part of path: as many digits of
// number as the replaced file's name leaves room for.
static void make_temp_name(const char* path, DWORD number)
{
    const char* name = file_name_part(path);
    size_t folder_length = name - path;
    size_t name_length = strlen(name);
    size_t digits = name_length > 0 ? name_length - 1 : 0;
    if (digits > TEMP_NAME_DIGITS)
        digits = TEMP_NAME_DIGITS;
    memcpy(temp_path, path, folder_length);
    char* p = temp_path + folder_length;
    *p++ = '~';
    while (digits-- > 0) {
        *p++ = "0123456789ABCDEF"[number & 0xF];
        number >>= 4;
    }
    *p = '\0';
}

static bool create_temp_file(const char* path)
{
    DWORD number = GetTickCount();
    for (int i = 0; i < TEMP_NAME_TRIES; ++i, number = number * 69069 + 1) {
        make_temp_name(path, number);
        HANDLE file = open_path(temp_path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL);
        if (file != INVALID_HANDLE_VALUE) {
            output_handle = (HFILE)(INT_PTR)file;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    temp_path[0] = '\0';
    return false;
}

// A new file is created at once, with _lcreat's access and sharing: looking the name up first
// would cost a second search of its folder (Wine reads a whole folder for a name it does not
// find), and nothing can come between look-up and creation. Only a name that is there already
// is looked at, and replaced through a temporary file.
int open_output_file(const char* path)
{
    temp_path[0] = '\0';
    output_handle = 0;
    HANDLE file = open_path(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL);
    if (file != INVALID_HANDLE_VALUE) {
        output_handle = (HFILE)(INT_PTR)file;
        remember_created_file(path, file);
        return OUTPUT_OPENED;
    }
    if (GetLastError() == ERROR_PATH_NOT_FOUND)
        return OUTPUT_NO_FOLDER;
    DWORD attributes = path_attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !can_replace(path, attributes) || !create_temp_file(path))
        return OUTPUT_REFUSED;
    memcpy(replaced_path, path, strlen(path) + 1);
    replaced_attributes = attributes;
    // An internal error while the entry is written ends the process without the abort path:
    // it removes the temporary file through this hook.
    internal_error_cleanup = discard_output_file;
    return OUTPUT_OPENED;
}

// Puts the temporary file in the old one's place in one step. ReplaceFile gives the new
// content the old file's identity: its attributes (a hidden or system file stays so), ACL,
// creation time and short name; when it fails, the old file keeps its name and content (no
// backup name is asked for). Windows 95, 98 and NT 4 lack it: there the temporary file is
// renamed over the old one, and Windows 95 and 98, without MoveFileEx, remove the old first.
static bool replace_old_file()
{
    int replaced = replace_path(replaced_path, temp_path);
    if (replaced >= 0)
        return replaced != FALSE;
    if (move_path(temp_path, replaced_path, MOVEFILE_REPLACE_EXISTING))
        return true;
    return GetLastError() == ERROR_CALL_NOT_IMPLEMENTED && delete_file_path(replaced_path) &&
           plain_move_path(temp_path, replaced_path);
}

bool commit_output_file()
{
    if (temp_path[0] == '\0')
        return true;
    if (!replace_old_file()) {
        discard_output_file();
        return false;
    }
    temp_path[0] = '\0';
    // A hidden or system file stays so, whichever way it was replaced (the rename of older
    // systems gives the temporary file's plain attributes).
    set_path_attributes(replaced_path, replaced_attributes);
    return true;
}

void discard_output_file()
{
    if (output_handle != 0 && output_handle != HFILE_ERROR)
        _lclose(output_handle);
    output_handle = 0;
    if (temp_path[0] != '\0')
        delete_file_path(temp_path);
    temp_path[0] = '\0';
}
