// Error boxes, the abort point jump and the internal-error report.
#include "failure.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "globals.h"
#include "log.h"
#include "message_ids.h"
#include "paths.h"
#include "resource_data.h"
#include "system.h"

static int internal_error_count;
void (*internal_error_cleanup)();

enum { REPORT_LINE_CAPACITY = 401, MODULE_NAME_CAPACITY = 261 };

// In silent mode nobody can read a box or answer it: its text goes to the log and the run
// ends as failed (unless it has already failed otherwise).
int show_box(const char* text, unsigned type)
{
    if (silent_mode) {
        log_message(text);
        if (exit_code == EXIT_DONE)
            exit_code = EXIT_FAILED;
        abort_run(ABORT_FATAL);
    }
    return show_message_box(main_window, text, text_caption, type);
}

void show_notice(const char* text)
{
    if (silent_mode)
        log_message(text);
    else
        show_message_box(main_window, text, text_caption, MB_OK);
}

void report_error(const char* text, unsigned type)
{
    exit_code = EXIT_FAILED;
    if (!silent_mode)
        log_message(text);
    show_box(text, type);
}

void abort_run(int value)
{
    longjmp(abort_point, value);
}

void fatal_error(const char* text)
{
    report_error(text, MB_ICONERROR);
    abort_run(ABORT_FATAL);
}

void fatal_header_error()
{
    fatal_error(texts->header_error);
}

void fatal_message(int fail_line, int full_line, int id, ...)
{
    va_list args;
    va_start(args, id);
    int length = _vsnprintf(message_buffer, MESSAGE_SCRATCH_CAPACITY, message_text(id), args);
    va_end(args);
    if (length < 0)
        internal_error_at(fail_line);
    if (length >= MESSAGE_SCRATCH_CAPACITY)
        internal_error_at(full_line);
    fatal_error(message_buffer);
}

// --- checked string helpers ------------------------------------------------------------------

void copy_checked(char* dest, size_t capacity, const char* src, int line)
{
    size_t length = strlen(src);
    if (length >= capacity)
        internal_error_at(line);
    memcpy(dest, src, length + 1);
}

void append_checked(char* dest, size_t capacity, const char* src, int line)
{
    size_t used = strlen(dest);
    if (used >= capacity)
        internal_error_at(line);
    copy_checked(dest + used, capacity - used, src, line);
}

// _vsnprintf returns a negative value when the text is longer than the buffer and the full
// buffer without a NUL when it is exactly as long: both leave no terminated text.
int format_checked(char* dest, size_t capacity, int fail_line, int full_line, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int length = _vsnprintf(dest, capacity, format, args);
    va_end(args);
    if (length < 0)
        internal_error_at(fail_line);
    if ((size_t)length >= capacity)
        internal_error_at(full_line);
    return length;
}

void append_separator(char* path, size_t capacity, int line)
{
    if (path[0] != '\0' && !is_separator(*last_char(path)))
        append_checked(path, capacity, "\\", line);
}

void append_backslash(char* path, size_t capacity)
{
    if (path[0] == '\0')
        append_checked(path, capacity, "\\", 533);
    else
        append_separator(path, capacity, 541);
}

// --- internal-error report -------------------------------------------------------------------

static void write_text(HANDLE file, const char* text)
{
    DWORD written;
    WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
}

typedef BOOL(WINAPI* MemoryStatusExCall)(MEMORYSTATUSEX*);

// GlobalMemoryStatus caps a 32-bit program's physical counts at 2 GB (and past 4 GB may give
// -1), so on today's machines it misreports them; the Ex call, which Windows 95, 98 and NT 4
// lack, reports them whole. Its 64-bit counts also hold the terabytes of virtual memory a
// 64-bit process sees.
static MEMORYSTATUSEX memory_status()
{
    MemoryStatusExCall query_ex = (MemoryStatusExCall)(void*)kernel_procedure("GlobalMemoryStatusEx");
    MEMORYSTATUSEX status_ex;
    status_ex.dwLength = sizeof status_ex;
    if (query_ex != NULL && query_ex(&status_ex))
        return status_ex;
    MEMORYSTATUS status;
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    status_ex.dwMemoryLoad = status.dwMemoryLoad;
    status_ex.ullTotalPhys = status.dwTotalPhys;
    status_ex.ullAvailPhys = status.dwAvailPhys;
    status_ex.ullTotalVirtual = status.dwTotalVirtual;
    status_ex.ullAvailVirtual = status.dwAvailVirtual;
    return status_ex;
}

