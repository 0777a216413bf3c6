/* Pixels of windows of the program under test: screenshots and message box icons.
 *
 * Under Wine the window of another process cannot paint into our device context (PrintWindow
 * sends WM_PRINT with a DC handle that means nothing in the other process), so the pixels
 * are copied from the screen DC at the window's rectangle. That needs the window to be
 * mapped and not covered, which holds for the boxes and dialogs the tests look at: without
 * a window manager the newest window is on top. */
#include "driver.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* How long a capture waits for the window to finish painting, and how often it looks. */
enum { SETTLE_MS = 1500, SETTLE_POLL_MS = 30 };

/* A 32-bit top-down DIB section selected into a fresh memory DC. */
typedef struct {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ previous;
    DWORD *bits;
} Canvas;

static int open_canvas(Canvas *canvas, int width, int height)
{
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; /* top-down */
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    canvas->dc = CreateCompatibleDC(NULL);
    canvas->bitmap = CreateDIBSection(NULL, &info, DIB_RGB_COLORS, (void **)&canvas->bits, NULL, 0);
    if (!canvas->dc || !canvas->bitmap) {
        if (canvas->dc) DeleteDC(canvas->dc);
        if (canvas->bitmap) DeleteObject(canvas->bitmap);
        return 0;
    }
    canvas->previous = SelectObject(canvas->dc, canvas->bitmap);
    return 1;
}

static void close_canvas(Canvas *canvas)
{
    SelectObject(canvas->dc, canvas->previous);
    DeleteObject(canvas->bitmap);
    DeleteDC(canvas->dc);
}

static DWORD *copy_pixels(const Canvas *canvas, int width, int height)
{
    size_t bytes = (size_t)width * (size_t)height * 4;
    DWORD *pixels = malloc(bytes);
    if (pixels) memcpy(pixels, canvas->bits, bytes);
    return pixels;
}

/* One copy of the window's rectangle from the screen. */
static DWORD *grab_once(HWND window, int *width, int *height)
{
    RECT rect;
    Canvas canvas;
    if (!GetWindowRect(window, &rect)) return NULL;
    *width = rect.right - rect.left;
    *height = rect.bottom - rect.top;
    if (*width <= 0 || *height <= 0 || !open_canvas(&canvas, *width, *height)) return NULL;
    HDC screen = GetDC(NULL);
    BOOL copied = BitBlt(canvas.dc, 0, 0, *width, *height, screen, rect.left, rect.top, SRCCOPY);
    ReleaseDC(NULL, screen);
    GdiFlush();
    DWORD *pixels = copied ? copy_pixels(&canvas, *width, *height) : NULL;
    close_canvas(&canvas);
    return pixels;
}

static BOOL CALLBACK find_pending_paint(HWND window, LPARAM param)
{
    if (!GetUpdateRect(window, NULL, FALSE)) return TRUE;
    *(int *)param = 1;
    return FALSE;
}

/* A window that has just appeared may not have painted yet. Its owner paints when its queue
 * is empty; until then the window or a control still has an update region. Asking it to
 * paint now (RedrawWindow with RDW_UPDATENOW) would block on a busy owner, so we wait. */
static void wait_until_painted(HWND window)
{
    for (int waited = 0; waited < SETTLE_MS; waited += SETTLE_POLL_MS) {
        int pending = 0;
        find_pending_paint(window, (LPARAM)&pending);
        if (!pending) EnumChildWindows(window, find_pending_paint, (LPARAM)&pending);
        if (!pending) return;
        Sleep(SETTLE_POLL_MS);
    }
}

/* Painted pixels reach the X server a little after WM_PAINT (Wine flushes window surfaces
 * on its own schedule), so copies are taken until two in a row are equal. */
DWORD *grab_window_pixels(HWND window, int *width, int *height)
{
    wait_until_painted(window);
    DWORD *previous = grab_once(window, width, height);
    for (int waited = 0; previous && waited < SETTLE_MS; waited += SETTLE_POLL_MS) {
        Sleep(SETTLE_POLL_MS);
        int again_width, again_height;
        DWORD *current = grab_once(window, &again_width, &again_height);
        int same = current && again_width == *width && again_height == *height &&
                   memcmp(current, previous, (size_t)*width * (size_t)*height * 4) == 0;
        free(previous);
        previous = current;
        *width = again_width;
        *height = again_height;
        if (same) break;
    }
    return previous;
}

static void put_le(unsigned char *at, DWORD value, int bytes)
{
    for (int i = 0; i < bytes; i++) at[i] = (unsigned char)(value >> (8 * i));
}

