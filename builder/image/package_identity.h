// What Windows shows of a package besides its name: the version resource (--product-name,
// --product-version, --file-version, --company, --description, --copyright) and the icon
// (--icon). Without these options the stub's own resources stay as linked; with them the
// builder rewrites the stub's resource section before it appends its own section.
#ifndef TVSFX_PACKAGE_IDENTITY_H
#define TVSFX_PACKAGE_IDENTITY_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "pe_image.h"
#include "version_info.h"

// One option per String of the version table.
struct VersionOption {
    const char* option;       // without the dashes
    const char* string_name;  // the String block's key, as Explorer reads it
};
extern const VersionOption version_options[];
extern const size_t version_option_count;

struct IdentitySettings {
    std::vector<std::pair<std::string, std::string>> version_strings;  // String key, UTF-8 text
    std::string icon_path;  // empty: the stub's icon

    bool empty() const { return version_strings.empty() && icon_path.empty(); }
};

// Checks the version texts given on the command line (option name → UTF-8 text, in the order of
// version_options) and fills the file version from the product version or the other way round
// when only one is given. A version that is not one to four numbers is kept as text and warned
// about: its fixed numbers are 0.
IdentitySettings settle_identity(const std::vector<std::pair<std::string, std::string>>& given,
                                 const std::string& icon_path);

// Writes the version resource and the icon into the stub's resources; `image` is read anew.
// A version resource of the stub gives the fields not set.
void apply_identity(std::vector<uint8_t>& stub, PeImage& image, const IdentitySettings& identity,
                    const std::string& what);

struct IdentityReport {
    std::string error;              // the resources are damaged; empty: read
    bool has_version = false;
    VersionInfo version;
    std::vector<std::string> icon;  // "16x16 8bpp", ... of the first icon group
};

// Reads the version and the icon from the first bytes of a built file (its stub part).
IdentityReport read_identity(const std::vector<uint8_t>& head);

#endif
