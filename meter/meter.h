// The Meter control: a progress bar that shows the current extraction step inside the bar.
#ifndef TVSFX_METER_H
#define TVSFX_METER_H

#include <stddef.h>
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

// Where the meter's text comes from: writes the text into buffer (capacity bytes, NUL
// included) and returns its length, negative when there is none. The meter asks at every
// paint, so the text follows the entry being extracted without being stored here.
typedef int (*MeterTextSource)(char* buffer, size_t capacity);
// Set once by the program before a meter exists; without a source the meter shows no text.
void set_meter_text_source(MeterTextSource source);
// The code page of the source's texts for a program whose texts are not in the ANSI code page
// (CP_UTF8): they are drawn as UTF-16 then. 0, the default: the ANSI code page.
void set_meter_code_page(UINT code_page);

#endif
