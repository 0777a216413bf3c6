// The builder's one embedding of the stub's decoder and cipher: test_command.cpp provides the
// decoder's source and sink (refill_input, flush_output, source_remaining). `tvsfx test`
// decodes every entry with it; the ZIP reader and inspect check every entry that is not
// encrypted with it, so all of them hold data to the stub's rule.
#ifndef TVSFX_ENTRY_DECODER_H
#define TVSFX_ENTRY_DECODER_H

#include <cstdio>
#include <string>

#include "file_report.h"
#include "format/entry_check.h"

// What decode_entry_data found besides its text.
struct DecodeDetails {
    EntryFault fault = ENTRY_GOOD;  // ENTRY_GOOD also when the data could not be judged (read error, method)
    uint64_t unused_bytes = 0;      // whole bytes of the data behind the final Deflate block
    std::string stream_fault;       // ENTRY_BAD_STREAM: what was wrong, when known
};

// Decodes the data of `e` at e.data_offset in `file` as the stub does (decrypting it with
// `password` when the entry is encrypted) and judges it by the stub's rule (entry_check.h).
// Returns "" when it is good, else what is wrong; `details`, when given, receives the fault and
// the bytes behind the final Deflate block. The input ends at the next chunk
// once the output passes the header's size, so data made to expand costs bounded work.
std::string decode_entry_data(std::FILE* file, const InspectedEntry& e, const std::string& password,
                              DecodeDetails* details = nullptr);

#endif
