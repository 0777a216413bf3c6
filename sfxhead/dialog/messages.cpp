#include "messages.h"

#include <string.h>

#include "failure.h"
#include "globals.h"
#include "inflate.h"
#include "message_ids.h"
#include "resource_data.h"

enum : uint8_t { GUARD_FIRST = 0xDE, GUARD_SECOND = 0xAD };

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

    HGLOBAL memory = GlobalAlloc(GMEM_ZEROINIT, MESSAGE_TABLE_CAPACITY);
    messages = memory ? (char*)GlobalLock(memory) : NULL;
    if (messages == NULL)
        fatal_header_error();
    memcpy(messages, block, MESSAGE_TABLE_CAPACITY);
    LocalFree(block);
}
