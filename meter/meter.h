// The Meter control: a progress bar that shows the current extraction step inside the bar.
#ifndef TVSFX_METER_H
#define TVSFX_METER_H

#include <windows.h>

// Private messages of the control.
enum {
    METER_SETRANGE = WM_USER + 0,  // wParam: the value that means full (low 16 bits kept)
    METER_GETRANGE = WM_USER + 1,
    METER_SETPOS = WM_USER + 2,    // wParam: the position (low 16 bits kept)
    METER_GETPOS = WM_USER + 3,
};

// Registers the window class "Meter" (the dialog template names it "meter"; class names
// compare without case). The result is not checked: without the class the dialog has no meter.
void register_meter_class(HINSTANCE module);
LRESULT CALLBACK meter_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

#endif
