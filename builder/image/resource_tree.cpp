// Reading and writing the resource tree. The section it writes follows the usual layout of
// resource compilers: the directories (root, then the types', then the names'), the data
// entries, the name strings, then the data, each piece 8-byte aligned; offsets inside the tree
// count from the section's start, a data entry holds the data's RVA.
#include "resource_tree.h"

#include <algorithm>
#include <cstring>

#include "build_error.h"
#include "byte_buffer.h"
#include "pe_image.h"

namespace {

enum : uint32_t {
    RESOURCE_DIRECTORY = 2,         // index in the data directories
    DIRECTORY_HEADER_SIZE = 16,     // IMAGE_RESOURCE_DIRECTORY
    DIRECTORY_ENTRY_SIZE = 8,       // IMAGE_RESOURCE_DIRECTORY_ENTRY
    DATA_ENTRY_SIZE = 16,           // IMAGE_RESOURCE_DATA_ENTRY
    HIGH_BIT = 0x80000000u,         // a name that is a string; an entry that is a directory
    DATA_ALIGNMENT = 8,
    // More entries than any real image has; bounds a tree whose directories point at each other.
    MAX_RESOURCE_ENTRIES = 65536,
};

// Offset of the resource data directory from the PE signature.
uint32_t resource_directory_field(bool pe32_plus)
{
    return PE_CERTIFICATE_DIRECTORY - (4 - RESOURCE_DIRECTORY) * 8 + (pe32_plus ? uint32_t(PE32PLUS_DIRECTORY_SHIFT) : 0u);
}

// Where an RVA lies in the file: the section holding it, mapped through its raw data.
struct SectionMap {
    std::vector<PeSection> sections;

    // File offset of `size` bytes at `rva`, or false when they are not in one section's raw data.
    bool file_offset(uint32_t rva, uint32_t size, size_t file_size, uint64_t& offset) const
    {
        for (const PeSection& s : sections) {
            // Bytes past VirtualSize are in the file but not mapped.
            uint64_t start = s.virtual_address;
            uint64_t end = start + (s.virtual_size != 0 ? std::min(s.raw_size, s.virtual_size) : s.raw_size);
            if (rva >= start && uint64_t(rva) + size <= end) {
                offset = uint64_t(s.raw_pointer) + (rva - start);
                return offset + size <= file_size;
            }
        }
        return false;
    }
};

// The resource directory's RVA and size, and the section table; tolerant of a file that is only
// the head of a built package (sections may run past its end).
bool read_layout(const std::vector<uint8_t>& file, SectionMap& map, uint32_t& rva, uint32_t& size, std::string& error)
{
    if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') {
        error = "not a Windows executable";
        return false;
    }
    uint64_t pe = get_u32(file.data() + DOS_E_LFANEW);
    if (pe + PE_CERTIFICATE_DIRECTORY + PE32PLUS_DIRECTORY_SHIFT + 8 > file.size() || memcmp(&file[pe], "PE\0\0", 4) != 0) {
        error = "no PE headers";
        return false;
    }
    bool pe32_plus = get_u16(&file[pe + PE_OPTIONAL_MAGIC]) == PE32PLUS_MAGIC;
    uint32_t directories = get_u32(&file[pe + PE_DIRECTORY_COUNT + (pe32_plus ? uint32_t(PE32PLUS_DIRECTORY_SHIFT) : 0u)]);
    rva = directories > RESOURCE_DIRECTORY ? get_u32(&file[pe + resource_directory_field(pe32_plus)]) : 0;
    size = directories > RESOURCE_DIRECTORY ? get_u32(&file[pe + resource_directory_field(pe32_plus) + 4]) : 0;
    uint64_t table = pe + PE_OPTIONAL_BODY + get_u16(&file[pe + PE_OPTIONAL_HEADER_SIZE]);
    uint16_t count = get_u16(&file[pe + PE_SECTION_COUNT]);
    if (table + uint64_t(count) * SECTION_HEADER_SIZE > file.size()) {
        error = "section table runs past the end of the file";
        return false;
    }
    for (uint16_t i = 0; i < count; ++i) {
        map.sections.push_back(read_section(&file[table + size_t(i) * SECTION_HEADER_SIZE]));
    }
    return true;
}

