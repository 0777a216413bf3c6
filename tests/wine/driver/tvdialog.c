/* tvdialog.exe: a small ANSI dialog that behaves like the stub's main dialog where the
 * bench has to observe or drive it. Used only by the bench's own tests.
 *
 * - texts with umlauts set at run time (code page 1252 bytes), a folder field 106 and an
 *   overwrite check box 102;
 * - OK shows "Ordner: <field>, Haken: <0|1>" with the information icon and then ends with
 *   exit code 10 + check state;
 * - Work (3) runs a busy loop that pumps messages like the stub's extraction does and turns
 *   a click or key aimed at the dialog into the question "Abbrechen?"; Yes ends with 3;
 * - Cancel ends with 2;
 * - a pure red square at client pixels MARK_LEFT..MARK_LEFT+MARK_SIZE, MARK_TOP.. so a
 *   screenshot can be checked pixel by pixel. */
#include <windows.h>

#include <stdio.h>

#include "tvdialog.h"

enum { MARK_LEFT = 10, MARK_TOP = 10, MARK_SIZE = 30 };
enum { WORK_MS = 10000, EXIT_OK_BASE = 10, EXIT_WORK_CANCELLED = 3 };

static const char caption[] = "Bench Dialog";

static void dialog_on_init(HWND dialog)
{
    SetDlgItemTextA(dialog, IDC_PROMPT, "Bitte Ordner w\xE4hlen:");
    SetDlgItemTextA(dialog, IDC_FOLDER, "C:\\Temp");
    SetDlgItemTextA(dialog, IDC_OVERWRITE, "Dateien ohne &R\xFC" "ckfrage \xFC" "berschreiben");
}

static void dialog_on_ok(HWND dialog)
{
    char folder[261], text[400];
    int checked = IsDlgButtonChecked(dialog, IDC_OVERWRITE) == BST_CHECKED;
    GetDlgItemTextA(dialog, IDC_FOLDER, folder, sizeof folder);
    snprintf(text, sizeof text, "Ordner: %s, Haken: %d", folder, checked);
    MessageBoxA(dialog, text, caption, MB_OK | MB_ICONINFORMATION);
    EndDialog(dialog, EXIT_OK_BASE + checked);
}

/* Mouse and key input aimed at the dialog or one of its controls. */
static int is_user_input_for(HWND dialog, const MSG *msg)
{
    int input = msg->message == WM_LBUTTONDOWN || msg->message == WM_KEYDOWN;
    return input && (msg->hwnd == dialog || IsChild(dialog, msg->hwnd));
}

static void dialog_on_work(HWND dialog)
{
    MSG msg;
    DWORD start = GetTickCount();
    SetDlgItemTextA(dialog, IDC_STATUS, "Arbeite...");
    while (GetTickCount() - start < WORK_MS) {
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (!is_user_input_for(dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            } else if (MessageBoxA(dialog, "Abbrechen?", caption,
                                   MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES) {
                EndDialog(dialog, EXIT_WORK_CANCELLED);
                return;
            }
        }
        Sleep(10);
    }
    SetDlgItemTextA(dialog, IDC_STATUS, "Fertig");
}

static void dialog_on_paint(HWND dialog)
{
    PAINTSTRUCT paint;
    RECT mark = { MARK_LEFT, MARK_TOP, MARK_LEFT + MARK_SIZE, MARK_TOP + MARK_SIZE };
    HDC dc = BeginPaint(dialog, &paint);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &mark, red);
    DeleteObject(red);
    EndPaint(dialog, &paint);
}

/* Matches the whole wParam like the stub does: all commands here are clicks (code 0). */
static INT_PTR CALLBACK test_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    (void)lparam;
    switch (message) {
    case WM_INITDIALOG: dialog_on_init(dialog); return TRUE;
    case WM_PAINT: dialog_on_paint(dialog); return TRUE;
    case WM_COMMAND:
        switch (wparam) {
        case IDOK: dialog_on_ok(dialog); return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        case IDC_WORK: dialog_on_work(dialog); return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show)
{
    (void)previous; (void)arguments; (void)show;
    return (int)DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_TEST), NULL, test_dialog_proc, 0);
}
