// The licence page's text: read from --license (UTF-8), made into the form the stub shows (its
// code page, CR LF line ends) and compressed; and read back for inspect.
#ifndef TVSFX_LICENSE_TEXT_H
#define TVSFX_LICENSE_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

#include "format/license_text.h"

// The text as stored: one raw Deflate stream of `text_size` bytes of text.
struct LicenseBlock {
    std::vector<uint8_t> stored;  // empty: no licence page
    size_t text_size = 0;
};

// Reads the file `path`, converts it to `codepage` and compresses it; refuses (naming the file
// and, for a bad character, its line) what the stub could not show.
LicenseBlock make_license_block(const std::string& path, const std::string& codepage);

// The text as the stub would show it (before the first NUL, which a good block holds none of);
// false with `error` set when the block is no complete raw Deflate stream or too long.
bool decode_license_block(const uint8_t* data, size_t size, std::string& text, std::string& error);

#endif