class TreeReader {
public:
    TreeReader(const std::vector<uint8_t>& file, const SectionMap& map, uint64_t base, uint32_t size)
        : file_(file), map_(map), base_(base), size_(size) {}

    bool read(std::vector<ResourceEntry>& entries, std::string& error)
    {
        ResourceEntry path;
        return read_directory(0, 0, path, entries, error);
    }

private:
    const std::vector<uint8_t>& file_;
    const SectionMap& map_;
    uint64_t base_;   // file offset of the tree
    uint32_t size_;   // the resource directory's size
    size_t visited_ = 0;

    bool inside(uint32_t offset, uint32_t length) const { return uint64_t(offset) + length <= size_; }

    bool read_key(uint32_t field, ResourceKey& key, std::string& error)
    {
        key = ResourceKey();
        if (!(field & HIGH_BIT)) {
            key.id = uint16_t(field);
            return true;
        }
        uint32_t at = field & ~HIGH_BIT;
        if (!inside(at, 2) || !inside(at + 2, 2u * get_u16(&file_[base_ + at]))) {
            error = "a resource name lies outside the resource section";
            return false;
        }
        key.named = true;
        for (uint32_t i = 0; i < get_u16(&file_[base_ + at]); ++i)
            key.name += char16_t(get_u16(&file_[base_ + at + 2 + 2 * i]));
        return true;
    }

    // Level 0 holds the types, 1 the names, 2 the languages, whose entries are data entries.
    bool read_directory(uint32_t at, int level, ResourceEntry& path, std::vector<ResourceEntry>& entries,
                        std::string& error)
    {
        if (!inside(at, DIRECTORY_HEADER_SIZE)) {
            error = "a resource directory lies outside the resource section";
            return false;
        }
        const uint8_t* h = &file_[base_ + at];
        uint32_t count = uint32_t(get_u16(h + 12)) + get_u16(h + 14);
        if (!inside(at + DIRECTORY_HEADER_SIZE, count * DIRECTORY_ENTRY_SIZE) || (visited_ += count) > MAX_RESOURCE_ENTRIES) {
            error = "a resource directory's entries lie outside the resource section";
            return false;
        }
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = &file_[base_ + at + DIRECTORY_HEADER_SIZE + i * DIRECTORY_ENTRY_SIZE];
            uint32_t name = get_u32(e), target = get_u32(e + 4);
            bool ok = level == 0   ? read_key(name, path.type, error)
                      : level == 1 ? read_key(name, path.name, error)
                                   : (path.language = uint16_t(name), true);
            if (!ok)
                return false;
            bool subdirectory = (target & HIGH_BIT) != 0;
            if (subdirectory != (level < 2)) {
                error = "the resource tree is not three levels deep (type, name, language)";
                return false;
            }
            ok = level < 2 ? read_directory(target & ~HIGH_BIT, level + 1, path, entries, error)
                           : read_data_entry(target, path, entries, error);
            if (!ok)
                return false;
        }
        return true;
    }

    bool read_data_entry(uint32_t at, const ResourceEntry& path, std::vector<ResourceEntry>& entries,
                         std::string& error)
    {
        if (!inside(at, DATA_ENTRY_SIZE)) {
            error = "a resource data entry lies outside the resource section";
            return false;
        }
        const uint8_t* d = &file_[base_ + at];
        uint64_t offset = 0;
        if (!map_.file_offset(get_u32(d), get_u32(d + 4), file_.size(), offset)) {
            error = "a resource's data lies outside the image";
            return false;
        }
        ResourceEntry entry = path;
        entry.code_page = get_u32(d + 8);
        entry.data.assign(file_.begin() + long(offset), file_.begin() + long(offset + get_u32(d + 4)));
        entries.push_back(std::move(entry));
        return true;
    }
};

