// Little-endian fields of the PE and ZIP records: both formats are little-endian on disk,
// whatever the host is. The one reader and writer family of the stub and the builder.
#ifndef TVSFX_FORMAT_BYTE_ORDER_H
#define TVSFX_FORMAT_BYTE_ORDER_H

#include <stdint.h>

inline uint16_t get_u16(const uint8_t* p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

inline uint32_t get_u32(const uint8_t* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

inline uint64_t get_u64(const uint8_t* p)
{
    return (uint64_t)get_u32(p) | (uint64_t)get_u32(p + 4) << 32;
}

inline void put_u16(uint8_t* p, uint16_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

inline void put_u32(uint8_t* p, uint32_t v)
{
    put_u16(p, (uint16_t)v);
    put_u16(p + 2, (uint16_t)(v >> 16));
}

inline void put_u64(uint8_t* p, uint64_t v)
{
    put_u32(p, (uint32_t)v);
    put_u32(p + 4, (uint32_t)(v >> 32));
}

#endif
