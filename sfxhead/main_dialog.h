// The main dialog: the program's one window.
#ifndef TVSFX_MAIN_DIALOG_H
#define TVSFX_MAIN_DIALOG_H

#include <windows.h>

// Control ids of the dialog template.
enum {
    ID_PROMPT_LINE = 101,
    ID_OVERWRITE = 102,
    ID_COMMAND_TEXT = 103,
    ID_HELP = 104,
    ID_FOLDER_FIELD = 106,
    ID_STATUS_LINE = 109,
    ID_RUN_COMMAND = 111,
    ID_INFO = 112,
    ID_ARCHIVER = 113,
    ID_BROWSE = 115,
    ID_METER = 201,
};

INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

#endif
