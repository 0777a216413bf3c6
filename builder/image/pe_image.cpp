// PE header reading and the attached-data section. The stub is an ordinary image linked by
// mingw; the builder only appends one section behind its last one and fixes the header
// fields the loader checks, so Windows maps the configuration block and the archive like
// any other initialised data (only the section's first bytes are mapped, see
// plan_attached_section).
#include "pe_image.h"

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <cstring>

#include "build_error.h"
#include "input_file.h"
#include "byte_buffer.h"
#include "format/config_fields.h"
#include "format/stub_record.h"

namespace {

bool is_power_of_two(uint32_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}


// The extent of a section in memory: the loader maps VirtualSize bytes, or SizeOfRawData
// when a linker left VirtualSize at 0.
uint32_t mapped_size(const PeSection& s)
{
    return s.virtual_size != 0 ? s.virtual_size : s.raw_size;
}

bool read_headers(const std::vector<uint8_t>& file, PeImage& image, std::string& error)
{
    const uint8_t* f = file.data();
    if (file.size() < 64 || f[0] != 'M' || f[1] != 'Z') {
        error = "not a Windows executable (no MZ header)";
        return false;
    }
    uint32_t pe = get_u32(f + DOS_E_LFANEW);
    if (uint64_t(pe) + 4 + 20 + 224 > file.size() || memcmp(f + pe, "PE\0\0", 4) != 0) {
        error = "not a PE image (no PE signature at e_lfanew)";
        return false;
    }
    uint16_t machine = get_u16(f + pe + PE_MACHINE);
    uint16_t magic = get_u16(f + pe + PE_OPTIONAL_MAGIC);
    bool pe32 = machine == PE_MACHINE_I386 && magic == PE32_MAGIC;
    bool pe32_plus = machine == PE_MACHINE_AMD64 && magic == PE32PLUS_MAGIC;
    if (!pe32 && !pe32_plus) {
        error = "not an i386 PE32 or x86-64 PE32+ image";
        return false;
    }
    // The stub checksum skips the signature, the file header and the standard optional
    // header; an image with another layout would checksum the wrong range.
    uint32_t optional_size = pe32_plus ? PE32PLUS_OPTIONAL_SIZE : PE32_OPTIONAL_SIZE;
    if (get_u16(f + pe + PE_OPTIONAL_HEADER_SIZE) != optional_size || uint64_t(pe) + PE_OPTIONAL_BODY + optional_size > file.size()) {
        error = std::string(pe32_plus ? "PE32+" : "PE32") + " optional header is not the standard " +
                std::to_string(optional_size) + " bytes";
        return false;
    }
    image.pe_offset = pe;
    image.section_table_offset = pe + PE_OPTIONAL_BODY + optional_size;
    image.pe32_plus = pe32_plus;
    image.image_base = pe32_plus ? get_u64(f + pe + PE32PLUS_IMAGE_BASE) : get_u32(f + pe + PE_IMAGE_BASE);
    image.entry_point = get_u32(f + pe + PE_ENTRY_POINT);
    image.section_alignment = get_u32(f + pe + PE_SECTION_ALIGNMENT);
    image.file_alignment = get_u32(f + pe + PE_FILE_ALIGNMENT);
    image.size_of_headers = get_u32(f + pe + PE_SIZE_OF_HEADERS);
    if (!is_power_of_two(image.file_alignment) || image.file_alignment < 512 ||
        image.file_alignment > 0x10000 || !is_power_of_two(image.section_alignment) ||
        image.section_alignment < image.file_alignment) {
        error = "PE image has unusual section or file alignment";
        return false;
    }
    // Every field that points into the file is held against the file's size in 64 bits: the
    // header room and the section table are read from these bytes.
    if (image.size_of_headers > file.size()) {
        error = "SizeOfHeaders (" + std::to_string(image.size_of_headers) + ") runs past the end of the file";
        return false;
    }
    return true;
}

bool read_sections(const std::vector<uint8_t>& file, PeImage& image, std::string& error)
{
    uint16_t count = get_u16(file.data() + image.pe_offset + PE_SECTION_COUNT);
    uint64_t table_end = uint64_t(image.section_table_offset) + uint64_t(count) * SECTION_HEADER_SIZE;
    if (table_end > file.size() || table_end > image.size_of_headers) {
        error = "PE section table runs past the end of the file or of SizeOfHeaders";
        return false;
    }
    image.sections.clear();
    uint64_t raw_end = 0;
    for (uint16_t i = 0; i < count; ++i) {
        PeSection s = read_section(file.data() + image.section_table_offset + size_t(i) * SECTION_HEADER_SIZE);
        uint64_t end = uint64_t(s.raw_pointer) + s.raw_size;
        if (s.raw_size != 0 && end > file.size()) {
            error = "truncated (section " + std::to_string(i + 1) + " ends at " + std::to_string(end) +
                    ", past the end of the file)";
            return false;
        }
        if (s.raw_size != 0)
            raw_end = std::max(raw_end, end);
        image.sections.push_back(s);
    }
    // The headers are part of the stub's bytes that the build keeps, up to raw_end.
    if (raw_end < image.size_of_headers) {
        error = "PE sections end inside the headers";
        return false;
    }
    image.raw_end = uint32_t(raw_end);  // within the file, which is read into memory
    if (image.sections.empty()) {
        error = "PE image has no sections";
        return false;
    }
    return true;
}

}  // namespace

