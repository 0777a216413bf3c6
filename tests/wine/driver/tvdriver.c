/* tvdriver.exe: drives one program under test for the Wine test bench.
 *
 * Reads one command per line on standard input and answers each with one JSON line on
 * standard output ({"ok":true,...} or {"ok":false,"error":...}). Tokens are blank-separated;
 * a token starting with a double quote is a JSON string literal. Commands:
 *
 *   hello                              code pages and screen size of this Wine session
 *   setenv NAME VALUE | unsetenv NAME  environment of the next child
 *   start CWD EXE [ARGS]               runs "EXE" ARGS in folder CWD; answers the pid
 *   start_raw CWD EXE CMDLINE          the same with a command line taken verbatim
 *   windows                            every top-level window of the child, with controls
 *   wait MS COND...                    first top-level window matching all conditions:
 *                                      caption=T caption~T class=C msgbox control=ID
 *                                      visible hidden enabled hwnd=H exclude=H; a
 *                                      leading ! negates one
 *   wait_gone HWND MS                  until the window no longer exists
 *   text HWND ID                       one control's text (ID 0: the window itself)
 *   click HWND ID                      posts BM_CLICK
 *   settext HWND ID TEXT               sends WM_SETTEXT
 *   check HWND ID 0|1                  sends BM_SETCHECK
 *   key HWND ID VK                     posts WM_KEYDOWN and WM_KEYUP
 *   lbuttondown HWND ID [X Y]          posts WM_LBUTTONDOWN and WM_LBUTTONUP (client point)
 *   close HWND                         posts WM_CLOSE
 *   capture HWND PATH                  screenshot of the window as a 24-bit BMP
 *   send HWND ID MSG [WPARAM [LPARAM]] sends a message with a time-out; answers its result
 *   show HWND ID 0|1                   hides or shows a window or control
 *   move HWND ID X Y [W H]             moves (and sizes) a window or control; X Y are
 *                                      screen pixels for a window, client pixels of
 *                                      the parent for a control
 *   keyboard VK 0|1                    real key input (SendInput) up or down, so the
 *                                      foreground program's GetKeyState sees it
 *   syscolor INDEX                     GetSysColor as "rgb":[r,g,b]
 *   text_extent HWND ID FACE PT TEXT   size of TEXT as the control draws it in a font of
 *                                      face FACE, PT points high: measured in the
 *                                      control's own device context
 *   volume ROOT                        drive type, label and serial of a drive ("A:\\")
 *   mount LETTER UNIXPATH              (re)defines a removable drive on a Unix folder
 *   wait_exit MS | kill | quit
 *
 * Clicks, keys and WM_CLOSE are posted, never sent, so the driver cannot block in a modal
 * loop that the input opens; texts and check states are sent with a time-out. End of input
 * (or quit) kills a child that is still running. */
#include "driver.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

enum { POLL_MS = 20, LINE_CAPACITY = 65536, SEND_TIMEOUT_MS = 2000, ANSWER_WAIT_MS = 2000 };
/* Exit code of a killed child: not 0 to 3 (the stub's codes) and not STILL_ACTIVE (259). */
enum { KILLED_EXIT_CODE = 260 };

static PROCESS_INFORMATION child;

/* ---- argument helpers --------------------------------------------------------------------- */

static int number_arg(const Command *cmd, int index, long long *value)
{
    return index < cmd->count && parse_number(cmd->token[index], value);
}

static HWND hwnd_arg(const Command *cmd, int index)
{
    long long value;
    if (!number_arg(cmd, index, &value)) return NULL;
    HWND window = (HWND)(UINT_PTR)value;
    return IsWindow(window) ? window : NULL;
}

/* The control named by HWND ID; ID 0 is the window itself. */
static HWND control_arg(const Command *cmd, int index)
{
    long long id;
    HWND window = hwnd_arg(cmd, index);
    if (window == NULL || !number_arg(cmd, index + 1, &id)) return NULL;
    return id == 0 ? window : GetDlgItem(window, (int)id);
}

static void answer_ok(void)
{
    json_reset();
    json_open_object(NULL);
    json_bool("ok", 1);
    json_close_object();
    json_emit();
}

