#include "lzma_harness.h"

#include <lzma.h>

#include "decoder_embedding.h"
#include "dictionary_embedding.h"
#include "lzma_decode.h"
#include "zip_format.h"

static Bytes collected;

static void collect_piece(const uint8_t* piece, uint32_t n)
{
    collected.insert(collected.end(), piece, piece + n);
}

Bytes zip_lzma_header(uint8_t properties, uint32_t dictionary)
{
    // Version 9.20 as 7-Zip writes it; the decoder does not look at it.
    return {9, 20, ZIP_LZMA_PROPERTIES_SIZE, 0, properties, (uint8_t)dictionary, (uint8_t)(dictionary >> 8),
            (uint8_t)(dictionary >> 16), (uint8_t)(dictionary >> 24)};
}

Bytes zip_lzma_data(const Bytes& data, const LzmaEncoding& encoding)
{
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, encoding.preset))
        return {};
    if (encoding.lc >= 0)
        options.lc = (uint32_t)encoding.lc;
    if (encoding.lp >= 0)
        options.lp = (uint32_t)encoding.lp;
    if (encoding.pb >= 0)
        options.pb = (uint32_t)encoding.pb;
    if (encoding.dictionary != 0)
        options.dict_size = encoding.dictionary;
    options.ext_flags = encoding.end_marker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    Bytes out(data.size() + data.size() / 2 + 4096);
    size_t written = 0;
    if (lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), out.data(), &written, out.size()) != LZMA_OK)
        return {};
    out.resize(written);
    uint8_t packed = (uint8_t)((options.pb * 5 + options.lp) * 9 + options.lc);
    Bytes entry = zip_lzma_header(packed, options.dict_size);
    entry.insert(entry.end(), out.begin(), out.end());
    return entry;
}

LzmaRun decode_zip_lzma(const Bytes& data, uint32_t unpacked_size, bool end_marker, uint32_t chunk)
{
    collected.clear();
    embedded.chunk = chunk;
    embedded.take_piece = collect_piece;
    embedded.place_chunk = nullptr;
    start_embedded_stream(data.data(), data.size(), (uint32_t)data.size());
    LzmaRun run;
    run.result = decode_lzma(unpacked_size, end_marker);
    run.bytes_taken = finish_embedded_stream();
    run.output = collected;
    if (embedded.bad_piece)
        run.problems += "a piece of the wrong size reached the sink; ";
    if (embedded.refill_beyond)
        run.problems += "a refill asked for bytes past the data; ";
    if (run.bytes_taken > data.size())
        run.problems += "more bytes taken than declared; ";
    if (input_avail < 0)
        run.problems += "input_avail below zero; ";
    embedded.take_piece = nullptr;
    embedded.chunk = INPUT_CHUNK_SIZE;
    return run;
}
