// Little-endian fields of the file formats the stub reads (PE headers, ZIP records).
#ifndef TVSFX_BYTE_ORDER_H
#define TVSFX_BYTE_ORDER_H

#include <stdint.h>

inline uint16_t get_u16(const uint8_t* p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

inline uint32_t get_u32(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24;
}

#endif
