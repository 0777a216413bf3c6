// The Info box (the archive's description and the product text) and the Help box.
#include "info.h"

#include <string.h>

#include "config_fields.h"
#include "failure.h"
#include "globals.h"
#include "inflate.h"
#include "message_ids.h"
#include "paths.h"
#include "resource_data.h"

enum { HELP_TEXT_CAPACITY = 500 };

// The boxes keep the limits of their texts in characters; in wide mode the UTF-8 bytes of those
// characters need up to three times the room.
static void check_text_length(const char* text, size_t capacity, int line)
{
    if (text_length(text) >= capacity)
        internal_error_at(line);
}

void show_info()
{
    static char text[run_text_capacity(INFO_TEXT_CAPACITY)];
    // The product text is in the ANSI code page: in the run's form before it joins the description.
    static char product[run_text_capacity(INFO_TEXT_CAPACITY)];
    if (!ansi_to_run_text(texts->product_info, strlen(texts->product_info), product, sizeof product))
        internal_error_at(8103);
    if (about_text[0] != '\0')
        format_checked(text, sizeof text, 5804, 5804, message_text(MSG_INFO_LAYOUT), about_text, product);
    else
        format_checked(text, sizeof text, 5808, 5808, product);
    check_text_length(text, INFO_TEXT_CAPACITY, 5804);
    show_box(text, MB_OK);
}

// The usage of the command line, stored compressed in code page 850 like the message table.
void show_usage()
{
    char text[USAGE_TEXT_CAPACITY];
    memset(text, 0, sizeof text);
    inflate_memory(texts->usage_blob, texts->usage_blob_size, (uint8_t*)text, sizeof text - 1);
    OemToCharBuffA(text, text, sizeof text - 1);
    show_notice(text);
}

void show_help()
{
    static char text[run_text_capacity(HELP_TEXT_CAPACITY)];
    format_checked(text, sizeof text, 4658, 4658, message_text(MSG_HELP), file_name_part(self_path));
    check_text_length(text, HELP_TEXT_CAPACITY, 4658);
    show_box(text, MB_OK);
}
