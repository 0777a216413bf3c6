// Removing what a run created, for packages built with --cleanup: once the command and every
// process it started have ended, the files and folders this run made go again, and nothing
// that was there before is touched (a file the run replaced keeps its new content: the user's
// file of that name was there before).
//
// The command, or anything else running as the user, may have changed the tree meanwhile: a
// created folder moved away and a link to another of the user's folders put in its place (with
// administrator rights that would be a deletion steered by an unprivileged process). So each
// path is removed only when it is still the very file or folder this run made, by the identity
// the system gave it at creation (volume serial number and file index), opened without
// following a link, and never when it is a reparse point. What stays is logged with its reason.
#include "cleanup.h"

#include <stddef.h>
#include <string.h>

#include "failure.h"
#include "globals.h"
#include "log.h"
#include "paths.h"
#include "system.h"
#include "web_mark.h"
#include "wide_api.h"

// Which file or folder a path named when the run made it.
struct FileIdentity {
    DWORD volume_serial;
    DWORD index_high;
    DWORD index_low;
};

enum RecordState { RECORD_PRESENT, RECORD_GONE, RECORD_SCHEDULED, RECORD_LEFT };

// One created path. Records follow each other in one block, each starting on a 4-byte
// boundary, in the order the paths were made; a folder is always made before what it holds,
// so going backwards through the chain removes the deepest first.
struct CreatedRecord {
    DWORD previous;         // offset of the record before, NO_RECORD for the first
    FileIdentity identity;  // as the system gave it at creation
    BYTE identity_known;    // 0 where the path could not be opened (folders on Windows 95, 98, Me)
    BYTE state;             // a RecordState
    char path[2];           // NUL-terminated; the record is as long as its path needs
};

enum { NO_RECORD = 0xFFFFFFFF, RECORD_ALIGNMENT = 4, CREATED_BLOCK_STEP = 4096 };

// One block on the heap that grows as needed: it holds one record per entry and per folder
// made, so its size follows the archive's names, and a run that creates nothing costs nothing.
static char* created_block;
static size_t created_size;
static size_t created_capacity;
static DWORD last_record = NO_RECORD;

static bool make_room(size_t needed)
{
    if (created_size + needed <= created_capacity)
        return true;
    size_t capacity = created_capacity * 2 + needed + CREATED_BLOCK_STEP;
    HLOCAL block = created_block != NULL ? LocalReAlloc(created_block, capacity, LMEM_MOVEABLE)
                                         : LocalAlloc(LMEM_FIXED, capacity);
    if (block == NULL)
        return false;
    created_block = (char*)block;
    created_capacity = capacity;
    return true;
}

static CreatedRecord* record_at(DWORD offset)
{
    return offset == NO_RECORD ? NULL : (CreatedRecord*)(created_block + offset);
}

// Opens a path itself, never what a link in its last component points to, with access enough
// to read its identity (and more where asked); a folder opens too. Shares everything, so the
// look never stands in anyone's way.
static HANDLE open_without_following(const char* path, DWORD access)
{
    return open_path(path, access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
}

static bool read_identity(HANDLE file, FileIdentity* identity, DWORD* attributes)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return false;
    identity->volume_serial = info.dwVolumeSerialNumber;
    identity->index_high = info.nFileIndexHigh;
    identity->index_low = info.nFileIndexLow;
    *attributes = info.dwFileAttributes;
    return true;
}

// Adds a record; file is the created file's open handle, or INVALID_HANDLE_VALUE for a folder.
static void add_record(const char* path, HANDLE file)
{
    size_t path_size = strlen(path) + 1;
    size_t size = (offsetof(CreatedRecord, path) + path_size + RECORD_ALIGNMENT - 1) & ~(size_t)(RECORD_ALIGNMENT - 1);
    if (!make_room(size)) {
        // What cannot be noted would stay for ever: it goes at once, and the run ends.
        if (file == INVALID_HANDLE_VALUE)
            remove_folder_path(path);
        fatal_error(text_no_memory);
    }
    CreatedRecord* record = (CreatedRecord*)(created_block + created_size);
    record->previous = last_record;
    record->state = RECORD_PRESENT;
    memcpy(record->path, path, path_size);
    HANDLE opened = file == INVALID_HANDLE_VALUE ? open_without_following(path, 0) : file;
    DWORD attributes;
    record->identity_known = opened != INVALID_HANDLE_VALUE && read_identity(opened, &record->identity, &attributes);
    if (opened != INVALID_HANDLE_VALUE && opened != file)
        CloseHandle(opened);
    last_record = (DWORD)created_size;
    created_size += size;
}

