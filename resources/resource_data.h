// The stub's built-in texts and dialog templates. gen_resources.py writes their definitions
// (resource_data.cpp) at build time from messages.txt, fixed_texts.txt, usage.txt and the dialog tables in
// dialog_templates.py. None of the arrays holds a ZIP record signature or the stub record's
// marker; the generator checks that.
#ifndef TVSFX_RESOURCE_DATA_H
#define TVSFX_RESOURCE_DATA_H

#include <stdint.h>

#include "message_ids.h"

// --- message table -------------------------------------------------------------------------
// One raw Deflate stream (no zlib header) that inflates to message_data_size bytes: the texts
// of ids 0..53 in code page 850, each NUL-terminated, back to back, then the main dialog
// template (main_template_size bytes, UTF-16 strings) at message_offsets[MSG_MAIN_DIALOG].
// Offset k is where message k starts; offset 54 is also the length of the text part.
extern const uint32_t message_offsets[MESSAGE_OFFSET_COUNT];
extern const uint8_t message_blob[];
extern const uint32_t message_blob_size;    // compressed bytes
extern const uint32_t message_data_size;    // decompressed bytes, texts and template
extern const uint32_t main_template_size;   // bytes of the template behind the texts

// --- password dialog -----------------------------------------------------------------------
// One raw Deflate stream that inflates to the password dialog template.
extern const uint8_t password_template_blob[];
extern const uint32_t password_template_blob_size;  // compressed bytes
extern const uint32_t password_template_size;       // decompressed bytes

// --- usage of the command line ("-?", "-help") ---------------------------------------------
// One raw Deflate stream that inflates to the NUL-terminated usage text in code page 850;
// text and NUL fit USAGE_TEXT_CAPACITY - 1 bytes (the generator checks that).
enum { USAGE_TEXT_CAPACITY = 1024 };
extern const uint8_t usage_blob[];
extern const uint32_t usage_blob_size;  // compressed bytes

// --- fixed texts outside the table, in Windows-1252 (the ANSI code page of Western systems) -
extern const char text_caption[];              // caption of every message box
extern const char text_header_error[];         // damaged stub; shown before the table exists
extern const char text_no_memory[];            // decoder out of memory
extern const char text_no_memory_resources[];  // no block for the password dialog template
extern const char text_product_info[];         // Info box; a format string without arguments
extern const char text_report_notice[];        // after the internal-error report; no arguments

#endif