int write_bmp(const wchar_t *path, const DWORD *pixels, int width, int height)
{
    enum { HEADER_SIZE = 14 + 40 };
    int row_size = (width * 3 + 3) & ~3; /* BMP rows are padded to 4 bytes */
    unsigned char header[HEADER_SIZE];
    memset(header, 0, sizeof header);
    header[0] = 'B';
    header[1] = 'M';
    put_le(header + 2, HEADER_SIZE + (DWORD)row_size * height, 4);
    put_le(header + 10, HEADER_SIZE, 4);
    put_le(header + 14, 40, 4);
    put_le(header + 18, (DWORD)width, 4);
    put_le(header + 22, (DWORD)height, 4); /* positive: bottom-up rows */
    put_le(header + 26, 1, 2);
    put_le(header + 28, 24, 2);
    FILE *file = _wfopen(path, L"wb");
    if (!file) return 0;
    int ok = fwrite(header, 1, sizeof header, file) == sizeof header;
    unsigned char *row = calloc(1, (size_t)row_size);
    for (int y = height - 1; ok && y >= 0; y--) {
        for (int x = 0; x < width; x++) put_le(row + 3 * x, pixels[y * width + x], 3);
        ok = row && fwrite(row, 1, (size_t)row_size, file) == (size_t)row_size;
    }
    free(row);
    return fclose(file) == 0 && ok;
}

/* ---- message box icons ------------------------------------------------------------------ */

/* Another process's icon handle is useless here (Wine refuses icons of other processes, and
 * each process loads its own copy of the system icons), so the icon is recognised by its
 * pixels: each candidate is drawn here onto the box's background and compared with the
 * screen. Alpha blending makes a few edge pixels differ by a step or two, hence the
 * per-channel tolerance and the share of pixels that may differ. */
enum { CHANNEL_TOLERANCE = 8, MISMATCH_PERCENT_ALLOWED = 3 };

static int pixels_close(DWORD a, DWORD b)
{
    for (int shift = 0; shift < 24; shift += 8) {
        int da = (int)((a >> shift) & 0xFF) - (int)((b >> shift) & 0xFF);
        if (da > CHANNEL_TOLERANCE || da < -CHANNEL_TOLERANCE) return 0;
    }
    return 1;
}

static int count_mismatches(const DWORD *a, const DWORD *b, int count)
{
    int mismatches = 0;
    for (int i = 0; i < count; i++) mismatches += !pixels_close(a[i], b[i]);
    return mismatches;
}

/* Draws icon at width x height onto a canvas filled with background; NULL on failure. */
static DWORD *render_icon(HICON icon, DWORD background, int width, int height)
{
    Canvas canvas;
    if (!open_canvas(&canvas, width, height)) return NULL;
    for (int i = 0; i < width * height; i++) canvas.bits[i] = background;
    DrawIconEx(canvas.dc, 0, 0, icon, width, height, 0, NULL, DI_NORMAL);
    GdiFlush();
    DWORD *pixels = copy_pixels(&canvas, width, height);
    close_canvas(&canvas);
    return pixels;
}

const char *identify_box_icon(HWND icon_control)
{
    static const struct { LPCWSTR id; const char *name; } candidates[] = {
        { IDI_ERROR, "error" },
        { IDI_WARNING, "warning" },
        { IDI_QUESTION, "question" },
        { IDI_INFORMATION, "information" },
    };
    int width, height;
    DWORD_PTR icon = 0;
    if (icon_control == NULL || !IsWindowVisible(icon_control)) return "none";
    /* A box without icon keeps the control, shrunk under the text: ask whether it has one. */
    if (!send_within(icon_control, STM_GETICON, 0, 0, 1000, &icon))
        return "unknown";
    if (icon == 0) return "none";
    DWORD *shown = grab_window_pixels(icon_control, &width, &height);
    if (shown == NULL) return "unknown";
    const char *verdict = "unknown";
    int best = width * height * MISMATCH_PERCENT_ALLOWED / 100;
    for (size_t i = 0; i < sizeof candidates / sizeof candidates[0]; i++) {
        /* The corner of the control is background: system icons are round or triangular. */
        DWORD *drawn = render_icon(LoadIconW(NULL, candidates[i].id), shown[0], width, height);
        if (drawn == NULL) continue;
        int mismatches = count_mismatches(shown, drawn, width * height);
        if (mismatches <= best) {
            best = mismatches;
            verdict = candidates[i].name;
        }
        free(drawn);
    }
    free(shown);
    return verdict;
}
