// The package's version resource (VS_VERSIONINFO), which Explorer shows under Properties →
// Details: the fixed file info with the file and product version numbers, and one
// StringFileInfo table of named texts in UTF-16. The builder writes German tables: block
// "040704E4" (language 0x0407, code page 1252) and the Translation 0x0407/1252 that names it.
#ifndef TVSFX_VERSION_INFO_H
#define TVSFX_VERSION_INFO_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#define VERSION_TABLE_GERMAN "040704E4"
enum : uint16_t {
    VERSION_LANGUAGE_GERMAN = 0x0407,
    VERSION_CODE_PAGE_WINDOWS_1252 = 1252,
    VERSION_RESOURCE_ID = 1,  // VS_VERSION_INFO
};

// The longest text a version field takes, in characters (Unicode code points): far more than
// Explorer shows, and even at two UTF-16 units each the whole resource stays well inside its
// 16-bit length fields.
constexpr size_t VERSION_TEXT_MAX = 255;

struct VersionInfo {
    uint16_t file_version[4] = {0, 0, 0, 0};     // FileVersionMS/LS as four numbers
    uint16_t product_version[4] = {0, 0, 0, 0};  // ProductVersionMS/LS
    std::string table = VERSION_TABLE_GERMAN;    // the StringFileInfo block's name
    std::vector<uint16_t> translation;           // language, code page pairs of VarFileInfo
    std::vector<std::pair<std::string, std::string>> strings;  // name and text (UTF-8), in order

    // The text of the string called `name`, or nullptr.
    const std::string* find(const std::string& name) const;
    // Sets the string called `name` (in place when present, else at the end).
    void set(const std::string& name, const std::string& text);
};

// "1.2.3" → 1 2 3 0. False (and all four 0) for anything but one to four decimal numbers
// 0..65535 joined by dots.
bool parse_version_numbers(const std::string& text, uint16_t numbers[4]);
// 1 2 3 0 → "1.2.3.0".
std::string version_numbers_text(const uint16_t numbers[4]);

// The resource's bytes; the strings are converted to UTF-16.
std::vector<uint8_t> encode_version_info(const VersionInfo& info);

// Reads a version resource: the fixed file info, the first StringFileInfo table and the
// Translation. False with `error` when the blocks do not nest as the format says.
bool decode_version_info(const std::vector<uint8_t>& data, VersionInfo& info, std::string& error);

#endif
