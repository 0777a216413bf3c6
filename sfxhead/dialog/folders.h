// The target folder: default, browser, and making it the current directory.
#ifndef TVSFX_FOLDERS_H
#define TVSFX_FOLDERS_H

#include <stddef.h>
#include <windows.h>

// The default folder when the configuration names none: GetTempPath2A where the system has it,
// else TMP, TEMP or the Windows TEMP folder (created when missing), without a trailing
// separator. 1 found, 0 not found.
int find_temp_folder(char* destination, size_t capacity);
int read_env_folder(const char* name, char* buffer);
int windows_temp_folder(char* buffer, size_t capacity);
// Makes path the current directory (a trailing separator is removed for the call and put
// back as "\"); 0 on success, 1 on failure.
int change_to_folder(char* path, size_t capacity);
// The folder browser of the Browse button; a chosen folder replaces the folder field.
void browse_for_folder(HWND dialog);

#endif
