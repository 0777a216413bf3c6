// Split packages: the archive lies in data volumes beside the program (split_volumes.h has
// their table). Anyone who can write to the download folder can replace a volume, so each is
// held open against writing and deleting and checked whole (size and SHA-256) before any
// byte of it is used; the run then reads it through that same handle.
#ifndef TVSFX_SPLIT_VOLUME_H
#define TVSFX_SPLIT_VOLUME_H

#include <stdint.h>

// Reads the volume table in front of the configuration block of the program's own file
// (archive_handle); a damaged table is a header error.
void load_volume_table();
// Opens and checks every volume not yet checked, in order: a missing one is asked for
// (Retry / Cancel), a damaged or replaced one ends the run naming it. Runs before the first
// byte of the archive is read. `poll` pumps the dialog's messages between two reads and says
// whether the user chose to cancel (the pipeline's poll_cancel).
void check_split_volumes(bool (*poll)());
// Makes volume `number` (1-based) archive_handle, at its start; past the last volume the
// archive is damaged.
void enter_split_volume(uint16_t number);

#endif
