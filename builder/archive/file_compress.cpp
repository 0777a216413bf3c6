// Compresses one file of a folder input. Small and medium files are read whole and
// compressed with libdeflate (one compressor per thread and level, as libdeflate's
// compressors are not shared); large files are streamed through zlib into a temporary file.
#include "file_compress.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <libdeflate.h>
#include <memory>
#include <vector>
#include <zlib.h>

#include "build_error.h"
#include "input_file.h"
#include "output_file.h"

namespace {

// The streaming path reads and writes in pieces of this size.
constexpr size_t STREAM_PIECE = 1 << 16;

// Only the file the walk saw is read: one swapped since for a link, a FIFO or another file
// is refused.
FilePtr open_source(const WalkedFile& file, const std::string& label)
{
    return open_walked_file(file, label);
}

PayloadReader buffer_reader(std::shared_ptr<std::vector<uint8_t>> data)
{
    auto at = std::make_shared<size_t>(0);
    return [data, at](uint8_t* buffer, size_t capacity) {
        size_t n = std::min(capacity, data->size() - *at);
        std::memcpy(buffer, data->data() + *at, n);
        *at += n;
        return n;
    };
}

// `what` names the file in messages: the input file or the temporary file of one.
PayloadReader file_reader(std::shared_ptr<std::FILE> file, const std::string& what)
{
    return [file, what](uint8_t* buffer, size_t capacity) {
        size_t n = std::fread(buffer, 1, capacity, file.get());
        if (n == 0 && std::ferror(file.get()))
            fail("cannot read " + what + ": " + std::strerror(errno));
        return n;
    };
}

std::string temporary_file_of(const std::string& label)
{
    return "the temporary file of " + label;
}

// A short read of a file the walk measured: a read error, or the file shrank.
[[noreturn]] void fail_short_read(std::FILE* f, const std::string& label, uint64_t got, uint64_t size)
{
    if (std::ferror(f))
        fail("cannot read " + label + ": " + std::strerror(errno));
    fail(label + " changed while it was being read (" + std::to_string(got) + " bytes, the folder listed " +
         std::to_string(size) + ")");
}

uint32_t crc_of(const uint8_t* data, size_t size, uint32_t crc = 0)
{
    return uint32_t(crc32_z(crc, data, size));
}

libdeflate_compressor* thread_compressor(int level)
{
    using Compressor = std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)>;
    thread_local Compressor compressor(nullptr, libdeflate_free_compressor);
    thread_local int compressor_level = -1;
    if (compressor_level != level) {
        compressor.reset(libdeflate_alloc_compressor(level));
        if (!compressor)
            fail("out of memory for the compressor");
        compressor_level = level;
    }
    return compressor.get();
}

CompressedFile compress_in_memory(const WalkedFile& file, const std::string& label, uint64_t size, int level)
{
    // One byte more than listed shows a file that grew since it was listed.
    auto plain = std::make_shared<std::vector<uint8_t>>(size_t(size) + 1);
    FilePtr f = open_source(file, label);
    size_t got = std::fread(plain->data(), 1, plain->size(), f.get());
    if (got != size)
        fail_short_read(f.get(), label, got, size);
    plain->resize(got);
    CompressedFile c;
    c.crc32 = crc_of(plain->data(), got);
    c.uncompressed_size = got;
    size_t packed_size = 0;
    auto packed = std::make_shared<std::vector<uint8_t>>();
    if (level > 0 && got > 1) {
        packed->resize(got - 1);
        // Output space of size - 1 makes libdeflate give up as soon as Deflate would not save.
        packed_size = libdeflate_deflate_compress(thread_compressor(level), plain->data(), got, packed->data(),
                                                  got - 1);
    }
    if (packed_size == 0) {
        c.method = METHOD_STORED;
        c.compressed_size = got;
        c.reader = buffer_reader(plain);
        return c;
    }
    plain.reset();
    packed->resize(packed_size);
    packed->shrink_to_fit();
    c.method = METHOD_DEFLATE;
    c.compressed_size = packed_size;
    c.reader = buffer_reader(packed);
    return c;
}