// One directory of the tree being written. Its entries lead to further directories (by their
// index in the list of directories) or, in a language directory, to data entries.
struct DirectoryOut {
    uint32_t at = 0;  // offset in the section
    std::vector<ResourceKey> keys;
    std::vector<size_t> subdirectories;  // per key, for the root and the type directories
    std::vector<size_t> data_entries;    // per key, for the language directories
};

class TreeWriter {
public:
    explicit TreeWriter(std::vector<ResourceEntry> entries) : entries_(std::move(entries))
    {
        std::stable_sort(entries_.begin(), entries_.end(), [](const ResourceEntry& a, const ResourceEntry& b) {
            if (!(a.type == b.type))
                return a.type < b.type;
            if (!(a.name == b.name))
                return a.name < b.name;
            return a.language < b.language;
        });
    }

    std::vector<uint8_t> write(uint32_t section_rva)
    {
        std::vector<DirectoryOut> directories = plan_directories();
        uint32_t at = 0;
        for (DirectoryOut& d : directories) {
            d.at = at;
            at += DIRECTORY_HEADER_SIZE + DIRECTORY_ENTRY_SIZE * uint32_t(d.keys.size());
        }
        data_entries_at_ = at;
        out_.assign(data_entries_at_ + DATA_ENTRY_SIZE * entries_.size(), 0);
        for (const DirectoryOut& d : directories)
            put_directory(d, directories);
        put_data(section_rva);
        return out_;
    }

private:
    std::vector<ResourceEntry> entries_;
    std::vector<uint8_t> out_;
    uint32_t data_entries_at_ = 0;

    // The directories in the order they are written: the root (types), each type's (names),
    // then each name's (languages).
    std::vector<DirectoryOut> plan_directories() const
    {
        std::vector<size_t> types = group_starts(0, entries_.size(), 0);
        std::vector<DirectoryOut> directories(1), language_directories;
        size_t type_count = types.size() - 1;
        for (size_t t = 0; t < type_count; ++t) {
            directories[0].keys.push_back(entries_[types[t]].type);
            directories[0].subdirectories.push_back(1 + t);
            DirectoryOut names;
            std::vector<size_t> starts = group_starts(types[t], types[t + 1], 1);
            for (size_t n = 0; n + 1 < starts.size(); ++n) {
                names.keys.push_back(entries_[starts[n]].name);
                names.subdirectories.push_back(1 + type_count + language_directories.size());
                DirectoryOut languages;
                for (size_t e = starts[n]; e < starts[n + 1]; ++e) {
                    languages.keys.push_back(resource_id(entries_[e].language));
                    languages.data_entries.push_back(e);
                }
                language_directories.push_back(languages);
            }
            directories.push_back(names);
        }
        directories.insert(directories.end(), language_directories.begin(), language_directories.end());
        return directories;
    }

    // Where each run of equal types (level 0) or names (level 1) starts in [begin, end), and end.
    std::vector<size_t> group_starts(size_t begin, size_t end, int level) const
    {
        std::vector<size_t> starts;
        for (size_t i = begin; i < end; ++i) {
            const ResourceKey& key = level == 0 ? entries_[i].type : entries_[i].name;
            const ResourceKey* before = i == begin ? nullptr : level == 0 ? &entries_[i - 1].type : &entries_[i - 1].name;
            if (before == nullptr || !(*before == key))
                starts.push_back(i);
        }
        starts.push_back(end);
        return starts;
    }

    uint32_t put_string(const std::u16string& text)
    {
        uint32_t at = uint32_t(out_.size());
        append_u16(out_, uint16_t(text.size()));
        for (char16_t c : text)
            append_u16(out_, uint16_t(c));
        return at;
    }

