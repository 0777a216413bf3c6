// Reading the stub's PE headers and adding the attached-data section `_tarvel_` to them. The
// stub is a 32-bit i386 image (PE32); the x86-64 build of it (PE32+) is taken as well, so the
// Wine bench can run the stub's behaviour on hosts whose kernel runs no 32-bit code.
#ifndef TVSFX_PE_IMAGE_H
#define TVSFX_PE_IMAGE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Offsets from the PE signature (e_lfanew). The file header follows the 4-byte signature,
// the optional header follows the 20-byte file header. Fields up to PE_CHECKSUM lie at the
// same place in PE32 and PE32+, except ImageBase (PE_IMAGE_BASE, 8 bytes at 48 in PE32+);
// the data directories move by 16 bytes (PE32PLUS_DIRECTORY_SHIFT).
enum PeField : uint32_t {
    PE_MACHINE = 4,
    PE_SECTION_COUNT = 6,
    PE_SYMBOL_TABLE = 12,
    PE_OPTIONAL_HEADER_SIZE = 20,
    PE_OPTIONAL_MAGIC = 24,
    PE_SIZE_OF_INITIALIZED_DATA = 32,
    PE_ENTRY_POINT = 40,
    PE_IMAGE_BASE = 52,
    PE_SECTION_ALIGNMENT = 56,
    PE_FILE_ALIGNMENT = 60,
    PE_SIZE_OF_IMAGE = 80,
    PE_SIZE_OF_HEADERS = 84,
    PE_CHECKSUM = 88,
    PE_DIRECTORY_COUNT = 116,
    PE_CERTIFICATE_DIRECTORY = 120 + 4 * 8,  // data directory 4: the Authenticode signature
    PE_RELOCATION_DIRECTORY = 120 + 5 * 8,   // data directory 5: the base relocations
    PE32PLUS_IMAGE_BASE = 48,
    PE32PLUS_DIRECTORY_SHIFT = 16,
    PE_OPTIONAL_BODY = 24,                   // the optional header starts here
};

enum : uint32_t {
    DOS_E_LFANEW = 0x3C,
    PE_MACHINE_I386 = 0x014C,
    PE32_MAGIC = 0x010B,
    PE_MACHINE_AMD64 = 0x8664,
    PE32PLUS_MAGIC = 0x020B,
    // The standard optional header sizes; the stub's checksum skips the headers up to their end.
    PE32_OPTIONAL_SIZE = 224,
    PE32PLUS_OPTIONAL_SIZE = 240,
    SECTION_HEADER_SIZE = 40,
};

struct PeSection {
    std::string name;  // up to 8 bytes, without the padding NULs
    uint32_t virtual_size;
    uint32_t virtual_address;
    uint32_t raw_size;
    uint32_t raw_pointer;
    uint32_t characteristics;
};

// One 40-byte entry of the section table.
PeSection read_section(const uint8_t* header);

struct PeImage {
    uint32_t pe_offset = 0;            // e_lfanew
    uint32_t section_table_offset = 0; // file offset of the first section header: also the end
                                       // of the headers that the stub checksum may skip
    bool pe32_plus = false;            // the x86-64 build of the stub
    uint64_t image_base = 0;
    uint32_t entry_point = 0;          // AddressOfEntryPoint
    uint32_t section_alignment = 0;
    uint32_t file_alignment = 0;
    uint32_t size_of_headers = 0;
    uint32_t raw_end = 0;              // end of the last section's raw data in the file
    std::vector<PeSection> sections;
};

// Where the new section goes: config_offset is its raw start.
struct AttachedSection {
    uint32_t raw_pointer;
    uint32_t raw_size;
    uint32_t virtual_address;
    uint32_t virtual_size;
};

// Reads the headers of an i386 PE32 or x86-64 PE32+ image. A file that is not one fails with a message
// naming `what` (the stub path); inspect uses the lenient form, which only reports.
PeImage parse_pe_image(const std::vector<uint8_t>& file, const std::string& what);
bool try_parse_pe_image(const std::vector<uint8_t>& file, PeImage& image, std::string& error);

// Refuses a stub that cannot take one more section header or already carries `_tarvel_`.
void check_room_for_section(const std::vector<uint8_t>& file, const PeImage& image,
                            const std::string& what);

// The largest program file: the stub seeks in its own file with signed 32-bit offsets, and
// Windows does not start larger programs everywhere. A package that would be larger is split.
constexpr uint64_t MAX_PROGRAM_FILE_SIZE = 0x7FFFFFFF;

// Places `data_size` bytes of attached data behind the image's last section.
AttachedSection plan_attached_section(const PeImage& image, uint32_t data_size);

// Writes the section header and updates NumberOfSections, SizeOfImage and
// SizeOfInitializedData in `headers` (the stub's bytes; CheckSum is left alone).
void add_attached_section(std::vector<uint8_t>& headers, const PeImage& image,
                          const AttachedSection& section);

// The PE image checksum (as CheckSumMappedFile computes it) of an open file of `size`
// bytes, skipping the 4 CheckSum bytes at `checksum_offset`.
uint32_t compute_pe_checksum(std::FILE* file, uint64_t size, uint32_t checksum_offset);

// Where the headers that the stub checksum may skip end in a file whose first 64 bytes or
// more are `head`: e_lfanew + signature + file header + the standard optional header of the
// image's kind (PE32 unless the magic says PE32+).
uint64_t pe_headers_end(const std::vector<uint8_t>& head);

#endif
