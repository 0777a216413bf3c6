// The archive's entries as every stage of the build sees them: one list, whether they come
// from an input ZIP (raw data copied byte for byte) or from a folder (compressed on writing).
// Writing them is archive/archive_writer.h.
#ifndef TVSFX_BUILDER_ARCHIVE_H
#define TVSFX_BUILDER_ARCHIVE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "format/zip_format.h"
#include "input_file.h"

// The longest name the stub can join to a target folder on Windows 95/98/ME, whose (ANSI)
// paths hold 259 characters; the NT family takes longer ones (format/path_limits.h).
enum { MAX_ENTRY_NAME = 259 };

// The system an entry was made on: the high byte of "version made by". Info-ZIP writes 11
// for NTFS where APPNOTE has 10.
enum : uint8_t {
    HOST_MSDOS = 0,
    HOST_UNIX = 3,
    HOST_OS2_HPFS = 6,
    HOST_NTFS = 10,
    HOST_INFOZIP_NTFS = 11,
    HOST_VFAT = 14,
    HOST_DARWIN = 19,
};
// External attributes: the MS-DOS attribute bits in the low byte; Unix systems keep the file's
// mode in the high 16 bits, its type in the top four bits of that.
enum : uint32_t { DOS_READ_ONLY = 0x01, DOS_DIRECTORY = 0x10, DOS_ARCHIVE = 0x20 };
enum : uint32_t { UNIX_TYPE_MASK = 0170000, UNIX_SYMBOLIC_LINK = 0120000 };

// Fills `buffer` with up to `capacity` payload bytes; 0 at the end. Throws BuildError.
using PayloadReader = std::function<size_t(uint8_t* buffer, size_t capacity)>;

struct ArchiveEntry {
    std::string name;          // name bytes as stored in the headers; the stub's code page or UTF-8 once settled
    std::string unicode_name;  // the name as Unicode (UTF-8, NFC), as the input means it
    std::string origin;        // the input file or folder, for messages
    std::string name_reading;  // how a name not given as Unicode was read, for messages; else empty
    uint16_t version_made_by = 20;
    uint16_t version_needed = 20;
    uint16_t gp_flags = 0;
    uint16_t method = METHOD_STORED;
    uint16_t dos_time = 0;
    uint16_t dos_date = 0;
    uint32_t crc32 = 0;
    uint64_t compressed_size = 0;  // payload bytes; includes the 12-byte header when already encrypted
    uint64_t uncompressed_size = 0;
    uint16_t internal_attributes = 0;
    uint32_t external_attributes = 0;
    std::vector<uint8_t> local_extra;
    std::vector<uint8_t> central_extra;
    // The comment (ZIP input only) stays in the input file until the central directory is
    // written: libzip holds the input's directory anyway, so a large input's comments are in
    // memory once, not also here and in the directory being written.
    uint16_t comment_size = 0;
    std::function<std::vector<uint8_t>()> read_comment;  // set when comment_size > 0
    // Called just before the entry is written; may settle method, CRC and sizes (a folder
    // file is compressed here, so only one entry's data is in memory at a time).
    std::function<PayloadReader(ArchiveEntry&)> open_payload;
    // A file of a folder input (name empty otherwise): compressed by the CompressionPool,
    // which sets open_payload.
    WalkedFile source_file;
    std::string source_label;  // the file's name in messages

    bool encrypted() const { return (gp_flags & GP_ENCRYPTED) != 0; }
    // By the Unicode name once known: a double-byte character's trail byte may be a '\'.
    bool is_directory() const
    {
        const std::string& n = unicode_name.empty() ? name : unicode_name;
        return !n.empty() && (n.back() == '/' || n.back() == '\\');
    }
};

struct ArchiveInput {
    std::vector<ArchiveEntry> entries;
    std::vector<uint8_t> comment;  // the archive comment, kept in front of the padding
};

#endif
