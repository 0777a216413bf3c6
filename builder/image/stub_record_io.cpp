// The StubRecord as the builder writes it. Offsets inside the record come from the shared
// header (offsetof on the packed struct), so builder and stub cannot disagree on the layout.
#include "stub_record_io.h"

#include <cstdio>
#include <cstring>
#include <zlib.h>

#include "build_error.h"
#include "byte_buffer.h"
#include "pe_image.h"

const FlagName flag_names[] = {
    {SFX_OVERWRITE, "SFX_OVERWRITE", "overwrite"},
    {SFX_USE_TITLE, "SFX_USE_TITLE", nullptr},
    {SFX_PASSWORD_FIRST, "SFX_PASSWORD_FIRST", "password-first"},
    {SFX_AUTO, "SFX_AUTO", "auto"},
    {SFX_CRC_AFTER_HEADERS, "SFX_CRC_AFTER_HEADERS", nullptr},
    {SFX_MULTI_VOLUME, "SFX_MULTI_VOLUME", "multi-volume"},
    {SFX_EXE_VOLUMES, "SFX_EXE_VOLUMES", "exe-volumes"},
    {SFX_VERB_INSTALL, "SFX_VERB_INSTALL", "verb-install"},
    {SFX_TITLE_CAPTION, "SFX_TITLE_CAPTION", "title-caption"},
    {SFX_PROMPT_ASK, "SFX_PROMPT_ASK", "prompt-ask"},
    {SFX_PROMPT_OKCANCEL, "SFX_PROMPT_OKCANCEL", "prompt-okcancel"},
    {SFX_HIDDEN, "SFX_HIDDEN", "hidden"},
    {SFX_NO_UNATTENDED, "SFX_NO_UNATTENDED", "no-unattended"},
    {SFX_WAIT, "SFX_WAIT", "wait"},
    {SFX_CLEANUP, "SFX_CLEANUP", "cleanup"},
    {SFX_LANGUAGE_EN, "SFX_LANGUAGE_EN", nullptr},
    {SFX_LANGUAGE_AUTO, "SFX_LANGUAGE_AUTO", nullptr},
    {SFX_UTF8_TEXTS, "SFX_UTF8_TEXTS", nullptr},
    {SFX_SPLIT_VOLUMES, "SFX_SPLIT_VOLUMES", nullptr},
};
const size_t flag_name_count = sizeof flag_names / sizeof flag_names[0];

void set_license_location(RecordValues& values, uint32_t offset, uint32_t size)
{
    values.license_offset = size != 0 ? offset : 0;
    values.license_size = size;
}

const char* language_name(uint32_t flags)
{
    switch (flags & (SFX_LANGUAGE_EN | SFX_LANGUAGE_AUTO)) {
    case 0: return "de";
    case SFX_LANGUAGE_EN: return "en";
    case SFX_LANGUAGE_AUTO: return "auto";
    }
    return "en";  // both bits: the stub takes English
}

long find_stub_marker(const uint8_t* data, size_t size)
{
    static const uint8_t marker[STUB_MARKER_SIZE] = {STUB_MARKER_BYTES};
    for (size_t i = 0; i + STUB_MARKER_SIZE <= size; ++i) {
        if (data[i] == marker[0] && memcmp(data + i, marker, STUB_MARKER_SIZE) == 0)
            return long(i);
    }
    return -1;
}

uint32_t compute_stub_crc(const std::vector<uint8_t>& stub_part, size_t record_offset, uint32_t flags)
{
    std::vector<uint8_t> block(stub_part);
    size_t field = record_offset + STUB_CRC_FIELD_OFFSET;
    if (field + 4 <= block.size())
        memset(block.data() + field, 0, 4);
    size_t start = 0;
    if (flags & SFX_CRC_AFTER_HEADERS)
        start = block.size() >= 64 ? size_t(pe_headers_end(block)) : block.size();
    if (start > block.size())
        return 0;
    return uint32_t(crc32_z(crc32_z(0, nullptr, 0), block.data() + start, block.size() - start));
}

void fill_stub_record(std::vector<uint8_t>& stub_part, size_t record_offset, const RecordValues& v)
{
    if (record_offset + sizeof(StubRecord) > stub_part.size())
        fail("the stub record lies outside the stub part");
    uint8_t* r = stub_part.data() + record_offset;
    put_u32(r + offsetof(StubRecord, stub_crc), 0);
    put_u32(r + offsetof(StubRecord, archive_offset), v.archive_offset);
    put_u32(r + offsetof(StubRecord, config_offset), v.config_offset);
    put_u32(r + offsetof(StubRecord, end_record_offset), v.end_record_offset);
    put_u32(r + offsetof(StubRecord, total_size), uint32_t(v.total_size));
    put_u32(r + offsetof(StubRecord, flags), v.flags);
    put_u32(r + offsetof(StubRecord, license_offset), v.license_offset);
    put_u32(r + offsetof(StubRecord, license_size), v.license_size);
    put_u16(r + offsetof(StubRecord, reserved3), 0);
    put_u16(r + offsetof(StubRecord, complete), 0xFFFF);
    put_u32(r + offsetof(StubRecord, reserved4), 8);
    put_u32(r + offsetof(StubRecord, total_size_high), uint32_t(v.total_size >> 32));
    put_u16(r + offsetof(StubRecord, reserved6), 0);
    put_u32(r + offsetof(StubRecord, entry_point), v.entry_point);
    if (v.with_stub_crc)
        put_u32(r + offsetof(StubRecord, stub_crc), compute_stub_crc(stub_part, record_offset, v.flags));
}

std::string describe_flags(uint32_t flags)
{
    std::string text;
    uint32_t unnamed = flags;
    for (size_t i = 0; i < flag_name_count; ++i) {
        if (!(flags & flag_names[i].mask))
            continue;
        text += text.empty() ? "" : " | ";
        text += flag_names[i].name;
        unnamed &= ~flag_names[i].mask;
    }
    if (unnamed != 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", unsigned(unnamed));
        text += text.empty() ? "" : " | ";
        text += hex;
    }
    return text.empty() ? "none" : text;
}
