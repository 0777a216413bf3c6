// Growing byte buffers for the records the builder writes, little-endian like the formats.
#ifndef TVSFX_BUILDER_BYTE_BUFFER_H
#define TVSFX_BUILDER_BYTE_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/byte_order.h"

inline void append_u16(std::vector<uint8_t>& out, uint16_t v)
{
    uint8_t field[2];
    put_u16(field, v);
    out.insert(out.end(), field, field + 2);
}

inline void append_u32(std::vector<uint8_t>& out, uint32_t v)
{
    uint8_t field[4];
    put_u32(field, v);
    out.insert(out.end(), field, field + 4);
}

inline void append_u64(std::vector<uint8_t>& out, uint64_t v)
{
    append_u32(out, uint32_t(v));
    append_u32(out, uint32_t(v >> 32));
}

inline void append_bytes(std::vector<uint8_t>& out, const void* data, size_t size)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    out.insert(out.end(), p, p + size);
}

inline uint64_t align_up(uint64_t value, uint32_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

#endif
