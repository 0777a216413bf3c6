// The stub inflates the block into a fixed 4100-byte area from a fixed 1256-byte input
// area, so both limits are hard: the builder checks them here rather than trusting the
// field capacities to add up.
#include "config_block.h"

#include <libdeflate.h>
#include <memory>
#include <zlib.h>

#include "build_error.h"

std::vector<uint8_t> encode_config_block(const ConfigFields& fields)
{
    std::string plain;
    for (const std::string& field : fields) {
        plain += field;
        plain += '\0';
    }
    if (plain.size() > CONFIG_DECODED_MAX)
        fail("the configuration texts take " + std::to_string(plain.size()) + " bytes; the stub reads at most " +
             std::to_string(int(CONFIG_DECODED_MAX)));

    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(12), libdeflate_free_compressor);
    if (!compressor)
        fail("out of memory");
    std::vector<uint8_t> block(libdeflate_deflate_compress_bound(compressor.get(), plain.size()));
    size_t size = libdeflate_deflate_compress(compressor.get(), plain.data(), plain.size(), block.data(), block.size());
    if (size == 0)
        fail("cannot compress the configuration block");
    block.resize(size);
    if (block.size() > CONFIG_STORED_MAX)
        fail("the configuration texts compress to " + std::to_string(block.size()) + " bytes; the stub reads at most " +
             std::to_string(int(CONFIG_STORED_MAX)) + " (shorten --about, --info or --prompt)");
    return block;
}

bool decode_config_block(const uint8_t* data, size_t size, ConfigFields& fields, std::string& error)
{
    // One byte more than the stub's area, to tell "exactly full" from "too long".
    std::vector<uint8_t> plain(CONFIG_DECODED_MAX + 1);
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
        error = "zlib initialisation failed";
        return false;
    }
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = uInt(size);
    z.next_out = plain.data();
    z.avail_out = uInt(plain.size());
    int status = inflate(&z, Z_FINISH);
    size_t produced = plain.size() - z.avail_out;
    inflateEnd(&z);
    if (status != Z_STREAM_END) {
        error = produced > CONFIG_DECODED_MAX ? "decodes to more than 4100 bytes" : "not a complete raw Deflate stream";
        return false;
    }
    size_t at = 0;
    for (std::string& field : fields) {
        size_t end = at;
        while (end < produced && plain[end] != 0)
            ++end;
        if (end == produced) {
            error = "holds fewer than eight NUL-terminated strings";
            return false;
        }
        field.assign(reinterpret_cast<const char*>(plain.data() + at), end - at);
        at = end + 1;
    }
    return true;
}
