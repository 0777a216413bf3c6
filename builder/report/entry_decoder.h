// The builder's one embedding of the stub's decoder and cipher: test_command.cpp provides the
// decoder's source and sink (refill_input, flush_output, source_remaining). `tvsfx test`
// decodes every entry with it; the ZIP reader and inspect check Deflate64 data with it, which
// no library on the build machine decodes.
#ifndef TVSFX_ENTRY_DECODER_H
#define TVSFX_ENTRY_DECODER_H

#include <cstdio>
#include <string>

#include "file_report.h"

// Decodes the data of `e` at e.data_offset in `file` as the stub does (decrypting it with
// `password` when the entry is encrypted) and compares CRC and size with the header's.
// Returns "" when they match, else what is wrong. The input ends at the next chunk once the
// output passes the header's size, so data made to expand costs bounded work.
std::string decode_entry_data(std::FILE* file, const InspectedEntry& e, const std::string& password);

#endif
