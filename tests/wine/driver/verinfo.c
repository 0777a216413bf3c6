/* verinfo.exe PROGRAM LOG: what Windows' own calls read of a program's version and icon, for the
 * tests of the builder's --icon and version options.
 *
 * Writes one JSON line to LOG: {"verinfo":1,"fixed_file":"1.2.3.4","fixed_product":..,"translation":[lang,cp],
 * "strings":{"ProductName":..,...},"icons":N,"large":[w,h,"RRGGBB"],"small":[w,h,"RRGGBB"]}.
 * The strings are looked up in the table the Translation names, as Explorer does; a string that
 * is missing is left out. "icons" is ExtractIconEx's count of icon groups; large and small are
 * its first icon at the system's two sizes, and "size16" ... "size256" the first icon as
 * PrivateExtractIcons makes it at that size, each [width,height,"RRGGBB"] with the colour of its
 * middle pixel drawn on black. A missing version resource gives "fixed_file":null and no
 * strings. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static char line[16384];

static void append(const char *format, const char *text)
{
    size_t length = strlen(line);
    snprintf(line + length, sizeof line - length, format, text);
}

/* Appends "key":"text" (UTF-8, JSON-escaped). */
static void append_text(const char *key, const wchar_t *text)
{
    char utf8[2048], escaped[4096];
    size_t at = 0;
    if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL)) utf8[0] = 0;
    for (const unsigned char *c = (const unsigned char *)utf8; *c && at + 8 < sizeof escaped; c++) {
        if (*c == '"' || *c == '\\') at += (size_t)snprintf(escaped + at, sizeof escaped - at, "\\%c", *c);
        else if (*c < 0x20) at += (size_t)snprintf(escaped + at, sizeof escaped - at, "\\u%04x", *c);
        else escaped[at++] = (char)*c;
    }
    escaped[at] = 0;
    size_t length = strlen(line);
    snprintf(line + length, sizeof line - length, "%s\"%s\":\"%s\"", line[length - 1] == '{' ? "" : ",", key, escaped);
}

static void append_version(const wchar_t *program)
{
    static const wchar_t *const names[] = {L"ProductName", L"ProductVersion", L"FileVersion", L"CompanyName",
                                           L"FileDescription", L"LegalCopyright"};
    static BYTE data[65536];
    DWORD ignored = 0, size = GetFileVersionInfoSizeW(program, &ignored);
    VS_FIXEDFILEINFO *fixed = NULL;
    WORD *translation = NULL;
    UINT length = 0;
    if (size == 0 || size > sizeof data || !GetFileVersionInfoW(program, 0, size, data) ||
        !VerQueryValueW(data, L"\\", (void **)&fixed, &length) || length < sizeof *fixed) {
        append("%s", ",\"fixed_file\":null");
        return;
    }
    char text[160];
    snprintf(text, sizeof text, ",\"fixed_file\":\"%lu.%lu.%lu.%lu\",\"fixed_product\":\"%lu.%lu.%lu.%lu\"",
             fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
             fixed->dwFileVersionLS & 0xFFFF, fixed->dwProductVersionMS >> 16, fixed->dwProductVersionMS & 0xFFFF,
             fixed->dwProductVersionLS >> 16, fixed->dwProductVersionLS & 0xFFFF);
    append("%s", text);
    if (!VerQueryValueW(data, L"\\VarFileInfo\\Translation", (void **)&translation, &length) || length < 4)
        return;
    snprintf(text, sizeof text, ",\"translation\":[%u,%u],\"strings\":{", translation[0], translation[1]);
    append("%s", text);
    for (size_t i = 0; i < sizeof names / sizeof names[0]; i++) {
        wchar_t path[128];
        wchar_t *value = NULL;
        swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], names[i]);
        if (VerQueryValueW(data, path, (void **)&value, &length) && value != NULL) {
            char key[64];
            WideCharToMultiByte(CP_UTF8, 0, names[i], -1, key, sizeof key, NULL, NULL);
            append_text(key, value);
        }
    }
    append("%s", "}");
}

/* [w,h,"RRGGBB"]: the icon's size and its middle pixel drawn on black. */
static void append_icon(const char *key, HICON icon)
{
    ICONINFO info;
    BITMAP bitmap;
    char text[96];
    if (icon == NULL || !GetIconInfo(icon, &info)) {
        snprintf(text, sizeof text, ",\"%s\":null", key);
        append("%s", text);
        return;
    }
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    int width = bitmap.bmWidth, height = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
    BITMAPINFO format;
    memset(&format, 0, sizeof format);
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    DWORD *pixels = NULL;
    HDC dc = CreateCompatibleDC(NULL);
    HBITMAP canvas = CreateDIBSection(dc, &format, DIB_RGB_COLORS, (void **)&pixels, NULL, 0);
    HGDIOBJ old = SelectObject(dc, canvas);
    memset(pixels, 0, (size_t)width * (size_t)height * 4);
    DrawIconEx(dc, 0, 0, icon, width, height, 0, NULL, DI_NORMAL);
    GdiFlush();
    DWORD middle = pixels[(height / 2) * width + width / 2] & 0xFFFFFF;
    snprintf(text, sizeof text, ",\"%s\":[%d,%d,\"%06lX\"]", key, width, height, (unsigned long)middle);
    append("%s", text);
    SelectObject(dc, old);
    DeleteObject(canvas);
    DeleteDC(dc);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR ansi_arguments, int show)
{
    (void)instance; (void)previous; (void)ansi_arguments; (void)show;
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == NULL || count != 3) return 2;
    strcpy(line, "{\"verinfo\":1");
    append_version(arguments[1]);
    char text[48];
    snprintf(text, sizeof text, ",\"icons\":%u", ExtractIconExW(arguments[1], -1, NULL, NULL, 0));
    append("%s", text);
    HICON large = NULL, small = NULL;
    ExtractIconExW(arguments[1], 0, &large, &small, 1);
    append_icon("large", large);
    append_icon("small", small);
    /* Each size on its own: ExtractIconEx may scale the small icon from the large one. */
    static const int sizes[] = {16, 32, 48, 256};
    for (size_t i = 0; i < sizeof sizes / sizeof sizes[0]; i++) {
        HICON icon = NULL;
        char key[16];
        snprintf(key, sizeof key, "size%d", sizes[i]);
        PrivateExtractIconsW(arguments[1], 0, sizes[i], sizes[i], &icon, NULL, 1, 0);
        append_icon(key, icon);
        if (icon) DestroyIcon(icon);
    }
    append("%s", "}\n");
    HANDLE log = CreateFileW(arguments[2], GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (log == INVALID_HANDLE_VALUE) return 1;
    DWORD written;
    WriteFile(log, line, (DWORD)strlen(line), &written, NULL);
    CloseHandle(log);
    return 0;
}
