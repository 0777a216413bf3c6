// The record walk over the attached archive: one 4-byte signature after another, from the
// first local header to the end record. It reads and classifies; the driver (extract.cpp)
// handles each entry. The central directory is only stepped over; nothing is located through it.
#include "archive.h"

#include <string.h>

#include "byte_order.h"
#include "crc32.h"
#include "file_times.h"
#include "failure.h"
#include "globals.h"
#include "message_ids.h"
#include "reader.h"
#include "volume.h"
#include "wide_api.h"

// Reads a record of `size` bytes. In a spanned archive a short read moves to the next disk and
// reads the record again from the start of its file; the bytes of the partial read are dropped.
static void read_record(void* record, UINT size, int site, int site_next_disk)
{
    if (_lread(archive_handle, record, size) == size)
        return;
    if (!multi_volume)
        report_read_error(site);
    open_volume((uint16_t)(disk_number + 1), exe_volumes);
    if (_lread(archive_handle, record, size) != size)
        report_read_error(site_next_disk);
}

// The current entry's name as stored, and the name of its usable Unicode Path field (empty
// without one). A name may have 65535 bytes; static, as the stack is small.
enum { STORED_NAME_CAPACITY = 0xFFFF + 1 };
static char stored_name[STORED_NAME_CAPACITY];
static char unicode_path[STORED_NAME_CAPACITY];

static void read_entry_name(uint16_t length, char* name)
{
    if (_lread(archive_handle, name, length) != length)
        report_read_error(READ_ERROR_NAME);
    name[length] = '\0';
}

static void decode_local_header(const uint8_t* raw)
{
    entry_header.version_needed = raw[0];
    entry_header.version_host = raw[1];
    entry_header.gp_flags = get_u16(raw + 2);
    entry_header.method = get_u16(raw + 4);
    entry_header.mod_time = get_u16(raw + 6);
    entry_header.mod_date = get_u16(raw + 8);
    entry_header.crc32 = get_u32(raw + 10);
    entry_header.compressed_size = get_u32(raw + 14);
    entry_header.uncompressed_size = get_u32(raw + 18);
    entry_header.name_length = get_u16(raw + 22);
    entry_header.extra_length = get_u16(raw + 24);
    entry_encrypted = (entry_header.gp_flags & GP_ENCRYPTED) != 0;
    descriptor_follows = (entry_header.gp_flags & GP_DESCRIPTOR) != 0;
}

static void read_extra_bytes(void* bytes, UINT count)
{
    if (_lread(archive_handle, bytes, count) != count)
        report_read_error(READ_ERROR_LOCAL_HEADER);
}

static uint32_t crc_of_stored_name()
{
    crc_register = 0xFFFFFFFFu;
    update_crc((const uint8_t*)stored_name, entry_header.name_length);
    return ~crc_register;
}

// A Unicode Path field counts when it is version 1, its CRC is that of the name as stored
// (so it was written for this very name, not left behind by a tool that renamed the entry),
// and it holds valid UTF-8; otherwise the stored name counts.
static void take_unicode_path(uint32_t size)
{
    uint8_t* field = (uint8_t*)unicode_path;
    read_extra_bytes(field, size);
    uint32_t length = size > UNICODE_PATH_HEAD_SIZE ? size - UNICODE_PATH_HEAD_SIZE : 0;
    bool usable = length > 0 && field[0] == UNICODE_PATH_VERSION && get_u32(field + 1) == crc_of_stored_name() &&
                  is_valid_utf8((const char*)field + UNICODE_PATH_HEAD_SIZE, length);
    if (usable)
        memmove(field, field + UNICODE_PATH_HEAD_SIZE, length);
    unicode_path[usable ? length : 0] = '\0';
}

