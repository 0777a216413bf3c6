// The stub's built-in texts and dialog templates, in German and in English. gen_resources.py
// writes their definitions (resource_data.cpp) at build time from messages*.txt,
// fixed_texts*.txt, usage*.txt and the dialog tables in dialog_templates.py. The names below are
// the German data; text_sets gathers every language's (the stub uses the one it chose). None of the arrays holds a ZIP record signature or the stub record's
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
extern const char text_log_message[];          // log line prefix of a message ("Meldung: ")
extern const char text_log_file[];             // log line prefix of an extracted file
extern const char text_log_end[];              // log line prefix of the exit code
extern const char text_log_license[];          // log line: -silent took the licence as accepted
extern const char text_log_at_restart[];       // log line prefix of a path left to the next restart
extern const char text_log_not_removed[];      // log line prefix of a path the clean-up left
extern const char text_log_not_empty[];        // ... a created folder that holds what the run did not make
extern const char text_log_link[];             // ... a created path now a link or other reparse point
extern const char text_log_replaced[];         // ... a created path where something else stands now
extern const char text_log_gone[];             // ... a created path moved away or removed by the command
extern const char text_log_folder[];           // log line prefix of the run's own temporary folder
extern const char text_split_missing[];        // a split package's volume is missing; %s its name
extern const char text_split_damaged[];        // ... differs from its SHA-256; %s its name

// --- licence dialog ------------------------------------------------------------------------
// One raw Deflate stream that inflates to the licence dialog template (at most 600 bytes, as
// the password template). Its Accept button is not IDOK, so Enter never accepts.
enum { LICENSE_TEXT_ID = 602, LICENSE_ACCEPT_ID = 603 };
extern const uint8_t license_template_blob[];
extern const uint32_t license_template_blob_size;

// --- the languages -------------------------------------------------------------------------
// Each language's complete set: the same kinds of data as the German ones above, with the same
// limits (the generator checks them, and keeps every text no longer than its German one).
enum Language { LANGUAGE_GERMAN, LANGUAGE_ENGLISH, LANGUAGE_COUNT };

struct TextSet {
    const uint32_t* message_offsets;  // MESSAGE_OFFSET_COUNT
    const uint8_t* message_blob;
    uint32_t message_blob_size;
    uint32_t message_data_size;
    uint32_t main_template_size;
    const uint8_t* password_template_blob;
    uint32_t password_template_blob_size;
    uint32_t password_template_size;
    const uint8_t* usage_blob;
    uint32_t usage_blob_size;
    const uint8_t* license_template_blob;
    uint32_t license_template_blob_size;
    uint32_t license_template_size;
    const char* header_error;
    const char* product_info;
    const char* log_message;
    const char* log_file;
    const char* log_end;
    const char* log_license;
    const char* log_at_restart;
    const char* log_not_removed;
    const char* log_not_empty;
    const char* log_link;
    const char* log_replaced;
    const char* log_gone;
    const char* log_folder;
    const char* split_missing;
    const char* split_damaged;
};
extern const TextSet text_sets[LANGUAGE_COUNT];

#endif
