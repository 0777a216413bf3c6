// Decoding throughput of our LZMA decoder against liblzma on the same streams: every LZMA
// entry (method 14) of the ZIP files named, decoded entry by entry by both, alternating run by
// run so that both meet the same load on a shared machine. Ours runs through the stub's byte
// source and sink (28,672-byte chunks and pieces), once without and once with CRC-32 (as
// `7zz t` checks it); liblzma decodes each raw LZMA stream into one buffer, its best case.
// Best of several runs, processor time of this thread.
//
//   bench_lzma [--runs N] FILE.zip...
//
// One line per file; `ours_crc_seconds` is there for comparing with another tool's test run.
#include <lzma.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crc32.h"
#include "decoder_embedding.h"
#include "decoder_timing.h"
#include "dictionary_embedding.h"
#include "lzma_decode.h"
#include "zip_format.h"

namespace {

struct LzmaEntry {
    const uint8_t* data;  // ZIP LZMA header, then the stream
    uint32_t compressed, unpacked, crc;
    bool end_marker;
};

uint32_t le(const Bytes& b, size_t at, int size)
{
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = v << 8 | b[at + i];
    return v;
}

// The LZMA entries of a ZIP by its central directory; offsets are taken relative to where the
// directory really lies, so that bytes in front of the archive (a package's stub) do not matter.
std::vector<LzmaEntry> lzma_entries(const Bytes& zip)
{
    std::vector<LzmaEntry> entries;
    if (zip.size() < 22)
        return entries;
    size_t end = zip.size() - 22;
    while (end > 0 && le(zip, end, 4) != 0x06054b50)
        --end;
    uint32_t count = le(zip, end + 10, 2), dir_size = le(zip, end + 12, 4), dir_offset = le(zip, end + 16, 4);
    if (le(zip, end, 4) != 0x06054b50 || dir_size > end)
        return entries;
    size_t at = end - dir_size, shift = at - dir_offset;
    for (uint32_t i = 0; i < count && at + 46 <= end && le(zip, at, 4) == 0x02014b50; ++i) {
        uint32_t flags = le(zip, at + 8, 2), method = le(zip, at + 10, 2);
        size_t local = le(zip, at + 42, 4) + shift;
        if (method == METHOD_LZMA && !(flags & GP_ENCRYPTED) && local + 30 <= zip.size()) {
            size_t data = local + 30 + le(zip, local + 26, 2) + le(zip, local + 28, 2);
            uint32_t compressed = le(zip, at + 20, 4);
            if (data + compressed <= zip.size())
                entries.push_back({zip.data() + data, compressed, le(zip, at + 24, 4), le(zip, at + 16, 4),
                                   (flags & GP_LZMA_END_MARKER) != 0});
        }
        at += 46 + le(zip, at + 28, 2) + le(zip, at + 30, 2) + le(zip, at + 32, 2);
    }
    return entries;
}

void crc_piece(const uint8_t* piece, uint32_t n)
{
    update_crc(piece, n);
}

// Seconds of our decoder over every entry, or -1 when an entry fails (or, with the CRC, does
// not match its CRC-32).
double time_ours_once(const std::vector<LzmaEntry>& entries, bool with_crc)
{
    embedded.take_piece = with_crc ? crc_piece : nullptr;
    double start = cpu_seconds();
    for (const LzmaEntry& e : entries) {
        crc_register = 0xFFFFFFFFu;
        start_embedded_stream(e.data, e.compressed, e.compressed);
        int result = decode_lzma(e.unpacked, e.end_marker);
        finish_embedded_stream();
        if (result != LZMA_DECODED || (with_crc && ~crc_register != e.crc))
            return -1;
    }
    return cpu_seconds() - start;
}

// Seconds of liblzma over every entry as a raw LZMA stream into one buffer, or -1 on a failure.
double time_liblzma_once(const std::vector<LzmaEntry>& entries, Bytes& out)
{
    double start = cpu_seconds();
    for (const LzmaEntry& e : entries) {
        lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
        if (e.compressed < ZIP_LZMA_HEADER_SIZE ||
            lzma_properties_decode(&filters[0], nullptr, e.data + 4, ZIP_LZMA_PROPERTIES_SIZE) != LZMA_OK)
            return -1;
        lzma_options_lzma* options = (lzma_options_lzma*)filters[0].options;
        options->ext_flags = e.end_marker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
        lzma_set_ext_size(*options, e.unpacked);
        size_t in_pos = ZIP_LZMA_HEADER_SIZE, out_pos = 0;
        lzma_ret r = lzma_raw_buffer_decode(filters, nullptr, e.data, &in_pos, e.compressed, out.data(), &out_pos,
                                            e.unpacked);
        free(options);
        if (r != LZMA_OK || out_pos != e.unpacked)
            return -1;
    }
    return cpu_seconds() - start;
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = 3;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = atoi(argv[++i]);
        else
            files.push_back(argv[i]);
    }
    fastest_crc_method_here();
    ensure_slide_window();
    int failures = 0;
    for (const char* file : files) {
        std::ifstream in(file, std::ios::binary);
        Bytes zip((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<LzmaEntry> entries = lzma_entries(zip);
        uint64_t unpacked = 0, compressed = 0;
        uint32_t largest = 0;
        for (const LzmaEntry& e : entries) {
            unpacked += e.unpacked;
            compressed += e.compressed;
            largest = std::max(largest, e.unpacked);
        }
        Bytes out(largest);
        double ours = 1e30, ours_crc = 1e30, theirs = 1e30;
        bool ok = !entries.empty();
        for (int run = 0; ok && run < runs; ++run) {
            double a = time_ours_once(entries, false), b = time_ours_once(entries, true),
                   c = time_liblzma_once(entries, out);
            ok = a >= 0 && b >= 0 && c >= 0;
            ours = std::min(ours, a), ours_crc = std::min(ours_crc, b), theirs = std::min(theirs, c);
        }
        if (!ok) {
            printf("lzma %s FAILED (no LZMA entries, or one that a decoder refused)\n", file);
            ++failures;
            continue;
        }
        double ours_mb = unpacked / ours / 1e6, theirs_mb = unpacked / theirs / 1e6;
        printf("lzma %s entries=%zu bytes=%llu compressed=%llu ours MB/s=%.1f ours+crc MB/s=%.1f liblzma MB/s=%.1f"
               " ours/liblzma=%.2f ours_crc_seconds=%.3f\n",
               file, entries.size(), (unsigned long long)unpacked, (unsigned long long)compressed, ours_mb,
               unpacked / ours_crc / 1e6, theirs_mb, ours_mb / theirs_mb, ours_crc);
        fflush(stdout);
    }
    return failures ? 1 : 0;
}
