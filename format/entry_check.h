// What makes an entry's data good, for the stub's extraction and its -test, and for the
// builder's `tvsfx test`, input check and inspect alike. Portable, no Win32: the stub compiles
// it too. Every field an attacker can set without the password (the AES record's method, the
// sizes, the CRC) is held against what the data gave, so none of them can turn wrong output
// into a success.
#ifndef TVSFX_FORMAT_ENTRY_CHECK_H
#define TVSFX_FORMAT_ENTRY_CHECK_H

#include <stdint.h>

#include "zip_format.h"

// The methods the stub decodes (for an AES entry: the method its record names).
constexpr bool entry_method_known(uint32_t method)
{
    return method == METHOD_STORED || method == METHOD_DEFLATE || method == METHOD_DEFLATE64 ||
           method == METHOD_LZMA;
}

// What the headers promise.
struct EntryPromise {
    uint64_t size;       // uncompressed size
    uint32_t crc32;
    bool crc_stored;     // false for AE-2, whose CRC field means nothing
    bool code_stored;    // an AES entry: a 10-byte authentication code follows the data
};

// What decoding showed.
struct EntryOutcome {
    uint64_t decoded_size;  // bytes the data gave (more than 4 GiB when data was made to expand)
    uint32_t crc32;         // CRC-32 of those bytes
    bool stream_ended;      // stored data, or a Deflate stream whose final block ended within the data
    bool code_matches;      // the authentication code agreed (ignored without one)
};

// The first fault found, in the order that explains the most: a code that does not match
// explains everything else (damaged data or a wrong password that passed the verifier).
enum EntryFault {
    ENTRY_GOOD = 0,
    ENTRY_CODE_MISMATCH,
    ENTRY_TOO_LONG,     // more output than the header's size
    ENTRY_BAD_STREAM,   // the decoder failed, or the final block did not end within the data
    ENTRY_CRC_MISMATCH,
    ENTRY_TOO_SHORT,    // less output than the header's size
};

inline EntryFault judge_entry_data(const EntryPromise& promise, const EntryOutcome& outcome)
{
    if (promise.code_stored && !outcome.code_matches)
        return ENTRY_CODE_MISMATCH;
    if (outcome.decoded_size > promise.size)
        return ENTRY_TOO_LONG;
    if (!outcome.stream_ended)
        return ENTRY_BAD_STREAM;
    if (promise.crc_stored && outcome.crc32 != promise.crc32)
        return ENTRY_CRC_MISMATCH;
    if (outcome.decoded_size != promise.size)
        return ENTRY_TOO_SHORT;
    return ENTRY_GOOD;
}

#endif
