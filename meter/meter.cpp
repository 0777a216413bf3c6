// The Meter control. Its range and position live in the window's 4 extra bytes as two words.
// The text is not stored: every paint formats it anew from the entry being extracted.
#include "meter.h"

#include <string.h>

enum { RANGE_WORD = 0, POSITION_WORD = 2, METER_EXTRA_BYTES = 4, METER_TEXT_CAPACITY = 3 * 255 + 64 };
enum { METER_POINT_SIZE = 8 };

static const char METER_FACE_NAME[] = "MS Shell Dlg";
static_assert(sizeof METER_FACE_NAME <= LF_FACESIZE, "the face name fits the font record");

static MeterTextSource text_source;
static UINT text_code_page;

void set_meter_code_page(UINT code_page)
{
    text_code_page = code_page;
}

void set_meter_text_source(MeterTextSource source)
{
    text_source = source;
}

void register_meter_class(HINSTANCE module)
{
    WNDCLASSA window_class = {};
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = meter_window_proc;
    window_class.cbWndExtra = METER_EXTRA_BYTES;
    window_class.hInstance = module;
    window_class.hCursor = LoadCursorA(NULL, IDC_ARROW);
    window_class.lpszClassName = "Meter";
    RegisterClassA(&window_class);
}

// With create set: builds the 8-point meter font for the display and selects it into dc,
// returning the font it replaced (null when the font could not be made). With create clear:
// selects previous back and deletes the meter font.
static HFONT select_meter_font(HDC dc, HFONT previous, bool create)
{
    if (!create) {
        HFONT meter_font = (HFONT)SelectObject(dc, previous);
        if (meter_font)
            DeleteObject(meter_font);
        return NULL;
    }
    HDC display = CreateDCA("DISPLAY", NULL, NULL, NULL);
    int dots_per_inch = GetDeviceCaps(display, LOGPIXELSY);
    DeleteDC(display);
    LOGFONTA font = {};
    font.lfHeight = -(dots_per_inch * METER_POINT_SIZE) / 72;
    memcpy(font.lfFaceName, METER_FACE_NAME, sizeof METER_FACE_NAME);
    HFONT meter_font = CreateFontIndirectA(&font);
    if (meter_font == NULL)
        return NULL;
    return (HFONT)SelectObject(dc, meter_font);
}

// Draws text centred across the whole control, clipped to and filling rect.
static void draw_meter_part(HDC dc, const RECT* rect, int x, int y, const char* text, int length)
{
    if (text_code_page == 0) {
        ExtTextOutA(dc, x, y, ETO_CLIPPED | ETO_OPAQUE, rect, text, length, NULL);
        return;
    }
    WCHAR wide[METER_TEXT_CAPACITY];
    int units = length == 0 ? 0 : MultiByteToWideChar(text_code_page, 0, text, length, wide, METER_TEXT_CAPACITY);
    ExtTextOutW(dc, x, y, ETO_CLIPPED | ETO_OPAQUE, rect, wide, (UINT)units, NULL);
}

static void paint_meter(HWND meter)
{
    int range = (int)SendMessageA(meter, METER_GETRANGE, 0, 0);
    int position = (int)SendMessageA(meter, METER_GETPOS, 0, 0);
    if (range == 0) {
        range = 1;
        position = 0;
    }
    char text[METER_TEXT_CAPACITY];
    int length = text_source ? text_source(text, sizeof text) : -1;
    if (length < 0)
        length = 0;

    PAINTSTRUCT paint;
    HDC dc = BeginPaint(meter, &paint);
    HFONT previous = select_meter_font(dc, NULL, true);
    SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    SetTextAlign(dc, TA_CENTER | TA_TOP);

    RECT client;
    GetClientRect(meter, &client);
    int width = client.right;
    int height = client.bottom;
    RECT filled = {0, 0, position * width / range, height};
    RECT rest = {filled.right, 0, width, height};
    int x = width / 2;
    SIZE extent;
    // Without a text height the filled part is not drawn; the rest gets the text at the top.
    unsigned y = 0;
    if (GetTextExtentPoint32A(dc, "X", 1, &extent)) {
        y = (unsigned)(height - extent.cy) / 4;
        draw_meter_part(dc, &filled, x, (int)y, text, length);
    }
    SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
    draw_meter_part(dc, &rest, x, (int)y, text, length);

    if (previous)
        select_meter_font(dc, previous, false);
    EndPaint(meter, &paint);
}

static void store_word_and_repaint(HWND meter, int offset, WPARAM value)
{
    SetWindowWord(meter, offset, (WORD)value);
    InvalidateRect(meter, NULL, FALSE);
    UpdateWindow(meter);
}

LRESULT CALLBACK meter_window_proc(HWND meter, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case METER_SETRANGE:
        store_word_and_repaint(meter, RANGE_WORD, wparam);
        return 0;
    case METER_GETRANGE:
        return (WORD)GetWindowWord(meter, RANGE_WORD);
    case METER_SETPOS:
        store_word_and_repaint(meter, POSITION_WORD, wparam);
        return 0;
    case METER_GETPOS:
        return (WORD)GetWindowWord(meter, POSITION_WORD);
    case WM_CREATE:
        SendMessageA(meter, METER_SETRANGE, 100, 0);
        SendMessageA(meter, METER_SETPOS, 50, 0);
        return 0;
    case WM_PAINT:
        paint_meter(meter);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    }
    return DefWindowProcA(meter, message, wparam, lparam);
}
