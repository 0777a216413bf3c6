// The stub record: the one fixed record through which the stub finds and checks the data a
// builder attached to it. Plain data, no Win32: the builder includes this header too.
#ifndef TVSFX_STUB_RECORD_H
#define TVSFX_STUB_RECORD_H

#include <stdint.h>

// "TVK", 0x01, "sfx", 0x02. The stub checksum locates the record on disk by the first
// occurrence of these bytes, so no earlier byte of the image may form them.
#define STUB_MARKER_BYTES 0x54, 0x56, 0x4B, 0x01, 0x73, 0x66, 0x78, 0x02
enum { STUB_MARKER_SIZE = 8 };

#pragma pack(push, 1)
struct StubRecord {
    uint8_t marker[STUB_MARKER_SIZE];
    uint32_t stub_crc;           // CRC-32 of the stub part; 0 = not checked
    uint32_t archive_offset;     // first local header; end of the part stub_crc covers
    uint32_t config_offset;      // configuration block; 0 = none
    uint32_t end_record_offset;  // end of central directory record; 0 = not checked
    uint32_t total_size;         // sum of the entries' uncompressed sizes (progress base)
    uint32_t flags;              // SFX_* bits
    uint32_t license_offset;     // licence text (raw Deflate, license_text.h); 0 = none
    uint32_t license_size;       // its stored bytes
    uint16_t reserved3;
    uint16_t complete;           // 0 marks an incompletely built file
    uint32_t reserved4;          // builders write 8
    uint32_t reserved5;
    uint16_t reserved6;
    uint32_t entry_point;        // AddressOfEntryPoint of the image as built
};
#pragma pack(pop)

static_assert(sizeof(StubRecord) == 58, "the stub record is 58 packed bytes");
static_assert(__builtin_offsetof(StubRecord, complete) == 0x2A, "complete lies at 0x2A");
static_assert(__builtin_offsetof(StubRecord, entry_point) == 0x36, "entry_point lies at 0x36");

// Offset of stub_crc inside the record (the checksum treats these 4 bytes as zero).
enum { STUB_CRC_FIELD_OFFSET = 8 };

enum SfxFlags : uint32_t {
    SFX_OVERWRITE = 0x00000002,
    SFX_USE_TITLE = 0x00000010,
    SFX_PASSWORD_FIRST = 0x00000100,
    SFX_AUTO = 0x00000200,
    SFX_CRC_AFTER_HEADERS = 0x00000800,
    SFX_MULTI_VOLUME = 0x00001000,
    SFX_EXE_VOLUMES = 0x00008000,
    SFX_VERB_INSTALL = 0x00020000,
    SFX_TITLE_CAPTION = 0x00040000,
    SFX_PROMPT_ASK = 0x00080000,
    SFX_PROMPT_OKCANCEL = 0x00100000,
    SFX_HIDDEN = 0x00400000,
    SFX_NO_UNATTENDED = 0x00800000,  // the command line takes only "-info" and "-args="
    // The command after extraction is waited for, with every process it starts, and its exit
    // code becomes the program's.
    SFX_WAIT = 0x01000000,
    // The files and folders the run created are removed once the command and every process it
    // started have ended (which implies SFX_WAIT); the builder allows it only with the temporary
    // folder (an empty folder field) and a command.
    SFX_CLEANUP = 0x02000000,
    // The language of every text the stub shows or writes; neither bit: German.
    SFX_LANGUAGE_EN = 0x04000000,    // English
    SFX_LANGUAGE_AUTO = 0x08000000,  // German when the user's Windows reads German, else English
    SFX_UTF8_TEXTS = 0x10000000,  // the configuration texts are UTF-8, not in the ANSI code page
};

// Name of the image's last section, which holds the configuration block and the archive.
#define ATTACHED_SECTION_NAME "_tarvel_"
enum : uint32_t { ATTACHED_SECTION_CHARACTERISTICS = 0x42000040 };

#endif
