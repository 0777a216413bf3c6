// Entry data checks: stored and Deflate through zlib, Deflate64 through the stub's decoder
// as `tvsfx test` embeds it (entry_decoder.h).
#include "entry_data_check.h"
#include "input_file.h"

#include <algorithm>
#include <zlib.h>

#include "archive.h"
#include "entry_decoder.h"

std::string check_deflate64_data(std::FILE* file, uint64_t offset, uint32_t compressed_size,
                                 uint32_t uncompressed_size, uint32_t crc32)
{
    InspectedEntry e{};
    e.method = METHOD_DEFLATE64;
    e.data_offset = offset;
    e.compressed_size = compressed_size;
    e.uncompressed_size = uncompressed_size;
    e.crc32 = crc32;
    std::string error = decode_entry_data(file, e, "");
    return error.empty() ? "" : "its Deflate64 data is damaged (" + error + ")";
}

std::string check_lzma_data(std::FILE* file, uint64_t offset, uint16_t flags, uint32_t compressed_size,
                            uint32_t uncompressed_size, uint32_t crc32)
{
    InspectedEntry e{};
    e.method = METHOD_LZMA;
    e.flags = flags;
    e.data_offset = offset;
    e.compressed_size = compressed_size;
    e.uncompressed_size = uncompressed_size;
    e.crc32 = crc32;
    std::string error = decode_entry_data(file, e, "");
    return error.empty() ? "" : "its LZMA data " + error;
}

namespace {

// Stored and Deflate data through zlib, in chunks; stops once the output passes the size.
std::string check_with_zlib(std::FILE* file, uint16_t method, uint32_t compressed_size, uint32_t uncompressed_size,
                            uint32_t crc32)
{
    static uint8_t in[1 << 16], out[1 << 16];
    z_stream z{};
    if (method == METHOD_DEFLATE && inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return "out of memory";
    uLong crc = crc32_z(0, nullptr, 0);
    uint64_t left = compressed_size, produced = 0;
    int status = Z_OK;
    std::string error;
    while (error.empty() && status != Z_STREAM_END && produced <= uncompressed_size) {
        size_t n = left == 0 ? 0 : std::fread(in, 1, size_t(std::min<uint64_t>(sizeof in, left)), file);
        if (n == 0 && left != 0)
            error = "cannot read its data: " + short_read_reason(file);
        left -= n;
        if (method == METHOD_STORED) {
            crc = crc32_z(crc, in, n);
            produced += n;
            if (left == 0)
                break;
            continue;
        }
        z.next_in = in;
        z.avail_in = uInt(n);
        do {
            z.next_out = out;
            z.avail_out = sizeof out;
            status = inflate(&z, Z_NO_FLUSH);
            crc = crc32_z(crc, out, sizeof out - z.avail_out);
            produced += sizeof out - z.avail_out;
        } while (status == Z_OK && z.avail_out == 0);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            error = "its Deflate data is damaged";
        else if (status != Z_STREAM_END && left == 0)
            error = "its Deflate data ends early";
    }
    if (method == METHOD_DEFLATE)
        inflateEnd(&z);
    if (!error.empty())
        return error;
    if (produced != uncompressed_size)
        return "its data gives " + std::to_string(produced) + " bytes instead of " + std::to_string(uncompressed_size);
    if (uint32_t(crc) != crc32)
        return "its data fails the CRC check";
    return "";
}

}  // namespace

std::string check_entry_data(std::FILE* file, uint64_t offset, uint16_t method, uint16_t flags, uint32_t compressed_size,
                             uint32_t uncompressed_size, uint32_t crc32)
{
    if (method == METHOD_DEFLATE64)
        return check_deflate64_data(file, offset, compressed_size, uncompressed_size, crc32);
    if (method == METHOD_LZMA)
        return check_lzma_data(file, offset, flags, compressed_size, uncompressed_size, crc32);
    if (method != METHOD_STORED && method != METHOD_DEFLATE)
        return "compression method " + std::to_string(method) + " is not one the stub extracts";
    if (fseeko(file, off_t(offset), SEEK_SET) != 0)
        return "cannot read its data";
    return check_with_zlib(file, method, compressed_size, uncompressed_size, crc32);
}
