// The stub's resources (icon, manifest, version) as the loader and Explorer read them: a
// three-level tree of type, name and language over the data, in the section the resource data
// directory points to. The builder reads that tree, changes entries, and writes the section
// anew; the section is the image's last one, so it may grow without moving any other section.
#ifndef TVSFX_RESOURCE_TREE_H
#define TVSFX_RESOURCE_TREE_H

#include <cstdint>
#include <string>
#include <vector>

#include "pe_image.h"

// Resource types the builder writes or shows (their numbers are Windows' RT_ values).
enum : uint16_t {
    RESOURCE_ICON = 3,
    RESOURCE_GROUP_ICON = 14,
    RESOURCE_VERSION = 16,
    RESOURCE_MANIFEST = 24,
};

// A type or name of the tree: a number, or a UTF-16 string (`named`).
struct ResourceKey {
    bool named = false;
    uint16_t id = 0;
    std::u16string name;

    bool operator==(const ResourceKey& other) const;
    // The order of a directory's entries: strings (by their characters) before numbers.
    bool operator<(const ResourceKey& other) const;
};

struct ResourceEntry {
    ResourceKey type;
    ResourceKey name;
    uint16_t language = 0;    // LANGID, e.g. 0x0407 German (Germany)
    uint32_t code_page = 0;   // of the data entry; 0 as resource compilers write it
    std::vector<uint8_t> data;
};

inline ResourceKey resource_id(uint16_t id)
{
    ResourceKey key;
    key.id = id;
    return key;
}

// Reads the resource tree of an image whose first bytes are `file` (the stub's image, or the
// head of a built file). False with `error` set when the image has none or it is damaged;
// an image without a resource directory gives true and no entries.
bool read_resources(const std::vector<uint8_t>& file, std::vector<ResourceEntry>& entries, std::string& error);

// The first entry of `type` in the tree's order (what Explorer shows for an icon), or nullptr.
const ResourceEntry* first_resource(const std::vector<ResourceEntry>& entries, uint16_t type);

// Replaces the stub's resource section by one holding `entries`, then updates the section
// header, the resource data directory, SizeOfImage and SizeOfInitializedData and cuts the
// bytes to the new end; `image` is read anew. Refuses a stub whose resource section is not
// its last one (then it cannot grow), naming `what`.
void write_resources(std::vector<uint8_t>& stub, PeImage& image, const std::vector<ResourceEntry>& entries,
                     const std::string& what);

#endif
