/* Shared declarations of the test driver tvdriver.exe.
 *
 * The driver runs under Wine next to the program under test. Python writes one command per
 * line on its standard input and reads one JSON line per command from its standard output.
 * All text inside the driver is UTF-16 (the W calls), so the ANSI code page of the program
 * under test is converted by the system when a text crosses over; only the pipe is UTF-8. */
#ifndef TVDRIVER_DRIVER_H
#define TVDRIVER_DRIVER_H

#include <windows.h>

/* ---- command line tokens (tokens.c) ---------------------------------------------------- */

/* A command has at most this many tokens; the longest (wait with conditions) needs ~12. */
enum { MAX_TOKENS = 32 };

typedef struct {
    int count;
    wchar_t *token[MAX_TOKENS];
} Command;

/* Splits line (modified in place) into tokens; returns 0 on a malformed quoted token. */
int split_command(wchar_t *line, Command *cmd);
/* Parses a decimal or 0x-prefixed number; returns 0 when text is not one. */
int parse_number(const wchar_t *text, long long *value);

/* ---- JSON answer (jsonout.c) ----------------------------------------------------------- */

/* Each answer is collected in one buffer and written as a single line, so a command that
 * fails half-way never leaves a partial line behind. key is NULL inside arrays. */
void json_reset(void);
void json_open_object(const char *key);
void json_close_object(void);
void json_open_array(const char *key);
void json_close_array(void);
void json_int(const char *key, long long value);
void json_bool(const char *key, int value);
void json_wide(const char *key, const wchar_t *text, int length);
void json_utf8(const char *key, const char *text);
void json_rect(const char *key, const RECT *rect);
/* Writes the collected answer plus a line feed to standard output and flushes it. */
void json_emit(void);
/* Replaces whatever was collected by {"ok":false,"error":text} and emits it. */
void answer_error(const char *text);

/* ---- windows of the child (windows.c) -------------------------------------------------- */

enum { MAX_WINDOWS = 64 };

/* Top-level windows of process pid, visible and hidden, in z-order. */
int list_child_windows(DWORD pid, HWND *found, int capacity);
/* Appends the full description of one top-level window (with its controls) to the answer. */
void describe_window(const char *key, HWND window);
/* Appends an array of all top-level windows of pid. */
void describe_windows(const char *key, DWORD pid);
/* Text of a control: WM_GETTEXT with a time-out, or the text stored with the window when
 * the owner is busy. *busy is set by a time-out and then skips the message. */
int read_control_text(HWND control, wchar_t *text, int capacity, int *busy);
int is_message_box(HWND window);
/* ms scaled by TVDRIVER_TIME_FACTOR (the bench sets it under the i386 emulator, where the
 * program under test needs several times as long to answer a message). */
UINT scaled_timeout(UINT ms);
/* SendMessageTimeoutW within scaled_timeout(ms). Not SMTO_ABORTIFHUNG: Wine counts a thread
 * as hung when it has not asked for a message for 5 s, which a program just started under
 * the emulator on a loaded machine does while it builds its first window; the time-out alone
 * bounds the wait. Returns 0 when the message was not answered in time. */
int send_within(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT ms, DWORD_PTR *result);

/* ---- pixels (capture.c) ---------------------------------------------------------------- */

/* Copies the on-screen pixels of window, once it has finished painting, into a top-down
 * 32-bit buffer of width x height (caller frees with free). Returns NULL when the window
 * has no area or GDI fails. */
DWORD *grab_window_pixels(HWND window, int *width, int *height);
/* Writes pixels as a bottom-up 24-bit BMP file. Returns 0 on a write failure. */
int write_bmp(const wchar_t *path, const DWORD *pixels, int width, int height);
/* Which system icon a message box's icon control shows: "error", "warning", "question",
 * "information", "none" (nothing drawn or control hidden) or "unknown". */
const char *identify_box_icon(HWND icon_control);

#endif
