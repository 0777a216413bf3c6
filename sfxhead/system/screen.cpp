// Placing the program's dialogs on the screen: the main dialog and the password dialog.
#include "screen.h"

void center_window(HWND dialog)
{
    RECT rect;
    GetWindowRect(dialog, &rect);
    int x = (GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2;
    SetWindowPos(dialog, HWND_TOP, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}
