#include "builder_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

const uint8_t kMarker[8] = {0x54, 0x56, 0x4B, 0x01, 0x73, 0x66, 0x78, 0x02};

}  // namespace

void exec_program(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

long peak_memory_kib(const std::vector<std::string>& argv)
{
    pid_t pid = fork();
    if (pid == 0)
        exec_program(argv);
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    return usage.ru_maxrss;
}

RunResult run(const std::vector<std::string>& argv)
{
    TempFolder capture;
    std::string out_path = capture / "out", err_path = capture / "err";
    pid_t pid = fork();
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        exec_program(argv);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    RunResult r;
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = slurp(out_path);
    r.err = slurp(err_path);
    return r;
}

RunResult run_shell(const std::string& command)
{
    return run({"/bin/sh", "-c", command});
}

bool have_program(const std::string& name)
{
    return run_shell("command -v " + name).exit_code == 0;
}

std::string tvsfx_path()
{
    return TVSFX_PATH;
}

std::string fixture_stub_path()
{
    return FIXTURE_STUB_PATH;
}

std::string fixture_stub64_path()
{
    return FIXTURE_STUB64_PATH;
}

std::string stub_path()
{
    return exists(STUB_PATH) ? STUB_PATH : FIXTURE_STUB_PATH;
}

Bytes noise_bytes(size_t size, uint32_t seed)
{
    Bytes noise(size);
    uint32_t x = seed;
    for (uint8_t& b : noise)
        b = uint8_t((x = x * 1664525u + 1013904223u) >> 24);
    return noise;
}

Bytes read_bytes(const std::string& path)
{
    std::string s = slurp(path);
    return Bytes(s.begin(), s.end());
}

void write_bytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void write_text(const std::string& path, const std::string& text)
{
    write_bytes(path, Bytes(text.begin(), text.end()));
}

bool exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

std::vector<std::string> list_folder(const std::string& path)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

uint32_t crc32_of(const uint8_t* data, size_t size)
{
    return uint32_t(crc32_z(crc32_z(0, nullptr, 0), data, size));
}

PeView read_pe(const Bytes& f)
{
    PeView v{};
    v.pe_offset = le32(f, 0x3C);
    uint32_t pe = v.pe_offset;
    EXPECT_EQ(le32(f, pe), 0x00004550u) << "PE signature";
    v.section_count = le16(f, pe + 6);
    v.size_of_initialized_data = le32(f, pe + 24 + 8);
    v.entry_point = le32(f, pe + 24 + 16);
    v.section_alignment = le32(f, pe + 24 + 32);
    v.file_alignment = le32(f, pe + 24 + 36);
    v.size_of_image = le32(f, pe + 24 + 56);
    v.size_of_headers = le32(f, pe + 24 + 60);
    v.checksum = le32(f, pe + 24 + 64);
    size_t table = pe + 24 + le16(f, pe + 20);
    for (uint16_t i = 0; i < v.section_count; ++i) {
        size_t h = table + 40 * i;
        Section s;
        s.name.assign(reinterpret_cast<const char*>(&f.at(h)), strnlen(reinterpret_cast<const char*>(&f.at(h)), 8));
        s.virtual_size = le32(f, h + 8);
        s.virtual_address = le32(f, h + 12);
        s.raw_size = le32(f, h + 16);
        s.raw_pointer = le32(f, h + 20);
        s.characteristics = le32(f, h + 36);
        v.sections.push_back(s);
    }
    return v;
}

uint32_t pe_checksum(const Bytes& file, uint32_t checksum_offset)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        if (i == checksum_offset || i == checksum_offset + 2)
            continue;
        uint32_t word = file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t(sum + file.size());
}

long find_marker(const Bytes& file)
{
    auto it = std::search(file.begin(), file.end(), std::begin(kMarker), std::end(kMarker));
    return it == file.end() ? -1 : long(it - file.begin());
}

