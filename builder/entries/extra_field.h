// Walking the records of a ZIP extra field block: a 2-byte id, a 2-byte size, then the data.
#ifndef TVSFX_BUILDER_EXTRA_FIELD_H
#define TVSFX_BUILDER_EXTRA_FIELD_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/byte_order.h"
#include "format/file_times.h"
#include "format/zip_format.h"

// Calls `visit(id, data, size, at)` for each record (`at`: the record's offset in the block);
// false when the block does not parse as records.
template <typename Visit>
bool for_each_extra(const std::vector<uint8_t>& extra, Visit visit)
{
    size_t at = 0;
    while (at + 4 <= extra.size()) {
        uint16_t id = get_u16(extra.data() + at);
        size_t size = get_u16(extra.data() + at + 2);
        if (at + 4 + size > extra.size())
            return false;
        visit(id, extra.data() + at + 4, size, at);
        at += 4 + size;
    }
    return at == extra.size();
}

// The ZIP64 record of a block, read as the stub reads it: the 8-byte values, in the record's
// order, of the fields that hold ZIP64_MARK_32 (uncompressed size, compressed size and, when
// `offset` is given, the local header's offset); a record too short for all of them is not
// used and the fields keep their marks. True when the block has a ZIP64 record at all.
inline bool take_zip64_values(const std::vector<uint8_t>& extra, uint64_t& uncompressed, uint64_t& compressed,
                              uint64_t* offset = nullptr)
{
    bool found = false;
    for_each_extra(extra, [&](uint16_t id, const uint8_t* data, size_t size, size_t) {
        if (id != EXTRA_ZIP64)
            return;
        found = true;
        uint64_t* fields[3] = {&uncompressed, &compressed, offset};
        size_t needed = 0;
        for (uint64_t* field : fields)
            needed += field != nullptr && *field == ZIP64_MARK_32 ? 8 : 0;
        if (needed == 0 || size < needed)
            return;
        for (uint64_t* field : fields) {
            if (field != nullptr && *field == ZIP64_MARK_32) {
                *field = get_u64(data);
                data += 8;
            }
        }
    });
    return found;
}

// The exact modification time a block states, as the stub takes it (the best kind of record
// wins, see TIME_FROM_*; the entry's DOS date and time pick the reading of a 32-bit Unix
// time); TIME_FROM_DOS when no record states one (or only malformed ones).
struct ExactTime {
    int kind = TIME_FROM_DOS;
    int64_t filetime = 0;  // 100 ns since 1601, UTC
};

inline ExactTime find_exact_time(const std::vector<uint8_t>& extra, uint16_t dos_date, uint16_t dos_time)
{
    ExactTime best;
    int64_t dos_seconds = dos_time_seconds(dos_date, dos_time);
    for_each_extra(extra, [&](uint16_t id, const uint8_t* data, size_t size, size_t) {
        int64_t time = 0;
        int kind = exact_file_time(id, data, uint32_t(size), dos_seconds, &time);
        if (kind > best.kind)
            best = ExactTime{kind, time};
    });
    return best;
}

// Appends a whole record unless the block would outgrow its 16-bit length; false then.
inline bool append_extra_record(std::vector<uint8_t>& extra, const uint8_t* record, size_t size)
{
    if (extra.size() + size > 0xFFFF)
        return false;
    extra.insert(extra.end(), record, record + size);
    return true;
}

// The 0x9901 record of an AES-encrypted entry, as stored.
struct AesRecord {
    bool found = false;
    uint16_t version = 0;   // 1 = AE-1, 2 = AE-2
    bool vendor_ae = false;  // vendor id "AE"
    uint8_t strength = 0;   // 1..3 for 128, 192, 256 bits
    uint16_t method = 0;    // the real compression method
    size_t size = 0;        // the record's data bytes; the stub takes only a record of AES_EXTRA_SIZE

    bool usable() const
    {
        return found && size == AES_EXTRA_SIZE && (version == AES_VERSION_AE1 || version == AES_VERSION_AE2) &&
               vendor_ae && strength >= AES_STRENGTH_128 && strength <= AES_STRENGTH_256;
    }
    bool same_as(const AesRecord& other) const
    {
        return found == other.found && size == other.size && version == other.version &&
               vendor_ae == other.vendor_ae && strength == other.strength && method == other.method;
    }
    unsigned key_bits() const { return 64 + 64 * strength; }
};

inline AesRecord find_aes_record(const std::vector<uint8_t>& extra)
{
    AesRecord record;
    for_each_extra(extra, [&](uint16_t id, const uint8_t* data, size_t size, size_t) {
        if (id != EXTRA_AES || record.found)
            return;
        record.found = true;
        record.size = size;
        if (size < AES_EXTRA_SIZE)
            return;
        record.version = get_u16(data);
        record.vendor_ae = data[2] == 'A' && data[3] == 'E';
        record.strength = data[4];
        record.method = get_u16(data + 5);
    });
    return record;
}

// The 0x9901 record the builder writes: AE-2, the given strength and real method.
inline std::vector<uint8_t> make_aes_record(uint8_t strength, uint16_t method)
{
    std::vector<uint8_t> r(4 + AES_EXTRA_SIZE);
    put_u16(r.data(), EXTRA_AES);
    put_u16(r.data() + 2, AES_EXTRA_SIZE);
    put_u16(r.data() + 4, AES_VERSION_AE2);
    r[6] = 'A';
    r[7] = 'E';
    r[8] = strength;
    put_u16(r.data() + 9, method);
    return r;
}

#endif