static int child_running(void)
{
    return child.hProcess && WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT;
}

static DWORD child_exit_code(void)
{
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    return code;
}

/* ---- process commands --------------------------------------------------------------------- */

static void cmd_hello(const Command *cmd)
{
    (void)cmd;
    json_open_object(NULL);
    json_bool("ok", 1);
    json_int("acp", GetACP());
    json_int("oemcp", GetOEMCP());
    json_int("ui_language", GetUserDefaultUILanguage());
    json_int("screen_width", GetSystemMetrics(SM_CXSCREEN));
    json_int("screen_height", GetSystemMetrics(SM_CYSCREEN));
    json_close_object();
    json_emit();
}

static void cmd_setenv(const Command *cmd)
{
    if (cmd->count < 2) { answer_error("usage: setenv NAME [VALUE]"); return; }
    const wchar_t *value = cmd->count > 2 ? cmd->token[2] : NULL;
    if (!SetEnvironmentVariableW(cmd->token[1], value)) { answer_error("SetEnvironmentVariable failed"); return; }
    answer_ok();
}

static void release_child(void)
{
    if (child.hProcess) CloseHandle(child.hProcess);
    if (child.hThread) CloseHandle(child.hThread);
    memset(&child, 0, sizeof child);
}

/* command_line is modified by CreateProcessW, so it is a private copy. */
static void launch(const wchar_t *cwd, const wchar_t *exe, wchar_t *command_line)
{
    STARTUPINFOW startup;
    if (child_running()) { free(command_line); answer_error("a child is still running"); return; }
    release_child();
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    BOOL started = CreateProcessW(exe, command_line, NULL, NULL, FALSE, 0, NULL, cwd, &startup, &child);
    DWORD error = GetLastError();
    free(command_line);
    if (!started) {
        char text[64];
        snprintf(text, sizeof text, "CreateProcess failed, error %lu", (unsigned long)error);
        answer_error(text);
        return;
    }
    json_open_object(NULL);
    json_bool("ok", 1);
    json_int("pid", child.dwProcessId);
    json_close_object();
    json_emit();
}

static void cmd_start(const Command *cmd)
{
    if (cmd->count < 3) { answer_error("usage: start CWD EXE [ARGS]"); return; }
    const wchar_t *exe = cmd->token[2];
    const wchar_t *args = cmd->count > 3 ? cmd->token[3] : NULL;
    size_t length = wcslen(exe) + (args ? wcslen(args) : 0) + 4;
    wchar_t *command_line = malloc(length * sizeof(wchar_t));
    if (!command_line) { answer_error("out of memory"); return; }
    if (args) swprintf(command_line, length, L"\"%ls\" %ls", exe, args);
    else swprintf(command_line, length, L"\"%ls\"", exe);
    launch(cmd->token[1], exe, command_line);
}

static void cmd_start_raw(const Command *cmd)
{
    if (cmd->count != 4) { answer_error("usage: start_raw CWD EXE CMDLINE"); return; }
    launch(cmd->token[1], cmd->token[2], _wcsdup(cmd->token[3]));
}

static void answer_exit_code(void)
{
    json_open_object(NULL);
    json_bool("ok", 1);
    json_int("exit_code", child_exit_code());
    json_close_object();
    json_emit();
}

static void cmd_wait_exit(const Command *cmd)
{
    long long timeout;
    if (!number_arg(cmd, 1, &timeout)) { answer_error("usage: wait_exit MS"); return; }
    if (!child.hProcess) { answer_error("no child"); return; }
    if (WaitForSingleObject(child.hProcess, (DWORD)timeout) != WAIT_OBJECT_0) {
        json_open_object(NULL);
        json_bool("ok", 0);
        json_utf8("error", "timeout");
        describe_windows("windows", child.dwProcessId);
        json_close_object();
        json_emit();
        return;
    }
    answer_exit_code();
}

static void kill_child(void)
{
    if (!child_running()) return;
    TerminateProcess(child.hProcess, KILLED_EXIT_CODE);
    WaitForSingleObject(child.hProcess, 5000);
}

