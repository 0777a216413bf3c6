// The configuration block the builder writes in front of the archive and the stub reads at
// start-up: eight NUL-terminated strings, stored as one raw Deflate stream. Portable, no Win32:
// the stub compiles it too.
#ifndef TVSFX_FORMAT_CONFIG_FIELDS_H
#define TVSFX_FORMAT_CONFIG_FIELDS_H

#include <stdint.h>

// The fields in their order in the block.
enum ConfigField {
    FIELD_FOLDER,   // default target folder
    FIELD_COMMAND,  // command after extraction
    FIELD_PARAMS,   // its parameters
    FIELD_IGNORED,  // not used by the stub (no limit of its own)
    FIELD_PROMPT,   // start-up prompt
    FIELD_TITLE,    // window title
    FIELD_ABOUT,    // Info button text
    FIELD_INFO,     // "-info" text
    CONFIG_FIELD_COUNT
};

// The stub reads the block into fixed areas, so both sizes are hard limits.
enum {
    CONFIG_STORED_MAX = 1256,
    CONFIG_DECODED_MAX = 4100,
};

// The stub's buffer for each field, terminating NUL included; the builder refuses anything
// longer than capacity - 1 bytes.
constexpr uint16_t config_field_capacity[CONFIG_FIELD_COUNT] = {
    261,  // FIELD_FOLDER
    257,  // FIELD_COMMAND
    257,  // FIELD_PARAMS
    0,    // FIELD_IGNORED
    514,  // FIELD_PROMPT
    65,   // FIELD_TITLE
    516,  // FIELD_ABOUT
    512,  // FIELD_INFO
};

// The Info box formats the description, two line breaks, the product text and a final line
// break into INFO_TEXT_CAPACITY bytes (NUL included). A description longer than
// ABOUT_SHOWN_MAX fits the block but stops the stub with an internal error when Info is pressed.
enum {
    INFO_TEXT_CAPACITY = 512,
    INFO_LAYOUT_BREAKS = 3,     // line breaks the layout adds around the two texts
    PRODUCT_TEXT_LENGTH = 113,  // product_info in resources/fixed_texts.txt
    ABOUT_SHOWN_MAX = INFO_TEXT_CAPACITY - 1 - INFO_LAYOUT_BREAKS - PRODUCT_TEXT_LENGTH,
};

#endif
