// The two kinds of input: an existing ZIP archive or a folder.
#ifndef TVSFX_INPUT_H
#define TVSFX_INPUT_H

#include <string>

#include "archive.h"
#include "format/path_limits.h"

// Reads an input ZIP with libzip; headers the builder must keep exactly (DOS time, flags,
// extra fields) are taken from the archive's own bytes. Refuses what the stub cannot read.
// Each entry's `unicode_name` is worked out here, names without a UTF-8 flag by `reading`.
struct NameReading;
ArchiveInput read_input_zip(const std::string& path, const NameReading& reading);

// What the walk of a folder input takes at most, so that no folder, however it nests or
// links, makes it run or grow without bound. Each refusal names the path where it stopped.
//
// Files and empty folders: ZIP64 counts any number, so this bound only keeps the builder's
// memory in reach (each entry is held as its name and header fields until the central
// directory is written, some hundred bytes; 4 Mi entries take about 2 GB).
constexpr size_t MAX_FOLDER_ENTRIES = size_t(1) << 22;
// Folders walked, counting again those reached through a link a second time: a bound for
// trees of folders that hold few files.
constexpr size_t MAX_FOLDERS_WALKED = size_t(1) << 22;
// Nesting: every level adds at least one character and a '/' to the names below it, so
// below this depth no name fits the NT family's long paths (MAX_LONG_NAME_UNITS), or with
// --win9x the stub's MAX_ENTRY_NAME. The walk holds each level's folder open.
constexpr unsigned MAX_FOLDER_DEPTH = (MAX_LONG_NAME_UNITS + 1) / 2;
constexpr unsigned MAX_FOLDER_DEPTH_WIN9X = (MAX_ENTRY_NAME + 1) / 2;
static_assert(2 * MAX_FOLDER_DEPTH >= MAX_LONG_NAME_UNITS, "a name at the deepest level would still fit");
static_assert(2 * MAX_FOLDER_DEPTH_WIN9X >= MAX_ENTRY_NAME, "a name at the deepest level would still fit");
// Symbolic links followed in all: each is resolved to check that it stays inside the folder,
// and links that fan out (two per level to the next) would otherwise be followed 2^levels
// times.
constexpr size_t MAX_LINKS_FOLLOWED = 4096;

// Collects a folder's files in sorted order; each is compressed when it is written.
// Names are UTF-8 on this system; bytes that are not are read by `reading`. Each file is
// noted with the identity the walk saw, and only that very file is read later
// (open_walked_file). Refuses what exceeds the limits above, with `win9x` the depth of
// MAX_FOLDER_DEPTH_WIN9X.
ArchiveInput read_input_folder(const std::string& path, const NameReading& reading, bool win9x);

#endif