RecordView read_record(const Bytes& f)
{
    RecordView r{};
    long at = find_marker(f);
    EXPECT_GE(at, 0) << "no stub record marker";
    if (at < 0)
        return r;
    size_t o = size_t(at);
    r.offset = o;
    r.stub_crc = le32(f, o + 0x08);
    r.archive_offset = le32(f, o + 0x0C);
    r.config_offset = le32(f, o + 0x10);
    r.end_record_offset = le32(f, o + 0x14);
    r.total_size = le32(f, o + 0x18);
    r.flags = le32(f, o + 0x1C);
    r.reserved1 = le32(f, o + 0x20);
    r.reserved2 = le32(f, o + 0x24);
    r.reserved3 = le16(f, o + 0x28);
    r.complete = le16(f, o + 0x2A);
    r.reserved4 = le32(f, o + 0x2C);
    r.total_size_high = le32(f, o + 0x30);
    r.reserved6 = le16(f, o + 0x34);
    r.entry_point = le32(f, o + 0x36);
    return r;
}

// Replaces each field that holds 0xFFFFFFFF by the next 8-byte value of the ZIP64 record;
// true when the block has one.
static bool take_zip64(const Bytes& extra, std::initializer_list<uint64_t*> fields)
{
    for (size_t at = 0; at + 4 <= extra.size(); at += 4 + le16(extra, at + 2)) {
        if (le16(extra, at) != 0x0001)
            continue;
        size_t value = at + 4;
        for (uint64_t* field : fields) {
            if (*field == 0xFFFFFFFFu) {
                *field = le32(extra, value) | uint64_t(le32(extra, value + 4)) << 32;
                value += 8;
            }
        }
        return true;
    }
    return false;
}

std::vector<LocalEntry> walk_local_headers(const Bytes& f, size_t at)
{
    std::vector<LocalEntry> entries;
    while (at + 30 <= f.size() && le32(f, at) == 0x04034B50) {
        LocalEntry e;
        e.offset = at;
        e.version_needed = le16(f, at + 4);
        e.flags = le16(f, at + 6);
        e.method = le16(f, at + 8);
        e.time = le16(f, at + 10);
        e.date = le16(f, at + 12);
        e.crc = le32(f, at + 14);
        e.compressed_size = le32(f, at + 18);
        e.uncompressed_size = le32(f, at + 22);
        size_t name_size = le16(f, at + 26), extra_size = le16(f, at + 28);
        e.name.assign(reinterpret_cast<const char*>(&f.at(at + 30)), name_size);
        e.extra.assign(f.begin() + long(at + 30 + name_size), f.begin() + long(at + 30 + name_size + extra_size));
        e.data_offset = at + 30 + name_size + extra_size;
        e.zip64 = take_zip64(e.extra, {&e.uncompressed_size, &e.compressed_size});
        at = e.data_offset + e.compressed_size;
        e.descriptor_with_signature = (e.flags & 8) && at + 16 <= f.size() && le32(f, at) == 0x08074B50;
        if (e.flags & 8)
            at += e.zip64 ? 24 : 16;
        entries.push_back(e);
    }
    return entries;
}

CentralView read_central_directory(const Bytes& f)
{
    CentralView v{};
    size_t end = f.size() >= 22 ? f.size() - 22 : 0;
    while (end > 0 && le32(f, end) != 0x06054B50)
        --end;
    v.end_record = end;
    v.directory_size = le32(f, end + 12);
    v.directory_offset = le32(f, end + 16);
    v.comment_size = le16(f, end + 20);
    uint64_t count = le16(f, end + 10);
    v.zip64_end = end >= 20 && le32(f, end - 20) == 0x07064B50;
    if (v.zip64_end) {
        size_t record = le32(f, end - 12);
        EXPECT_EQ(le32(f, record), 0x06064B50u) << "the locator points to the ZIP64 end record";
        count = le32(f, record + 32) | uint64_t(le32(f, record + 36)) << 32;
        v.directory_size = le32(f, record + 40) | uint64_t(le32(f, record + 44)) << 32;
        v.directory_offset = le32(f, record + 48) | uint64_t(le32(f, record + 52)) << 32;
    }
    size_t at = v.directory_offset;
    for (uint64_t i = 0; i < count; ++i) {
        EXPECT_EQ(le32(f, at), 0x02014B50u) << "central header " << i;
        CentralEntry e;
        e.flags = le16(f, at + 8);
        e.method = le16(f, at + 10);
        e.time = le16(f, at + 12);
        e.date = le16(f, at + 14);
        e.crc = le32(f, at + 16);
        e.compressed_size = le32(f, at + 20);
        e.uncompressed_size = le32(f, at + 24);
        e.local_offset = le32(f, at + 42);
        size_t n = le16(f, at + 28), x = le16(f, at + 30), c = le16(f, at + 32);
        e.name.assign(reinterpret_cast<const char*>(&f.at(at + 46)), n);
        Bytes extra(f.begin() + long(at + 46 + n), f.begin() + long(at + 46 + n + x));
        e.zip64 = take_zip64(extra, {&e.uncompressed_size, &e.compressed_size, &e.local_offset});
        v.entries.push_back(e);
        at += 46 + n + x + c;
    }
    return v;
}

