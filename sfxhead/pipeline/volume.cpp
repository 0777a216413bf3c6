// Spanned archives: disk prompts and the files of the disks.
#include "volume.h"

#include <string.h>

#include "failure.h"
#include "globals.h"
#include "message_ids.h"
#include "paths.h"
#include "reader.h"
#include "resource_data.h"
#include "split_volume.h"

uint16_t disk_number = 1;

enum { DRIVE_TEXT_CAPACITY = 8, LABEL_CAPACITY = 32 };

static bool is_digit(char c) { return c >= '0' && c <= '9'; }

uint16_t read_volume_number(const char* drive)
{
    // The label query wants the root folder of the drive.
    char root[DRIVE_TEXT_CAPACITY];
    copy_checked(root, sizeof root - 1, drive, 1115);
    append_checked(root, sizeof root, "\\", 1114);
    char label[LABEL_CAPACITY];
    if (!GetVolumeInformationA(root, label, sizeof label, NULL, NULL, NULL, NULL, 0))
        return NO_VOLUME;
    if (strncmp(label, "PKBACK#", 7) != 0)
        return NO_VOLUME;
    const char* p = label;
    while (*p && *p != '.' && *p != ' ')
        ++p;
    if (*p == '\0')
        return NO_VOLUME;
    while (*p && !is_digit(*p))
        ++p;
    uint16_t number = 0;
    for (; is_digit(*p); ++p)
        number = (uint16_t)(number * 10 + (*p - '0'));
    return number;
}

// Asks for a labelled disk until one is in the drive; Ignore takes the disk in the drive.
static uint16_t wait_for_labelled_disk(const char* drive, uint16_t wanted)
{
    uint16_t number = read_volume_number(drive);
    while (number == NO_VOLUME) {
        format_checked(message_buffer, MESSAGE_BUFFER_CAPACITY, 1209, 1210, message_text(MSG_DISK_LABEL), wanted);
        int answer = show_box(message_buffer, MB_ABORTRETRYIGNORE | MB_ICONQUESTION);
        if (answer == IDABORT)
            abort_run(ABORT_FATAL);
        if (answer == IDIGNORE)
            return wanted;
        number = read_volume_number(drive);
    }
    return number;
}

// The disk's file: the program's own name with ".EXE" or ".ZIP". A name without an extension
// gets one appended.
static void make_volume_name(char* name, bool exe_name)
{
    copy_checked(name, LONG_PATH_CAPACITY, self_path, 1246);
    char* dot = strrchr((char*)file_name_part(name), '.');
    if (dot)
        *dot = '\0';
    append_checked(name, LONG_PATH_CAPACITY, exe_name ? ".EXE" : ".ZIP", exe_name ? 1252 : 1254);
}

void open_volume(uint16_t wanted, bool exe_name)
{
    if (split_volumes) {
        enter_split_volume(wanted);
        disk_number = wanted;
        return;
    }
    if (archive_handle != 0)
        _lclose(archive_handle);
    archive_handle = 0;
    char drive[3] = {self_path[0], ':', '\0'};
    for (;;) {
        disk_number = wait_for_labelled_disk(drive, wanted);
        if (disk_number == wanted)
            break;
        format_checked(message_buffer, MESSAGE_BUFFER_CAPACITY, 1230, 1231, message_text(MSG_INSERT_DISK), wanted,
                       drive);
        if (show_box(message_buffer, MB_OKCANCEL) == IDCANCEL)
            abort_run(ABORT_FATAL);
    }
    static char name[LONG_PATH_CAPACITY];
    make_volume_name(name, exe_name);
    HFILE file = open_for_reading(name, OF_SHARE_DENY_WRITE);
    if (file == HFILE_ERROR)
        fatal_header_error();
    archive_handle = file;
}

// Sizes are unsigned and every step stays inside the current disk's file, so the skip moves
// forward only and reads each disk once at most.
uint64_t skip_entry_data()
{
    uint64_t remaining = entry_header.compressed_size;
    if (remaining == 0)
        return 0;
    uint64_t step = bytes_left_in_file(READ_ERROR_DATA);
    if (step >= remaining) {
        step = remaining;
        skip_bytes(step, READ_ERROR_DATA);
    } else {
        // The data goes on on the next disk. When this disk held none of it, the part the next
        // disk holds is stepped over from the start of its file.
        open_volume((uint16_t)(disk_number + 1), exe_volumes);
        if (step == 0) {
            step = bytes_left_in_file(READ_ERROR_DATA);
            if (step > remaining)
                step = remaining;
            skip_bytes(step, READ_ERROR_DATA);
        }
    }
    entry_header.compressed_size -= step;
    return step;
}
