// The archive file at its lowest level: forward steps that stay inside the current file, and
// the read-error report every reader of the archive ends with.
#ifndef TVSFX_READER_H
#define TVSFX_READER_H

#include <stdint.h>

// Read-error site codes, shown as " <code>" behind message 36.
enum ReadErrorSite {
    READ_ERROR_NAME = 1,
    READ_ERROR_DATA = 2,  // entry data: read, stepped over, or its data descriptor
    READ_ERROR_LOCAL_HEADER_NEXT_DISK = 3,
    READ_ERROR_LOCAL_HEADER = 4,  // also its extra field
    READ_ERROR_CENTRAL_HEADER = 6,  // also its extra field and comment
    READ_ERROR_END_RECORD = 7,
    READ_ERROR_SIGNATURE_NEXT_DISK = 8,
    READ_ERROR_SIGNATURE = 9,
    READ_ERROR_ENCRYPTION_HEADER = 14,
};

// Message 36 with the program's path and the site code, as a fatal error.
[[noreturn]] void report_read_error(int site);
// Bytes from the current position of archive_handle to the end of its file.
uint64_t bytes_left_in_file(int site);
// Moves archive_handle forward over count bytes nothing reads. Sizes are unsigned, so no step
// goes backwards; one that would end past the end of the file is damage and ends the run with
// the read error of site. So no archive can make the walk meet a record twice.
void skip_bytes(uint64_t count, int site);

#endif
