// `tvsfx inspect --json`: the facts of the text form as one JSON object, for scripts.
// Texts in the file are bytes in the stub's code page; JSON wants Unicode, so each text is
// given as UTF-8 (bytes that already are UTF-8 as they are, others read as CP1252, the
// default code page) and, for names, also as the exact bytes in hex.
#include <cerrno>
#include <iconv.h>
#include <string>

#include "archive.h"
#include "file_report.h"
#include "names.h"
#include "stub_record_io.h"
#include "text_encoding.h"

namespace {

// Bytes iconv cannot take from CP1252 (its five unassigned ones) become the Latin-1
// character of the same number, so every byte string has a readable form.
std::string bytes_to_utf8(const std::string& bytes)
{
    if (is_valid_utf8(bytes))
        return bytes;
    std::string out;
    iconv_t cd = iconv_open("UTF-8", DEFAULT_CODEPAGE);
    for (unsigned char c : bytes) {
        char in_byte = char(c), encoded[8];
        char* in_ptr = &in_byte;
        char* out_ptr = encoded;
        size_t in_left = 1, out_left = sizeof encoded;
        if (cd != iconv_t(-1) && iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) != size_t(-1)) {
            out.append(encoded, size_t(out_ptr - encoded));
        } else {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        }
    }
    if (cd != iconv_t(-1))
        iconv_close(cd);
    return out;
}

