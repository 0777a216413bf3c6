// The build: stub bytes, then the attached section with the configuration block and the
// archive, then the header fields and the stub record that depend on where things landed.
//
//   0 .. section_offset           the stub image as linked (headers updated at the end; the
//                                 resource section rewritten for --icon and the version)
//   section_offset                raw start of the section `_tarvel_` (file-aligned)
//   section_offset .. config_offset   the licence text (raw Deflate), when there is one
//   config_offset .. archive_offset   the configuration block (raw Deflate)
//   archive_offset ..             local headers and data, central directory, end record,
//                                 comment bytes padding the file to the file alignment
#include "build.h"

#include <cctype>
#include <functional>
#include <memory>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "archive.h"
#include "archive_writer.h"
#include "build_error.h"
#include "byte_buffer.h"
#include "input.h"
#include "input_file.h"
#include "manifest.h"
#include "names.h"
#include "package_identity.h"
#include "output_file.h"
#include "parallel_compress.h"
#include "pe_image.h"
#include "printable.h"
#include "progress.h"
#include "split_volumes.h"
#include "stub_record_io.h"
#include "volumes.h"

namespace {

std::vector<uint8_t> read_whole_file(const std::string& path, const std::string& what)
{
    uint64_t size = 0;
    FilePtr f = open_regular_file(path, what, &size);
    // A file that grew since fstat gives no more than its size then; one that shrank fails.
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (std::fread(bytes.data(), 1, bytes.size(), f.get()) != bytes.size())
        fail("cannot read " + what + " " + printable(path) + ": " + short_read_reason(f.get()));
    return bytes;
}

std::string default_stub_path()
{
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "tvsfx32.exe";
    std::string path(self, size_t(n));
    return path.substr(0, path.find_last_of('/') + 1) + "tvsfx32.exe";
}

struct Stub {
    std::vector<uint8_t> bytes;  // up to the end of the last section's raw data
    PeImage image;
    size_t record_offset;
};

Stub load_stub(const std::string& path)
{
    Stub stub;
    stub.bytes = read_whole_file(path, "stub");
    std::string what = "stub " + path;
    stub.image = parse_pe_image(stub.bytes, what);
    check_room_for_section(stub.bytes, stub.image, what);
    // Whatever follows the last section (a symbol table, an overlay) would end up in
    // front of the new section's data and is not part of the image.
    for (size_t i = stub.image.raw_end; i < stub.bytes.size(); ++i) {
        if (stub.bytes[i] != 0)
            fail(what + ": has data behind its last section (symbols or an overlay); strip it");
    }
    stub.bytes.resize(stub.image.raw_end);
    long record = find_stub_marker(stub.bytes.data(), stub.bytes.size());
    if (record < 0)
        fail(what + ": no stub record (its marker bytes were not found)");
    stub.record_offset = size_t(record);
    bool in_section = false;
    for (const PeSection& s : stub.image.sections)
        in_section |= record >= long(s.raw_pointer) && record + sizeof(StubRecord) <= uint64_t(s.raw_pointer) + s.raw_size;
    if (!in_section)
        fail(what + ": the stub record is not inside a section, so the program could not see its values");
    return stub;
}

// Both inputs hand over names as found; they are converted and checked here alike.
ArchiveInput load_input(const BuildOptions& options, const StubSettings& settings)
{
    const std::string& path = options.input;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        fail("cannot open input " + path + ": " + std::strerror(errno));
    // A FIFO, device or socket is refused when it is opened, before anything is read.
    NameReading reading{options.input_codepage, options.codepage};
    ArchiveInput input =
        S_ISDIR(st.st_mode) ? read_input_folder(path, reading, options.win9x) : read_input_zip(path, reading);
    NameSettings names;
    names.codepage = options.codepage;
    names.keep_macos_metadata = options.keep_macos_metadata;
    names.win9x = options.win9x;
    names.target_folder = settings.fields[FIELD_FOLDER];
    names.target_folder_given = options.fields[FIELD_FOLDER];
    settle_entry_names(input.entries, names);
    return input;
}

// SFX_PASSWORD_FIRST makes the stub ask before the first entry; without it the first run
// of an encrypted archive would always fail its password test.
uint32_t settle_password_flag(uint32_t flags, const ArchiveInput& input, const StubSettings& s)
{
    size_t encrypted = 0;
    for (const ArchiveEntry& e : input.entries)
        encrypted += e.encrypted() || will_encrypt(e, s.password) ? 1 : 0;
    if (encrypted != 0 && !(flags & SFX_PASSWORD_FIRST) && !s.no_password_first) {
        note("the archive holds encrypted entries: SFX_PASSWORD_FIRST set (--no-password-first to leave it out)");
        flags |= SFX_PASSWORD_FIRST;
    }
    if (encrypted == 0 && (flags & SFX_PASSWORD_FIRST))
        warn("--password-first: no entry is encrypted, yet the stub will ask for a password");
    bool already_encrypted = false;
    for (const ArchiveEntry& e : input.entries)
        already_encrypted |= e.encrypted();
    if (!s.password.empty() && already_encrypted)
        warn("entries that were already encrypted keep their own password; the stub asks for one password only");
    return flags;
}

// The stub starts a file of the package from its full path in the target folder, and looks
// every other name up in the system's folders and PATH only. A name without a folder and with a
// program's extension is taken for a program of the system (msiexec.exe, cmd.exe); a path with a
// drive or a leading separator is started as it stands. Anything else is rarely what was meant.
bool names_system_program(const std::string& command)
{
    if (command.find_first_of("\\/") != std::string::npos)
        return false;
    size_t dot = command.rfind('.');
    std::string extension = dot == std::string::npos ? "" : command.substr(dot);
    for (char& c : extension)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".exe" || extension == ".com" || extension == ".bat" || extension == ".cmd";
}

// `given` (UTF-8, or bytes with --codepage raw) compared with the entries' Unicode names (their
// stored bytes may be in the code page or in UTF-8), or with the bytes as they stand.
void check_command_in_archive(const std::string& given, const ArchiveInput& input)
{
    std::string command = is_valid_utf8(given) ? to_nfc(given) : given;
    if (command.empty() || command.find(':') != std::string::npos || command[0] == '\\' || command[0] == '/')
        return;
    auto normal = [](std::string name) {
        for (char& c : name)
            c = c == '\\' ? '/' : char(std::tolower(static_cast<unsigned char>(c)));
        return name;
    };
    for (const ArchiveEntry& e : input.entries) {
        if (normal(e.unicode_name) == normal(command) || normal(e.name) == normal(given))
            return;
    }
    if (names_system_program(command))
        note("--command " + command + " is not a file of the package; the stub looks it up in the system's " +
             "folders and PATH");
    else
        warn("--command " + command + " is neither a file of the package nor a program of the system (a name " +
             "without a folder ending in .exe, .com, .bat or .cmd); it starts only where the system's folders or " +
             "PATH hold it");
}

void write_pe_checksum(OutputFile& out, const Stub& stub, uint64_t file_size, bool checksum_in_crc)
{
    uint32_t offset = stub.image.pe_offset + PE_CHECKSUM;
    uint8_t value[4] = {0, 0, 0, 0};
    // The stub checksum from offset 0 covers the CheckSum field, and the CheckSum covers the
    // stub checksum: one of them has to give way, and Windows ignores CheckSum for programs.
    if (!checksum_in_crc)
        put_u32(value, compute_pe_checksum(out.stream(), file_size, offset));
    out.write_at(offset, value, 4);
}

// Fills in what depends on where the data landed: the section header, the stub record
// (its checksum last) and then the PE checksum over the finished file.
void finish_file(OutputFile& out, std::vector<uint8_t>& stub_part, const Stub& stub, const WrittenArchive& archive,
                 uint32_t flags, bool with_stub_crc, uint32_t license_size)
{
    uint32_t section_offset = uint32_t(align_up(stub.image.raw_end, stub.image.file_alignment));
    AttachedSection section = plan_attached_section(stub.image, uint32_t(archive.data_end - section_offset));
    if (section.raw_pointer != section_offset || uint64_t(section.raw_pointer) + section.raw_size != archive.file_end)
        fail("internal error: the section does not match the written data");
    add_attached_section(stub_part, stub.image, section);
    put_u32(stub_part.data() + stub.image.pe_offset + PE_CHECKSUM, 0);
    RecordValues record{uint32_t(stub_part.size()), section_offset + license_size, uint32_t(archive.end_record_offset),
                        archive.total_size, flags, stub.image.entry_point, with_stub_crc};
    set_license_location(record, section_offset, license_size);
    fill_stub_record(stub_part, stub.record_offset, record);
    out.write_at(0, stub_part.data(), stub_part.size());
    write_pe_checksum(out, stub, archive.file_end, with_stub_crc && !(flags & SFX_CRC_AFTER_HEADERS));
}

}  // namespace

