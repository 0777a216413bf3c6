// Removing what a run created, for packages built with --cleanup.
#ifndef TVSFX_CLEANUP_H
#define TVSFX_CLEANUP_H

#include <windows.h>

// Notes a file this run has just created, with its open handle, or a folder (only in a package
// with SFX_CLEANUP): the path and the identity the system gave it.
void remember_created_file(const char* path, HANDLE file);
void remember_created_folder(const char* path);
// The run's files stay where they are: extracted without starting the command.
void keep_created();
// Removes every noted path that is still what this run made, the deepest first, never through
// a link; what cannot go now is scheduled for removal at the next restart where the system
// allows it and nothing else stops it. Everything left is logged with its reason.
void remove_created();

#endif
