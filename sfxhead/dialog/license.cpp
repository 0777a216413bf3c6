// The licence page. The text lies in the program's own file in front of the configuration block
// (the stub record says where), stored as raw Deflate in the code page of the other texts with
// CR LF line ends, as the multi-line edit control needs them.
#include "license.h"

#include "failure.h"
#include "globals.h"
#include "inflate.h"
#include "license_text.h"
#include "log.h"
#include "password.h"
#include "screen.h"

enum { LICENSE_ACCEPTED = 1, LICENSE_DECLINED = 2 };

// The text, NUL-terminated, at the start of one local block that holds the stored form behind
// it. The decoder fills at most LICENSE_TEXT_CAPACITY bytes; a text that reaches the last of
// them (the builder's texts hold no NUL) is longer than any the builder writes: the file is
// damaged. After start-up archive_handle is the program's own file (on disk 1 when spanned).
static char* load_license_text()
{
    uint32_t size = stub_record.license_size;
    LONG offset = (LONG)stub_record.license_offset;
    char* text = size <= LICENSE_STORED_MAX ? (char*)LocalAlloc(LMEM_ZEROINIT, LICENSE_TEXT_CAPACITY + 1 + size) : NULL;
    uint8_t* stored = (uint8_t*)text + LICENSE_TEXT_CAPACITY + 1;
    if (text == NULL || _llseek(archive_handle, offset, FILE_BEGIN) != offset || _lread(archive_handle, stored, size) != size)
        fatal_header_error();
    inflate_memory(stored, size, (uint8_t*)text, LICENSE_TEXT_CAPACITY);
    if (text[LICENSE_TEXT_MAX] != '\0')
        fatal_header_error();
    return text;
}

// The text gets the focus, not a button: Enter then sends IDOK, which accepts nothing, and
// the keys scroll the text.
static void license_on_init(HWND dialog, const char* text)
{
    center_window(dialog);
    SetDlgItemTextA(dialog, LICENSE_TEXT_ID, text);
    SetFocus(GetDlgItem(dialog, LICENSE_TEXT_ID));
}

static INT_PTR CALLBACK license_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        license_on_init(dialog, (const char*)lparam);
        return FALSE;  // the focus is set
    case WM_COMMAND:
        // A button click carries notification code 0, so the whole wParam is the button id.
        if (wparam == LICENSE_ACCEPT_ID) {
            EndDialog(dialog, LICENSE_ACCEPTED);
            return TRUE;
        }
        if (wparam == IDCANCEL) {
            EndDialog(dialog, LICENSE_DECLINED);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

bool accept_license()
{
    if (stub_record.license_offset == 0)
        return true;
    // Nobody can read the page in silent mode: a script that runs the package agrees for its
    // user, as installers' silent modes do, and the log keeps that on record.
    if (silent_mode) {
        log_license_accepted();
        return true;
    }
    char* text = load_license_text();
    INT_PTR answer = run_stored_dialog(texts->license_template_blob, texts->license_template_blob_size, NULL,
                                       license_dialog_proc, (LPARAM)text);
    LocalFree(text);
    return answer == LICENSE_ACCEPTED;
}
