// Spanned archives: one file per removable disk, each disk labelled "PKBACK#" and its number.
#ifndef TVSFX_VOLUME_H
#define TVSFX_VOLUME_H

#include <stdint.h>

// Disk number of a drive without a valid label.
enum : uint16_t { NO_VOLUME = 0xFFFF };

extern uint16_t disk_number;

// Closes the current archive file, prompts until disk `wanted` is in the drive and opens its
// file (".EXE" or ".ZIP" form of the program's name) into archive_handle.
void open_volume(uint16_t wanted, bool exe_name);
// The disk number in the volume label of drive ("A:"), or NO_VOLUME.
uint16_t read_volume_number(const char* drive);
// Steps over the rest of the current entry's data across disks; returns the bytes stepped
// over in this call, 0 when nothing was left.
uint64_t skip_entry_data();

#endif