PeSection read_section(const uint8_t* h)
{
    PeSection s;
    s.name.assign(reinterpret_cast<const char*>(h), strnlen(reinterpret_cast<const char*>(h), 8));
    s.virtual_size = get_u32(h + 8);
    s.virtual_address = get_u32(h + 12);
    s.raw_size = get_u32(h + 16);
    s.raw_pointer = get_u32(h + 20);
    s.characteristics = get_u32(h + 36);
    return s;
}

bool try_parse_pe_image(const std::vector<uint8_t>& file, PeImage& image, std::string& error)
{
    return read_headers(file, image, error) && read_sections(file, image, error);
}

PeImage parse_pe_image(const std::vector<uint8_t>& file, const std::string& what)
{
    PeImage image;
    std::string error;
    if (!try_parse_pe_image(file, image, error))
        fail(what + ": " + error);
    return image;
}

void check_room_for_section(const std::vector<uint8_t>& file, const PeImage& image,
                            const std::string& what)
{
    for (const PeSection& s : image.sections) {
        if (s.name == ATTACHED_SECTION_NAME)
            fail(what + ": already has a " ATTACHED_SECTION_NAME " section (a built file, not a stub)");
    }
    uint32_t certificate = PE_CERTIFICATE_DIRECTORY + (image.pe32_plus ? uint32_t(PE32PLUS_DIRECTORY_SHIFT) : 0u);
    if (get_u32(file.data() + image.pe_offset + certificate) != 0)
        fail(what + ": the stub is signed; sign the built file instead, its checksum survives signing");
    if (image.raw_end > file.size())
        fail(what + ": truncated (its last section ends past the end of the file)");

    // The new header must fit in front of the first section's data and inside
    // SizeOfHeaders, in bytes nothing else uses.
    uint64_t table_end = uint64_t(image.section_table_offset) + uint64_t(image.sections.size()) * SECTION_HEADER_SIZE;
    uint64_t room_end = std::min<uint64_t>(image.size_of_headers, file.size());
    for (const PeSection& s : image.sections) {
        if (s.raw_size != 0)
            room_end = std::min<uint64_t>(room_end, s.raw_pointer);
    }
    bool room = table_end + SECTION_HEADER_SIZE <= room_end &&
                std::all_of(file.begin() + table_end, file.begin() + table_end + SECTION_HEADER_SIZE,
                            [](uint8_t b) { return b == 0; });
    if (!room)
        fail(what + ": no room for one more section header in the PE headers "
                    "(link the stub with a larger SizeOfHeaders)");
}