static void cmd_kill(const Command *cmd)
{
    (void)cmd;
    if (!child.hProcess) { answer_error("no child"); return; }
    kill_child();
    answer_exit_code();
}

/* ---- window queries ----------------------------------------------------------------------- */

static void cmd_windows(const Command *cmd)
{
    (void)cmd;
    if (!child.hProcess) { answer_error("no child"); return; }
    json_open_object(NULL);
    json_bool("ok", 1);
    json_bool("running", child_running());
    describe_windows("windows", child.dwProcessId);
    json_close_object();
    json_emit();
}

/* A wait condition split into its name, its operator ('=', '~' or 0) and its value. */
typedef struct {
    wchar_t name[16];
    wchar_t op;
    const wchar_t *value;
} Condition;

static int split_condition(const wchar_t *text, Condition *condition)
{
    size_t length = wcscspn(text, L"=~");
    if (length >= 16) return 0;
    wmemcpy(condition->name, text, length);
    condition->name[length] = 0;
    condition->op = text[length];
    condition->value = condition->op ? text + length + 1 : NULL;
    return 1;
}

static int text_matches(const wchar_t *text, const Condition *condition)
{
    if (condition->op == L'=') return wcscmp(text, condition->value) == 0;
    return wcsstr(text, condition->value) != NULL;
}

/* Conditions that compare a window handle or a control id with a number. */
static int number_condition_holds(HWND window, const Condition *condition)
{
    long long number;
    if (condition->op != L'=' || !parse_number(condition->value, &number)) return -1;
    if (wcscmp(condition->name, L"control") == 0) return GetDlgItem(window, (int)number) != NULL;
    if (wcscmp(condition->name, L"hwnd") == 0) return window == (HWND)(UINT_PTR)number;
    if (wcscmp(condition->name, L"exclude") == 0) return window != (HWND)(UINT_PTR)number;
    return -1;
}

/* 1 when window meets the condition, 0 when not, -1 when the condition is malformed. */
static int condition_holds(HWND window, const wchar_t *text)
{
    static wchar_t buffer[4096];
    Condition condition;
    if (!split_condition(text, &condition)) return -1;
    if (condition.op == 0) {
        if (wcscmp(condition.name, L"visible") == 0) return IsWindowVisible(window) != 0;
        if (wcscmp(condition.name, L"hidden") == 0) return !IsWindowVisible(window);
        if (wcscmp(condition.name, L"enabled") == 0) return IsWindowEnabled(window) != 0;
        if (wcscmp(condition.name, L"msgbox") == 0) return is_message_box(window);
        return -1;
    }
    if (wcscmp(condition.name, L"caption") == 0) {
        InternalGetWindowText(window, buffer, 4096);
        return text_matches(buffer, &condition);
    }
    if (wcscmp(condition.name, L"class") == 0) {
        if (!GetClassNameW(window, buffer, 4096)) return 0;
        return condition.op == L'=' ? _wcsicmp(buffer, condition.value) == 0
                                    : text_matches(buffer, &condition);
    }
    return number_condition_holds(window, &condition);
}

/* 1 when window meets every condition from token first on, 0 when not, -1 for a bad one.
 * A leading "!" negates a condition ("!msgbox": a dialog that is not a message box). */
static int window_matches(HWND window, const Command *cmd, int first)
{
    for (int i = first; i < cmd->count; i++) {
        const wchar_t *condition = cmd->token[i];
        int negate = condition[0] == L'!';
        int holds = condition_holds(window, condition + negate);
        if (holds < 0) return -1;
        if (holds == negate) return 0;
    }
    return 1;
}

static void answer_wait_failure(const char *reason)
{
    json_reset();
    json_open_object(NULL);
    json_bool("ok", 0);
    json_utf8("error", reason);
    json_bool("running", child_running());
    if (!child_running()) json_int("exit_code", child_exit_code());
    describe_windows("windows", child.dwProcessId);
    json_close_object();
    json_emit();
}

