// The target folder: the temporary-folder default, the folder browser and the change into
// the folder before the command after extraction.
#include "folders.h"

#include <string.h>

#include "control_ids.h"
#include "failure.h"
#include "globals.h"
#include "message_ids.h"
#include "paths.h"
#include "system.h"
#include "wide_api.h"

enum { WINDOWS_FOLDER_LIMIT = 250 };

int read_env_folder(const char* name, char* buffer)
{
    // A value too long for the buffer is reported by its needed size and treated as absent.
    DWORD capacity = run_path_capacity();
    DWORD length = environment_text(name, buffer, capacity);
    if (length == 0 || length >= capacity || text_length(buffer) >= PATH_CAPACITY)
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
    FoundFile found;
    HANDLE search = find_first_path(buffer, &found);
    if (search == INVALID_HANDLE_VALUE)
        return create_folder_path(buffer, NULL) ? 1 : 0;
    FindClose(search);
    return (found.attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

// GetTempPath2 (Windows 11, and updates of 10) reads TMP and TEMP as before, but gives a
// program running as SYSTEM the system's own temporary folder, which only SYSTEM may open,
// instead of a folder others may write to.
static int system_temp_folder(char* buffer)
{
    DWORD capacity = run_path_capacity();
    DWORD length = system_temp_path(capacity, buffer);
    return length != 0 && length < capacity;
}

int find_temp_folder(char* destination, size_t capacity)
{
    static char folder[LONG_PATH_CAPACITY];
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
    BOOL changed = change_current_folder(path);
    if (stripped)
        append_backslash(path, capacity);
    return changed == 1 ? 0 : 1;
}

void browse_for_folder(HWND dialog)
{
    if (browse_folder(dialog, message_text(MSG_EXTRACT_TO), target_folder))
        set_item_text(dialog, ID_FOLDER_FIELD, target_folder);
}
