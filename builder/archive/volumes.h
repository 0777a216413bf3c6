// Spanned self-extractors: the archive cut into one file per removable disk.
//
//   DIR/disk1/SETUP.EXE   the self-extractor; with --exe-volumes also the archive's first part
//   DIR/disk1/SETUP.ZIP   (.ZIP volumes) the archive's first part, from its offset 0
//   DIR/diskN/SETUP.ZIP   the archive's continuation (SETUP.EXE with --exe-volumes)
//   DIR/diskN/.windows-label   the volume label "PKBACK# 00N" the disk must carry
//
// The stub reads the disks' files as one byte stream and moves to the next disk whenever a
// read comes up short, except for headers: it reads a header only from the disk it is on.
#ifndef TVSFX_VOLUMES_H
#define TVSFX_VOLUMES_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive.h"
#include "archive_writer.h"
#include "pe_image.h"

// What a formatted 1.44 MB floppy holds: 2847 free sectors of 512 bytes.
constexpr uint64_t FLOPPY_CAPACITY = 2847 * 512;
// The smallest disk accepted, as for split ZIP segments.
constexpr uint64_t MIN_SPAN = 64 * 1024;
// Disk numbers have three digits in the labels ("PKBACK# 001"), which fill the 11
// characters of a FAT volume label.
constexpr unsigned MAX_DISKS = 999;

// "1457664", "1440k", "100M", "2G" or "floppy"; false when the text is none of these.
bool parse_span_size(const std::string& text, uint64_t& bytes);
// --split: as --span without "floppy".
bool parse_split_size(const std::string& text, uint64_t& bytes);

// The program's name on the disks (without extension): `given` upper-cased, or else the
// output folder's name when it makes a valid 8.3 name, or else SETUP. Fails on a given
// name that is not a valid 8.3 base name.
std::string choose_volume_name(const std::string& given, const std::string& output_dir);

// The label of disk `number` (1-based).
std::string volume_label(unsigned number);

// A range of the archive stream; `whole` ranges must lie on one disk.
struct SpanPiece {
    uint64_t offset;
    uint64_t size;
    bool whole;
};

// Cuts the stream into disks front to back: entry data runs across disks anywhere, a whole
// piece that does not fit in what is left of a disk starts the next one. Returns the stream
// offset where each disk's part starts (the first is 0).
std::vector<uint64_t> plan_disk_starts(const std::vector<SpanPiece>& pieces, uint64_t first_capacity,
                                       uint64_t capacity);

// Everything of a build but the archive, as run_build prepared it.
struct VolumeJob {
    std::string output_dir;
    std::string name;                // base name on the disks, e.g. SETUP
    uint64_t span = 0;               // bytes per disk
    std::vector<uint8_t> stub_part;  // stub image padded to section_offset, the licence, the configuration
    PeImage image;
    size_t record_offset = 0;
    uint32_t section_offset = 0;     // raw start of the attached section
    uint32_t license_size = 0;       // stored licence text at section_offset; 0 = none
    uint32_t flags = 0;              // SFX_MULTI_VOLUME set, SFX_EXE_VOLUMES for .EXE volumes
    bool with_stub_crc = true;
    std::string password;
    EntryCipher cipher = EntryCipher::aes256;
    std::string program_path;        // split packages: -o NAME.exe
};

// Writes the disk folders into job.output_dir; a failed build leaves earlier disks as they were.
void write_volumes(const VolumeJob& job, ArchiveInput& input);

// Split packages: the program NAME.exe (stub, configuration, the volume table; no archive
// bytes, so a signature appended to it is never read as archive data) and the archive in
// data volumes beside it, NAME.z01, NAME.z02, ..., each of job.span bytes but the last.
//
// The volume size by default, when a package would not stay below 2 GiB: 1 GiB. The stub's
// reads stay clear of signed 32-bit offsets in every volume, a volume fits every file system
// (FAT32 ends at 4 GiB) and every download tool, and its SHA-256 takes a few seconds.
constexpr uint64_t DEFAULT_SPLIT_SIZE = 1024ull * 1024 * 1024;
// The name of data volume `number` (1-based) of the program NAME.exe: NAME.z01 ... NAME.z99,
// NAME.z100 onwards.
std::string split_volume_name(const std::string& base, unsigned number);
// Writes job.program_path and its volumes beside it; `verify` reads the set under its
// temporary names and throws to keep it from the final names. A failed build leaves the
// files of an earlier build as they were.
void write_split_package(const VolumeJob& job, ArchiveInput& input,
                         const std::function<void(const std::string& written_program)>& verify);

#endif