/* Returns the matching window, NULL when none, INVALID_HANDLE_VALUE for a bad condition. */
static HWND find_matching_window(const Command *cmd)
{
    HWND found[MAX_WINDOWS];
    int count = list_child_windows(child.dwProcessId, found, MAX_WINDOWS);
    for (int i = 0; i < count; i++) {
        int match = window_matches(found[i], cmd, 2);
        if (match < 0) return INVALID_HANDLE_VALUE;
        if (match) return found[i];
    }
    return NULL;
}

static DWORD min_ms(DWORD a, DWORD b) { return a < b ? a : b; }

/* A window that has just appeared may still be painting for the first time (under the i386
 * emulator, which translates that code on first use, a second or more): its control texts are
 * read once its thread answers a message, so the description shows them and not the empty
 * captions the busy fallback would give. A thread that stays busy (an extraction that does
 * not pump messages) delays the answer by at most a few seconds. */
static void wait_until_answering(HWND window, DWORD remaining_ms)
{
    DWORD_PTR unused;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, min_ms(remaining_ms, scaled_timeout(ANSWER_WAIT_MS)),
                        &unused);
}

static void cmd_wait(const Command *cmd)
{
    long long timeout;
    if (!number_arg(cmd, 1, &timeout)) { answer_error("usage: wait MS COND..."); return; }
    if (!child.hProcess) { answer_error("no child"); return; }
    DWORD start = GetTickCount();
    for (;;) {
        /* Checked before the search, so a window that appeared just before the exit counts. */
        int exited = !child_running();
        HWND window = find_matching_window(cmd);
        if (window == INVALID_HANDLE_VALUE) { answer_error("bad wait condition"); return; }
        if (window) {
            wait_until_answering(window, (DWORD)timeout - min_ms(GetTickCount() - start, (DWORD)timeout));
            json_open_object(NULL);
            json_bool("ok", 1);
            describe_window("window", window);
            json_close_object();
            json_emit();
            return;
        }
        if (exited) { answer_wait_failure("exited"); return; }
        if (GetTickCount() - start >= (DWORD)timeout) { answer_wait_failure("timeout"); return; }
        Sleep(POLL_MS);
    }
}

static void cmd_wait_gone(const Command *cmd)
{
    long long value, timeout;
    if (!number_arg(cmd, 1, &value) || !number_arg(cmd, 2, &timeout)) {
        answer_error("usage: wait_gone HWND MS");
        return;
    }
    HWND window = (HWND)(UINT_PTR)value;
    DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start >= (DWORD)timeout) { answer_wait_failure("timeout"); return; }
        Sleep(POLL_MS);
    }
    answer_ok();
}

static void cmd_text(const Command *cmd)
{
    static wchar_t text[4096];
    HWND control = control_arg(cmd, 1);
    if (!control) { answer_error("no such window or control"); return; }
    int busy = 0;
    int length = read_control_text(control, text, 4096, &busy);
    json_open_object(NULL);
    json_bool("ok", 1);
    json_wide("text", text, length);
    json_close_object();
    json_emit();
}

/* ---- input -------------------------------------------------------------------------------- */

static void cmd_click(const Command *cmd)
{
    HWND control = control_arg(cmd, 1);
    if (!control) { answer_error("no such window or control"); return; }
    PostMessageW(control, BM_CLICK, 0, 0);
    answer_ok();
}

static void cmd_settext(const Command *cmd)
{
    DWORD_PTR result;
    HWND control = control_arg(cmd, 1);
    if (!control || cmd->count != 4) { answer_error("usage: settext HWND ID TEXT"); return; }
    if (!send_within(control, WM_SETTEXT, 0, (LPARAM)cmd->token[3], SEND_TIMEOUT_MS, &result) || !result) {
        answer_error("WM_SETTEXT failed");
        return;
    }
    answer_ok();
}

static void cmd_check(const Command *cmd)
{
    DWORD_PTR result;
    long long state;
    HWND control = control_arg(cmd, 1);
    if (!control || !number_arg(cmd, 3, &state)) { answer_error("usage: check HWND ID 0|1"); return; }
    if (!send_within(control, BM_SETCHECK, (WPARAM)state, 0, SEND_TIMEOUT_MS, &result)) {
        answer_error("BM_SETCHECK failed");
        return;
    }
    answer_ok();
}

