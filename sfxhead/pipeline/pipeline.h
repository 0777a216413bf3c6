// The entry data pipeline: from an entry's compressed data in the archive to its output file.
#ifndef TVSFX_PIPELINE_H
#define TVSFX_PIPELINE_H

#include <stddef.h>
#include <stdint.h>
#include <windows.h>

#include "inflate.h"

// Input and output buffers: IO_BUFFER_CAPACITY bytes each (inflate.h).
extern uint8_t* input_buffer;
extern uint8_t* output_buffer;

// Writes the current entry's data to its output file, which the driver has opened: data,
// file time, close, and the CRC-32 check.
void extract_entry_data();
// Pumps the message queue between two writes; true when the user chose to cancel.
bool poll_cancel();
// The progress percentage of the meter, from bytes_written and the stub record's total_size.
WORD progress_percentage();

// Formats "Extrahiere <name>" with the last path component of display_name; the formatting
// result, negative on failure. Also used by the meter's painting.
int format_extract_status(char* buffer, size_t capacity);

#endif