static void write_report_line(HANDLE file, int line, const char* format, ...)
{
    char buffer[REPORT_LINE_CAPACITY];
    va_list args;
    va_start(args, format);
    int length = _vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0 || length >= (int)sizeof buffer)
        internal_error_at(line);
    write_text(file, buffer);
}

static const char* platform_line()
{
    if ((windows_version & 0x80000000u) == 0)
        return "Windows NT\r\n";
    return LOBYTE(LOWORD(windows_version)) < 4 ? "Win32s\r\n" : "Windows 95/98\r\n";
}

static int platform_line_number()
{
    if ((windows_version & 0x80000000u) == 0)
        return 3254;
    return LOBYTE(LOWORD(windows_version)) < 4 ? 3257 : 3260;
}

void write_report_body(HANDLE file)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    write_report_line(file, 3228, "\nCurrent date/time: %02d/%02d/%04d %02d:%02d\r\n", now.wMonth, now.wDay,
                      now.wYear, now.wHour, now.wMinute);

    char module_name[MODULE_NAME_CAPACITY];
    module_name[0] = '\0';
    own_module_path(module_name, sizeof module_name);
    module_name[sizeof module_name - 1] = '\0';  // a longer name is cut
    write_report_line(file, 3238, "Module name = %s\r\n", module_name);

    write_report_line(file, 3245, "\nOperating System Version %d.%02d\r\n", (int)version_info.dwMajorVersion,
                      (int)version_info.dwMinorVersion);
    write_report_line(file, platform_line_number(), "%s", platform_line());
    write_report_line(file, 3265, " Version %d.%d\r\n", LOBYTE(LOWORD(windows_version)),
                      HIBYTE(LOWORD(windows_version)));

    MEMORYSTATUSEX memory = memory_status();
    write_report_line(file, 3272, "Memory in use = %ld%%\r\n", (long)memory.dwMemoryLoad);
    write_report_line(file, 3276, "Total physical memory = %I64u Kbytes\r\n", memory.ullTotalPhys >> 10);
    write_report_line(file, 3280, "Physical memory available = %I64u Kbytes\r\n", memory.ullAvailPhys >> 10);
    write_report_line(file, 3284, "Total virtual memory = %I64u Kbytes\r\n", memory.ullTotalVirtual >> 10);
    write_report_line(file, 3288, "Virtual memory available = %I64u Kbytes\r\n", memory.ullAvailVirtual >> 10);
}

// The internal-error boxes; in silent mode only their texts, in the log.
static void show_warning(const char* text)
{
    log_message(text);
    if (!silent_mode)
        show_message_box(main_window, text, text_caption, MB_ICONWARNING);
}

void internal_error(const char* module, int line)
{
    // A second internal error (also one raised while the report is written) ends at once.
    if (internal_error_count++ != 0)
        ExitProcess(log_outcome(EXIT_INTERNAL_ERROR));
    if (internal_error_cleanup)
        internal_error_cleanup();

    char text[REPORT_LINE_CAPACITY];
    int length = _snprintf(text, sizeof text, "Tarvel internal error in file %s line %d", module, line);
    if (length < 0 || length >= (int)sizeof text)
        internal_error_at(3189);
    show_warning(text);

    HANDLE file = open_path("TVSFX32.RPT", GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_ARCHIVE);
    if (file == INVALID_HANDLE_VALUE)
        ExitProcess(log_outcome(EXIT_INTERNAL_ERROR));
    append_checked(text, sizeof text, "\r\n", 3198);
    write_text(file, text);
    write_report_body(file);
    CloseHandle(file);

    copy_checked(text, sizeof text, text_report_notice, 3211);
    show_warning(text);
    ExitProcess(log_outcome(EXIT_INTERNAL_ERROR));
}
