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

// Whether a stub record's licence fields can be right: offset 0 (no licence), or a stored
// text of 1..LICENSE_STORED_MAX bytes that ends by `next` (the configuration block, or the
// archive when there is none) and within the file. The stub holds every run to this at
// start-up, whether or not the page is shown, and inspect reports a record that fails it.
constexpr bool license_record_sound(uint32_t offset, uint32_t size, uint32_t next, uint64_t file_size)
{
    return offset == 0 || (size != 0 && size <= LICENSE_STORED_MAX && (uint64_t)offset + size <= next &&
                           (uint64_t)offset + size <= file_size);
}

#endif
