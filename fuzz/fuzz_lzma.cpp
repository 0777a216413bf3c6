// libFuzzer target for the LZMA decoder, through the same byte source and sink as the stub's
// pipeline and a dictionary block of exactly the size asked for (AddressSanitizer catches a
// byte written past it).
//
// Input: 3 bytes of the entry's size (little-endian, so a run stays under 16 MiB of output),
// 1 byte of options (bit 0: the entry's end-marker bit; bits 1..7: input chunk size - 1, so
// chunk boundaries fall anywhere), then the entry's data: ZIP LZMA header and stream.
//
// Checks: no crash, hang or out-of-bounds access; the sink gets only full pieces; the decoder
// takes no byte beyond the entry; at most the entry's size comes out; and whatever the decoder
// reports as decoded, liblzma decodes to the same bytes whenever it accepts the stream.
#include <lzma.h>
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "decoder_embedding.h"
#include "lzma_decode.h"
#include "zip_format.h"

static std::vector<uint8_t> collected;

static void collect_piece(const uint8_t* piece, uint32_t n)
{
    collected.insert(collected.end(), piece, piece + n);
}

// liblzma's reading of the same entry; false when it refuses it.
static bool liblzma_decode(const uint8_t* data, size_t size, uint32_t unpacked, bool marker, std::vector<uint8_t>* out)
{
    if (size < ZIP_LZMA_HEADER_SIZE)
        return false;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_decode(&filters[0], nullptr, data + 4, ZIP_LZMA_PROPERTIES_SIZE) != LZMA_OK)
        return false;
    lzma_options_lzma* options = (lzma_options_lzma*)filters[0].options;
    // liblzma would allocate the declared dictionary (up to 4 GiB); what our decoder takes is
    // enough, since no match reaches back past the start of the output.
    options->dict_size = std::max<uint32_t>(lzma_dictionary_need(options->dict_size, unpacked), LZMA_DICT_SIZE_MIN);
    options->ext_flags = marker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
    lzma_set_ext_size(*options, unpacked);
    out->assign(unpacked, 0);
    size_t in_pos = ZIP_LZMA_HEADER_SIZE, out_pos = 0;
    lzma_ret r = lzma_raw_buffer_decode(filters, nullptr, data, &in_pos, size, out->data(), &out_pos, out->size());
    free(options);
    out->resize(out_pos);
    return r == LZMA_OK && out_pos == unpacked;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    uint32_t unpacked = data[0] | (uint32_t)data[1] << 8 | (uint32_t)data[2] << 16;
    bool marker = (data[3] & 1) != 0;
    const uint8_t* entry = data + 4;
    size_t entry_size = size - 4;
    collected.clear();
    embedded.chunk = 1 + (data[3] >> 1);
    embedded.take_piece = collect_piece;
    start_embedded_stream(entry, entry_size, (uint32_t)entry_size);
    int result = decode_lzma(unpacked, marker);
    uint32_t taken = finish_embedded_stream();
    if (embedded.bad_piece || embedded.refill_beyond || taken > entry_size || collected.size() > unpacked)
        abort();
    if (result == LZMA_DECODED) {
        if (collected.size() != unpacked)
            abort();
        std::vector<uint8_t> reference;
        if (liblzma_decode(entry, entry_size, unpacked, marker, &reference) && reference != collected)
            abort();
    }
    return 0;
}
