// Removing what a run created, for packages built with --cleanup: once the command and every
// process it started have ended, the files and folders this run made go again, and nothing
// that was there before is touched (a file the run replaced keeps its new content: the user's
// file of that name was there before).
#include "cleanup.h"

#include <string.h>

#include "failure.h"
#include "globals.h"
#include "log.h"

// The paths this run created, each with its NUL, in the order they were made. A folder is
// always made before what it holds, so going backwards removes the deepest first. One block
// on the heap that grows as needed: it holds one path per entry and per folder made, so its
// size follows the archive's names, and a run that creates nothing costs nothing.
static char* created_paths;
static size_t created_size;
static size_t created_capacity;

enum { CREATED_BLOCK_STEP = 4096 };

static bool make_room(size_t needed)
{
    if (created_size + needed <= created_capacity)
        return true;
    size_t capacity = created_capacity * 2 + needed + CREATED_BLOCK_STEP;
    HLOCAL block = created_paths != NULL ? LocalReAlloc(created_paths, capacity, LMEM_MOVEABLE)
                                         : LocalAlloc(LMEM_FIXED, capacity);
    if (block == NULL)
        return false;
    created_paths = (char*)block;
    created_capacity = capacity;
    return true;
}

// A created path is either a file or a folder; the call meant for the other kind fails.
static bool remove_path(const char* path)
{
    return DeleteFileA(path) || RemoveDirectoryA(path);
}

void remember_created(const char* path)
{
    if (!flag_set(SFX_CLEANUP))
        return;
    size_t size = strlen(path) + 1;
    if (!make_room(size)) {
        // What cannot be noted would stay for ever: it goes at once, and the run ends.
        remove_path(path);
        fatal_error(text_no_memory);
    }
    memcpy(created_paths + created_size, path, size);
    created_size += size;
}

void keep_created()
{
    created_size = 0;
}

// A path the system cannot remove now (a file still open in a process outside the command's
// job, a folder holding it or something the command put there) is left to the next restart,
// which removes a folder only when it is empty by then. Windows 95, 98 and Me have no such
// schedule, nor has NT for a user without administrator rights: the path stays.
static void schedule_removal(const char* path)
{
    log_left_behind(path, MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE);
}

// Marks a path of the list as gone: no path of the system begins with this character.
enum { GONE_MARK = '|' };

// One pass over the list, backwards. A path that is not there any more counts as removed.
// True when every path has gone; on the last try each path left is scheduled and logged.
static bool remove_listed(bool last_try)
{
    bool all_gone = true;
    char* end = created_paths + created_size;
    while (end > created_paths) {
        char* path = end - 1;  // at its NUL
        while (path > created_paths && path[-1] != '\0')
            --path;
        end = path;
        if (*path == GONE_MARK)
            continue;
        if (remove_path(path) || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
            *path = GONE_MARK;
        else if (last_try)
            schedule_removal(path);
        else
            all_gone = false;
    }
    return all_gone;
}

// A program that has just ended may still hold its own file for a moment (the system, or a
// virus scanner looking at it), so what is left after the first pass gets a second chance.
enum { SECOND_PASS_DELAY_MS = 1000 };

void remove_created()
{
    if (created_size == 0)
        return;
    if (!remove_listed(false)) {
        Sleep(SECOND_PASS_DELAY_MS);
        remove_listed(true);
    }
    created_size = 0;
}
