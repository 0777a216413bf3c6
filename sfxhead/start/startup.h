// Start-up of the process and the release of what it opened.
#ifndef TVSFX_STARTUP_H
#define TVSFX_STARTUP_H

#include <windows.h>

// Steps before the abort point is armed: common controls, cursors, current directory = the
// program's folder, error mode, version, the text buffers, self_path. False when the text
// buffers cannot be allocated.
bool prepare_process(HINSTANCE module);
// Makes the program's own folder the current directory.
void change_to_program_folder();
// Opens and verifies the own file, allocates the decoder buffers, loads the messages and the
// configuration. Every failure ends in a fatal or internal error.
void startup();
// Frees the decoder buffers and closes the archive and output files if open.
void close_all();
// Frees the six text buffers and the message table.
void free_text_buffers();

#endif
