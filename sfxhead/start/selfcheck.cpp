// Integrity checks of the program's own file: the stub checksum, the entry point and the
// archive's end record.
#include "selfcheck.h"

#include <string.h>

#include "byte_order.h"
#include "crc32.h"
#include "failure.h"
#include "globals.h"
#include "message_ids.h"

enum {
    DOS_HEADER_SIZE = 64,
    E_LFANEW_OFFSET = 0x3C,
    ENTRY_POINT_OFFSET = 40,  // AddressOfEntryPoint, from the PE signature
    // The stub checksum may start behind the PE signature, the file header and the optional
    // header, so signing keeps it valid (the builder reads the same size from the image).
    PE_HEADERS_SIZE = sizeof(IMAGE_NT_HEADERS),
};

// First occurrence of the marker, first byte compared first; null when there is none.
static uint8_t* find_marker(uint8_t* block, uint32_t length, const uint8_t* marker)
{
    for (uint32_t i = 0; i + STUB_MARKER_SIZE <= length; ++i) {
        if (block[i] == marker[0] && memcmp(block + i, marker, STUB_MARKER_SIZE) == 0)
            return block + i;
    }
    return NULL;
}

static void read_stub_part(uint8_t* block, uint32_t length)
{
    if (_llseek(archive_handle, 0, FILE_BEGIN) != 0 || length == 0)
        fatal_header_error();
    if (_lread(archive_handle, block, length) != length)
        fatal_header_error();
}

void check_stub_crc(uint32_t length, uint32_t stored_crc, const uint8_t* marker)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, length);
    uint8_t* block = memory ? (uint8_t*)GlobalLock(memory) : NULL;
    if (block == NULL)
        fatal_header_error();
    read_stub_part(block, length);

    uint8_t* found = find_marker(block, length, marker);
    if (found == NULL)
        fatal_header_error();
    // The checksum cannot cover itself: its on-disk bytes count as zero.
    if (found + STUB_CRC_FIELD_OFFSET + 4 <= block + length)
        memset(found + STUB_CRC_FIELD_OFFSET, 0, 4);

    uint32_t start = 0;
    if (flag_set(SFX_CRC_AFTER_HEADERS))
        start = length >= DOS_HEADER_SIZE ? get_u32(block + E_LFANEW_OFFSET) + PE_HEADERS_SIZE : length;
    if (start > length)
        fatal_header_error();

    crc_register = 0xFFFFFFFFu;
    update_crc(block + start, length - start);
    if (~crc_register != stored_crc)
        fatal_header_error();
    GlobalUnlock(memory);
    GlobalFree(memory);
}

static bool read_entry_point(HFILE file, uint8_t* headers, uint32_t* entry_point)
{
    if (_lread(file, headers, DOS_HEADER_SIZE) != DOS_HEADER_SIZE)
        return false;
    LONG pe_offset = (LONG)get_u32(headers + E_LFANEW_OFFSET);
    if (_llseek(file, pe_offset, FILE_BEGIN) != pe_offset)
        return false;
    if (_lread(file, headers, PE_HEADERS_SIZE) != PE_HEADERS_SIZE)
        return false;
    *entry_point = get_u32(headers + ENTRY_POINT_OFFSET);
    return true;
}

bool check_entry_point()
{
    uint8_t* headers = (uint8_t*)GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, PE_HEADERS_SIZE);
    if (headers == NULL)
        return false;
    bool matches = false;
    HFILE file = open_for_reading(self_path, OF_SHARE_DENY_NONE);
    if (file != HFILE_ERROR) {
        uint32_t entry_point;
        matches = read_entry_point(file, headers, &entry_point) && entry_point == stub_record.entry_point;
        _lclose(file);
    }
    GlobalFree(headers);
    return matches;
}

void check_archive_end()
{
    LONG offset = (LONG)stub_record.end_record_offset;
    char signature[4];
    if (_llseek(archive_handle, offset, FILE_BEGIN) != offset || _lread(archive_handle, signature, 4) != 4 ||
        (memcmp(signature, sig_end_record, 4) != 0 && memcmp(signature, sig_digital_signature, 4) != 0))
        fatal_error(message_text(MSG_ARCHIVE_DAMAGED));
}