    void put_directory(const DirectoryOut& d, const std::vector<DirectoryOut>& directories)
    {
        uint32_t at = d.at;
        uint16_t named = uint16_t(std::count_if(d.keys.begin(), d.keys.end(), [](const ResourceKey& k) { return k.named; }));
        put_u16(&out_[at + 12], named);
        put_u16(&out_[at + 14], uint16_t(d.keys.size() - named));
        for (size_t i = 0; i < d.keys.size(); ++i) {
            uint32_t entry = at + DIRECTORY_HEADER_SIZE + DIRECTORY_ENTRY_SIZE * uint32_t(i);
            uint32_t name = d.keys[i].named ? put_string(d.keys[i].name) | HIGH_BIT : d.keys[i].id;
            put_u32(&out_[entry], name);
            uint32_t target = d.subdirectories.empty() ? data_entries_at_ + DATA_ENTRY_SIZE * uint32_t(d.data_entries[i])
                                                       : directories[d.subdirectories[i]].at | HIGH_BIT;
            put_u32(&out_[entry + 4], target);
        }
    }

    void put_data(uint32_t section_rva)
    {
        for (size_t e = 0; e < entries_.size(); ++e) {
            out_.resize(align_up(out_.size(), DATA_ALIGNMENT), 0);
            uint8_t* d = &out_[data_entries_at_ + DATA_ENTRY_SIZE * e];
            put_u32(d, section_rva + uint32_t(out_.size()));
            put_u32(d + 4, uint32_t(entries_[e].data.size()));
            put_u32(d + 8, entries_[e].code_page);
            out_.insert(out_.end(), entries_[e].data.begin(), entries_[e].data.end());
        }
    }
};

}  // namespace

bool ResourceKey::operator==(const ResourceKey& other) const
{
    return named == other.named && (named ? name == other.name : id == other.id);
}

bool ResourceKey::operator<(const ResourceKey& other) const
{
    if (named != other.named)
        return named;
    return named ? name < other.name : id < other.id;
}

bool read_resources(const std::vector<uint8_t>& file, std::vector<ResourceEntry>& entries, std::string& error)
{
    entries.clear();
    SectionMap map;
    uint32_t rva = 0, size = 0;
    if (!read_layout(file, map, rva, size, error))
        return false;
    if (rva == 0 || size == 0)
        return true;
    uint64_t base = 0;
    if (!map.file_offset(rva, size, file.size(), base)) {
        error = "the resource directory lies outside the image";
        return false;
    }
    return TreeReader(file, map, base, size).read(entries, error);
}

const ResourceEntry* first_resource(const std::vector<ResourceEntry>& entries, uint16_t type)
{
    const ResourceEntry* first = nullptr;
    for (const ResourceEntry& e : entries) {
        if (e.type == resource_id(type) && (first == nullptr || e.name < first->name))
            first = &e;
    }
    return first;
}

namespace {

uint32_t relocation_directory_field(bool pe32_plus)
{
    return PE_RELOCATION_DIRECTORY + (pe32_plus ? uint32_t(PE32PLUS_DIRECTORY_SHIFT) : 0u);
}

uint32_t mapped_extent(const PeSection& s)
{
    return s.virtual_size != 0 ? s.virtual_size : s.raw_size;
}

// The index of the section whose memory holds `rva`, or the number of sections.
size_t section_at(const PeImage& image, uint32_t rva)
{
    for (size_t i = 0; i < image.sections.size(); ++i) {
        const PeSection& s = image.sections[i];
        if (rva != 0 && rva >= s.virtual_address && rva - s.virtual_address < mapped_extent(s))
            return i;
    }
    return image.sections.size();
}

// The section of the base relocations (a stub linked for address-space randomisation has one),
// or the number of sections.
size_t relocation_section(const std::vector<uint8_t>& stub, const PeImage& image)
{
    return section_at(image, get_u32(&stub[image.pe_offset + relocation_directory_field(image.pe32_plus)]));
}

// Puts the base relocations behind the rewritten resources, at the first free place in memory
// (`virtual_end`) and at the end of the file; returns the image's new end in memory. Their
// blocks name places in the code and data by RVA, none in the resources or in themselves, so
// the bytes move unchanged; only their section header and data directory follow.
uint64_t append_relocations(std::vector<uint8_t>& stub, const PeImage& image, size_t index,
                            const std::vector<uint8_t>& bytes, uint32_t virtual_end)
{
    const PeSection& old = image.sections[index];
    uint32_t raw_pointer = uint32_t(stub.size());  // the resources end file-aligned
    stub.insert(stub.end(), bytes.begin(), bytes.end());
    uint8_t* header = &stub[image.section_table_offset + index * SECTION_HEADER_SIZE];
    put_u32(header + 12, virtual_end);
    put_u32(header + 20, raw_pointer);
    uint8_t* directory = &stub[image.pe_offset + relocation_directory_field(image.pe32_plus)];
    put_u32(directory, get_u32(directory) - old.virtual_address + virtual_end);
    return align_up(uint64_t(virtual_end) + mapped_extent(old), image.section_alignment);
}

}  // namespace