void write_packed(const uint8_t* data, size_t size, std::FILE* packed, const std::string& label)
{
    if (size != 0 && std::fwrite(data, 1, size, packed) != size)
        fail("cannot write " + temporary_file_of(label) + ": " + std::strerror(errno));
}

// Runs zlib over the file into `packed`; returns the compressed size and sets CRC and size.
uint64_t deflate_to_file(std::FILE* source, std::FILE* packed, int level, const std::string& label,
                         CompressedFile& c)
{
    z_stream z{};
    // zlib's levels stop at 9; libdeflate's 10..12 become its strongest.
    if (deflateInit2(&z, std::min(level, 9), Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        fail("out of memory for the compressor");
    std::vector<uint8_t> in(STREAM_PIECE), out(STREAM_PIECE);
    uint32_t crc = crc_of(nullptr, 0);
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        size_t n = std::fread(in.data(), 1, in.size(), source);
        if (n < in.size() && std::ferror(source))
            fail("cannot read " + label + ": " + std::strerror(errno));
        flush = n < in.size() ? Z_FINISH : Z_NO_FLUSH;
        crc = crc_of(in.data(), n, crc);
        c.uncompressed_size += n;
        z.next_in = in.data();
        z.avail_in = uInt(n);
        do {
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            deflate(&z, flush);
            write_packed(out.data(), out.size() - z.avail_out, packed, label);
        } while (z.avail_out == 0);
    }
    uint64_t packed_size = z.total_out;
    deflateEnd(&z);
    // The last pieces may still sit in the stream's buffer; a full disk shows here.
    if (std::fflush(packed) != 0)
        fail("cannot write " + temporary_file_of(label) + ": " + std::strerror(errno));
    c.crc32 = crc;
    return packed_size;
}

// Level 0 on a large file: one pass for the CRC; the payload is read from the file again.
uint64_t checksum_file(std::FILE* source, const std::string& label, CompressedFile& c)
{
    std::vector<uint8_t> in(STREAM_PIECE);
    uint32_t crc = crc_of(nullptr, 0);
    size_t n;
    while ((n = std::fread(in.data(), 1, in.size(), source)) > 0) {
        crc = crc_of(in.data(), n, crc);
        c.uncompressed_size += n;
    }
    if (std::ferror(source))
        fail("cannot read " + label + ": " + std::strerror(errno));
    c.crc32 = crc;
    return c.uncompressed_size;
}

CompressedFile compress_streaming(const WalkedFile& file, const std::string& label, uint64_t size, int level)
{
    FilePtr f = open_source(file, label);
    // The scratch file lies beside the output, not in /tmp, which may be too small.
    std::shared_ptr<std::FILE> packed(level > 0 ? create_scratch_file() : nullptr, [](std::FILE* p) {
        if (p != nullptr)
            std::fclose(p);
    });
    CompressedFile c;
    uint64_t packed_size =
        level > 0 ? deflate_to_file(f.get(), packed.get(), level, label, c) : checksum_file(f.get(), label, c);
    if (c.uncompressed_size != size)
        fail_short_read(f.get(), label, c.uncompressed_size, size);
    if (packed_size >= c.uncompressed_size) {
        c.method = METHOD_STORED;
        c.compressed_size = c.uncompressed_size;
        c.reader = file_reader(std::shared_ptr<std::FILE>(open_source(file, label).release(), std::fclose), label);
        return c;
    }
    if (std::fseek(packed.get(), 0, SEEK_SET) != 0)
        fail("cannot read " + temporary_file_of(label) + ": " + std::strerror(errno));
    c.method = METHOD_DEFLATE;
    c.compressed_size = packed_size;
    c.reader = file_reader(packed, temporary_file_of(label));
    return c;
}

}  // namespace

CompressedFile compress_file(const WalkedFile& file, const std::string& label, uint64_t size, int level)
{
    return size <= IN_MEMORY_LIMIT ? compress_in_memory(file, label, size, level)
                                   : compress_streaming(file, label, size, level);
}

uint64_t compress_memory_cost(uint64_t size)
{
    // In memory: the file and its compressed copy while compressing. Streamed: two pieces.
    return size <= IN_MEMORY_LIMIT ? 2 * size + 1 : 2 * STREAM_PIECE;
}