// Scratch files are unnamed, so their folder only decides the file system. A spanned build's
// output folder (and the folders above it) may not exist before its disks are written, but the
// scratch files of large inputs are made while they are compressed: take the nearest folder on
// the way that exists already.
static std::string nearest_existing_folder(std::string path)
{
    struct stat st;
    while (!(::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
        std::string up = folder_of(path);
        if (up == path)
            break;
        path = up;
    }
    return path;
}

void run_build(const BuildOptions& options)
{
    StubSettings settings = settle_options(options);
    check_output_target(options.output, options.input);
    set_scratch_folder(nearest_existing_folder(options.span != 0 ? options.output : folder_of(options.output)));
    std::string stub_path = options.stub.empty() ? default_stub_path() : options.stub;
    check_output_not_stub(options.output, stub_path);
    Stub stub = load_stub(stub_path);
    if (!settings.execution_level.empty())
        write_execution_level(stub.bytes, settings.execution_level, "stub " + stub_path);
    // The resource section is the stub's last: it may grow, and the attached section follows it.
    apply_identity(stub.bytes, stub.image, settings.identity, "stub " + stub_path);
    std::vector<uint8_t> config = encode_config_block(settings.fields);
    ArchiveInput input = load_input(options, settings);
    // ZIP tools cannot even open an empty archive behind a stub, and the stub would have
    // nothing to do.
    if (input.entries.empty())
        fail(options.input + " holds no files or folders; there is nothing to extract");
    uint32_t flags = settle_password_flag(settings.flags, input, settings);
    check_command_in_archive(options.fields[FIELD_COMMAND], input);

    // The stub part: the image padded to the file alignment, then the licence text and the
    // configuration block.
    uint32_t section_offset = uint32_t(align_up(stub.image.raw_end, stub.image.file_alignment));
    uint32_t license_size = uint32_t(settings.license.stored.size());
    std::vector<uint8_t> stub_part = stub.bytes;
    stub_part.resize(section_offset, 0);
    stub_part.insert(stub_part.end(), settings.license.stored.begin(), settings.license.stored.end());
    stub_part.insert(stub_part.end(), config.begin(), config.end());

    uint64_t total_bytes = 0;
    for (const ArchiveEntry& e : input.entries)
        total_bytes += e.uncompressed_size;
    BuildProgress progress(progress_wanted(options.quiet), input.entries.size(), total_bytes);
    // The inputs' own readers, kept for a second pass: the writer drops each once it has read it.
    std::vector<std::function<PayloadReader(ArchiveEntry&)>> input_payloads;
    for (const ArchiveEntry& e : input.entries)
        input_payloads.push_back(e.open_payload);
    auto start_compressing = [&]() {
        for (size_t i = 0; i < input.entries.size(); ++i)
            input.entries[i].open_payload = input_payloads[i];
        return std::make_unique<CompressionPool>(input.entries, Compression{options.level, options.method},
                                                 options.jobs != 0 ? options.jobs : default_jobs(), progress);
    };
    std::unique_ptr<CompressionPool> pool = start_compressing();

    VolumeJob job;
    job.stub_part = stub_part;
    job.image = stub.image;
    job.record_offset = stub.record_offset;
    job.section_offset = section_offset;
    job.license_size = license_size;
    job.flags = flags;
    job.with_stub_crc = settings.with_stub_crc;
    job.password = settings.password;
    job.cipher = settings.cipher;
    if (options.span != 0) {
        job.output_dir = options.output;
        job.name = choose_volume_name(options.volume_name, options.output);
        job.span = options.span;
        write_volumes(job, input);
        return;
    }

    // Entries that arrived encrypted keep a password the builder does not know.
    std::vector<bool> password_known;
    for (const ArchiveEntry& e : input.entries)
        password_known.push_back(!e.encrypted());
    std::function<void(const std::string&)> verify;
    if (!options.no_verify) {
        verify = [&](const std::string& written) {
            std::string failure = verify_package(written, settings.password, password_known);
            if (!failure.empty())
                throw SelfTestFailure(options.output + ": the written package fails its own test, so it was not kept: " +
                                      failure);
        };
    }
    job.program_path = options.output;
    job.flags = flags | SFX_MULTI_VOLUME | SFX_SPLIT_VOLUMES;
    if (options.split != 0) {
        job.span = options.split;
        write_split_package(job, input, verify);
        progress.finish();
        return;
    }

    WrittenArchive archive;
    {
        OutputFile out(options.output);
        out.write(stub_part.data(), stub_part.size());
        archive = write_archive(out, input.entries, input.comment, settings.password, settings.cipher, section_offset,
                                stub.image.file_alignment);
        if (archive.file_end <= MAX_PROGRAM_FILE_SIZE) {
            finish_file(out, stub_part, stub, archive, flags, settings.with_stub_crc, license_size);
            out.commit(verify);
        }
    }
    if (archive.file_end > MAX_PROGRAM_FILE_SIZE) {
        // Compressed again from the start: the single file is gone, and its offsets are not
        // those of the volumes' stream.
        note(options.output + ": the package would reach 2 GiB, which Windows does not start everywhere; it is "
             "written as a split package, the program with volumes of " + std::to_string(DEFAULT_SPLIT_SIZE >> 20) +
             " MiB beside it (--split SIZE chooses their size)");
        pool.reset();
        pool = start_compressing();
        job.span = DEFAULT_SPLIT_SIZE;
        write_split_package(job, input, verify);
        progress.finish();
        return;
    }
    progress.finish();
    if (options.quiet)
        return;

    std::printf("%s: %zu entries, %llu bytes (stub %u, %sconfiguration %zu, archive %llu)\n",
                printable(options.output).c_str(), input.entries.size(), (unsigned long long)archive.file_end,
                section_offset, license_size ? ("licence " + std::to_string(license_size) + ", ").c_str() : "",
                config.size(),
                (unsigned long long)(archive.file_end - stub_part.size()));
}
