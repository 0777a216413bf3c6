// The password dialog and the password test of an encrypted entry.
#include "password.h"

#include <string.h>

#include "crypt.h"
#include "entry_cipher.h"
#include "failure.h"
#include "globals.h"
#include "inflate.h"
#include "log.h"
#include "password_limit.h"
#include "reader.h"
#include "resource_data.h"
#include "screen.h"

char* password;

// The edit control is read with two bytes to spare, so that a text over PASSWORD_MAX shows as
// such even when a double-byte character straddles the end of the buffer.
enum { PASSWORD_TEMPLATE_CAPACITY = 600, PASSWORD_READ_CAPACITY = PASSWORD_CAPACITY + 2, PASSWORD_EDIT_ID = 402 };

int check_encryption_header()
{
    if (password == NULL)
        return 1;
    uint8_t header[ENCRYPTION_HEADER_SIZE];
    if (_lread(archive_handle, header, sizeof header) != sizeof header)
        report_read_error(READ_ERROR_ENCRYPTION_HEADER);
    entry_header.compressed_size -= ENCRYPTION_HEADER_SIZE;
    init_keys(password);
    decrypt_buffer(header, sizeof header);
    // Writers that stream the data do not know the CRC when they write the header, so with a
    // data descriptor the check byte is the high byte of the time instead.
    uint8_t check = descriptor_follows ? (uint8_t)(entry_header.mod_time >> 8) : (uint8_t)(entry_header.crc32 >> 24);
    return header[ENCRYPTION_HEADER_SIZE - 1] == check ? 0 : 1;
}

int check_aes_header()
{
    if (password == NULL)
        return 1;
    return start_entry_cipher(password) ? 0 : 1;
}

// The text becomes the password, replacing an earlier one; false when there is no memory.
static bool store_password(const char* text)
{
    if (password != NULL)
        GlobalFree(password);
    size_t size = strlen(text) + 1;
    password = (char*)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size);
    if (password == NULL)
        return false;
    copy_checked(password, size, text, 4953);
    return true;
}

// A password from the command line serves every run: the dialog is not shown.
static bool password_preset;

void preset_password(const char* text)
{
    password_preset = store_password(text);
}

// The edit control takes no more than PASSWORD_MAX: typing and pasting stop there.
static void init_password_dialog(HWND dialog)
{
    center_window(dialog);
    SendDlgItemMessageA(dialog, PASSWORD_EDIT_ID, EM_LIMITTEXT, PASSWORD_MAX, 0);
}

// OK with a text: it becomes the password and the dialog ends. A text over PASSWORD_MAX
// (set without typing, or counted in characters where a double-byte one takes two bytes) is
// not cut to a password nobody gave: the dialog stays open, as for an empty one.
static void take_password(HWND dialog)
{
    char text[PASSWORD_READ_CAPACITY];
    GetDlgItemTextA(dialog, PASSWORD_EDIT_ID, text, sizeof text);
    bool taken = text[0] != '\0' && strlen(text) <= PASSWORD_MAX && store_password(text);
    SecureZeroMemory(text, sizeof text);
    if (taken)
        EndDialog(dialog, 1);
}

INT_PTR CALLBACK password_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        init_password_dialog(dialog);
        return TRUE;
    case WM_COMMAND:
        // A button click carries notification code 0, so the whole wParam is the button id.
        if (wparam == IDOK) {
            take_password(dialog);
            return TRUE;
        }
        if (wparam == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR run_stored_dialog(const uint8_t* blob, uint32_t blob_size, HWND owner, DLGPROC procedure, LPARAM param)
{
    uint8_t* block = (uint8_t*)LocalAlloc(LMEM_ZEROINIT, PASSWORD_TEMPLATE_CAPACITY);
    if (block == NULL)
        fatal_error(text_no_memory_resources);
    inflate_memory(blob, blob_size, block, PASSWORD_TEMPLATE_CAPACITY);
    INT_PTR result = 0;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, PASSWORD_TEMPLATE_CAPACITY);
    void* dialog_template = memory ? GlobalLock(memory) : NULL;
    if (dialog_template != NULL) {
        memcpy(dialog_template, block, PASSWORD_TEMPLATE_CAPACITY);
        result = DialogBoxIndirectParamA(instance, (LPCDLGTEMPLATEA)dialog_template, owner, procedure, param);
        GlobalUnlock(memory);
    }
    if (memory)
        GlobalFree(memory);
    LocalFree(block);
    return result;
}

BYTE password_dialog(HWND owner)
{
    // In silent mode nobody can answer: without a preset password the gate ends the run.
    if (!entry_encrypted || password_preset || silent_mode)
        return 1;
    return (BYTE)run_stored_dialog(texts->password_template_blob, texts->password_template_blob_size, owner,
                                   password_dialog_proc, 0);
}
