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

// Reads the stored text from the program's own file (with .ZIP volumes archive_handle is the
// first volume, not this file) into a local block of size bytes.
static uint8_t* read_stored_license(uint32_t size)
{
    if (size == 0 || size > LICENSE_STORED_MAX)
        fatal_header_error();
    uint8_t* stored = (uint8_t*)LocalAlloc(LMEM_FIXED, size);
    HFILE file = _lopen(self_path, OF_READ | OF_SHARE_DENY_WRITE);
    LONG offset = (LONG)stub_record.license_offset;
    bool read = stored != NULL && file != HFILE_ERROR && _llseek(file, offset, FILE_BEGIN) == offset &&
                _lread(file, stored, size) == size;
    if (file != HFILE_ERROR)
        _lclose(file);
    if (!read)
        fatal_header_error();
    return stored;
}

// The text, NUL-terminated, in a local block of LICENSE_TEXT_CAPACITY + 1 bytes. The decoder
// fills at most LICENSE_TEXT_CAPACITY of them; a text that reaches the last of those (the
// builder's texts hold no NUL) is longer than any the builder writes: the file is damaged.
static char* load_license_text()
{
    uint8_t* stored = read_stored_license(stub_record.license_size);
    char* text = (char*)LocalAlloc(LMEM_ZEROINIT, LICENSE_TEXT_CAPACITY + 1);
    if (text == NULL)
        fatal_header_error();
    inflate_memory(stored, stub_record.license_size, (uint8_t*)text, LICENSE_TEXT_CAPACITY);
    LocalFree(stored);
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
