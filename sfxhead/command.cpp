// Starting the command after extraction through the shell, and the archiver through its
// registered open command.
#include "command.h"

#include <shellapi.h>
#include <string.h>

#include "failure.h"
#include "globals.h"
#include "message_ids.h"

enum { COMMAND_LINE_CAPACITY = 739, ARCHIVER_COMMAND_CAPACITY = 261 };
// FindExecutable's answer for a file whose type has no associated program.
enum { SE_NO_ASSOCIATION = 31 };

static UINT_PTR start_through_shell(const char* file, const char* parameters)
{
    char program[COMMAND_LINE_CAPACITY];
    char text[COMMAND_LINE_CAPACITY];
    UINT_PTR result = (UINT_PTR)FindExecutableA(file, NULL, program);
    if (result == SE_NO_ASSOCIATION) {
        format_checked(text, sizeof text, 3625, 3625, message_text(MSG_NO_ASSOCIATION), file);
        report_error(text, MB_ICONERROR);
        return 0;
    }
    if (result > 32) {
        const char* verb = flag_set(SFX_VERB_INSTALL) ? "Install" : NULL;
        result = (UINT_PTR)ShellExecuteA(main_window, verb, file, parameters[0] ? parameters : NULL, NULL,
                                         SW_SHOWNORMAL);
        if (result > 32)
            return result;
    }
    format_checked(text, sizeof text, 3699, 3699, message_text(MSG_COMMAND_FAILED), (int)result, file);
    report_error(text, MB_OK);
    return 0;
}

UINT_PTR run_command(const char* file, const char* parameters, StartMode mode)
{
    char command_line[COMMAND_LINE_CAPACITY];
    copy_checked(command_line, sizeof command_line, file, 3607);
    if (parameters[0] != '\0') {
        append_checked(command_line, sizeof command_line, " ", 3610);
        append_checked(command_line, sizeof command_line, parameters, 3611);
    }
    if (mode == START_PLAIN)
        return WinExec(command_line, SW_SHOWNORMAL);
    return start_through_shell(file, parameters);
}

// The registered command with everything behind its first blank replaced by the quoted path
// of the program's own file. A command without a blank gets the path appended.
static void point_command_at_self(char* command)
{
    char* blank = strchr(command, ' ');
    char* tail = blank ? blank + 1 : command + strlen(command);
    if (!blank) {
        if (tail + 1 >= command + ARCHIVER_COMMAND_CAPACITY)
            internal_error_at(3728);
        *tail++ = ' ';
    }
    size_t room = ARCHIVER_COMMAND_CAPACITY - (tail - command);
    format_checked(tail, room, 3728, 3728, "\"%s\"", self_path);
}

bool open_in_archiver()
{
    char command[ARCHIVER_COMMAND_CAPACITY];
    LONG size = sizeof command;
    bool shift_down = GetKeyState(VK_SHIFT) < 0;
    if (!shift_down && RegQueryValueA(HKEY_CLASSES_ROOT, "tarvel\\shell\\open\\command", command, &size) == ERROR_SUCCESS) {
        point_command_at_self(command);
        // A spanned archive opens as its ".ZIP" volume: the extension before the closing quote.
        if (flag_set(SFX_MULTI_VOLUME) && !flag_set(SFX_EXE_VOLUMES)) {
            size_t length = strlen(command);
            if (length >= 4)
                memcpy(command + length - 4, "zip", 3);
        }
        // WinExec answers 31 or less when the program could not be started.
        if (run_command(command, "", START_PLAIN) > 31)
            return true;
    }
    show_box(message_text(MSG_ARCHIVER_NOT_FOUND), MB_OK);
    return false;
}
