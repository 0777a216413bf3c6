// The configuration block attached in front of the archive, and the command line.
#include "config.h"

#include <stdio.h>
#include <string.h>

#include "config_fields.h"
#include "failure.h"
#include "globals.h"
#include "inflate.h"
#include "info.h"
#include "log.h"
#include "message_ids.h"
#include "password.h"
#include "password_limit.h"
#include "resource_data.h"
#include "volume.h"
#include "wide_api.h"

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

// A text of the block in the run's form: SFX_UTF8_TEXTS says the block's texts are UTF-8,
// otherwise they are in the ANSI code page. Windows 95, 98 and Me refuse a UTF-8 text with a
// character their code page lacks, as a damaged block: never a best-fit stand-in.
static void store_text(char* text, size_t field_capacity, const char* field, int line)
{
    // The field's own limit, as the builder keeps it; its conversion gets three times the room.
    size_t length = strlen(field);
    size_t capacity = run_text_capacity(field_capacity);
    if (length >= field_capacity)
        internal_error_at(line);
    if (!flag_set(SFX_UTF8_TEXTS)) {
        if (!ansi_to_run_text(field, length, text, capacity))
            internal_error_at(line);
    } else if (wide_mode) {
        if (!is_valid_utf8(field, length))
            fatal_header_error();
        copy_checked(text, capacity, field, line);
    } else if (!utf8_to_ansi(field, length, text, capacity)) {
        fatal_header_error();
    }
}

static void store_prompt(const char* field)
{
    if (field[0] == '\0') {
        startup_prompt = NULL;
        return;
    }
    startup_prompt = (char*)LocalAlloc(LMEM_ZEROINIT, run_text_capacity(PROMPT_CAPACITY));
    if (startup_prompt == NULL)
        fatal_header_error();
    store_text(startup_prompt, PROMPT_CAPACITY, field, 2953);
}

static void store_fields(const char* area, const char* area_end)
{
    const char* field = area;
    store_text(target_folder, PATH_CAPACITY, field, 2925);
    field = next_field(field, area_end);
    store_text(command_text, COMMAND_CAPACITY, field, 2932);
    field = next_field(field, area_end);
    store_text(command_params, COMMAND_CAPACITY, field, 2937);
    field = next_field(field, area_end);
    field = next_field(field, area_end);  // FIELD_IGNORED is not used by the extractor
    store_prompt(field);
    field = next_field(field, area_end);
    if (flag_set(SFX_USE_TITLE))
        store_text(title_text, TITLE_CAPACITY, field, 2963);
    field = next_field(field, area_end);
    about_text[0] = '\0';
    store_text(about_text, ABOUT_CAPACITY, field, 2967);
    field = next_field(field, area_end);
    store_text(info_option_text, INFO_OPTION_CAPACITY, field, 2970);
}