// Takes the 0x9901 record of an encrypted entry. It is one this program can decrypt when the
// method is 99 and the record has 7 bytes: vendor version AE-1 or AE-2, vendor "AE", strength
// 1..3; the entry's method becomes the real one. Any other record leaves the method as it is
// and marks the entry unknown, which the password gate refuses as unsupported: a damaged
// record is not a wrong password.
static void take_aes_record(const uint8_t* record, uint32_t size)
{
    entry_aes_strength = ENTRY_AES_UNKNOWN;
    if (size != AES_EXTRA_SIZE || entry_header.method != METHOD_AES)
        return;
    uint16_t version = get_u16(record);
    uint8_t strength = record[4];
    if ((version != AES_VERSION_AE1 && version != AES_VERSION_AE2) || memcmp(record + 2, AES_VENDOR_ID, 2) != 0 ||
        strength < AES_STRENGTH_128 || strength > AES_STRENGTH_256)
        return;
    entry_aes_version = (uint8_t)version;
    entry_aes_strength = strength;
    entry_header.method = get_u16(record + 5);
}

// Takes the ZIP64 record's 8-byte values for the size fields that hold ZIP64_MARK_32, in the
// record's order. A record too short for what the fields ask is not used: the marked field
// keeps its 32-bit value, which lies past the end of any package, so the entry ends the run
// as damaged when its data is read or stepped over.
static void take_zip64_record(const uint8_t* record, uint32_t size)
{
    uint64_t* fields[2] = {&entry_header.uncompressed_size, &entry_header.compressed_size};
    uint32_t needed = 0;
    for (int i = 0; i < 2; ++i)
        needed += *fields[i] == ZIP64_MARK_32 ? 8 : 0;
    if (needed == 0 || size < needed)
        return;
    for (int i = 0; i < 2; ++i) {
        if (*fields[i] == ZIP64_MARK_32) {
            *fields[i] = get_u64(record);
            record += 8;
        }
    }
}

// Walks the extra field record by record: the ZIP64 record, the 0x9901 record of an AES
// entry, and the exact modification time (the best kind of record wins, see TIME_FROM_*); the
// rest is stepped over.
// A record that runs past the field ends the walk (an AES record that does, is unknown).
static void read_extra_records()
{
    int64_t dos_seconds = dos_time_seconds(entry_header.mod_date, entry_header.mod_time);
    uint32_t left = entry_header.extra_length;
    while (left >= 4) {
        uint8_t head[4];
        read_extra_bytes(head, sizeof head);
        left -= 4;
        uint16_t id = get_u16(head);
        uint32_t size = get_u16(head + 2);
        bool aes = id == EXTRA_AES && entry_encrypted;
        if (size > left) {
            if (aes)
                entry_aes_strength = ENTRY_AES_UNKNOWN;
            break;
        }
        left -= size;
        if (id == EXTRA_UNICODE_PATH) {
            take_unicode_path(size);
            continue;
        }
        uint8_t record[EXACT_TIME_READ_SIZE];
        uint32_t taken = size < sizeof record ? size : sizeof record;
        read_extra_bytes(record, taken);
        skip_bytes(size - taken, READ_ERROR_LOCAL_HEADER);
        if (aes)
            take_aes_record(record, size);
        // With a ZIP64 record the descriptor has 8-byte sizes, whether or not a field needed it.
        if (id == EXTRA_ZIP64) {
            entry_zip64 = 1;
            take_zip64_record(record, size);
        }
        int64_t time = 0;
        int kind = exact_file_time(id, record, size, dos_seconds, &time);
        if (kind > entry_time_kind) {
            entry_time_kind = kind;
            entry_exact_time = time;
        }
    }
    skip_bytes(left, READ_ERROR_LOCAL_HEADER);
}

// A name that is no valid UTF-8 although flagged so, or (Windows 95, 98, Me) one the ANSI code
// page cannot hold: nothing is made for it. The box shows its bytes as the code page reads them.
static void refuse_stored_name()
{
    if (!ansi_to_run_text(stored_name, strlen(stored_name), display_name, LONG_PATH_CAPACITY))
        display_name[0] = '\0';
    fatal_message(8100, 8101, MSG_CREATE_OUTPUT_FAILED, display_name);
}

