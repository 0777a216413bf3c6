// The password: its dialog and the test of an encrypted entry's 12-byte header.
#ifndef TVSFX_PASSWORD_H
#define TVSFX_PASSWORD_H

#include <stdint.h>
#include <windows.h>

extern char* password;  // the entered password (global memory block), or null

// Asks for the password when the current entry flag says encrypted; 0 when the user cancelled.
BYTE password_dialog(HWND owner);
// A password given on the command line: used for every encrypted entry, never asked for.
void preset_password(const char* text);
INT_PTR CALLBACK password_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
// Runs a modal dialog from a template stored as raw Deflate data (the password and licence
// dialogs); param reaches WM_INITDIALOG. Returns the dialog's result, 0 when it could not run.
INT_PTR run_stored_dialog(const uint8_t* blob, uint32_t blob_size, HWND owner, DLGPROC procedure, LPARAM param);
// Reads and decrypts the encryption header at the archive position; 0 when the password
// passes, 1 when there is none or it is rejected. On success the keys are ready for the data.
int check_encryption_header();
// The same for an AES entry: reads its salt and verifier, derives its keys from the password
// and compares the verifier; 0 when the password passes, 1 when there is none or it is wrong.
// Takes the salt, verifier and code off the compressed size, which then counts the encrypted
// data alone.
int check_aes_header();

#endif