void read_configuration()
{
    if (stub_record.config_offset == 0)
        return;
    // A block longer than its areas allow is damaged: it never reaches the decoder.
    uint32_t length = stub_record.archive_offset - stub_record.config_offset;
    if (stub_record.archive_offset < stub_record.config_offset || length > CONFIG_STORED_MAX)
        fatal_header_error();
    if (multi_volume && !split_volumes)
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

// What the command line asks for. It is scanned before start-up, so that -silent and -log=
// hold from the first message on, and acted on once the texts are loaded.
static const char* invalid_parameter;  // the line from the first invalid parameter on, or null
static bool info_asked;
static bool usage_asked;
static bool extract_only_asked;  // -extract-only: the command after extraction is not started
static char folder_switch[LONG_PATH_CAPACITY];          // -dir=; empty when not given
static char password_switch[PASSWORD_CAPACITY];        // -password=; empty when not given

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

// "-word" or "/word" at p, in any letter case.
static bool is_switch(const char* p, const char* word)
{
    return (*p == '-' || *p == '/') && starts_with_nocase(p + 1, word);
}

// A switch without a value must end its token.
static bool is_plain_switch(const char* p, const char* word)
{
    size_t end = 1 + strlen(word);
    return is_switch(p, word) && (p[end] == ' ' || p[end] == '\0');
}

// quote should hold a double quote, one to capacity - 1 characters without one, and a closing
// double quote. Copies those characters and returns the closing quote; null when invalid.
static const char* take_quoted(const char* quote, char* dest, size_t capacity)
{
    if (*quote != '"')
        return NULL;
    const char* value = quote + 1;
    const char* end = value;
    while (*end && *end != '"')
        ++end;
    size_t count = end - value;
    if (count == 0 || *end != '"' || count >= capacity)
        return NULL;
    memcpy(dest, value, count);
    dest[count] = '\0';
    return end;
}

// A relative log name is taken from the program's folder, the current one during start-up,
// and kept as a full path: the command after extraction runs in another folder.
static const char* take_log_switch(const char* quote)
{
    static char name[LONG_PATH_CAPACITY];
    static char path[LONG_PATH_CAPACITY];
    DWORD capacity = run_path_capacity();
    const char* end = take_quoted(quote, name, capacity);
    if (end == NULL)
        return NULL;
    DWORD length = full_path_of(name, capacity, path);
    if (length == 0 || length >= capacity || !open_log(path))
        return NULL;
    return end;
}

// The switches for scripts at p. Returns the last character of the switch, or null when p
// holds none of them or an invalid one.
static const char* take_unattended_switch(const char* p)
{
    if (is_plain_switch(p, "silent")) {
        silent_mode = 1;
        switch_flags |= SFX_HIDDEN | SFX_AUTO;
        return p + 6;
    }
    if (is_plain_switch(p, "overwrite")) {
        switch_flags |= SFX_OVERWRITE;
        return p + 9;
    }
    if (is_plain_switch(p, "wait")) {
        switch_flags |= SFX_WAIT;
        return p + 4;
    }
    if (is_plain_switch(p, "test")) {
        test_mode = 1;
        return p + 4;
    }
    if (is_plain_switch(p, "extract-only")) {
        extract_only_asked = true;
        return p + 12;
    }
    if (is_plain_switch(p, "help") || is_plain_switch(p, "?")) {
        usage_asked = true;
        return *(p + 1) == '?' ? p + 1 : p + 4;
    }
    if (is_switch(p, "dir="))
        return take_quoted(p + 5, folder_switch, run_path_capacity());
    if (is_switch(p, "password="))
        return take_quoted(p + 10, password_switch, sizeof password_switch);
    if (is_switch(p, "log="))
        return take_log_switch(p + 5);
    return NULL;
}

void scan_command_line(const char* command_line)
{
    memset(extra_args, 0, EXTRA_ARGS_CAPACITY);
    for (const char* p = command_line; *p; p = next_char(p)) {
        // "-info" ends the scan: anything may follow it.
        if (starts_with_nocase(p, "-info")) {
            info_asked = true;
            return;
        }
        const char* last = NULL;
        if (starts_with_nocase(p, "-args=") || starts_with_nocase(p, "/args="))
            last = take_quoted(p + 6, extra_args, EXTRA_ARGS_CAPACITY);
        else if (*p == ' ')
            last = p;
        else if (!flag_set(SFX_NO_UNATTENDED))
            last = take_unattended_switch(p);
        if (last == NULL) {
            invalid_parameter = p;
            return;
        }
        p = last;
    }
}

static void show_invalid_parameter(const char* from)
{
    // A longer text is cut: the box shows as much of the rest of the line as fits.
    _snprintf(message_buffer, MESSAGE_BUFFER_CAPACITY - 1, message_text(MSG_INVALID_PARAMETER), from);
    message_buffer[MESSAGE_BUFFER_CAPACITY - 1] = '\0';
    report_error(message_buffer, MB_OK);
}

bool handle_command_line()
{
    if (invalid_parameter != NULL) {
        show_invalid_parameter(invalid_parameter);
        return false;
    }
    if (info_asked) {
        show_notice(info_option_text);
        return false;
    }
    if (usage_asked) {
        show_usage();
        return false;
    }
    // A test run never starts the command, whatever the package or -wait ask for.
    if (extract_only_asked || test_mode)
        command_text[0] = '\0';
    if (folder_switch[0] != '\0')
        copy_checked(target_folder, LONG_PATH_CAPACITY, folder_switch, 3530);
    // A password is the ANSI bytes the dialog would give, in wide mode as well.
    if (wide_mode && password_switch[0] != '\0')
        utf8_to_ansi(password_switch, strlen(password_switch), password_switch, sizeof password_switch);
    if (password_switch[0] != '\0') {
        preset_password(password_switch);
        SecureZeroMemory(password_switch, sizeof password_switch);
    }
    return true;
}

// --- AUTO / NOAUTO ---------------------------------------------------------------------------

// The end of the word at q: the first space (not a trail byte) or the end of the line.
static char* word_end(char* q)
{
    while (*q && *q != ' ')
        q = (char*)next_char(q);
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
    if (strlen(rest) > run_path_capacity() - 1) {
        auto_mode = 0;
        return;
    }
    copy_checked(target_folder, LONG_PATH_CAPACITY, rest, 3520);
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
        p = (char*)next_char(p);
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
