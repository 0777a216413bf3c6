// LZMA entries (method 14): the dictionary block the decoder asks for, and the outcomes of a
// decode that the CRC-32 cannot show (an entry this program refuses to decode).
#include "lzma_entry.h"

#include "failure.h"
#include "globals.h"
#include "lzma_decode.h"
#include "message_ids.h"
#include "zip_format.h"

// One block, sized for the current entry: released before the next entry's, and by close_all.
// VirtualAlloc, because a block of up to 64 MiB should come from fresh pages rather than the
// process heap (which would keep it fragmented for the rest of the run).
static uint8_t* dictionary_block;

void release_dictionary()
{
    if (dictionary_block != NULL)
        VirtualFree(dictionary_block, 0, MEM_RELEASE);
    dictionary_block = NULL;
}

uint8_t* provide_dictionary(uint32_t size)
{
    release_dictionary();
    dictionary_block = (uint8_t*)VirtualAlloc(NULL, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    return dictionary_block;
}

static const uint32_t MEBIBYTE = 1u << 20;

static uint32_t in_mebibytes_rounded_up(uint32_t size)
{
    return size / MEBIBYTE + (size % MEBIBYTE != 0);
}

// Damaged data is not reported here: it leaves output whose CRC-32 (or AES code) does not
// match, and extract_entry_data reports that with the entry's name.
bool decode_lzma_entry()
{
    int result = decode_lzma(entry_header.uncompressed_size, (entry_header.gp_flags & GP_LZMA_END_MARKER) != 0);
    uint32_t megabytes = in_mebibytes_rounded_up(lzma_dictionary_size);
    if (result == LZMA_UNSUPPORTED_PROPERTIES)
        fatal_error(message_text(MSG_UNSUPPORTED_METHOD));
    if (result == LZMA_DICTIONARY_TOO_LARGE)
        fatal_message(8000, 8001, MSG_LZMA_DICTIONARY_TOO_LARGE, display_name, megabytes,
                      (unsigned)(ZIP_LZMA_DICTIONARY_LIMIT / MEBIBYTE));
    if (result == LZMA_NO_DICTIONARY_MEMORY)
        fatal_message(8002, 8003, MSG_LZMA_NO_MEMORY, display_name, megabytes);
    return result == LZMA_DECODED;
}