static void cmd_key(const Command *cmd)
{
    long long vk;
    HWND control = control_arg(cmd, 1);
    if (!control || !number_arg(cmd, 3, &vk)) { answer_error("usage: key HWND ID VK"); return; }
    LPARAM scan = (LPARAM)MapVirtualKeyW((UINT)vk, MAPVK_VK_TO_VSC) << 16;
    PostMessageW(control, WM_KEYDOWN, (WPARAM)vk, scan | 1);
    PostMessageW(control, WM_KEYUP, (WPARAM)vk, scan | 1 | 0xC0000000);
    answer_ok();
}

static void cmd_lbuttondown(const Command *cmd)
{
    RECT client;
    long long x, y;
    HWND control = control_arg(cmd, 1);
    if (!control) { answer_error("usage: lbuttondown HWND ID [X Y]"); return; }
    GetClientRect(control, &client);
    if (!number_arg(cmd, 3, &x) || !number_arg(cmd, 4, &y)) {
        x = client.right / 2;
        y = client.bottom / 2;
    }
    PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((int)x, (int)y));
    PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM((int)x, (int)y));
    answer_ok();
}

static void cmd_close(const Command *cmd)
{
    HWND window = hwnd_arg(cmd, 1);
    if (!window) { answer_error("no such window"); return; }
    PostMessageW(window, WM_CLOSE, 0, 0);
    answer_ok();
}

static void cmd_capture(const Command *cmd)
{
    int width, height;
    HWND window = hwnd_arg(cmd, 1);
    if (!window || cmd->count != 3) { answer_error("usage: capture HWND PATH"); return; }
    DWORD *pixels = grab_window_pixels(window, &width, &height);
    if (!pixels) { answer_error("screen copy failed"); return; }
    int written = write_bmp(cmd->token[2], pixels, width, height);
    free(pixels);
    if (!written) { answer_error("cannot write the BMP file"); return; }
    json_open_object(NULL);
    json_bool("ok", 1);
    json_int("width", width);
    json_int("height", height);
    json_close_object();
    json_emit();
}

/* ---- messages, key state, system metrics ---------------------------------------------------- */

static void answer_number(const char *key, long long value)
{
    json_open_object(NULL);
    json_bool("ok", 1);
    json_int(key, value);
    json_close_object();
    json_emit();
}

/* Private messages of the program under test (such as a custom control's WM_USER requests)
 * carry plain numbers; pointers into another process would be meaningless. */
static void cmd_send(const Command *cmd)
{
    long long message, wparam = 0, lparam = 0;
    DWORD_PTR result;
    HWND control = control_arg(cmd, 1);
    if (!control || !number_arg(cmd, 3, &message) || (cmd->count > 4 && !number_arg(cmd, 4, &wparam)) ||
        (cmd->count > 5 && !number_arg(cmd, 5, &lparam))) {
        answer_error("usage: send HWND ID MSG [WPARAM [LPARAM]]");
        return;
    }
    if (!send_within(control, (UINT)message, (WPARAM)wparam, (LPARAM)lparam, SEND_TIMEOUT_MS, &result)) {
        answer_error("message not answered");
        return;
    }
    answer_number("result", (long long)result);
}

static void cmd_show(const Command *cmd)
{
    long long shown;
    HWND control = control_arg(cmd, 1);
    if (!control || !number_arg(cmd, 3, &shown)) { answer_error("usage: show HWND ID 0|1"); return; }
    ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
    answer_ok();
}

static void cmd_move(const Command *cmd)
{
    long long x, y, width = 0, height = 0;
    HWND control = control_arg(cmd, 1);
    int sized = cmd->count == 7;
    if (!control || !number_arg(cmd, 3, &x) || !number_arg(cmd, 4, &y) ||
        (sized && (!number_arg(cmd, 5, &width) || !number_arg(cmd, 6, &height)))) {
        answer_error("usage: move HWND ID X Y [W H]");
        return;
    }
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | (sized ? 0 : SWP_NOSIZE);
    if (!SetWindowPos(control, NULL, (int)x, (int)y, (int)width, (int)height, flags)) {
        answer_error("SetWindowPos failed");
        return;
    }
    answer_ok();
}

