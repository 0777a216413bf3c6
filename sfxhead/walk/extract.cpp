// The extraction driver: the run over all entries and the decisions for one entry (folders,
// output path, overwrite question, password gate) before its data goes to the pipeline.
#include "extract.h"

#include <string.h>

#include "archive.h"
#include "cleanup.h"
#include "control_ids.h"
#include "crypt.h"
#include "entry_cipher.h"
#include "entry_names.h"
#include "failure.h"
#include "globals.h"
#include "log.h"
#include "message_ids.h"
#include "meter.h"
#include "output_file.h"
#include "password.h"
#include "paths.h"
#include "pipeline.h"
#include "reader.h"
#include "split_volume.h"
#include "volume.h"
#include "web_mark.h"
#include "wide_api.h"

// Work paths hold a path and a name; static, as the stack is small.
enum { WORK_PATH_CAPACITY = LONG_PATH_CAPACITY, QUESTION_CAPACITY = 320 + LONG_PATH_CAPACITY };

// --- names the stub refuses -----------------------------------------------------------------

// The system's ANSI code page as the name rules need it, asked for once: its lead bytes (the
// trail byte of a double-byte character may equal a separator) and how it spells the
// superscript digits, which Windows takes for device numbers. A digit counts only when it
// converts back to itself, so a best-fit '1' for a code page without it is no superscript.
// Wide mode: UTF-8 has no lead bytes in this sense (no byte of a sequence equals an ASCII
// character) and spells the superscript digits in two bytes each. Not const: it lies in the
// writable data, which has room, where the read-only data would take one more file block.
static NameCodePage utf8_code_page = {{0}, {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"}};

static const NameCodePage* name_code_page()
{
    if (wide_mode)
        return &utf8_code_page;
    static NameCodePage page;
    static bool known;
    if (!known) {
        for (int c = 0x80; c <= 0xFF; ++c) {
            if (IsDBCSLeadByte((BYTE)c))
                set_lead_byte(&page, (unsigned char)c);
        }
        for (int i = 0; i < 3; ++i) {
            WCHAR digit = SUPERSCRIPT_DIGITS[i], back = 0;
            char* bytes = page.superscripts[i];
            int length = WideCharToMultiByte(CP_ACP, 0, &digit, 1, bytes, SUPERSCRIPT_CAPACITY - 1, NULL, NULL);
            if (length <= 0 || MultiByteToWideChar(CP_ACP, 0, bytes, length, &back, 1) != 1 || back != digit)
                bytes[0] = bytes[1] = '\0';
        }
        known = true;
    }
    return &page;
}

// Whether a path of used bytes and a name of added bytes is longer than a path may be: 259
// bytes on Windows 95, 98 and Me, LONG_PATH_UNITS UTF-16 units in wide mode.
static bool too_long_for_path(const char* path, const char* name)
{
    if (!wide_mode)
        return strlen(name) + strlen(path) + 1 > MAX_NAME_LENGTH;
    return utf16_length(path) + utf16_length(name) > LONG_PATH_UNITS;
}

static void refuse_output_name()
{
    fatal_message(2191, 2192, MSG_CREATE_OUTPUT_FAILED, entry_name);
}

// --- output path and folders -----------------------------------------------------------------

static bool is_directory_entry()
{
    return entry_name[0] != '\0' && is_separator(*last_char(entry_name));
}

void make_output_path()
{
    if (target_folder[0] != '\0') {
        static char path[WORK_PATH_CAPACITY];
        copy_checked(path, sizeof path, target_folder, 2180);
        append_separator(path, sizeof path, 541);
        const char* name = is_separator(entry_name[0]) ? entry_name + 1 : entry_name;
        if (too_long_for_path(path, name))
            refuse_output_name();
        append_checked(path, sizeof path, name, 2197);
        copy_checked(entry_name, LONG_PATH_CAPACITY, path, 2199);
    }
    for (char* p = entry_name; *p; p = (char*)next_char(p)) {
        if (*p == '/')
            *p = '\\';
    }
}

// What this run has already found or made: the drive letter found valid and the folder part
// of the last path handled. Entries of one folder usually follow each other, so most paths
// need no look-up at all; under the system each look-up costs several round trips.
static char known_drive;
static char known_folder[WORK_PATH_CAPACITY];

static void forget_known_folders()
{
    known_drive = 0;
    known_folder[0] = '\0';
}

static char upper_ascii(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

static void check_drive(char* path)
{
    if (!is_drive_letter(path[0]) || path[1] != ':' || upper_ascii(path[0]) == known_drive)
        return;
    char root[4] = {path[0], ':', '\\', '\0'};
    UINT type = GetDriveTypeA(root);  // a drive root is ASCII in either form
    if (type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR) {
        path[1] = '\0';
        fatal_message(1461, 1462, MSG_INVALID_DRIVE, path);
    }
    known_drive = upper_ascii(path[0]);
}

// True when path up to cut is a whole folder of the last folder handled.
static bool is_known_folder(const char* path, const char* cut)
{
    size_t length = cut - path;
    return strncmp(known_folder, path, length) == 0 &&
           (known_folder[length] == '\0' || is_separator(known_folder[length]));
}

// Where folder creation starts: behind the server and share of a network path, and behind one
// separator. A drive prefix is met as the first component and never created.
static char* first_created_component(char* path)
{
    char* p = path;
    if (is_separator(p[0]) && is_separator(p[1])) {
        p += 2;
        for (int part = 0; part < 2; ++part) {
            while (*p && !is_separator(*p))
                p = (char*)next_char(p);
            if (part == 0 && *p)
                ++p;
        }
    }
    if (is_separator(*p))
        ++p;
    return p;
}

static bool path_exists(const char* path)
{
    FoundFile found;
    HANDLE search = find_first_path(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

static void create_folder(char* path)
{
    bool drive_only = is_drive_letter(path[0]) && path[1] == ':' && path[2] == '\0';
    if (path_exists(path) || drive_only)
        return;
    if (!create_folder_path(path, NULL))
        fatal_message(1557, 1558, MSG_CREATE_FOLDER_FAILED, path);
    remember_created_folder(path);
}

// Builds the path whose folders are created: for a directory entry the target folder and the
// name as read, for a file entry the output path.
static void make_folder_path(char* path, bool directory)
{
    if (!directory) {
        copy_checked(path, WORK_PATH_CAPACITY, entry_name, 1451);
        return;
    }
    copy_checked(path, WORK_PATH_CAPACITY, target_folder, 1425);
    append_separator(path, WORK_PATH_CAPACITY, 1432);
    if (too_long_for_path(path, entry_name))
        fatal_message(1438, 1439, MSG_CREATE_FOLDER_FAILED, entry_name);
    append_checked(path, WORK_PATH_CAPACITY, entry_name, 1445);
}

// Makes every folder of path up to its last separator that is neither known nor there.
static void make_missing_folders(char* path)
{
    char* end = (char*)file_name_part(path);  // just after the last separator
    // An empty component (two separators in a row) names the folder before it again.
    bool after_separator = false;
    for (char* p = first_created_component(path); p < end; p = (char*)next_char(p)) {
        bool separator = is_separator(*p);
        if (separator && !after_separator && !is_known_folder(path, p)) {
            *p = '\0';
            create_folder(path);
        }
        if (separator)
            *p = '\\';
        after_separator = separator;
    }
    memcpy(known_folder, path, end - path);
    known_folder[end - path] = '\0';
}

// True when the folder that path (ending in a separator) names is there.
static bool folder_is_there(char* path)
{
    char* last = (char*)last_char(path);
    char separator = *last;
    *last = '\0';
    bool there = path_exists(path);
    *last = separator;
    return there;
}

void create_entry_folders()
{
    static char path[WORK_PATH_CAPACITY];
    bool directory = is_directory_entry();
    make_folder_path(path, directory);
    check_drive(path);
    make_missing_folders(path);
    // A file whose folder has gone fails to be created, and its folders are made again then.
    // Nothing would notice that a directory entry's own folder, known from an earlier entry,
    // was removed during the run: it is looked at once more.
    if (directory && !folder_is_there(path)) {
        forget_known_folders();
        make_missing_folders(path);
    }
}

// --- the command's file ----------------------------------------------------------------------

// The command's file below the target folder as a full path, as the output path of an entry
// naming it is (".", ".." and "/" resolved); empty when there is no command or it does not fit.
static char command_in_target[LONG_PATH_CAPACITY];

static void find_command_in_target()
{
    command_file[0] = '\0';
    command_in_target[0] = '\0';
    if (command_text[0] == '\0')
        return;
    static char joined[LONG_PATH_CAPACITY + run_text_capacity(COMMAND_CAPACITY)];
    copy_checked(joined, sizeof joined, target_folder, 7500);
    append_separator(joined, sizeof joined, 7501);
    append_checked(joined, sizeof joined, command_text, 7502);
    DWORD capacity = run_path_capacity();
    DWORD length = full_path_of(joined, capacity, command_in_target);
    if (length == 0 || length >= capacity)
        command_in_target[0] = '\0';
}

// Both paths in upper case as the file system compares names (the locale's collation, which
// lstrcmpi follows, may call two different names equal).
static bool same_path(const char* a, const char* b)
{
    static char upper_a[LONG_PATH_CAPACITY];
    static char upper_b[LONG_PATH_CAPACITY];
    copy_checked(upper_a, sizeof upper_a, a, 7503);
    copy_checked(upper_b, sizeof upper_b, b, 7504);
    upper_case_path(upper_a, sizeof upper_a);
    upper_case_path(upper_b, sizeof upper_b);
    return strcmp(upper_a, upper_b) == 0;
}

// A file entry whose output path is the command's makes it the package's own file.
static void note_command_entry()
{
    static char path[LONG_PATH_CAPACITY];
    if (command_in_target[0] == '\0' || command_file[0] != '\0')
        return;
    DWORD capacity = run_path_capacity();
    DWORD length = full_path_of(entry_name, capacity, path);
    if (length != 0 && length < capacity && same_path(path, command_in_target))
        copy_checked(command_file, LONG_PATH_CAPACITY, path, 7505);
}

// --- overwrite question ----------------------------------------------------------------------

static void refresh_meter()
{
    if (!meter_visible || flag_set(SFX_HIDDEN))
        return;
    HWND meter = GetDlgItem(main_window, ID_METER);
    SendMessageA(meter, METER_SETPOS, progress_percentage(), 0);
    InvalidateRect(meter, NULL, FALSE);
    UpdateWindow(main_window);
}

// True: extract the entry; false: step over it. Cancel ends the whole run.
bool confirm_overwrite()
{
    if (overwrite_silently || !path_exists(entry_name))
        return true;
    if (silent_mode)
        return false;  // nobody to ask: the existing file stays
    refresh_meter();
    copy_checked(display_name, LONG_PATH_CAPACITY, entry_name, 2240);
    static char question[QUESTION_CAPACITY];
    format_checked(question, sizeof question, 2242, 2243, message_text(MSG_ASK_OVERWRITE), display_name);
    int answer = show_box(question, MB_YESNOCANCEL);
    if (answer == IDCANCEL)
        abort_run(ABORT_CANCELLED);
    return answer == IDYES;
}

// --- one entry -------------------------------------------------------------------------------

// Steps over the entry's data, across disks in a spanned archive.
static void skip_entry()
{
    if (multi_volume) {
        while (skip_entry_data() != 0) {
        }
        return;
    }
    skip_bytes(entry_header.compressed_size, READ_ERROR_DATA);
}

// Steps over the data descriptor behind the data. In a spanned archive it lies whole on one
// disk: on the next one when the data filled this disk to its end.
static void skip_descriptor()
{
    if (multi_volume && bytes_left_in_file(READ_ERROR_DATA) == 0)
        open_volume((uint16_t)(disk_number + 1), exe_volumes);
    skip_bytes(entry_zip64 ? ZIP64_DESCRIPTOR_SIZE : DESCRIPTOR_SIZE, READ_ERROR_DATA);
}

static void pass_password_gate()
{
    // The password needs no length check here: the dialog and -password= hold at most
    // PASSWORD_MAX bytes, the longest the builder accepts.
    // An AES entry whose record this program does not know or that is damaged: refused before
    // any password is tried, since no password can open it. (Method 99 without any AES record
    // goes on as traditionally encrypted and fails as an unknown method.)
    if (entry_aes_strength == ENTRY_AES_UNKNOWN)
        fatal_error(message_text(MSG_UNSUPPORTED_METHOD));
    // The encryption header (and with AES the code behind the data) is part of the compressed
    // data; a smaller size is damage.
    uint32_t overhead = entry_aes_strength != 0 ? aes_overhead(entry_aes_strength) : (uint32_t)ENCRYPTION_HEADER_SIZE;
    if (entry_header.compressed_size < overhead)
        report_read_error(READ_ERROR_ENCRYPTION_HEADER);
    int rejected = entry_aes_strength != 0 ? check_aes_header() : check_encryption_header();
    if (rejected != 0) {
        if (password == NULL)
            fatal_message(4247, 4247, MSG_NO_PASSWORD);
        fatal_message(4250, 4250, MSG_WRONG_PASSWORD);
    }
}

static void refuse_output_file()
{
    fatal_message(1003, 1004, MSG_CREATE_OUTPUT_FAILED, display_name);
}

// Opens the output file named by entry_name. When its folder has gone since the folders were
// made (removed during the run), the folders are made again once.
static void create_output_file()
{
    copy_checked(display_name, LONG_PATH_CAPACITY, entry_name, 994);
    int opened = open_output_file(display_name);
    if (opened == OUTPUT_NO_FOLDER) {
        forget_known_folders();
        create_entry_folders();
        opened = open_output_file(display_name);
    }
    if (opened != OUTPUT_OPENED)
        refuse_output_file();
}

// A test reads and checks the data as an extraction does and keeps none of it. Messages name
// the entry as in the archive: a test has no target folder.
static void test_file()
{
    if (entry_encrypted)
        pass_password_gate();
    extract_entry_data();
    ++files_extracted;
}

// Writes a file entry; it counts once it has been written, checked and put in its place.
static void extract_file()
{
    if (entry_encrypted)
        pass_password_gate();
    create_output_file();
    extract_entry_data();
    if (!commit_output_file())
        refuse_output_file();
    mark_extracted_file(entry_name);
    log_extracted(entry_name);
    ++files_extracted;
}

// A file entry of an extraction: its folders, the overwrite question, then the file.
static void extract_or_skip_file()
{
    make_output_path();
    note_command_entry();
    create_entry_folders();
    if (confirm_overwrite())
        extract_file();
    else
        skip_entry();
}

void extract_entry()
{
    read_local_header();
    // Names that would leave the target folder, or open a device or a file stream instead of
    // a file, end the run before anything is made for them.
    if (stub_refuses_name(check_entry_name(entry_name, name_code_page(), NULL)))
        refuse_output_name();
    if (is_directory_entry()) {
        copy_checked(display_name, LONG_PATH_CAPACITY, entry_name, 4188);
        // A directory has no data of its own; whatever a writer stored for it is stepped over,
        // before its folders are made, so a size that runs past the file makes nothing.
        skip_entry();
        if (!test_mode)
            create_entry_folders();
    } else {
        copy_checked(display_name, LONG_PATH_CAPACITY, entry_name, 4222);
        if (test_mode)
            test_file();
        else
            extract_or_skip_file();
    }
    if (descriptor_follows)
        skip_descriptor();
}

// --- the run ---------------------------------------------------------------------------------

static void position_at_archive_start()
{
    LONG start = (LONG)stub_record.archive_offset;
    if (multi_volume) {
        // Every volume of a split package is checked whole before the first byte is used.
        if (split_volumes)
            check_split_volumes(poll_cancel);
        open_volume(1, exe_volumes);
        if (!exe_volumes)
            return;
    }
    if (_llseek(archive_handle, start, FILE_BEGIN) != start)
        fatal_error(message_text(MSG_IO_ERROR));
}

int extract_all()
{
    // The run arms the abort point for itself; the entry function's arming is back in force
    // when it returns.
    jmp_buf outer_abort_point;
    memcpy(outer_abort_point, abort_point, sizeof(jmp_buf));
    extracting = 1;
    forget_known_folders();
    find_command_in_target();
    SetCursor(wait_cursor);
    volatile int result = setjmp(abort_point);
    if (result == 0) {
        position_at_archive_start();
        while (walk_archive())
            extract_entry();
    } else {
        // A new file stays on disk as far as it was written; a replacement is dropped and the
        // old file stays as it was.
        discard_output_file();
        wipe_entry_keys();
    }
    SetCursor(arrow_cursor);
    extracting = 0;
    memcpy(abort_point, outer_abort_point, sizeof(jmp_buf));
    return result;
}
