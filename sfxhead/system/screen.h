// Placing the program's dialogs on the screen.
#ifndef TVSFX_SCREEN_H
#define TVSFX_SCREEN_H

#include <windows.h>

// Moves a dialog to the middle of the screen without changing its size or activation.
void center_window(HWND dialog);

#endif
