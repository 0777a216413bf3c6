// The attached ZIP archive, read strictly front to back through its local headers.
#ifndef TVSFX_STUB_ARCHIVE_H
#define TVSFX_STUB_ARCHIVE_H

#include <stdint.h>

#include "zip_format.h"

enum { MAX_NAME_LENGTH = 260 };

// Reads records up to the next local header: true with its signature consumed (read_local_header
// reads the header), false once the archive has ended. Central directory headers are stepped
// over; a spanned archive ends at its central directory, so the last disk is never asked for.
bool walk_archive();
void read_local_header();
void skip_central_header();
void finish_at_end_record();

#endif
