// The configuration block: the eight NUL-terminated configuration strings as one raw
// Deflate stream, placed in front of the archive.
#ifndef TVSFX_CONFIG_BLOCK_H
#define TVSFX_CONFIG_BLOCK_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "format/config_fields.h"

using ConfigFields = std::array<std::string, CONFIG_FIELD_COUNT>;

// Compresses the fields (already in the stub's code page) and refuses a block the stub
// cannot read: more than CONFIG_STORED_MAX stored or CONFIG_DECODED_MAX decoded bytes.
std::vector<uint8_t> encode_config_block(const ConfigFields& fields);

// Inflates a stored block and splits it into the eight fields; false with `error` set
// when the data is not a complete raw Deflate stream of eight strings.
bool decode_config_block(const uint8_t* data, size_t size, ConfigFields& fields, std::string& error);

#endif
