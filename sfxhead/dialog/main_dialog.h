// The main dialog: the program's one window.
#ifndef TVSFX_MAIN_DIALOG_H
#define TVSFX_MAIN_DIALOG_H

#include <windows.h>

#include "control_ids.h"

INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

#endif
