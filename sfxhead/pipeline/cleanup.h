// Removing what a run created, for packages built with --cleanup.
#ifndef TVSFX_CLEANUP_H
#define TVSFX_CLEANUP_H

// Notes a file or folder this run has just created (only in a package with SFX_CLEANUP).
void remember_created(const char* path);
// The run's files stay where they are: extracted without starting the command.
void keep_created();
// Removes every noted path, the deepest first; what cannot go now is scheduled for removal
// at the next restart where the system allows it, and logged either way.
void remove_created();

#endif
