// The attached ZIP archive, read strictly front to back through its local headers.
#ifndef TVSFX_STUB_ARCHIVE_H
#define TVSFX_STUB_ARCHIVE_H

#include <stdint.h>

#include "reader.h"
#include "zip_format.h"

// The current entry's local header: the 26 bytes after its signature, field by field.
// One global record, overwritten by every local header.
struct EntryHeader {
    uint8_t version_needed;     // not used
    uint8_t version_host;       // not used
    uint16_t gp_flags;          // bit 0: encrypted; bit 3: a data descriptor follows the data
    uint16_t method;            // METHOD_STORED, METHOD_DEFLATE or METHOD_DEFLATE64
    uint16_t mod_time;          // MS-DOS time; high byte = password check byte with bit 3
    uint16_t mod_date;          // MS-DOS date
    uint32_t crc32;             // of the uncompressed data; high byte = check byte without bit 3
    uint32_t compressed_size;   // counted down while the data is read (unsigned)
    uint32_t uncompressed_size;
    uint16_t name_length;       // at most 260
    uint16_t extra_length;      // skipped
};

enum { MAX_NAME_LENGTH = 260 };

extern EntryHeader entry_header;
extern int64_t compressed_size_as_read;  // tested for > 0 before anything is decoded
extern char entry_name[];                // PATH_CAPACITY: the name, later the output path
extern char display_name[];              // PATH_CAPACITY: the name shown in messages
extern int entry_encrypted;              // bit 0 of the current entry (preset at start-up)
extern int descriptor_follows;           // bit 3 of the current entry

void walk_archive();
void read_local_header();
void skip_central_header();
void finish_at_end_record();

#endif
