/* Finding and describing the windows of the program under test. */
#include "driver.h"

#include <stdlib.h>
#include <wchar.h>

/* A message box is a dialog (#32770) whose text is the static control with this id. Its
 * icon is the static control of type SS_ICON: Windows gives it id 0x14, Wine 8 id 0x440. */
enum { BOX_TEXT_ID = 0xFFFF };

/* Longest text read from a control: the stub's longest texts are about 520 characters. */
enum { TEXT_CAPACITY = 4096 };

/* How long a WM_GETTEXT may take. The program under test pumps messages between writes even
 * while it extracts; one that does not answer in this time is busy, and the rest of the
 * description then uses the captions stored with the windows (no message needed). */
enum { SEND_TIMEOUT_MS = 400 };

UINT scaled_timeout(UINT ms)
{
    static UINT factor;
    if (!factor) {
        wchar_t text[16];
        DWORD length = GetEnvironmentVariableW(L"TVDRIVER_TIME_FACTOR", text, 16);
        factor = length > 0 && length < 16 ? (UINT)_wtoi(text) : 0;
        if (!factor) factor = 1;
    }
    return ms * factor;
}

int send_within(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT ms, DWORD_PTR *result)
{
    return SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, scaled_timeout(ms), result) != 0;
}

/* Set once a send timed out while one window is described. */
static int owner_busy;

typedef struct {
    DWORD pid;
    HWND *found;
    int count;
    int capacity;
} WindowList;

static void class_of(HWND window, wchar_t *name, int capacity)
{
    if (!GetClassNameW(window, name, capacity)) name[0] = 0;
}

/* The input method windows that the system adds to every GUI thread are not the program's. */
static int is_system_helper(HWND window)
{
    wchar_t class_name[32];
    class_of(window, class_name, 32);
    return wcscmp(class_name, L"IME") == 0 || wcscmp(class_name, L"MSCTFIME UI") == 0;
}

static BOOL CALLBACK collect_top_level(HWND window, LPARAM param)
{
    WindowList *list = (WindowList *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != list->pid || list->count == list->capacity || is_system_helper(window)) return TRUE;
    list->found[list->count++] = window;
    return TRUE;
}

int list_child_windows(DWORD pid, HWND *found, int capacity)
{
    WindowList list = { pid, found, 0, capacity };
    EnumWindows(collect_top_level, (LPARAM)&list);
    return list.count;
}

int read_control_text(HWND control, wchar_t *text, int capacity, int *busy)
{
    DWORD_PTR length = 0;
    text[0] = 0;
    if (!*busy) {
        if (send_within(control, WM_GETTEXT, (WPARAM)capacity, (LPARAM)text, SEND_TIMEOUT_MS, &length))
            return (int)length;
        *busy = 1;
    }
    return InternalGetWindowText(control, text, capacity);
}

/* BM_GETCHECK is meaningful only for check boxes and radio buttons. */
static int is_checkable(HWND control, const wchar_t *class_name)
{
    LONG type = GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
    if (_wcsicmp(class_name, L"Button") != 0) return 0;
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
           type == BS_AUTO3STATE || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

static void describe_common(HWND window, const wchar_t *class_name)
{
    RECT rect;
    GetWindowRect(window, &rect);
    json_int("hwnd", (long long)(UINT_PTR)window);
    json_wide("class", class_name, -1);
    json_int("style", (long long)(DWORD)GetWindowLongW(window, GWL_STYLE));
    json_int("exstyle", (long long)(DWORD)GetWindowLongW(window, GWL_EXSTYLE));
    json_bool("visible", IsWindowVisible(window));
    json_bool("enabled", IsWindowEnabled(window));
    json_rect("rect", &rect);
}

static void describe_control(HWND control)
{
    static wchar_t text[TEXT_CAPACITY];
    wchar_t class_name[256];
    class_of(control, class_name, 256);
    json_open_object(NULL);
    describe_common(control, class_name);
    json_int("id", GetDlgCtrlID(control));
    json_int("parent", (long long)(UINT_PTR)GetParent(control));
    int length = read_control_text(control, text, TEXT_CAPACITY, &owner_busy);
    json_wide("text", text, length);
    if (is_checkable(control, class_name)) {
        DWORD_PTR state = 0;
        if (!owner_busy && send_within(control, BM_GETCHECK, 0, 0, SEND_TIMEOUT_MS, &state))
            json_int("checked", (long long)state);
    }
    json_close_object();
}

static BOOL CALLBACK describe_each_control(HWND control, LPARAM unused)
{
    (void)unused;
    describe_control(control);
    return TRUE;
}

int is_message_box(HWND window)
{
    wchar_t class_name[16];
    class_of(window, class_name, 16);
    return wcscmp(class_name, L"#32770") == 0 && GetDlgItem(window, BOX_TEXT_ID) != NULL;
}

static BOOL CALLBACK describe_box_button(HWND control, LPARAM unused)
{
    wchar_t class_name[16];
    static wchar_t text[TEXT_CAPACITY];
    (void)unused;
    class_of(control, class_name, 16);
    if (_wcsicmp(class_name, L"Button") != 0 || !IsWindowVisible(control)) return TRUE;
    json_open_object(NULL);
    json_int("id", GetDlgCtrlID(control));
    int length = read_control_text(control, text, TEXT_CAPACITY, &owner_busy);
    json_wide("text", text, length);
    json_close_object();
    return TRUE;
}

static BOOL CALLBACK find_icon_static(HWND control, LPARAM param)
{
    wchar_t class_name[16];
    class_of(control, class_name, 16);
    if (_wcsicmp(class_name, L"Static") != 0) return TRUE;
    if ((GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) return TRUE;
    *(HWND *)param = control;
    return FALSE;
}

/* Text, visible buttons (in creation order) and the system icon of a message box. */
static void describe_box(HWND box)
{
    static wchar_t text[TEXT_CAPACITY];
    json_open_object("msgbox");
    int length = read_control_text(GetDlgItem(box, BOX_TEXT_ID), text, TEXT_CAPACITY, &owner_busy);
    json_wide("text", text, length);
    json_open_array("buttons");
    EnumChildWindows(box, describe_box_button, 0);
    json_close_array();
    HWND icon = NULL;
    EnumChildWindows(box, find_icon_static, (LPARAM)&icon);
    json_utf8("icon", identify_box_icon(icon));
    json_close_object();
}

void describe_window(const char *key, HWND window)
{
    wchar_t class_name[256];
    static wchar_t caption[TEXT_CAPACITY];
    class_of(window, class_name, 256);
    owner_busy = 0;
    json_open_object(key);
    describe_common(window, class_name);
    int length = InternalGetWindowText(window, caption, TEXT_CAPACITY);
    json_wide("caption", caption, length);
    json_int("owner", (long long)(UINT_PTR)GetWindow(window, GW_OWNER));
    RECT client;
    GetClientRect(window, &client);
    MapWindowPoints(window, NULL, (POINT *)&client, 2);
    json_rect("client", &client);
    json_bool("foreground", GetForegroundWindow() == window);
    if (is_message_box(window)) describe_box(window);
    json_open_array("controls");
    EnumChildWindows(window, describe_each_control, 0);
    json_close_array();
    json_bool("busy", owner_busy);
    json_close_object();
}

void describe_windows(const char *key, DWORD pid)
{
    HWND found[MAX_WINDOWS];
    int count = list_child_windows(pid, found, MAX_WINDOWS);
    json_open_array(key);
    for (int i = 0; i < count; i++)
        if (IsWindow(found[i])) describe_window(NULL, found[i]);
    json_close_array();
}
