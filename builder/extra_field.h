// Walking the records of a ZIP extra field block: a 2-byte id, a 2-byte size, then the data.
#ifndef TVSFX_BUILDER_EXTRA_FIELD_H
#define TVSFX_BUILDER_EXTRA_FIELD_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/byte_order.h"

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

#endif