void remember_created_file(const char* path, HANDLE file)
{
    if (flag_set(SFX_CLEANUP))
        add_record(path, file);
}

void remember_created_folder(const char* path)
{
    if (flag_set(SFX_CLEANUP))
        add_record(path, INVALID_HANDLE_VALUE);
}

void keep_created()
{
    created_size = 0;
    last_record = NO_RECORD;
}

// --- looking at a created path -----------------------------------------------------------------

enum Verdict {
    VERDICT_OURS,      // the very file or folder this run made (handle open)
    VERDICT_BUSY,      // there, but cannot be opened for removal now (in use)
    VERDICT_GONE,      // nothing at the path any more
    VERDICT_LINK,      // a reparse point stands at the path
    VERDICT_REPLACED,  // another file or folder stands at the path
};

// Windows 95, 98 and Me have no links and cannot open a folder: there a path is looked at,
// and removed, by name.
static bool system_has_links()
{
    return (windows_version & 0x80000000u) == 0;
}

static Verdict judge_by_name(CreatedRecord* record, bool* folder)
{
    DWORD attributes = path_attributes(record->path);
    *folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return attributes == INVALID_FILE_ATTRIBUTES ? VERDICT_GONE : VERDICT_OURS;
}

// Opens the path with access (and the right to read its identity) and judges what stands
// there; the handle stays open only for VERDICT_OURS, and is INVALID_HANDLE_VALUE where the
// system looks by name.
static Verdict judge_path(CreatedRecord* record, DWORD access, HANDLE* opened, bool* folder)
{
    *opened = INVALID_HANDLE_VALUE;
    if (!system_has_links())
        return judge_by_name(record, folder);
    *opened = open_without_following(record->path, access);
    if (*opened == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? VERDICT_GONE : VERDICT_BUSY;
    }
    FileIdentity now;
    DWORD attributes;
    Verdict verdict = VERDICT_BUSY;
    if (read_identity(*opened, &now, &attributes)) {
        *folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            verdict = VERDICT_LINK;
        else if (record->identity_known && memcmp(&now, &record->identity, sizeof now) != 0)
            verdict = VERDICT_REPLACED;
        else
            verdict = VERDICT_OURS;
    }
    if (verdict != VERDICT_OURS) {
        CloseHandle(*opened);
        *opened = INVALID_HANDLE_VALUE;
    }
    return verdict;
}

// --- removing ----------------------------------------------------------------------------------

// FILE_DISPOSITION_INFO and its class number, as Windows Vista defined them.
struct DispositionInfo {
    BOOLEAN delete_file;
};
enum { FILE_DISPOSITION_CLASS = 4 };
typedef BOOL(WINAPI* SetFileInfoCall)(HANDLE, int, LPVOID, DWORD);

// Removes the file or folder through the handle that was checked, so nothing can come
// between check and removal; the system removes it when the handle closes. Windows XP and
// older lack the call: there the path is removed by name right after the check, the handle
// still open (so the path cannot be renamed away in between, only unlinked and replaced, which
// needs rights over the folder that a private folder gives no one else).
static bool remove_checked(HANDLE opened, const char* path, bool folder)
{
    SetFileInfoCall set_info = (SetFileInfoCall)(void*)kernel_procedure("SetFileInformationByHandle");
    bool removed;
    if (set_info != NULL && opened != INVALID_HANDLE_VALUE) {
        DispositionInfo disposition = {TRUE};
        removed = set_info(opened, FILE_DISPOSITION_CLASS, &disposition, sizeof disposition) != FALSE;
    } else {
        removed = folder ? remove_folder_path(path) != FALSE : delete_file_path(path) != FALSE;
    }
    if (opened != INVALID_HANDLE_VALUE)
        CloseHandle(opened);
    if (removed && !folder)
        remove_web_mark(path);
    return removed;
}

// True when the folder that path names exists (the folder part of a created path).
static bool parent_exists(const char* path)
{
    static char parent[LONG_PATH_CAPACITY];
    copy_checked(parent, sizeof parent, path, 7600);
    char* name = (char*)file_name_part(parent);
    if (name == parent)
        return true;
    name[-1] = '\0';
    return path_attributes(parent) != INVALID_FILE_ATTRIBUTES;
}

// A created path that is not there any more was moved away or removed by the command. Only
// the uppermost of a moved tree is named: the paths below it went with it.
static void note_gone(CreatedRecord* record)
{
    record->state = RECORD_GONE;
    if (parent_exists(record->path))
        log_left_behind(record->path, LEFT_GONE);
}

