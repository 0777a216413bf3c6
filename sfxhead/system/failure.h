// Failure reporting: error boxes that end the current run through abort_point, the
// internal-error report for faults of the program itself, and the checked string helpers
// whose truncation is such a fault.
#ifndef TVSFX_FAILURE_H
#define TVSFX_FAILURE_H

#include <stddef.h>
#include <windows.h>

// Values carried by the jump to abort_point.
enum { ABORT_CANCELLED = 1, ABORT_FATAL = 2 };

// Shows text in an error box owned by main_window and jumps to abort_point with ABORT_FATAL.
[[noreturn]] void fatal_error(const char* text);
// An error that the caller recovers from: the run's outcome becomes EXIT_FAILED, the text is
// logged and shown in a box of the given type (in silent mode the run ends instead).
void report_error(const char* text, unsigned type);
// fatal_error with the fixed header-error text (usable before the message table is loaded).
[[noreturn]] void fatal_header_error();
// Formats message id with its arguments into message_buffer and calls fatal_error.
// fail_line / full_line are the internal-error lines of a failed and of an over-long format.
[[noreturn]] void fatal_message(int fail_line, int full_line, int id, ...);
// Jumps to abort_point without a box.
[[noreturn]] void abort_run(int value);

// Shows the internal-error box, writes the report file TVSFX32.RPT and ends the process with
// exit code 1. module is the source module that detected the fault, line its fixed number.
[[noreturn]] void internal_error(const char* module, int line);
// Called first by internal_error, before any box: the code that owns a half-written file sets
// it, so a fault of the program leaves no temporary file behind, as every other failure does.
// Null while there is nothing to clean up.
extern void (*internal_error_cleanup)();
// Writes the report's lines after the error line (time, module, system, memory) to file.
void write_report_body(HANDLE file);
// The module name of every internal error this program raises.
#define SFX_MODULE "sfxhead"
[[noreturn]] inline void internal_error_at(int line) { internal_error(SFX_MODULE, line); }

// Checked string helpers: a result that does not fit its buffer (with its NUL) is an internal
// error at the given line. Lengths are in bytes.
void copy_checked(char* dest, size_t capacity, const char* src, int line);
void append_checked(char* dest, size_t capacity, const char* src, int line);
// Returns the formatted length.
int format_checked(char* dest, size_t capacity, int fail_line, int full_line, const char* format, ...);

// Appends "\" to a non-empty path unless it already ends in "\" or "/" (multi-byte aware);
// a result too long for capacity is an internal error at line.
void append_separator(char* path, size_t capacity, int line);
// The same, and an empty path becomes "\".
void append_backslash(char* path, size_t capacity);
// Shows text in a box owned by main_window with the program's caption. In silent mode the
// text goes to the log and the run ends (abort_point, exit code EXIT_FAILED unless set).
int show_box(const char* text, unsigned type);
// An OK box that ends nothing ("-info", the usage); in silent mode only logged.
void show_notice(const char* text);

#endif
