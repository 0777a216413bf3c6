// Compresses one file of a folder input. Small and medium files are read whole and
// compressed with libdeflate (one compressor per thread and level, as libdeflate's
// compressors are not shared); large files are streamed through zlib into a temporary file.
#include "file_compress.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <libdeflate.h>
#include <lzma.h>
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

void write_packed(const uint8_t* data, size_t size, std::FILE* packed, const std::string& label);

// --- LZMA ----------------------------------------------------------------------------------

// ZIP's version needed to extract an LZMA entry: 6.3.
constexpr uint16_t LZMA_VERSION_NEEDED = 63;
// The LZMA version the header names (liblzma's streams are the format of LZMA SDK 9.20).
constexpr uint8_t LZMA_WRITER_MAJOR = 9, LZMA_WRITER_MINOR = 20;

// liblzma's preset for --level 1..12, with the dictionary cut to the file: a dictionary
// larger than the data buys nothing and costs the stub memory (at least liblzma's 4 KiB).
// No end marker: the entry's size ends the stream, as 7-Zip writes by default (bit 1 clear).
lzma_options_lzma lzma_options_for(uint64_t size, int level)
{
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, uint32_t(std::min(level, 9))))
        fail("liblzma has no preset " + std::to_string(level));
    uint64_t fitting = std::max<uint64_t>(size, LZMA_DICT_SIZE_MIN);
    if (fitting < options.dict_size)
        options.dict_size = uint32_t(fitting);
    options.ext_flags = 0;
    options.ext_size_low = 0;
    options.ext_size_high = 0;
    return options;
}
static_assert(ZIP_LZMA_DICTIONARY_LIMIT >= (64u << 20), "preset 9's dictionary must fit the stub's limit");

std::vector<uint8_t> zip_lzma_header(const lzma_options_lzma& options)
{
    uint32_t d = options.dict_size;
    return {LZMA_WRITER_MAJOR, LZMA_WRITER_MINOR, ZIP_LZMA_PROPERTIES_SIZE, 0,
            uint8_t((options.pb * 5 + options.lp) * 9 + options.lc),
            uint8_t(d), uint8_t(d >> 8), uint8_t(d >> 16), uint8_t(d >> 24)};
}

// The ZIP LZMA data of `plain` into `packed`, when it comes out smaller than `plain`.
size_t lzma_in_memory(const std::vector<uint8_t>& plain, size_t size, int level, std::vector<uint8_t>& packed)
{
    lzma_options_lzma options = lzma_options_for(size, level);
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::vector<uint8_t> header = zip_lzma_header(options);
    if (size <= header.size() + 1)
        return 0;
    packed.resize(size - 1);
    std::memcpy(packed.data(), header.data(), header.size());
    size_t written = header.size();
    lzma_ret r = lzma_raw_buffer_encode(filters, nullptr, plain.data(), size, packed.data(), &written, packed.size());
    if (r == LZMA_BUF_ERROR)
        return 0;  // would not be smaller: stored
    if (r != LZMA_OK)
        fail("out of memory for the LZMA compressor");
    return written;
}

// Runs liblzma over the file into `packed`; returns the compressed size and sets CRC and size.
uint64_t lzma_to_file(std::FILE* source, std::FILE* packed, uint64_t size, int level, const std::string& label,
                      CompressedFile& c)
{
    lzma_options_lzma options = lzma_options_for(size, level);
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream z = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&z, filters) != LZMA_OK)
        fail("out of memory for the LZMA compressor");
    std::vector<uint8_t> header = zip_lzma_header(options);
    write_packed(header.data(), header.size(), packed, label);
    std::vector<uint8_t> in(STREAM_PIECE), out(STREAM_PIECE);
    uint32_t crc = crc_of(nullptr, 0);
    lzma_action action = LZMA_RUN;
    lzma_ret r = LZMA_OK;
    while (r != LZMA_STREAM_END) {
        if (z.avail_in == 0 && action == LZMA_RUN) {
            size_t n = std::fread(in.data(), 1, in.size(), source);
            if (n < in.size() && std::ferror(source))
                fail("cannot read " + label + ": " + std::strerror(errno));
            crc = crc_of(in.data(), n, crc);
            c.uncompressed_size += n;
            z.next_in = in.data();
            z.avail_in = n;
            if (n < in.size())
                action = LZMA_FINISH;
        }
        z.next_out = out.data();
        z.avail_out = out.size();
        r = lzma_code(&z, action);
        if (r != LZMA_OK && r != LZMA_STREAM_END)
            fail("the LZMA compressor failed on " + label);
        write_packed(out.data(), out.size() - z.avail_out, packed, label);
    }
    uint64_t packed_size = header.size() + z.total_out;
    lzma_end(&z);
    if (std::fflush(packed) != 0)
        fail("cannot write " + temporary_file_of(label) + ": " + std::strerror(errno));
    c.crc32 = crc;
    return packed_size;
}

CompressedFile compress_in_memory(const WalkedFile& file, const std::string& label, uint64_t size, Compression how)
{
    int level = how.level;
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
    if (level > 0 && how.method == Method::lzma) {
        packed_size = lzma_in_memory(*plain, got, level, *packed);
    } else if (level > 0 && got > 1) {
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
    c.method = how.method == Method::lzma ? METHOD_LZMA : METHOD_DEFLATE;
    c.version_needed = how.method == Method::lzma ? LZMA_VERSION_NEEDED : 20;
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

CompressedFile compress_streaming(const WalkedFile& file, const std::string& label, uint64_t size, Compression how)
{
    int level = how.level;
    bool lzma = how.method == Method::lzma;
    FilePtr f = open_source(file, label);
    // The scratch file lies beside the output, not in /tmp, which may be too small.
    std::shared_ptr<std::FILE> packed(level > 0 ? create_scratch_file() : nullptr, [](std::FILE* p) {
        if (p != nullptr)
            std::fclose(p);
    });
    CompressedFile c;
    uint64_t packed_size =
        level == 0 ? checksum_file(f.get(), label, c)
        : lzma     ? lzma_to_file(f.get(), packed.get(), size, level, label, c)
                   : deflate_to_file(f.get(), packed.get(), level, label, c);
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
    c.method = lzma ? METHOD_LZMA : METHOD_DEFLATE;
    c.version_needed = lzma ? LZMA_VERSION_NEEDED : 20;
    c.compressed_size = packed_size;
    c.reader = file_reader(packed, temporary_file_of(label));
    return c;
}

}  // namespace

CompressedFile compress_file(const WalkedFile& file, const std::string& label, uint64_t size, Compression how)
{
    return size <= IN_MEMORY_LIMIT ? compress_in_memory(file, label, size, how)
                                   : compress_streaming(file, label, size, how);
}

uint64_t compress_memory_cost(uint64_t size, Compression how)
{
    // In memory: the file and its compressed copy while compressing. Streamed: two pieces.
    uint64_t buffers = size <= IN_MEMORY_LIMIT ? 2 * size + 1 : 2 * STREAM_PIECE;
    if (how.method != Method::lzma || how.level == 0)
        return buffers;
    // LZMA's match finder: about eleven times the dictionary at the strong presets.
    lzma_options_lzma options = lzma_options_for(size, how.level);
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    return buffers + lzma_raw_encoder_memusage(filters);
}