void write_resources(std::vector<uint8_t>& stub, PeImage& image, const std::vector<ResourceEntry>& entries,
                     const std::string& what)
{
    uint32_t field = image.pe_offset + resource_directory_field(image.pe32_plus);
    uint32_t rva = get_u32(&stub[field]);
    if (rva == 0)
        fail(what + ": has no resources, so --icon and the version options have nothing to rewrite "
                    "(a stub linked with its icon and manifest is needed)");
    size_t index = section_at(image, rva);
    size_t relocations = relocation_section(stub, image);
    // The section can only grow when nothing lies behind it, in the file and in memory, but the
    // base relocations, which the linker puts last and which move along behind it.
    bool move_relocations = index < image.sections.size() && relocations < image.sections.size() &&
                            relocations != index &&
                            image.sections[relocations].virtual_address > image.sections[index].virtual_address &&
                            image.sections[relocations].raw_pointer > image.sections[index].raw_pointer;
    bool last = index < image.sections.size();
    for (size_t i = 0; last && i < image.sections.size(); ++i) {
        const PeSection &s = image.sections[i], &r = image.sections[index];
        last = i == index || (i == relocations && move_relocations) ||
               (s.virtual_address < r.virtual_address && (s.raw_size == 0 || s.raw_pointer < r.raw_pointer));
    }
    if (!last)
        fail(what + ": its resources are not in a section of their own at the end of the image, "
                    "so --icon and the version options cannot rewrite them");
    const PeSection& section = image.sections[index];
    std::vector<uint8_t> relocation_bytes;
    if (move_relocations) {
        const PeSection& moved = image.sections[relocations];
        relocation_bytes.assign(stub.begin() + moved.raw_pointer, stub.begin() + moved.raw_pointer + moved.raw_size);
    }
    std::vector<uint8_t> tree = TreeWriter(entries).write(rva);
    uint32_t raw_size = uint32_t(align_up(tree.size(), image.file_alignment));
    stub.resize(section.raw_pointer);
    stub.insert(stub.end(), tree.begin(), tree.end());
    stub.resize(size_t(section.raw_pointer) + raw_size, 0);

    uint8_t* header = &stub[image.section_table_offset + index * SECTION_HEADER_SIZE];
    uint8_t* pe = &stub[image.pe_offset];
    put_u32(pe + PE_SIZE_OF_INITIALIZED_DATA, get_u32(pe + PE_SIZE_OF_INITIALIZED_DATA) - section.raw_size + raw_size);
    put_u32(header + 8, uint32_t(tree.size()));
    put_u32(header + 16, raw_size);
    put_u32(&stub[field + 4], uint32_t(tree.size()));
    uint64_t image_end = align_up(uint64_t(rva) + tree.size(), image.section_alignment);
    if (move_relocations)
        image_end = append_relocations(stub, image, relocations, relocation_bytes, uint32_t(image_end));
    put_u32(pe + PE_SIZE_OF_IMAGE, uint32_t(image_end));
    image = parse_pe_image(stub, what);
}
