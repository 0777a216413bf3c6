// Entry data checks of the input ZIP and of inspect: every method through the stub's decoders
// as `tvsfx test` embeds them (entry_decoder.h), so the builder's input check, inspect, `test`
// and the stub hold data to one rule.
#include "entry_data_check.h"
#include "input_file.h"

#include "archive.h"
#include "entry_decoder.h"

namespace {

const char* method_kind(uint16_t method)
{
    switch (method) {
    case METHOD_DEFLATE64: return "Deflate64 ";
    case METHOD_DEFLATE: return "Deflate ";
    case METHOD_LZMA: return "LZMA ";
    }
    return "";
}

}  // namespace

std::string check_entry_data(std::FILE* file, uint64_t offset, uint16_t method, uint16_t flags, uint64_t compressed_size,
                             uint64_t uncompressed_size, uint32_t crc32, uint64_t* unused_bytes)
{
    if (!entry_method_known(method))
        return "compression method " + std::to_string(method) + " is not one the stub extracts";
    InspectedEntry e{};
    e.method = method;
    e.flags = flags;
    e.data_offset = offset;
    e.compressed_size = compressed_size;
    e.uncompressed_size = uncompressed_size;
    e.crc32 = crc32;
    DecodeDetails details;
    std::string error = decode_entry_data(file, e, "", &details);
    if (unused_bytes != nullptr)
        *unused_bytes = error.empty() ? details.unused_bytes : 0;
    if (error.empty())
        return "";
    const std::string kind = method_kind(method);
    if (details.fault == ENTRY_BAD_STREAM)
        return "its " + kind + "data is damaged" +
               (details.stream_fault.empty() ? "" : " (" + details.stream_fault + ")");
    if (method == METHOD_DEFLATE64)
        return "its Deflate64 data is damaged (" + error + ")";
    if (details.fault == ENTRY_TOO_SHORT || details.fault == ENTRY_TOO_LONG)
        return "its data gives " + error;
    return "its " + kind + "data is damaged (" + error + ")";
}