// A name flagged as UTF-8 (bit 11): as it stands in wide mode, in the ANSI code page on
// Windows 95, 98 and Me. False when it is no valid UTF-8 or the code page lacks a character.
static bool take_flagged_name(uint16_t length)
{
    if (!wide_mode)
        return utf8_to_ansi(stored_name, length, entry_name, PATH_CAPACITY);
    if (!is_valid_utf8(stored_name, length))
        return false;
    memcpy(entry_name, stored_name, length + 1u);  // 65535 bytes at most: shorter than the buffer
    return true;
}

// The name in the run's form. Wide mode: UTF-8 as flagged or from a usable Unicode Path
// field, any other name read in the ANSI code page. Windows 95, 98, Me: the stored bytes (a
// Unicode Path field changes nothing there), a flagged name in the ANSI code page.
static void take_entry_name()
{
    uint16_t length = entry_header.name_length;
    if (entry_header.gp_flags & GP_UTF8_NAME) {
        if (!take_flagged_name(length))
            refuse_stored_name();
        return;
    }
    if (wide_mode && unicode_path[0] != '\0') {
        copy_checked(entry_name, LONG_PATH_CAPACITY, unicode_path, 8102);
        return;
    }
    if (!ansi_to_run_text(stored_name, length, entry_name, run_path_capacity()))
        fatal_error(message_text(MSG_NAMES_TOO_LONG));
}

void read_local_header()
{
    uint8_t raw[LOCAL_HEADER_SIZE - SIGNATURE_SIZE];
    read_record(raw, sizeof raw, READ_ERROR_LOCAL_HEADER, READ_ERROR_LOCAL_HEADER_NEXT_DISK);
    decode_local_header(raw);
    if (!wide_mode && entry_header.name_length > MAX_NAME_LENGTH)
        fatal_error(message_text(MSG_NAMES_TOO_LONG));
    read_entry_name(entry_header.name_length, stored_name);
    entry_aes_strength = 0;
    entry_zip64 = 0;
    entry_time_kind = TIME_FROM_DOS;
    unicode_path[0] = '\0';
    read_extra_records();
    compressed_size_as_read = (int64_t)entry_header.compressed_size;
    take_entry_name();
}

void skip_central_header()
{
    uint8_t raw[CENTRAL_HEADER_SIZE - SIGNATURE_SIZE];
    if (_lread(archive_handle, raw, sizeof raw) != sizeof raw)
        report_read_error(READ_ERROR_CENTRAL_HEADER);
    uint16_t name_length = get_u16(raw + 24);
    if (!wide_mode && name_length > MAX_NAME_LENGTH)
        fatal_error(message_text(MSG_NAMES_TOO_LONG));
    read_entry_name(name_length, stored_name);
    skip_bytes((uint32_t)get_u16(raw + 26) + get_u16(raw + 28), READ_ERROR_CENTRAL_HEADER);
}

void finish_at_end_record()
{
    uint8_t rest[END_RECORD_SIZE - SIGNATURE_SIZE];
    if (_lread(archive_handle, rest, sizeof rest) != sizeof rest)
        report_read_error(READ_ERROR_END_RECORD);
}

static void read_signature(char* signature)
{
    read_record(signature, 4, READ_ERROR_SIGNATURE, READ_ERROR_SIGNATURE_NEXT_DISK);
}

static bool is_signature(const char* bytes, const char* signature)
{
    return memcmp(bytes, signature, 4) == 0;
}

bool walk_archive()
{
    for (;;) {
        char signature[4];
        read_signature(signature);
        if (is_signature(signature, sig_local_header)) {
            return true;
        } else if (is_signature(signature, sig_end_record) || is_signature(signature, sig_digital_signature)) {
            finish_at_end_record();
            return false;
        } else if (is_signature(signature, sig_zip64_end) || is_signature(signature, sig_zip64_locator)) {
            return false;  // the ZIP64 records stand in front of the end record: the entries are done
        } else if (is_signature(signature, sig_central_header)) {
            if (multi_volume)
                return false;
            skip_central_header();
        } else if (is_signature(signature, sig_single_volume)) {
            // a temporary spanning marker: nothing to do
        } else if (!multi_volume) {
            // The spanning signature and anything else are invalid in a single-volume archive;
            // a spanned archive steps over them four bytes at a time.
            fatal_error(message_text(MSG_BAD_HEADER));
        }
    }
}