static void leave(CreatedRecord* record, LeftBehind reason)
{
    record->state = RECORD_LEFT;
    log_left_behind(record->path, reason);
}

// One try at one record. True when it is settled (removed, gone, or left with a log line).
static bool try_removal(CreatedRecord* record)
{
    HANDLE opened;
    bool folder = false;
    switch (judge_path(record, DELETE, &opened, &folder)) {
    case VERDICT_OURS:
        if (remove_checked(opened, record->path, folder)) {
            record->state = RECORD_GONE;
            return true;
        }
        return false;
    case VERDICT_BUSY:
        return false;
    case VERDICT_GONE:
        note_gone(record);
        return true;
    case VERDICT_LINK:
        leave(record, LEFT_LINK);
        return true;
    case VERDICT_REPLACED:
        leave(record, LEFT_REPLACED);
        return true;
    }
    return false;
}

// --- what stays until the next restart --------------------------------------------------------

static bool is_scheduled(const char* path)
{
    for (CreatedRecord* record = record_at(last_record); record != NULL; record = record_at(record->previous)) {
        if (record->state == RECORD_SCHEDULED && lstrcmpiA(record->path, path) == 0)
            return true;
    }
    return false;
}

// True when everything the folder still holds is scheduled for removal at the restart, which
// removes in the order of scheduling: the folder is empty by the time its turn comes.
static bool holds_only_scheduled(const char* folder)
{
    static char pattern[LONG_PATH_CAPACITY];
    // A folder whose search pattern would not fit a path cannot be looked into: it stays.
    if (strlen(folder) + 2 >= sizeof pattern)
        return false;
    copy_checked(pattern, sizeof pattern, folder, 7601);
    append_checked(pattern, sizeof pattern, "\\*", 7602);
    FoundFile found;
    HANDLE search = find_first_path(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    bool only_scheduled = true;
    do {
        if (strcmp(found.name, ".") == 0 || strcmp(found.name, "..") == 0)
            continue;
        static char child[LONG_PATH_CAPACITY];
        copy_checked(child, sizeof child, folder, 7603);
        append_checked(child, sizeof child, "\\", 7604);
        if (strlen(child) + strlen(found.name) >= sizeof child || !is_scheduled(strcat(child, found.name)))
            only_scheduled = false;
    } while (only_scheduled && find_next_path(search, &found));
    FindClose(search);
    return only_scheduled;
}

// A path the system cannot remove now (a file still open in a process outside the command's
// job, a folder holding it) is left to the next restart, checked as a removal is. A folder goes
// on the schedule only when it will be empty by then; one that holds what this run did not
// make (the command's files) stays, and says so. Windows 95, 98 and Me have no such schedule,
// nor has NT for a user without administrator rights: the path stays. The schedule itself goes
// by name: the identity is checked when the path is put on it.
static void schedule_removal(CreatedRecord* record)
{
    HANDLE opened;
    bool folder = false;
    Verdict verdict = judge_path(record, 0, &opened, &folder);
    if (verdict == VERDICT_OURS) {
        if (opened != INVALID_HANDLE_VALUE)
            CloseHandle(opened);
        if (folder && !holds_only_scheduled(record->path)) {
            leave(record, LEFT_NOT_EMPTY);
        } else if (move_path(record->path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            record->state = RECORD_SCHEDULED;
            log_left_behind(record->path, LEFT_AT_RESTART);
        } else {
            leave(record, LEFT_NOT_REMOVED);
        }
    } else if (verdict == VERDICT_BUSY) {
        leave(record, LEFT_NOT_REMOVED);
    } else {
        try_removal(record);  // changed since the last try: judged and logged as such
    }
}

// One pass over the records, backwards. True when every record is settled; on the last try
// each one left is scheduled or logged.
static bool remove_listed(bool last_try)
{
    bool all_settled = true;
    for (CreatedRecord* record = record_at(last_record); record != NULL; record = record_at(record->previous)) {
        if (record->state != RECORD_PRESENT)
            continue;
        if (try_removal(record))
            continue;
        if (last_try)
            schedule_removal(record);
        else
            all_settled = false;
    }
    return all_settled;
}

// A program that has just ended may still hold its own file for a moment (the system, or a
// virus scanner looking at it), so what is left after the first pass gets a second chance.
enum { SECOND_PASS_DELAY_MS = 1000 };

void remove_created()
{
    if (last_record == NO_RECORD)
        return;
    if (!remove_listed(false)) {
        Sleep(SECOND_PASS_DELAY_MS);
        remove_listed(true);
    }
    keep_created();
}
