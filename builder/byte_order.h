// Little-endian field access for the PE and ZIP records (both formats are little-endian on
// disk whatever the host is).
#ifndef TVSFX_BYTE_ORDER_H
#define TVSFX_BYTE_ORDER_H

#include <cstddef>
#include <cstdint>
#include <vector>

inline uint16_t get_u16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

inline uint32_t get_u32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void put_u16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void put_u32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline void append_u16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

inline void append_u32(std::vector<uint8_t>& out, uint32_t v)
{
    append_u16(out, uint16_t(v));
    append_u16(out, uint16_t(v >> 16));
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