Bytes inflate_raw(const uint8_t* data, size_t size, bool& ok)
{
    Bytes out(1 << 16);
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = uInt(size);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    int status = inflate(&z, Z_FINISH);
    ok = status == Z_STREAM_END && z.avail_in == 0;
    out.resize(out.size() - z.avail_out);
    inflateEnd(&z);
    return out;
}

std::vector<std::string> read_config_fields(const Bytes& file)
{
    RecordView r = read_record(file);
    bool ok = false;
    Bytes plain = inflate_raw(file.data() + r.config_offset, r.archive_offset - r.config_offset, ok);
    EXPECT_TRUE(ok) << "configuration block is not one raw Deflate stream";
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
        if (plain[i] == 0) {
            fields.emplace_back(reinterpret_cast<const char*>(plain.data() + start), i - start);
            start = i + 1;
        }
    }
    EXPECT_EQ(start, plain.size()) << "bytes after the last NUL";
    return fields;
}

uint8_t decrypted_check_byte(const std::string& password, const uint8_t* header)
{
    const z_crc_t* table = get_crc_table();
    auto crc = [table](uint32_t c, uint8_t b) { return uint32_t(table[(c ^ b) & 0xFF]) ^ (c >> 8); };
    uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
    auto update = [&](uint8_t p) {
        k0 = crc(k0, p);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = crc(k2, uint8_t(k1 >> 24));
    };
    for (unsigned char c : password)
        update(c);
    uint8_t plain = 0;
    for (int i = 0; i < 12; ++i) {
        // 32-bit unsigned arithmetic: a 16-bit t would be promoted to int, and t * (t ^ 1)
        // overflows int for t above 46,340.
        uint32_t t = (k2 & 0xFFFF) | 2;
        plain = uint8_t(header[i] ^ uint8_t((t * (t ^ 1)) >> 8));
        update(plain);
    }
    return plain;
}

TempFolder::TempFolder()
{
    std::string pattern = (fs::temp_directory_path() / "tvsfx-test-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    path_ = mkdtemp(name.data());
}

TempFolder::~TempFolder()
{
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

RunResult BuilderTest::build(const std::string& input, const std::string& output, const std::vector<std::string>& args,
                             const std::string& stub)
{
    std::vector<std::string> argv = {tvsfx_path(), "build", "--stub", stub, "-o", output};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(input);
    return run(argv);
}

std::string BuilderTest::make_sample_folder(const std::string& name)
{
    std::string root = at(name);
    fs::create_directories(root + "/docs/deep");
    fs::create_directories(root + "/empty");
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "line " + std::to_string(i) + " of a compressible text\n";
    write_text(root + "/readme.txt", text);
    write_text(root + "/docs/note.txt", "short\n");
    write_text(root + "/docs/deep/data.txt", text.substr(0, 5000));
    return root;
}

StoppedTerminal::StoppedTerminal()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        return;
    terminal_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    if (terminal_ >= 0 && tcflow(terminal_, TCOOFF) != 0) {
        close(terminal_);
        terminal_ = -1;
    }
}

StoppedTerminal::~StoppedTerminal()
{
    if (terminal_ >= 0)
        close(terminal_);
    if (master_ >= 0)
        close(master_);
}

pid_t StoppedTerminal::start(const std::vector<std::string>& argv)
{
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(terminal_, 2);
    setenv("TVSFX_PROGRESS_DELAY", "0", 1);
    exec_program(argv);
}

void StoppedTerminal::resume()
{
    tcflow(terminal_, TCOON);
}

std::string StoppedTerminal::output()
{
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(master_, buffer, sizeof buffer)) > 0)
        text.append(buffer, size_t(n));
    return text;
}

bool wait_until(bool (*ready)(const std::string&), const std::string& path)
{
    for (int i = 0; i < 6000; ++i) {
        if (ready(path))
            return true;
        usleep(10000);
    }
    return false;
}

bool has_entries(const std::string& folder)
{
    return exists(folder) && !list_folder(folder).empty();
}