AttachedSection plan_attached_section(const PeImage& image, uint32_t data_size)
{
    uint64_t virtual_end = align_up(image.size_of_headers, image.section_alignment);
    for (const PeSection& s : image.sections)
        virtual_end = std::max<uint64_t>(virtual_end, uint64_t(s.virtual_address) + mapped_size(s));

    uint64_t raw_pointer = align_up(image.raw_end, image.file_alignment);
    uint64_t raw_size = align_up(data_size, image.file_alignment);
    uint64_t virtual_address = align_up(virtual_end, image.section_alignment);
    // The stub reads the configuration block and the archive with file reads, never from the
    // mapped image: the section maps at most the block's largest size, and its raw data runs
    // on to the end of the file (SizeOfRawData may exceed VirtualSize; the loader maps
    // VirtualSize and copies no more). So memory stays small whatever the archive's size.
    uint32_t mapped = std::min<uint32_t>(data_size, CONFIG_STORED_MAX);
    // The stub seeks with signed 32-bit offsets: the whole file must stay below 2 GiB, and a
    // 32-bit image must end below 2 GiB of address space (an x86-64 image, by its size alone).
    uint64_t image_end = (image.pe32_plus ? 0 : image.image_base) +
                         align_up(virtual_address + mapped, image.section_alignment);
    if (raw_pointer + raw_size > MAX_PROGRAM_FILE_SIZE || image_end > 0x80000000u)
        fail("the archive is too large for a self-extractor (the file must stay below 2 GiB)");
    return AttachedSection{uint32_t(raw_pointer), uint32_t(raw_size), uint32_t(virtual_address), mapped};
}

void add_attached_section(std::vector<uint8_t>& headers, const PeImage& image,
                          const AttachedSection& section)
{
    uint8_t* pe = headers.data() + image.pe_offset;
    uint8_t* h = headers.data() + image.section_table_offset + image.sections.size() * SECTION_HEADER_SIZE;
    memset(h, 0, SECTION_HEADER_SIZE);
    memcpy(h, ATTACHED_SECTION_NAME, 8);
    put_u32(h + 8, section.virtual_size);
    put_u32(h + 12, section.virtual_address);
    put_u32(h + 16, section.raw_size);
    put_u32(h + 20, section.raw_pointer);
    put_u32(h + 36, ATTACHED_SECTION_CHARACTERISTICS);

    put_u16(pe + PE_SECTION_COUNT, uint16_t(image.sections.size() + 1));
    put_u32(pe + PE_SIZE_OF_IMAGE,
            uint32_t(align_up(uint64_t(section.virtual_address) + section.virtual_size, image.section_alignment)));
    put_u32(pe + PE_SIZE_OF_INITIALIZED_DATA, get_u32(pe + PE_SIZE_OF_INITIALIZED_DATA) + section.raw_size);
}

uint32_t compute_pe_checksum(std::FILE* file, uint64_t size, uint32_t checksum_offset)
{
    // A ones'-complement style sum of 16-bit words folded to 16 bits, plus the file
    // length. The chunk size is even, so words never straddle two reads.
    static uint8_t chunk[1 << 20];
    uint64_t sum = 0;
    uint64_t position = 0;
    if (std::fseek(file, 0, SEEK_SET) != 0)
        fail(std::string("cannot read back the output file: ") + std::strerror(errno));
    while (position < size) {
        size_t want = size_t(std::min<uint64_t>(sizeof chunk, size - position));
        if (std::fread(chunk, 1, want, file) != want)
            fail("cannot read back the output file: " + short_read_reason(file));
        if (want % 2 != 0)
            chunk[want++] = 0;
        for (size_t i = 0; i < want; i += 2) {
            uint64_t at = position + i;
            if (at >= checksum_offset && at < uint64_t(checksum_offset) + 4)
                continue;
            sum += get_u16(chunk + i);
            sum = (sum & 0xFFFF) + (sum >> 16);
        }
        position += want;
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t((sum & 0xFFFF) + size);
}

uint64_t pe_headers_end(const std::vector<uint8_t>& head)
{
    uint64_t pe = get_u32(head.data() + DOS_E_LFANEW);
    bool pe32_plus = pe + PE_OPTIONAL_MAGIC + 2 <= head.size() &&
                     get_u16(head.data() + pe + PE_OPTIONAL_MAGIC) == PE32PLUS_MAGIC;
    return pe + PE_OPTIONAL_BODY + (pe32_plus ? PE32PLUS_OPTIONAL_SIZE : PE32_OPTIONAL_SIZE);
}
