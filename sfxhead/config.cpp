// The configuration block attached in front of the archive, and the command line.
#include "config.h"

#include <stdio.h>
#include <string.h>

#include "config_fields.h"
#include "failure.h"
#include "globals.h"
#include "inflate.h"
#include "message_ids.h"
#include "resource_data.h"
#include "volume.h"

// One spare byte behind the decoded fields stays zero, so the field walk always ends in a NUL.
enum { CONFIG_OUTPUT_AREA = CONFIG_DECODED_MAX + 1 };

// The builder refuses a field longer than its capacity - 1: the buffers below must hold that.
static_assert(config_field_capacity[FIELD_FOLDER] == PATH_CAPACITY, "target folder buffer");
static_assert(config_field_capacity[FIELD_COMMAND] == COMMAND_CAPACITY, "command buffer");
static_assert(config_field_capacity[FIELD_PARAMS] == COMMAND_CAPACITY, "parameters buffer");
static_assert(config_field_capacity[FIELD_PROMPT] == PROMPT_CAPACITY, "prompt buffer");
static_assert(config_field_capacity[FIELD_TITLE] == TITLE_CAPACITY, "title buffer");
static_assert(config_field_capacity[FIELD_ABOUT] == ABOUT_CAPACITY, "Info text buffer");
static_assert(config_field_capacity[FIELD_INFO] == INFO_OPTION_CAPACITY, "-info text buffer");

// The decoded block: eight NUL-terminated strings back to back. Returns the next field, or
// the final NUL of the area when the block holds fewer fields.
static const char* next_field(const char* field, const char* area_end)
{
    const char* next = field + strlen(field) + 1;
    return next < area_end ? next : area_end;
}

static void read_config_block(uint8_t* stored, uint32_t length)
{
    LONG offset = (LONG)stub_record.config_offset;
    if (_llseek(archive_handle, offset, FILE_BEGIN) != offset)
        fatal_header_error();
    if (_lread(archive_handle, stored, length) != length)
        fatal_header_error();
}

static void store_prompt(const char* field)
{
    if (field[0] == '\0') {
        startup_prompt = NULL;
        return;
    }
    startup_prompt = (char*)LocalAlloc(LMEM_ZEROINIT, PROMPT_CAPACITY);
    if (startup_prompt == NULL)
        fatal_header_error();
    copy_checked(startup_prompt, PROMPT_CAPACITY, field, 2953);
}

static void store_fields(const char* area, const char* area_end)
{
    const char* field = area;
    copy_checked(target_folder, PATH_CAPACITY, field, 2925);
    field = next_field(field, area_end);
    copy_checked(command_text, COMMAND_CAPACITY, field, 2932);
    field = next_field(field, area_end);
    copy_checked(command_params, COMMAND_CAPACITY, field, 2937);
    field = next_field(field, area_end);
    field = next_field(field, area_end);  // FIELD_IGNORED is not used by the extractor
    store_prompt(field);
    field = next_field(field, area_end);
    if (flag_set(SFX_USE_TITLE))
        copy_checked(title_text, TITLE_CAPACITY, field, 2963);
    field = next_field(field, area_end);
    about_text[0] = '\0';
    copy_checked(about_text, ABOUT_CAPACITY, field, 2967);
    field = next_field(field, area_end);
    copy_checked(info_option_text, INFO_OPTION_CAPACITY, field, 2970);
}

void read_configuration()
{
    if (stub_record.config_offset == 0)
        return;
    // A block longer than its areas allow is damaged: it never reaches the decoder.
    uint32_t length = stub_record.archive_offset - stub_record.config_offset;
    if (stub_record.archive_offset < stub_record.config_offset || length > CONFIG_STORED_MAX)
        fatal_header_error();
    if (multi_volume)
        open_volume(1, true);

    uint8_t stored[CONFIG_STORED_MAX];
    char area[CONFIG_OUTPUT_AREA];
    memset(area, 0, sizeof area);
    read_config_block(stored, length);
    // The decoder result is not examined; only a block that decodes to more than its area
    // allows is refused. Such a block fills the spare byte, which the sink's count shows
    // (the byte itself does not: the 4101st byte of a block may well be a NUL).
    inflate_memory(stored, length, (uint8_t*)area, sizeof area);
    if (output_count > CONFIG_DECODED_MAX)
        fatal_header_error();
    store_fields(area, area + CONFIG_DECODED_MAX);
}