// A JSON string literal of UTF-8 text: quotes, backslashes and control characters escaped.
std::string json_string(const std::string& utf8)
{
    std::string out = "\"";
    for (unsigned char c : utf8) {
        char escape[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string text_value(const std::string& bytes)
{
    return json_string(bytes_to_utf8(bytes));
}

std::string hex_value(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out + "\"";
}

void print_record(const InspectReport& report, std::FILE* to)
{
    const Record& r = report.record;
    std::fprintf(to, "  \"record\": {\"offset\": %ld, \"stub_crc\": %u, \"archive_offset\": %u, \"config_offset\": %u, "
                     "\"end_record_offset\": %u, \"total_size\": %llu, \"flags\": %u, \"flags_text\": %s, \"language\": \"%s\", "
                     "\"complete\": %u, \"entry_point\": %u, \"license_offset\": %u, \"license_size\": %u, \"reserved\": [%u, %u, %u]},\n",
                 report.record_offset, r.stub_crc, r.archive_offset, r.config_offset, r.end_record_offset, (unsigned long long)(r.total_size | uint64_t(r.total_size_high) << 32),
                 r.flags, json_string(describe_flags(r.flags)).c_str(), language_name(r.flags), r.complete, r.entry_point, r.license_offset,
                 r.license_size, r.reserved3, r.reserved4, r.reserved6);
    std::fprintf(to, "  \"execution_level\": %s,\n", json_string(report.execution_level).c_str());
}

void print_identity(const IdentityReport& identity, std::FILE* to)
{
    if (!identity.error.empty()) {
        std::fprintf(to, "  \"resources_damaged\": %s,\n", json_string(identity.error).c_str());
    } else if (!identity.has_version) {
        std::fputs("  \"version\": null,\n", to);
    } else {
        const VersionInfo& v = identity.version;
        std::fprintf(to, "  \"version\": {\"file_version\": \"%s\", \"product_version\": \"%s\", \"table\": %s, "
                         "\"translation\": [",
                     version_numbers_text(v.file_version).c_str(), version_numbers_text(v.product_version).c_str(),
                     json_string(v.table).c_str());
        for (size_t i = 0; i < v.translation.size(); ++i)
            std::fprintf(to, "%s%u", i ? ", " : "", v.translation[i]);
        std::fputs("], \"strings\": {", to);
        for (size_t i = 0; i < v.strings.size(); ++i)
            std::fprintf(to, "%s%s: %s", i ? ", " : "", json_string(v.strings[i].first).c_str(),
                         json_string(v.strings[i].second).c_str());
        std::fputs("}},\n", to);
    }
    std::fputs("  \"icon\": [", to);
    for (size_t i = 0; i < identity.icon.size(); ++i)
        std::fprintf(to, "%s%s", i ? ", " : "", json_string(identity.icon[i]).c_str());
    std::fputs("],\n", to);
}

void print_configuration(const InspectReport& report, std::FILE* to)
{
    if (!report.config_present) {
        std::fputs("  \"config\": null,\n", to);
        return;
    }
    if (!report.config_error.empty()) {
        std::fprintf(to, "  \"config\": {\"damaged\": %s},\n", json_string(report.config_error).c_str());
        return;
    }
    std::fprintf(to, "  \"config\": {\"size\": %u, \"fields\": {", report.config_size);
    for (int i = 0; i < CONFIG_FIELD_COUNT; ++i)
        std::fprintf(to, "%s\"%s\": %s", i ? ", " : "", field_labels[i], text_value(report.fields[size_t(i)]).c_str());
    std::fputs("}},\n", to);
}

void print_entries(const InspectReport& report, std::FILE* to)
{
    std::fputs("  \"entries\": [", to);
    for (size_t i = 0; i < report.entries.size(); ++i) {
        const InspectedEntry& e = report.entries[i];
        std::fprintf(to, "%s\n    {\"name\": %s, \"name_hex\": %s, \"method\": %u, \"method_name\": \"%s\", \"compressed\": %llu, "
                         "\"uncompressed\": %llu, \"crc32\": %u, \"encrypted\": %s, \"encryption\": \"%s\", "
                         "\"time\": \"%s\", \"time_from\": \"%s\", \"offset\": %llu, \"needs_nt\": %s}",
                     i ? "," : "", text_value(e.name).c_str(), hex_value(e.name).c_str(), e.method, method_label(e), (unsigned long long)e.compressed_size,
                     (unsigned long long)e.uncompressed_size, e.crc32, (e.flags & GP_ENCRYPTED) ? "true" : "false", encryption_label(e).c_str(),
                     entry_time_text(e).c_str(), entry_time_source(e), (unsigned long long)e.offset,
                     needs_nt_family(e.name, e.flags) ? "true" : "false");
    }
    std::fputs(report.entries.empty() ? "],\n" : "\n  ],\n", to);
    std::fprintf(to, "  \"names_needing_nt\": %zu,\n", count_nt_only_names(report));
}

void print_license(const InspectReport& report, std::FILE* to)
{
    if (report.record.license_offset == 0)
        std::fputs("  \"license\": null,\n", to);
    else if (!report.license_error.empty())
        std::fprintf(to, "  \"license\": {\"damaged\": %s},\n", json_string(report.license_error).c_str());
    else
        std::fprintf(to, "  \"license\": {\"size\": %zu, \"stored\": %u, \"text\": %s},\n",
                     report.license_text.size(), report.record.license_size, text_value(report.license_text).c_str());
}

void print_checks(const InspectReport& report, std::FILE* to)
{
    const StartupChecks& c = report.checks;
    const char* walk = report.archive_elsewhere ? "skipped" : report.walk_error.empty() ? "ok" : "FAILED";
    std::fprintf(to, "  \"checks\": {\"stub_checksum\": \"%s\", \"entry_point\": \"%s\", \"end_record\": \"%s\", "
                     "\"complete_mark\": \"%s\", \"configuration\": \"%s\", \"archive_walk\": \"%s\"",
                 verdict(c.stub_checksum), verdict(c.entry_point), verdict(c.end_record), verdict(c.complete_mark),
                 verdict(c.configuration), walk);
    if (!report.walk_error.empty())
        std::fprintf(to, ", \"archive_walk_error\": %s", json_string(report.walk_error).c_str());
    if (report.record.flags & SFX_SPLIT_VOLUMES)
        std::fprintf(to, ", \"volumes\": \"%s\"", report.split_error.empty() ? "ok" : "FAILED");
    if (!report.split_error.empty())
        std::fprintf(to, ", \"volumes_error\": %s", json_string(report.split_error).c_str());
    std::fputs("},\n", to);
}

// A split package's volume table: name, size and SHA-256 of each volume beside the program.
void print_volumes(const InspectReport& report, std::FILE* to)
{
    if (!(report.record.flags & SFX_SPLIT_VOLUMES))
        return;
    static const char digits[] = "0123456789abcdef";
    std::fputs("  \"volumes\": [", to);
    for (size_t i = 0; i < report.split_volumes.size(); ++i) {
        const SplitVolume& v = report.split_volumes[i];
        std::string hex;
        for (uint8_t b : v.sha256)
            hex += std::string{digits[b >> 4], digits[b & 15]};
        std::fprintf(to, "%s\n    {\"name\": %s, \"size\": %llu, \"sha256\": \"%s\"}", i ? "," : "",
                     json_string(bytes_to_utf8(v.name)).c_str(), (unsigned long long)v.size, hex.c_str());
    }
    std::fputs("\n  ],\n", to);
}

}  // namespace

void print_inspect_json(const InspectReport& report, std::FILE* to)
{
    std::fprintf(to, "{\n  \"file\": %s,\n  \"file_size\": %llu,\n", json_string(bytes_to_utf8(report.path)).c_str(),
                 (unsigned long long)report.file_size);
    print_record(report, to);
    print_identity(report.identity, to);
    print_configuration(report, to);
    print_license(report, to);
    print_volumes(report, to);
    print_entries(report, to);
    print_checks(report, to);
    std::fprintf(to, "  \"ok\": %s\n}\n", report.failed() ? "false" : "true");
}
