// The ZIP records the builder writes and the stub reads: signatures, record sizes, methods
// and general-purpose flag bits. Portable, no Win32, no library containers: the stub
// compiles it too.
#ifndef TVSFX_FORMAT_ZIP_FORMAT_H
#define TVSFX_FORMAT_ZIP_FORMAT_H

#include <stdint.h>

// A signature is 'P' followed by these three bytes. The stub's image never holds a
// signature whole (a search for the archive behind the stub would find it in the code):
// the stub puts each one together at start-up from its tail, and the numeric values below
// are constants that only the builder uses.
#define SIG_TAIL_LOCAL "K\x03\x04"
#define SIG_TAIL_CENTRAL "K\x01\x02"
#define SIG_TAIL_END "K\x05\x06"
#define SIG_TAIL_DIGITAL_SIGNATURE "K\x05\x05"
#define SIG_TAIL_SINGLE_VOLUME "K00"    // an archive that fit on its first disk
#define SIG_TAIL_SPANNING "K\x07\x08"   // an archive cut into disks; also the data descriptor's
#define SIG_TAIL_ZIP64_LOCATOR "K\x06\x07"
#define SIG_TAIL_ZIP64_END "K\x06\x06"

enum { SIGNATURE_SIZE = 4 };

constexpr uint32_t signature_value(const char* tail)
{
    return 'P' | (uint32_t)(uint8_t)tail[0] << 8 | (uint32_t)(uint8_t)tail[1] << 16 |
           (uint32_t)(uint8_t)tail[2] << 24;
}

enum : uint32_t {
    SIG_LOCAL = signature_value(SIG_TAIL_LOCAL),
    SIG_CENTRAL = signature_value(SIG_TAIL_CENTRAL),
    SIG_END = signature_value(SIG_TAIL_END),
    SIG_DIGITAL_SIGNATURE = signature_value(SIG_TAIL_DIGITAL_SIGNATURE),
    SIG_SINGLE_VOLUME = signature_value(SIG_TAIL_SINGLE_VOLUME),
    SIG_SPANNING = signature_value(SIG_TAIL_SPANNING),
    SIG_DESCRIPTOR = SIG_SPANNING,
    SIG_ZIP64_LOCATOR = signature_value(SIG_TAIL_ZIP64_LOCATOR),
    SIG_ZIP64_END = signature_value(SIG_TAIL_ZIP64_END),
};

// Fixed parts of the records, signature included; names, extra fields and comments follow.
enum {
    LOCAL_HEADER_SIZE = 30,
    CENTRAL_HEADER_SIZE = 46,
    END_RECORD_SIZE = 22,
    DESCRIPTOR_SIZE = 16,  // with its signature, as the builder writes it and the stub skips it
    ZIP64_DESCRIPTOR_SIZE = 24,  // the same with 8-byte sizes, behind an entry whose local header has a ZIP64 record
    ZIP64_END_RECORD_SIZE = 56,  // the ZIP64 end record as the builder writes it (no extensible data)
    ZIP64_LOCATOR_SIZE = 20,
};

// ZIP64. A 32-bit size or offset field, or a 16-bit count, that holds its largest value says
// that the real value is in the ZIP64 extra record (0x0001) or the ZIP64 end record. The extra
// record holds only the 8-byte values whose field is marked, in this order: uncompressed size,
// compressed size, local header offset (the central header's only); a local header's record
// holds both sizes. The ZIP64 end record and its locator stand in front of the end record.
enum : uint32_t { ZIP64_MARK_32 = 0xFFFFFFFFu };
enum : uint16_t { ZIP64_MARK_16 = 0xFFFF };
enum : uint16_t { ZIP64_VERSION_NEEDED = 45 };
enum { ZIP64_LOCAL_EXTRA_SIZE = 16 };  // the local record's data: both sizes

// The traditional cipher's header in front of an encrypted entry's data: eleven random
// bytes and the check byte.
enum { ENCRYPTION_HEADER_SIZE = 12 };

enum : uint16_t { METHOD_STORED = 0, METHOD_DEFLATE = 8, METHOD_DEFLATE64 = 9, METHOD_LZMA = 14, METHOD_AES = 99 };

// An LZMA entry's data opens with a 4-byte header (the writer's LZMA version, major and minor
// byte, and the size of the properties, u16, always 5) and the 5 properties bytes: lc, lp and
// pb as (pb * 5 + lp) * 9 + lc, and the dictionary size (u32). The LZMA stream follows.
enum {
    ZIP_LZMA_VERSION_SIZE = 2,
    ZIP_LZMA_PROPERTIES_SIZE = 5,
    ZIP_LZMA_HEADER_SIZE = ZIP_LZMA_VERSION_SIZE + 2 + ZIP_LZMA_PROPERTIES_SIZE,
};
// The most history an LZMA entry may need: the builder's largest dictionary (liblzma's preset
// 9, 64 MiB; it never writes more) and what a 32-bit process can be sure to get in one block.
// An entry that needs more is refused by the stub and by the builder's check of input ZIPs.
enum : uint32_t { ZIP_LZMA_DICTIONARY_LIMIT = 64u << 20 };

// An AES-encrypted entry has method 99, bit 0 set, and an extra field record 0x9901 of 7 bytes:
// the vendor version (u16: 1 = AE-1, the CRC is stored and checked; 2 = AE-2, the CRC field
// is 0 and only the authentication code protects the data), the vendor id "AE", the key
// strength (u8: 1, 2, 3 for 128, 192, 256 bits) and the real method (u16). Its data is the
// salt (8, 12 or 16 bytes by strength), the 2-byte password verifier, the encrypted data and
// the 10-byte authentication code; the compressed size counts all four.
enum : uint16_t { EXTRA_ZIP64 = 0x0001, EXTRA_AES = 0x9901 };
// The Info-ZIP Unicode Path extra field: version 1 (u8), the CRC-32 of the name as stored in
// the header (u32), then the name in UTF-8.
enum : uint16_t { EXTRA_UNICODE_PATH = 0x7075 };
enum { UNICODE_PATH_VERSION = 1, UNICODE_PATH_HEAD_SIZE = 5 };
enum {
    AES_EXTRA_SIZE = 7,
    AES_VERSION_AE1 = 1,
    AES_VERSION_AE2 = 2,
    AES_STRENGTH_128 = 1,
    AES_STRENGTH_192 = 2,
    AES_STRENGTH_256 = 3,
    AES_VERIFIER_SIZE = 2,
    AES_CODE_SIZE = 10,
    AES_MAX_SALT_SIZE = 16,
};
#define AES_VENDOR_ID "AE"
// Salt and key sizes in bytes of a strength 1..3.
constexpr uint32_t aes_salt_size(uint32_t strength) { return 4 + 4 * strength; }
constexpr uint32_t aes_key_size(uint32_t strength) { return 8 + 8 * strength; }
// Everything of an AES entry's data that is not the encrypted data itself.
constexpr uint32_t aes_overhead(uint32_t strength) { return aes_salt_size(strength) + AES_VERIFIER_SIZE + AES_CODE_SIZE; }

enum : uint16_t {
    GP_ENCRYPTED = 0x0001,
    GP_LZMA_END_MARKER = 0x0002,  // method 14: the stream ends in LZMA's end marker
    GP_DESCRIPTOR = 0x0008,  // sizes and CRC follow the data
    GP_STRONG_ENCRYPTION = 0x0040,
    GP_UTF8_NAME = 0x0800,
    GP_ENCRYPTED_DIRECTORY = 0x2000,
};

#endif
