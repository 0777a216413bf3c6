#include "package_identity.h"

#include <algorithm>

#include "build_error.h"
#include "icon_file.h"
#include "option_text.h"
#include "resource_tree.h"
#include "text_encoding.h"

const VersionOption version_options[] = {
    {"product-name", "ProductName"},
    {"product-version", "ProductVersion"},
    {"file-version", "FileVersion"},
    {"company", "CompanyName"},
    {"description", "FileDescription"},
    {"copyright", "LegalCopyright"},
};
const size_t version_option_count = sizeof version_options / sizeof version_options[0];

namespace {

void check_version_text(const std::string& option, const std::string& text)
{
    std::string name = "--" + option;
    if (text.empty())
        fail(name + " is empty; leave it out to keep the stub's own text");
    check_text_characters(name, text, ONE_LINE);
    check_text_length(name, count_characters(text), VERSION_TEXT_MAX, "characters", "the version resource");
}

// Windows compares the fixed numbers (installers, Explorer's "File version"); a text like
// "2.0 beta" is shown as given, but its numbers are 0.0.0.0.
void check_version_numbers(const std::string& option, const std::string& text)
{
    uint16_t numbers[4];
    if (!parse_version_numbers(text, numbers))
        warn("--" + option + " " + text + " is not up to four numbers 0-65535 joined by dots: Windows shows the "
             "text, but the version numbers it compares are 0.0.0.0");
}

std::string string_name_of(const std::string& option)
{
    for (size_t i = 0; i < version_option_count; ++i) {
        if (option == version_options[i].option)
            return version_options[i].string_name;
    }
    return "";
}

// The fixed numbers follow the version texts; a text that is not numeric gives 0.
void set_fixed_numbers(VersionInfo& info)
{
    const std::string* file = info.find("FileVersion");
    const std::string* product = info.find("ProductVersion");
    if (file != nullptr)
        parse_version_numbers(*file, info.file_version);
    if (product != nullptr)
        parse_version_numbers(*product, info.product_version);
}

void set_version(std::vector<ResourceEntry>& entries, const IdentitySettings& identity, const std::string& what)
{
    VersionInfo info;
    if (const ResourceEntry* own = first_resource(entries, RESOURCE_VERSION)) {
        std::string error;
        if (!decode_version_info(own->data, info, error))
            fail(what + ": its version resource is damaged (" + error + ")");
    }
    // Always the German table, whatever language the stub's own table had.
    info.table = VERSION_TABLE_GERMAN;
    info.translation = {VERSION_LANGUAGE_GERMAN, VERSION_CODE_PAGE_WINDOWS_1252};
    for (const auto& s : identity.version_strings)
        info.set(s.first, s.second);
    set_fixed_numbers(info);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const ResourceEntry& e) { return e.type == resource_id(RESOURCE_VERSION); }),
                  entries.end());
    ResourceEntry entry;
    entry.type = resource_id(RESOURCE_VERSION);
    entry.name = resource_id(VERSION_RESOURCE_ID);
    entry.language = VERSION_LANGUAGE_GERMAN;
    entry.data = encode_version_info(info);
    entries.push_back(std::move(entry));
}

}  // namespace

IdentitySettings settle_identity(const std::vector<std::pair<std::string, std::string>>& given,
                                 const std::string& icon_path)
{
    IdentitySettings s;
    s.icon_path = icon_path;
    std::string file_version, product_version;
    for (const auto& g : given) {
        check_version_text(g.first, g.second);
        if (g.first == "file-version" || g.first == "product-version")
            check_version_numbers(g.first, g.second);
        if (g.first == "file-version")
            file_version = g.second;
        if (g.first == "product-version")
            product_version = g.second;
        s.version_strings.push_back({string_name_of(g.first), g.second});
    }
    // Most packages have one version: the one given stands for both.
    if (file_version.empty() && !product_version.empty())
        s.version_strings.push_back({"FileVersion", product_version});
    if (product_version.empty() && !file_version.empty())
        s.version_strings.push_back({"ProductVersion", file_version});
    return s;
}

void apply_identity(std::vector<uint8_t>& stub, PeImage& image, const IdentitySettings& identity,
                    const std::string& what)
{
    if (identity.empty())
        return;
    std::vector<IconImage> icon;
    if (!identity.icon_path.empty())
        icon = read_icon_file(identity.icon_path);
    std::vector<ResourceEntry> entries;
    std::string error;
    if (!read_resources(stub, entries, error))
        fail(what + ": its resources cannot be read (" + error + ")");
    if (!identity.version_strings.empty())
        set_version(entries, identity, what);
    if (!icon.empty())
        replace_icon(entries, icon);
    write_resources(stub, image, entries, what);
}

IdentityReport read_identity(const std::vector<uint8_t>& head)
{
    IdentityReport report;
    std::vector<ResourceEntry> entries;
    if (!read_resources(head, entries, report.error))
        return report;
    if (const ResourceEntry* version = first_resource(entries, RESOURCE_VERSION)) {
        report.has_version = decode_version_info(version->data, report.version, report.error);
        if (!report.has_version)
            return report;
    }
    report.icon = describe_icon(entries);
    return report;
}