/* Posted WM_KEYDOWN reaches a window but not the key state that GetKeyState reads; input
 * through SendInput goes to the foreground thread like a real key press. */
static void cmd_keyboard(const Command *cmd)
{
    long long vk, down;
    INPUT input;
    if (!number_arg(cmd, 1, &vk) || !number_arg(cmd, 2, &down)) { answer_error("usage: keyboard VK 0|1"); return; }
    memset(&input, 0, sizeof input);
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = (WORD)vk;
    input.ki.wScan = (WORD)MapVirtualKeyW((UINT)vk, MAPVK_VK_TO_VSC);
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    if (SendInput(1, &input, sizeof input) != 1) { answer_error("SendInput failed"); return; }
    answer_ok();
}

static void cmd_syscolor(const Command *cmd)
{
    long long index;
    if (!number_arg(cmd, 1, &index)) { answer_error("usage: syscolor INDEX"); return; }
    COLORREF colour = GetSysColor((int)index);
    json_open_object(NULL);
    json_bool("ok", 1);
    json_open_array("rgb");
    json_int(NULL, GetRValue(colour));
    json_int(NULL, GetGValue(colour));
    json_int(NULL, GetBValue(colour));
    json_close_array();
    json_close_object();
    json_emit();
}

/* Measures in a device context of the control itself, with the font made as the meter makes
 * its own: a LOGFONT with the face and -(points x LOGPIXELSY) / 72 (truncated) as height, all
 * else 0. The control's DC has the screen's depth, so the glyphs are rendered and measured
 * with the anti-aliasing and hinting the control paints with; a memory DC is one bit deep
 * and gets monochrome glyphs instead. */
static void cmd_text_extent(const Command *cmd)
{
    long long points;
    LOGFONTW font;
    SIZE size;
    HWND control = control_arg(cmd, 1);
    if (cmd->count != 6 || !control || !number_arg(cmd, 4, &points) || wcslen(cmd->token[3]) >= LF_FACESIZE) {
        answer_error("usage: text_extent HWND ID FACE POINTS TEXT");
        return;
    }
    HDC dc = GetDC(control);
    if (!dc) { answer_error("GetDC failed"); return; }
    memset(&font, 0, sizeof font);
    font.lfHeight = -((LONG)points * GetDeviceCaps(dc, LOGPIXELSY)) / 72;
    wcscpy(font.lfFaceName, cmd->token[3]);
    HFONT handle = CreateFontIndirectW(&font);
    HGDIOBJ previous = SelectObject(dc, handle);
    BOOL measured = GetTextExtentPoint32W(dc, cmd->token[5], (int)wcslen(cmd->token[5]), &size);
    SelectObject(dc, previous);
    DeleteObject(handle);
    ReleaseDC(control, dc);
    if (!measured) { answer_error("GetTextExtentPoint32 failed"); return; }
    json_open_object(NULL);
    json_bool("ok", 1);
    json_int("width", size.cx);
    json_int("height", size.cy);
    json_close_object();
    json_emit();
}

/* ---- drives ------------------------------------------------------------------------------- */

static void cmd_volume(const Command *cmd)
{
    wchar_t label[MAX_PATH + 1];
    DWORD serial = 0;
    if (cmd->count != 2) { answer_error("usage: volume ROOT"); return; }
    UINT type = GetDriveTypeW(cmd->token[1]);
    BOOL known = GetVolumeInformationW(cmd->token[1], label, MAX_PATH + 1, &serial, NULL, NULL, NULL, 0);
    json_open_object(NULL);
    json_bool("ok", 1);
    json_int("type", type);
    json_bool("ready", known);
    json_wide("label", known ? label : L"", -1);
    json_int("serial", known ? serial : 0);
    json_close_object();
    json_emit();
}

/* Wine's own extension of the mount manager (its include/ddk/mountmgr.h, under
 * WINE_MOUNTMGR_EXTENSIONS), the request winecfg uses to define a drive. */
#define WINE_MOUNTMGR_DEVICE L"\\\\.\\MountPointManager"
#define WINE_IOCTL_DEFINE_UNIX_DRIVE CTL_CODE(0x6D, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)

