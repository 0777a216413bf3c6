// The licence page's text: one raw Deflate stream at the start of the attached section, in
// front of the configuration block, located by the stub record's license_offset and
// license_size. Portable, no Win32: the stub compiles it too.
#ifndef TVSFX_FORMAT_LICENSE_TEXT_H
#define TVSFX_FORMAT_LICENSE_TEXT_H

#include <stdint.h>

enum {
    // The text as the stub shows it: in its code page, CR LF line ends, no NUL. 64 KiB is what
    // a multi-line edit control holds on every Windows, and the text and its NUL fill exactly
    // LICENSE_TEXT_CAPACITY.
    LICENSE_TEXT_MAX = 65535,
    LICENSE_TEXT_CAPACITY = LICENSE_TEXT_MAX + 1,
    // Its stored form. Deflate never stores more than the data and 5 bytes per stored block
    // of at most 65,535 bytes, so 1 KiB above the text leaves ample room.
    LICENSE_STORED_MAX = LICENSE_TEXT_MAX + 1024,
};

#endif
