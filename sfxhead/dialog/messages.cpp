#include "messages.h"

#include <string.h>

#include "failure.h"
#include "globals.h"
#include "inflate.h"
#include "message_ids.h"
#include "resource_data.h"

enum : uint8_t { GUARD_FIRST = 0xDE, GUARD_SECOND = 0xAD };

// Wide mode: each text from the ANSI code page to UTF-8 (at most three bytes for one), so
// that a text with a name filled in is one UTF-8 text and reads as it does in the ANSI form.
static void convert_texts(const uint8_t* block, size_t capacity)
{
    uint32_t at = 0;
    for (int id = 0; id < MSG_MAIN_DIALOG; ++id) {
        const char* text = (const char*)block + texts->message_offsets[id];
        message_starts[id] = at;
        if (!ansi_to_run_text(text, strlen(text), messages + at, capacity - at))
            fatal_header_error();
        at += (uint32_t)strlen(messages + at) + 1;
    }
    uint32_t text_end = texts->message_offsets[MSG_MAIN_DIALOG];
    message_starts[MSG_MAIN_DIALOG] = at;
    memcpy(messages + at, block + text_end, MESSAGE_TABLE_CAPACITY - text_end);
}

static void keep_table(const uint8_t* block)
{
    size_t capacity = wide_mode ? 3 * MESSAGE_TABLE_CAPACITY : MESSAGE_TABLE_CAPACITY;
    HGLOBAL memory = GlobalAlloc(GMEM_ZEROINIT, capacity);
    messages = memory ? (char*)GlobalLock(memory) : NULL;
    if (messages == NULL)
        fatal_header_error();
    if (wide_mode) {
        convert_texts(block, capacity);
        return;
    }
    memcpy(messages, block, MESSAGE_TABLE_CAPACITY);
    memcpy(message_starts, texts->message_offsets, sizeof message_starts);
}

void load_messages()
{
    uint8_t* block = (uint8_t*)LocalAlloc(LMEM_ZEROINIT, MESSAGE_TABLE_CAPACITY);
    if (block == NULL)
        fatal_header_error();
    block[GUARD_OFFSET] = GUARD_FIRST;
    block[GUARD_OFFSET + 1] = GUARD_SECOND;
    // The decoder never writes past the block; a table that reaches the guards is damaged.
    inflate_memory(texts->message_blob, texts->message_blob_size, block, MESSAGE_TABLE_CAPACITY);
    if (block[GUARD_OFFSET] != GUARD_FIRST || block[GUARD_OFFSET + 1] != GUARD_SECOND)
        fatal_header_error();
    // The texts are stored in the OEM code page; the dialog template behind them is UTF-16.
    OemToCharBuffA((char*)block, (char*)block, texts->message_offsets[MSG_MAIN_DIALOG]);
    keep_table(block);
    LocalFree(block);
}