typedef struct {
    ULONG size;
    ULONG type; /* a DRIVE_* value */
    ULONG fs_type;
    DWORD serial;
    ULONGLONG unix_dev;
    WCHAR letter;
    USHORT mount_point_offset; /* Unix path, NUL-terminated, after the record */
    USHORT device_offset;
    USHORT label_offset;
} WineUnixDrive;

/* The mount manager reads a drive's .windows-label only when the drive is defined, so a
 * floppy swap must redefine the drive rather than just re-point the dosdevices link. */
static void cmd_mount(const Command *cmd)
{
    static char request[sizeof(WineUnixDrive) + 4 * MAX_PATH];
    WineUnixDrive *drive = (WineUnixDrive *)request;
    char *mount_point = request + sizeof(WineUnixDrive);
    DWORD returned;
    if (cmd->count != 3 || wcslen(cmd->token[1]) < 1) { answer_error("usage: mount LETTER UNIXPATH"); return; }
    memset(request, 0, sizeof request);
    if (!WideCharToMultiByte(CP_UTF8, 0, cmd->token[2], -1, mount_point, 4 * MAX_PATH - 1, NULL, NULL)) {
        answer_error("path too long");
        return;
    }
    drive->size = (ULONG)(sizeof(WineUnixDrive) + strlen(mount_point) + 1);
    drive->type = DRIVE_REMOVABLE;
    drive->letter = cmd->token[1][0];
    drive->mount_point_offset = sizeof(WineUnixDrive);
    HANDLE manager = CreateFileW(WINE_MOUNTMGR_DEVICE, GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (manager == INVALID_HANDLE_VALUE) { answer_error("no mount manager"); return; }
    BOOL defined = DeviceIoControl(manager, WINE_IOCTL_DEFINE_UNIX_DRIVE, request, drive->size,
                                   NULL, 0, &returned, NULL);
    CloseHandle(manager);
    if (!defined) { answer_error("drive definition refused"); return; }
    answer_ok();
}

/* ---- main loop ---------------------------------------------------------------------------- */

typedef struct {
    const wchar_t *name;
    void (*run)(const Command *cmd);
} CommandEntry;

static const CommandEntry commands[] = {
    { L"hello", cmd_hello },         { L"setenv", cmd_setenv },
    { L"unsetenv", cmd_setenv },     { L"start", cmd_start },
    { L"start_raw", cmd_start_raw }, { L"wait_exit", cmd_wait_exit },
    { L"kill", cmd_kill },           { L"windows", cmd_windows },
    { L"wait", cmd_wait },           { L"wait_gone", cmd_wait_gone },
    { L"text", cmd_text },           { L"click", cmd_click },
    { L"settext", cmd_settext },     { L"check", cmd_check },
    { L"key", cmd_key },             { L"lbuttondown", cmd_lbuttondown },
    { L"close", cmd_close },         { L"capture", cmd_capture },
    { L"volume", cmd_volume },       { L"mount", cmd_mount },
    { L"send", cmd_send },           { L"show", cmd_show },
    { L"keyboard", cmd_keyboard },   { L"syscolor", cmd_syscolor },
    { L"text_extent", cmd_text_extent }, { L"move", cmd_move },
};

static void run_line(char *line)
{
    static wchar_t wide[LINE_CAPACITY];
    Command cmd;
    if (!MultiByteToWideChar(CP_UTF8, 0, line, -1, wide, LINE_CAPACITY)) { answer_error("bad UTF-8"); return; }
    if (!split_command(wide, &cmd)) { answer_error("bad quoting"); return; }
    if (cmd.count == 0) { answer_error("empty command"); return; }
    for (size_t i = 0; i < sizeof commands / sizeof commands[0]; i++) {
        if (wcscmp(cmd.token[0], commands[i].name) == 0) {
            json_reset();
            commands[i].run(&cmd);
            return;
        }
    }
    answer_error("unknown command");
}

int main(void)
{
    static char line[LINE_CAPACITY];
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    while (fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\r\n")] = 0;
        if (strncmp(line, "quit", 4) == 0) break;
        run_line(line);
    }
    kill_child();
    release_child();
    return 0;
}
