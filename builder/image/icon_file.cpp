// Reading .ico files and writing them as icon resources.
//
// A .ico file: ICONDIR (reserved 0, type 1, count), then count 16-byte entries (width, height,
// colour count, reserved, planes, bits per pixel, bytes, file offset), then the images. An
// image is a PNG stream, or a DIB: BITMAPINFOHEADER with twice the icon's height (colour
// rows, then the 1-bit transparency mask), the palette, the colour rows, the mask rows. The
// resource group has the same header and 14-byte entries ending in the RT_ICON number.
#include "icon_file.h"

#include <algorithm>
#include <cstring>

#include "build_error.h"
#include "byte_buffer.h"
#include "input_file.h"
#include "version_info.h"

namespace {

enum : uint32_t {
    ICON_HEADER_SIZE = 6,
    ICON_ENTRY_SIZE = 16,
    GROUP_ENTRY_SIZE = 14,
    ICON_TYPE = 1,          // 2 is a cursor
    PNG_IHDR_END = 8 + 8 + 13,  // signature, chunk length and type, the header's 13 bytes
    BI_RGB = 0,
    BI_BITFIELDS = 3,
};

constexpr uint16_t ICON_SIZE_MAX = 256;  // pixels; the directory writes 256 as 0

const uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t get_u32_big(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

std::vector<uint8_t> read_icon_bytes(const std::string& path, const std::string& what)
{
    uint64_t size = 0;
    FilePtr f = open_regular_file(path, "--icon", &size);
    if (size > ICON_FILE_MAX)
        fail(what + ": " + std::to_string(size) + " bytes, more than any icon (at most " +
             std::to_string(ICON_FILE_MAX >> 20) + " MiB)");
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (std::fread(bytes.data(), 1, bytes.size(), f.get()) != bytes.size())
        fail("cannot read " + what);
    return bytes;
}

// Bits per pixel of a PNG from its colour type and bit depth (palette images count their index).
uint16_t png_bits(uint8_t depth, uint8_t colour_type)
{
    static const uint8_t channels[7] = {1, 0, 3, 1, 2, 0, 4};
    return colour_type < 7 ? uint16_t(depth * channels[colour_type]) : 0;
}

// The checks of one image; returns what is wrong, or "".
std::string check_png(IconImage& image)
{
    const std::vector<uint8_t>& d = image.data;
    if (d.size() < PNG_IHDR_END || get_u32_big(&d[8]) != 13 || memcmp(&d[12], "IHDR", 4) != 0)
        return "its PNG stream has no header (IHDR)";
    uint32_t width = get_u32_big(&d[16]), height = get_u32_big(&d[20]);
    if (width != image.width || height != image.height)
        return "the directory says " + std::to_string(image.width) + "x" + std::to_string(image.height) +
               ", its PNG is " + std::to_string(width) + "x" + std::to_string(height);
    if (image.bit_count == 0)
        image.bit_count = png_bits(d[24], d[25]);
    return "";
}

std::string check_bitmap(IconImage& image)
{
    const std::vector<uint8_t>& d = image.data;
    uint32_t header = d.size() >= 4 ? get_u32(&d[0]) : 0;
    if ((header != 40 && header != 108 && header != 124) || d.size() < header)
        return "it is neither a PNG stream nor a bitmap (no BITMAPINFOHEADER)";
    int32_t width = int32_t(get_u32(&d[4])), height = int32_t(get_u32(&d[8]));
    uint16_t planes = get_u16(&d[12]), bits = get_u16(&d[14]);
    uint32_t compression = get_u32(&d[16]), colours_used = get_u32(&d[32]);
    if (width != image.width || height != 2 * int32_t(image.height))
        return "the directory says " + std::to_string(image.width) + "x" + std::to_string(image.height) +
               ", its bitmap is " + std::to_string(width) + "x" + std::to_string(height) +
               " (an icon bitmap is twice as high: colours and mask)";
    bool known_bits = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    if (planes != 1 || !known_bits || (compression != BI_RGB && compression != BI_BITFIELDS))
        return "its bitmap has " + std::to_string(planes) + " planes, " + std::to_string(bits) +
               " bits per pixel, compression " + std::to_string(compression) +
               " (an icon needs 1 plane, 1/4/8/16/24/32 bits, no compression)";
    uint64_t palette = colours_used != 0 ? colours_used : bits <= 8 ? 1u << bits : 0;
    uint64_t masks = compression == BI_BITFIELDS && header == 40 ? 12 : 0;
    uint64_t colour_row = (uint64_t(width) * bits + 31) / 32 * 4, mask_row = (uint64_t(width) + 31) / 32 * 4;
    uint64_t needed = header + masks + palette * 4 + (colour_row + mask_row) * image.height;
    if (needed > d.size())
        return "its bitmap needs " + std::to_string(needed) + " bytes, the directory gives " + std::to_string(d.size());
    image.bit_count = bits;
    image.planes = 1;
    return "";
}

IconImage read_icon_entry(const std::vector<uint8_t>& file, uint32_t index, uint32_t directory_end, std::string& error)
{
    const uint8_t* e = &file[ICON_HEADER_SIZE + index * ICON_ENTRY_SIZE];
    IconImage image;
    image.width = e[0] != 0 ? uint16_t(e[0]) : ICON_SIZE_MAX;
    image.height = e[1] != 0 ? uint16_t(e[1]) : ICON_SIZE_MAX;
    image.color_count = e[2];
    image.planes = get_u16(e + 4) != 0 ? get_u16(e + 4) : 1;
    image.bit_count = get_u16(e + 6);
    uint32_t size = get_u32(e + 8), offset = get_u32(e + 12);
    if (size == 0 || offset < directory_end || uint64_t(offset) + size > file.size()) {
        error = "its bytes lie outside the file (offset " + std::to_string(offset) + ", " + std::to_string(size) +
                " bytes; the file has " + std::to_string(file.size()) + ")";
        return image;
    }
    image.data.assign(file.begin() + offset, file.begin() + offset + size);
    image.png = size >= sizeof PNG_SIGNATURE && memcmp(image.data.data(), PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0;
    error = image.png ? check_png(image) : check_bitmap(image);
    return image;
}

std::string size_text(uint16_t width, uint16_t height)
{
    return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

std::vector<IconImage> read_icon_file(const std::string& path)
{
    std::string what = "--icon " + path;
    std::vector<uint8_t> file = read_icon_bytes(path, what);
    if (file.size() < ICON_HEADER_SIZE || get_u16(&file[0]) != 0 || get_u16(&file[2]) != ICON_TYPE)
        fail(what + ": not an icon file (no .ico header); convert the picture to .ico first");
    uint32_t count = get_u16(&file[4]);
    uint32_t directory_end = ICON_HEADER_SIZE + count * ICON_ENTRY_SIZE;
    if (count == 0)
        fail(what + ": the icon file holds no images");
    if (directory_end > file.size())
        fail(what + ": its directory of " + std::to_string(count) + " images runs past the end of the file");
    std::vector<IconImage> images;
    for (uint32_t i = 0; i < count; ++i) {
        std::string error;
        images.push_back(read_icon_entry(file, i, directory_end, error));
        if (!error.empty())
            fail(what + ": image " + std::to_string(i + 1) + " (" + size_text(images.back().width, images.back().height) +
                 "): " + error);
    }
    return images;
}

void replace_icon(std::vector<ResourceEntry>& entries, const std::vector<IconImage>& images)
{
    ResourceEntry group;
    group.type = resource_id(RESOURCE_GROUP_ICON);
    group.name = resource_id(1);
    group.language = VERSION_LANGUAGE_GERMAN;
    if (const ResourceEntry* first = first_resource(entries, RESOURCE_GROUP_ICON)) {
        group.name = first->name;
        group.language = first->language;
    }
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const ResourceEntry& e) {
                                     return e.type == resource_id(RESOURCE_ICON) || e.type == resource_id(RESOURCE_GROUP_ICON);
                                 }),
                  entries.end());
    append_u16(group.data, 0);
    append_u16(group.data, ICON_TYPE);
    append_u16(group.data, uint16_t(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        const IconImage& image = images[i];
        group.data.push_back(uint8_t(image.width == ICON_SIZE_MAX ? 0 : image.width));
        group.data.push_back(uint8_t(image.height == ICON_SIZE_MAX ? 0 : image.height));
        group.data.push_back(image.color_count);
        group.data.push_back(0);
        append_u16(group.data, image.planes);
        append_u16(group.data, image.bit_count);
        append_u32(group.data, uint32_t(image.data.size()));
        append_u16(group.data, uint16_t(i + 1));
        ResourceEntry icon;
        icon.type = resource_id(RESOURCE_ICON);
        icon.name = resource_id(uint16_t(i + 1));
        icon.language = group.language;
        icon.data = image.data;
        entries.push_back(std::move(icon));
    }
    entries.push_back(std::move(group));
}

std::vector<std::string> describe_icon(const std::vector<ResourceEntry>& entries)
{
    std::vector<std::string> shown;
    const ResourceEntry* group = first_resource(entries, RESOURCE_GROUP_ICON);
    if (group == nullptr || group->data.size() < ICON_HEADER_SIZE)
        return shown;
    const std::vector<uint8_t>& g = group->data;
    for (size_t i = 0; i < get_u16(&g[4]) && ICON_HEADER_SIZE + (i + 1) * GROUP_ENTRY_SIZE <= g.size(); ++i) {
        const uint8_t* e = &g[ICON_HEADER_SIZE + i * GROUP_ENTRY_SIZE];
        std::string text = size_text(e[0] != 0 ? uint16_t(e[0]) : ICON_SIZE_MAX, e[1] != 0 ? uint16_t(e[1]) : ICON_SIZE_MAX);
        const ResourceEntry* icon = nullptr;
        for (const ResourceEntry& r : entries) {
            if (r.type == resource_id(RESOURCE_ICON) && r.name == resource_id(get_u16(e + 12)))
                icon = &r;
        }
        bool png = icon != nullptr && icon->data.size() >= sizeof PNG_SIGNATURE &&
                   memcmp(icon->data.data(), PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0;
        shown.push_back(text + (icon == nullptr ? " missing" : png ? " png" : " " + std::to_string(get_u16(e + 6)) + "bpp"));
    }
    return shown;
}
