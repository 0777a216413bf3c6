// The package's icon: the images of a .ico file as RT_ICON resources and the RT_GROUP_ICON
// directory that lists them (the .ico directory with a resource number in place of each
// image's file offset). Explorer shows the first group of an image.
#ifndef TVSFX_ICON_FILE_H
#define TVSFX_ICON_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "resource_tree.h"

struct IconImage {
    uint16_t width = 0, height = 0;  // 1..256 pixels (the directory's 0 means 256)
    uint8_t color_count = 0;         // palette entries as the directory gives them (0: 256 or more)
    uint16_t planes = 1;
    uint16_t bit_count = 0;          // bits per pixel, from the image when the directory says 0
    bool png = false;                // a PNG stream (Vista and later), else a DIB with its mask
    std::vector<uint8_t> data;       // the image's bytes, exactly as in the file
};

// The largest .ico taken: room for 30 bitmaps of 256x256 pixels with 32 bits and their masks
// (270,376 bytes each), where real icons hold a few; inspect reads the stub part within its first 16 MiB.
constexpr uint64_t ICON_FILE_MAX = 8u << 20;

// Reads and checks every image of a .ico file; a file that is not one fails with one line
// naming the file and, where one is at fault, the image.
std::vector<IconImage> read_icon_file(const std::string& path);

// Replaces the stub's icons by `images`: RT_ICON 1..n and one group under the name and
// language of the stub's first group (1 and German when it has none).
void replace_icon(std::vector<ResourceEntry>& entries, const std::vector<IconImage>& images);

// "16x16 8bpp", "256x256 png" for each image of the first icon group, in its order; a
// listed image that is missing shows as "WxH missing".
std::vector<std::string> describe_icon(const std::vector<ResourceEntry>& entries);

#endif
