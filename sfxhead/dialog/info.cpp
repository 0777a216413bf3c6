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

void show_info()
{
    char text[INFO_TEXT_CAPACITY];
    if (about_text[0] != '\0')
        format_checked(text, sizeof text, 5804, 5804, message_text(MSG_INFO_LAYOUT), about_text, texts->product_info);
    else
        format_checked(text, sizeof text, 5808, 5808, texts->product_info);
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
    char text[HELP_TEXT_CAPACITY];
    format_checked(text, sizeof text, 4658, 4658, message_text(MSG_HELP), file_name_part(self_path));
    show_box(text, MB_OK);
}