// --- command line ----------------------------------------------------------------------------

static bool starts_with_nocase(const char* text, const char* word)
{
    for (; *word; ++text, ++word) {
        char c = *text;
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
        if (c != *word)
            return false;
    }
    return true;
}

static void show_invalid_parameter(const char* from)
{
    char text[MESSAGE_BUFFER_CAPACITY];
    // A longer text is cut: the box shows as much of the rest of the line as fits.
    _snprintf(text, sizeof text - 1, message_text(MSG_INVALID_PARAMETER), from);
    text[sizeof text - 1] = '\0';
    MessageBoxA(NULL, text, text_caption, MB_OK);
}

// p is at "-args=" or "/args="; returns the closing quote, or null when the value is invalid.
static const char* take_args_value(const char* p)
{
    const char* quote = p + 6;
    if (*quote != '"')
        return NULL;
    const char* value = quote + 1;
    const char* end = value;
    while (*end && *end != '"')
        ++end;
    size_t count = end - value;
    if (count == 0 || *end != '"' || count >= EXTRA_ARGS_CAPACITY)
        return NULL;
    memcpy(extra_args, value, count);
    extra_args[count] = '\0';
    return end;
}

bool handle_command_line(const char* command_line)
{
    for (const char* p = command_line; *p; p = CharNextA(p)) {
        if (starts_with_nocase(p, "-info")) {
            MessageBoxA(NULL, info_option_text, text_caption, MB_OK);
            return false;
        }
        if (starts_with_nocase(p, "-args=") || starts_with_nocase(p, "/args=")) {
            const char* closing_quote = take_args_value(p);
            if (closing_quote == NULL) {
                show_invalid_parameter(p);
                return false;
            }
            p = closing_quote;
        } else if (*p != ' ') {
            show_invalid_parameter(p);
            return false;
        }
    }
    return true;
}

// --- AUTO / NOAUTO ---------------------------------------------------------------------------

// The end of the word at q: the first space (not a trail byte) or the end of the line.
static char* word_end(char* q)
{
    while (*q && *q != ' ')
        q = CharNextA(q);
    return q;
}

static void take_auto_folder(char* rest)
{
    while (*rest == ' ')
        ++rest;
    if (*rest == '\0')
        return;
    bool quoted = *rest == '"';
    if (quoted)
        ++rest;
    if (strlen(rest) > PATH_CAPACITY - 1) {
        auto_mode = 0;
        return;
    }
    copy_checked(target_folder, PATH_CAPACITY, rest, 3520);
    if (quoted && target_folder[0] != '\0') {
        char* closing = strchr(target_folder, '"');
        if (closing)
            *closing = '\0';
    }
}

void parse_auto_switch(char* command_line)
{
    char* p = command_line;
    while (*p && *p != '-' && *p != '/')
        p = CharNextA(p);
    if (*p == '\0')
        return;
    char* q = p + 1;
    const char* no_auto = message_text(MSG_NOAUTO);
    const char* auto_word = message_text(MSG_AUTO);
    if (strlen(q) < strlen(auto_word))
        return;
    char* end = word_end(q);
    CharUpperBuffA(q, (DWORD)(end - q));
    if (strncmp(q, no_auto, strlen(no_auto)) == 0) {
        auto_mode = 0;
        return;
    }
    if (strncmp(q, auto_word, strlen(auto_word)) == 0) {
        auto_mode = 1;
        take_auto_folder(q + strlen(auto_word));
    }
}
