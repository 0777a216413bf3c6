// The target folder: the temporary-folder default, the folder browser and the change into
// the folder before the command after extraction.
#include "folders.h"

#include <shlobj.h>
#include <string.h>

#include "control_ids.h"
#include "failure.h"
#include "globals.h"
#include "message_ids.h"
#include "paths.h"
#include "system.h"

enum { WINDOWS_FOLDER_LIMIT = 250, DISPLAY_NAME_CAPACITY = 512 };

int read_env_folder(const char* name, char* buffer)
{
    // A value too long for the buffer is reported by its needed size and treated as absent.
    DWORD length = GetEnvironmentVariableA(name, buffer, PATH_CAPACITY);
    if (length == 0 || length >= PATH_CAPACITY)
        return 0;
    return buffer[0] != '\0';
}

int windows_temp_folder(char* buffer, size_t capacity)
{
    // A folder that does not fit is reported by its needed size and leaves the buffer as it
    // was: no folder then.
    UINT limit = capacity < WINDOWS_FOLDER_LIMIT ? (UINT)capacity : (UINT)WINDOWS_FOLDER_LIMIT;
    UINT length = GetWindowsDirectoryA(buffer, limit);
    if (length == 0 || length >= limit)
        return 0;
    append_backslash(buffer, capacity);
    append_checked(buffer, capacity, message_text(MSG_TEMP_NAME), 1661);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(buffer, &found);
    if (search == INVALID_HANDLE_VALUE)
        return CreateDirectoryA(buffer, NULL) ? 1 : 0;
    FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

typedef DWORD(WINAPI* TempPathCall)(DWORD, LPSTR);

// GetTempPath2A (Windows 11, and updates of 10) reads TMP and TEMP as before, but gives a
// program running as SYSTEM the system's own temporary folder, which only SYSTEM may open,
// instead of a folder others may write to. It is looked up at run time.
static int system_temp_folder(char* buffer)
{
    TempPathCall temp_path = (TempPathCall)(void*)kernel_procedure("GetTempPath2A");
    if (temp_path == NULL)
        return 0;
    DWORD length = temp_path(PATH_CAPACITY, buffer);
    return length != 0 && length < PATH_CAPACITY;
}

int find_temp_folder(char* destination, size_t capacity)
{
    char folder[PATH_CAPACITY];
    if (!system_temp_folder(folder) && !read_env_folder("TMP", folder) && !read_env_folder("TEMP", folder) &&
        !windows_temp_folder(folder, sizeof folder))
        return 0;
    strip_trailing_separator(folder);
    copy_checked(destination, capacity, folder, 1702);
    return 1;
}

int change_to_folder(char* path, size_t capacity)
{
    int stripped = strip_trailing_separator(path);
    BOOL changed = SetCurrentDirectoryA(path);
    if (stripped)
        append_backslash(path, capacity);
    return changed == 1 ? 0 : 1;
}

void browse_for_folder(HWND dialog)
{
    IMalloc* allocator;
    if (SHGetMalloc(&allocator) != NOERROR)
        return;
    char folder_name[DISPLAY_NAME_CAPACITY];
    BROWSEINFOA browse = {};
    browse.hwndOwner = dialog;
    browse.pszDisplayName = folder_name;
    browse.lpszTitle = message_text(MSG_EXTRACT_TO);
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
    if (chosen != NULL) {
        if (SHGetPathFromIDListA(chosen, target_folder))
            SetDlgItemTextA(dialog, ID_FOLDER_FIELD, target_folder);
        allocator->Free(chosen);
    }
    allocator->Release();
}
