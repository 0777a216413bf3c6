// libFuzzer target for the entry decoder of `tvsfx test`: the stub's decoder and ciphers,
// built natively, on one entry. The input is the entry's header fields, then its data:
//   0      flags (bit 0 encrypted, bit 3 descriptor)    1..2   method
//   3..4   DOS time                                       5..8   CRC-32
//   9..12  uncompressed size                              13..19 the 7 bytes of an AES record
//   20..   the data (salt, verifier, encrypted data and code for an AES entry)
// The password is "secret": seeds built with it (fuzz/make_builder_seeds.py) pass the
// verifier, so mutations reach decryption, the decoder and the code check.
#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "entry_decoder.h"
#include "extra_field.h"
#include "builder_fuzz_support.h"
#include "format/byte_order.h"

namespace {

enum { FIELDS_SIZE = 20 };

InspectedEntry entry_of(const uint8_t* fields, size_t data_size)
{
    InspectedEntry e{};
    e.flags = fields[0];
    e.method = get_u16(fields + 1);
    e.mod_time = get_u16(fields + 3);
    e.crc32 = get_u32(fields + 5);
    e.uncompressed_size = get_u32(fields + 9);
    e.compressed_size = uint32_t(data_size);
    e.data_offset = 0;
    e.name = "fuzz";
    std::vector<uint8_t> extra = {uint8_t(EXTRA_AES), uint8_t(EXTRA_AES >> 8), AES_EXTRA_SIZE, 0};
    extra.insert(extra.end(), fields + 13, fields + FIELDS_SIZE);
    e.aes = find_aes_record(extra);
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < FIELDS_SIZE)
        return 0;
    InspectedEntry e = entry_of(data, size - FIELDS_SIZE);
    FILE* file = fopen(place_in_memory_file(data + FIELDS_SIZE, size - FIELDS_SIZE).c_str(), "rb");
    if (file == nullptr)
        return 0;
    decode_entry_data(file, e, "secret");
    fclose(file);
    return 0;
}
