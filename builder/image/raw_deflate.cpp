#include "raw_deflate.h"

#include <libdeflate.h>
#include <memory>
#include <zlib.h>

#include "build_error.h"

std::vector<uint8_t> deflate_raw(const void* data, size_t size, const std::string& what)
{
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(12), libdeflate_free_compressor);
    if (!compressor)
        fail("out of memory");
    std::vector<uint8_t> stored(libdeflate_deflate_compress_bound(compressor.get(), size));
    size_t stored_size = libdeflate_deflate_compress(compressor.get(), data, size, stored.data(), stored.size());
    if (stored_size == 0)
        fail("cannot compress " + what);
    stored.resize(stored_size);
    return stored;
}

bool inflate_raw(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>& plain, std::string& error)
{
    // One byte more than the limit, to tell "exactly full" from "too long".
    plain.assign(limit + 1, 0);
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
    plain.resize(produced);
    if (produced > limit) {
        error = "decodes to more than " + std::to_string(limit) + " bytes";
        return false;
    }
    if (status != Z_STREAM_END) {
        error = "not a complete raw Deflate stream";
        return false;
    }
    return true;
}
