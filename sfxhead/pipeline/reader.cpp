// The archive file at its lowest level: bounded forward steps and the read-error report.
#include "reader.h"

#include "failure.h"
#include "globals.h"
#include "message_ids.h"

enum { READ_ERROR_CODE_CAPACITY = 32 };

void report_read_error(int site)
{
    char code[READ_ERROR_CODE_CAPACITY];
    format_checked(code, sizeof code, 2370, 2370, " <%d>", site);
    format_checked(message_buffer, MESSAGE_SCRATCH_CAPACITY, 2372, 2374, message_text(MSG_READ_FAILED), self_path);
    append_checked(message_buffer, MESSAGE_SCRATCH_CAPACITY, code, 2373);
    fatal_error(message_buffer);
}

static HANDLE archive_file()
{
    return (HANDLE)(INT_PTR)archive_handle;
}

// Positions and sizes are 64-bit: a disk's file, and a ZIP64 entry's size, may pass 4 GiB.
uint64_t bytes_left_in_file(int site)
{
    SetLastError(NO_ERROR);
    LONG position_high = 0;
    DWORD position = SetFilePointer(archive_file(), 0, &position_high, FILE_CURRENT);
    DWORD size_high = 0;
    DWORD size = GetFileSize(archive_file(), &size_high);
    if (GetLastError() != NO_ERROR)
        report_read_error(site);
    uint64_t end = (uint64_t)size_high << 32 | size;
    uint64_t at = (uint64_t)(DWORD)position_high << 32 | position;
    return at > end ? 0 : end - at;
}

void skip_bytes(uint64_t count, int site)
{
    if (count == 0)
        return;
    if (count > bytes_left_in_file(site))
        report_read_error(site);
    // With its high word given, the distance is a 64-bit count: steps of 2 GiB and more move
    // forward too.
    LONG high = (LONG)(count >> 32);
    SetLastError(NO_ERROR);
    if (SetFilePointer(archive_file(), (LONG)(DWORD)count, &high, FILE_CURRENT) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR)
        report_read_error(site);
}
