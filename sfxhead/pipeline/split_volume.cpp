// Split packages: finding, checking and reading the data volumes beside the program.
#include "split_volume.h"

#include <string.h>

#include "byte_order.h"
#include "failure.h"
#include "globals.h"
#include "log.h"
#include "paths.h"
#include "reader.h"
#include "resource_data.h"
#include "sha256.h"
#include "split_volumes.h"
#include "stub_record.h"
#include "wide_api.h"

static uint8_t* volume_table;    // the table's entries (no trailer), then the handles and the read block
static uint32_t volume_count;
static HFILE* volume_handles;    // per volume: its checked handle, 0 until checked
static uint8_t* check_buffer;    // CHECK_READ_SIZE bytes for the hash pass
static HFILE volume_in_check;    // the volume being checked; closed if the check is cancelled

// The hash pass reads in blocks of 64 KiB: few calls per volume, and a message pump between
// two blocks keeps the dialog's answers quick.
enum { CHECK_READ_SIZE = 65536 };

// --- the table -------------------------------------------------------------------------------

// The table's fields as read from the program's own file, which signing covers.
static void read_table_bytes(uint32_t offset, void* block, uint32_t size)
{
    if (_llseek(archive_handle, (LONG)offset, FILE_BEGIN) != (LONG)offset || _lread(archive_handle, block, size) != size)
        fatal_header_error();
}

void load_volume_table()
{
    uint32_t end = stub_record.config_offset;
    uint8_t trailer[SPLIT_TRAILER_SIZE];
    read_table_bytes(end - SPLIT_TRAILER_SIZE, trailer, sizeof trailer);
    volume_count = get_u32(trailer);
    uint32_t size = get_u32(trailer + 4);
    if (end < SPLIT_TRAILER_SIZE + size || get_u32(trailer + 8) != SPLIT_TRAILER_ID || volume_count == 0 ||
        volume_count > SPLIT_VOLUMES_MAX || size > SPLIT_TABLE_MAX)
        fatal_header_error();
    // One block: the entries, the handles (aligned behind them) and the read block.
    uint32_t handles_at = (size + 3) & ~3u;
    volume_table = (uint8_t*)LocalAlloc(LPTR, handles_at + volume_count * sizeof(HFILE) + CHECK_READ_SIZE);
    if (volume_table == NULL)
        fatal_header_error();
    volume_handles = (HFILE*)(volume_table + handles_at);
    check_buffer = (uint8_t*)(volume_handles + volume_count);
    read_table_bytes(end - SPLIT_TRAILER_SIZE - size, volume_table, size);
    // Every entry whole, with a plain name and its NUL, and nothing behind the last.
    uint32_t at = 0;
    for (uint32_t i = 0; i < volume_count; ++i) {
        at += SPLIT_ENTRY_FIXED_SIZE;
        unsigned length = at <= size ? volume_table[at - 1] : 0;
        if (at + length >= size || !is_plain_volume_name(volume_table + at, length) || volume_table[at + length] != 0)
            fatal_header_error();
        at += length + 1;
    }
    if (at != size)
        fatal_header_error();
}

// The entry of volume `number` (1-based).
static const uint8_t* volume_entry(uint32_t number)
{
    const uint8_t* entry = volume_table;
    for (uint32_t i = 1; i < number; ++i)
        entry += SPLIT_ENTRY_FIXED_SIZE + entry[SPLIT_ENTRY_FIXED_SIZE - 1] + 1;
    return entry;
}

// --- finding a volume ------------------------------------------------------------------------

// The volume beside the program: by its name, else (`renamed`) by the program's own name with
// the volume's extension, as a browser that saved the program as "Setup (1).exe" may have
// saved the volumes alike.
static void make_volume_path(char* path, const char* name, bool renamed)
{
    copy_checked(path, LONG_PATH_CAPACITY, self_path, 8300);
    char* cut = (char*)file_name_part(path);
    if (renamed) {
        cut = strrchr(cut, '.');
        name = strrchr(name, '.');
        if (cut == NULL || name == NULL) {
            *path = '\0';  // opens nothing
            return;
        }
    }
    *cut = '\0';
    append_checked(path, LONG_PATH_CAPACITY, name, 8301);
}

// Opens the volume sharing read access only, so nobody can write, replace or delete it while
// it is open; asks for a missing one until it is there (Cancel ends the run as failed).
static HFILE open_checked_volume(const char* name)
{
    static char path[LONG_PATH_CAPACITY];
    for (;;) {
        for (int renamed = 0; renamed < 2; ++renamed) {
            make_volume_path(path, name, renamed != 0);
            HFILE file = open_for_reading(path, OF_SHARE_DENY_WRITE);
            if (file != HFILE_ERROR)
                return file;
        }
        format_checked(message_buffer, MESSAGE_BUFFER_CAPACITY, 8304, 8305, texts->split_missing, name);
        if (show_box(message_buffer, MB_RETRYCANCEL | MB_ICONEXCLAMATION) == IDCANCEL) {
            exit_code = EXIT_FAILED;
            log_message(message_buffer);
            abort_run(ABORT_FATAL);
        }
    }
}

// --- checking a volume -----------------------------------------------------------------------

// Whether the whole file has the entry's size and SHA-256. The dialog stays responsive:
// `poll` pumps its messages between two reads, true when the user chose to cancel.
static bool volume_matches(HFILE file, const uint8_t* entry, bool (*poll)())
{
    Sha256 hash;
    sha256_start(&hash);
    UINT count;
    while ((count = _lread(file, check_buffer, CHECK_READ_SIZE)) != 0) {
        if (count == (UINT)HFILE_ERROR)
            return false;
        sha256_add(&hash, check_buffer, count);
        if (poll())
            abort_run(ABORT_FATAL);
    }
    uint64_t size = hash.length;  // the padding adds to it
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_finish(&hash, digest);
    return size == get_u64(entry) && memcmp(digest, entry + 8, SHA256_DIGEST_SIZE) == 0;
}

static void close_volume_in_check()
{
    if (volume_in_check != 0)
        _lclose(volume_in_check);
    volume_in_check = 0;
}

void check_split_volumes(bool (*poll)())
{
    close_volume_in_check();
    for (uint32_t k = 1; k <= volume_count; ++k) {
        if (volume_handles[k - 1] != 0)
            continue;
        const uint8_t* entry = volume_entry(k);
        const char* name = (const char*)entry + SPLIT_ENTRY_FIXED_SIZE;
        volume_in_check = open_checked_volume(name);
        if (!volume_matches(volume_in_check, entry, poll)) {
            // Closed, so that the user can put the right file in its place for the next run.
            close_volume_in_check();
            format_checked(message_buffer, MESSAGE_BUFFER_CAPACITY, 8308, 8309, texts->split_damaged, name);
            fatal_error(message_buffer);
        }
        volume_handles[k - 1] = volume_in_check;
        volume_in_check = 0;
    }
}

// --- reading ---------------------------------------------------------------------------------

void enter_split_volume(uint16_t number)
{
    // Past the last volume: the archive's own records are damaged. The program's own file
    // stays open behind the volumes until the end, as the volumes do between runs.
    if (number > volume_count)
        report_read_error(READ_ERROR_DATA);
    archive_handle = volume_handles[number - 1];
    if (_llseek(archive_handle, 0, FILE_BEGIN) != 0)
        report_read_error(READ_ERROR_DATA);
}
