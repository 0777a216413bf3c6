// The command after extraction and the archiver button.
#ifndef TVSFX_COMMAND_H
#define TVSFX_COMMAND_H

#include <windows.h>

enum StartMode { START_SHELL, START_PLAIN };

// Starts file with its parameters. Plain: WinExec's result as it is. Shell: the start's
// result (above 32) on success, 0 after an error box.
UINT_PTR run_command(const char* file, const char* parameters, StartMode mode);
// Opens the program's own file in the registered archiver; false after message 27.
bool open_in_archiver();

#endif
