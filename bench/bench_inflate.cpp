// Decoding throughput of our decoder against zlib's raw inflate and libdeflate's whole-buffer
// decompressor (the fastest Deflate decoder there is) on the same level-6 streams,
// Deflate64 throughput on 7-Zip streams of the same data, and CRC-32 throughput against zlib.
// Corpus: ~8 MB each of C headers (text), ELF programs (binary) and .gz files (already
// compressed), taken from this machine. Best of several runs; one line per figure.
//
//   bench_inflate [--runs N] [--careful] [--save DIR]
//     --careful  also time the careful path alone (fast loop off)
//     --save     write the corpus and its streams to DIR for the 32-bit build (bench_inflate32)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "crc32.h"
#include "inflate.h"
#include "decoder_timing.h"

namespace fs = std::filesystem;

namespace {

const size_t CORPUS_SIZE = 8000000;

Bytes read_file(const fs::path& path, size_t limit)
{
    std::ifstream in(path, std::ios::binary);
    std::error_code error;
    size_t size = (size_t)fs::file_size(path, error);
    Bytes data(error ? 0 : std::min(size, limit));
    in.read((char*)data.data(), (std::streamsize)limit);
    data.resize((size_t)in.gcount());
    return data;
}

void write_file(const fs::path& path, const Bytes& data)
{
    std::ofstream out(path, std::ios::binary);
    out.write((const char*)data.data(), (std::streamsize)data.size());
}

// Files under root accepted by keep, in sorted order, concatenated up to CORPUS_SIZE bytes.
template <typename Keep>
Bytes gather(const fs::path& root, Keep keep)
{
    std::vector<fs::path> paths;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (!error && it->is_regular_file(error) && !it->is_symlink(error) && keep(it->path()))
            paths.push_back(it->path());
    }
    std::sort(paths.begin(), paths.end());
    Bytes corpus;
    for (const fs::path& path : paths) {
        if (corpus.size() >= CORPUS_SIZE)
            break;
        Bytes data = read_file(path, CORPUS_SIZE - corpus.size());
        corpus.insert(corpus.end(), data.begin(), data.end());
    }
    return corpus;
}

bool is_elf(const fs::path& path)
{
    Bytes head = read_file(path, 4);
    return head.size() == 4 && memcmp(head.data(), "\x7f" "ELF", 4) == 0;
}

Bytes top_up_with_random(Bytes data)
{
    uint32_t state = 12345;
    while (data.size() < CORPUS_SIZE) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        data.push_back((uint8_t)(state >> 24));
    }
    return data;
}

Bytes zlib_deflate(const Bytes& data, int level)
{
    z_stream z = {};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, data.size()));
    z.next_in = const_cast<uint8_t*>(data.data());
    z.avail_in = (uInt)data.size();
    z.next_out = out.data();
    z.avail_out = (uInt)out.size();
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

uint32_t read_le(const Bytes& b, size_t at, int size)
{
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = v << 8 | b[at + i];
    return v;
}

// Raw Deflate64 stream by 7-Zip; empty when 7zz is missing or stored the data instead.
Bytes sevenzip_deflate64(const Bytes& data)
{
    char folder[] = "/tmp/tv_bench_7z_XXXXXX";
    if (system("command -v 7zz >/dev/null 2>&1") != 0 || mkdtemp(folder) == nullptr)
        return {};
    fs::path dir = folder;
    write_file(dir / "data.bin", data);
    std::string command = "cd " + dir.string() + " && 7zz a -tzip -mm=Deflate64 out.zip data.bin >/dev/null 2>&1";
    Bytes stream;
    if (system(command.c_str()) == 0) {
        Bytes zip = read_file(dir / "out.zip", 1u << 30);
        if (zip.size() >= 30 && read_le(zip, 0, 4) == 0x04034b50 && read_le(zip, 8, 2) == 9) {
            size_t start = 30 + read_le(zip, 26, 2) + read_le(zip, 28, 2);
            stream.assign(zip.begin() + start, zip.begin() + start + read_le(zip, 18, 4));
        }
    }
    fs::remove_all(dir);
    return stream;
}

struct ZlibInflater {
    z_stream z = {};
    Bytes out;
    explicit ZlibInflater(size_t size) : out(size + 1) { inflateInit2(&z, -15); }
    ~ZlibInflater() { inflateEnd(&z); }
    // Seconds of one decode into one output buffer (zlib's best case), or -1 on a failure.
    double time_once(const Bytes& stream, size_t expected_size)
    {
        inflateReset(&z);
        z.next_in = const_cast<uint8_t*>(stream.data());
        z.avail_in = (uInt)stream.size();
        z.next_out = out.data();
        z.avail_out = (uInt)out.size();
        double start = cpu_seconds();
        int status = inflate(&z, Z_FINISH);
        double elapsed = cpu_seconds() - start;
        return status == Z_STREAM_END && z.total_out == expected_size ? elapsed : -1;
    }
};

// libdeflate decodes the whole stream into one buffer of the exact size.
struct LibdeflateInflater {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    Bytes out;
    explicit LibdeflateInflater(size_t size) : out(size) {}
    ~LibdeflateInflater() { libdeflate_free_decompressor(d); }
    double time_once(const Bytes& stream)
    {
        size_t produced = 0;
        double start = cpu_seconds();
        libdeflate_result status =
            libdeflate_deflate_decompress(d, stream.data(), stream.size(), out.data(), out.size(), &produced);
        double elapsed = cpu_seconds() - start;
        return status == LIBDEFLATE_SUCCESS && produced == out.size() ? elapsed : -1;
    }
};

double time_zlib_crc_once(const Bytes& data, uint32_t* crc)
{
    double start = cpu_seconds();
    uLong value = crc32(0, nullptr, 0);
    for (size_t at = 0; at < data.size(); at += OUTPUT_PIECE_SIZE)
        value = crc32(value, data.data() + at, (uInt)std::min<size_t>(OUTPUT_PIECE_SIZE, data.size() - at));
    double elapsed = cpu_seconds() - start;
    *crc = (uint32_t)value;
    return elapsed;
}

double megabytes_per_second(size_t bytes, double seconds)
{
    return seconds > 0 ? bytes / seconds / 1e6 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    bool careful = false;
    const char* save_dir = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--careful"))
            careful = true;
        else if (!strcmp(argv[i], "--save") && i + 1 < argc)
            save_dir = argv[++i];
    }

    struct Corpus {
        const char* name;
        Bytes data;
    } corpora[] = {
        {"text", gather("/usr/include", [](const fs::path& p) { return p.extension() == ".h"; })},
        {"binary", gather("/usr/bin", is_elf)},
        {"compressed", top_up_with_random(gather("/usr/share/doc", [](const fs::path& p) { return p.extension() == ".gz"; }))},
    };

    // Ours and zlib's alternate run by run, so both meet the same load on a shared machine.
    int failures = 0;
    for (Corpus& c : corpora) {
        Bytes stream = zlib_deflate(c.data, 6);
        Bytes stream64 = sevenzip_deflate64(c.data);
        ZlibInflater zlib(c.data.size());
        LibdeflateInflater libdeflate(c.data.size());
        bool ok = check_inflate(stream, c.data, false) && zlib.time_once(stream, c.data.size()) >= 0 &&
                  libdeflate.time_once(stream) >= 0;
        bool ok64 = !stream64.empty() && check_inflate(stream64, c.data, true);
        double ours = 1e30, theirs = 1e30, best_libdeflate = 1e30, slow = 1e30, ours64 = 1e30;
        for (int run = 0; ok && run < runs; ++run) {
            ours = std::min(ours, time_inflate_once(stream, false));
            theirs = std::min(theirs, zlib.time_once(stream, c.data.size()));
            best_libdeflate = std::min(best_libdeflate, libdeflate.time_once(stream));
            if (careful)
                slow = std::min(slow, time_inflate_once(stream, false, false));
            if (ok64)
                ours64 = std::min(ours64, time_inflate_once(stream64, true));
        }
        if (!ok) {
            printf("inflate %s FAILED\n", c.name);
            ++failures;
            continue;
        }
        double ours_mb = megabytes_per_second(c.data.size(), ours), zlib_mb = megabytes_per_second(c.data.size(), theirs);
        double libdeflate_mb = megabytes_per_second(c.data.size(), best_libdeflate);
        printf("inflate %s MB/s=%.1f zlib MB/s=%.1f libdeflate MB/s=%.1f ours/zlib=%.2f ours/libdeflate=%.2f"
               " (%zu -> %zu bytes)\n",
               c.name, ours_mb, zlib_mb, libdeflate_mb, ours_mb / zlib_mb, ours_mb / libdeflate_mb, stream.size(),
               c.data.size());
        if (careful)
            printf("inflate-careful %s MB/s=%.1f\n", c.name, megabytes_per_second(c.data.size(), slow));
        if (stream64.empty())
            printf("inflate64 %s n/a (no 7zz, or 7-Zip stored the data)\n", c.name);
        else if (!ok64)
            printf("inflate64 %s FAILED\n", c.name), ++failures;
        else
            printf("inflate64 %s MB/s=%.1f (%zu -> %zu bytes)\n", c.name, megabytes_per_second(c.data.size(), ours64),
                   stream64.size(), c.data.size());
        if (save_dir) {
            fs::create_directories(save_dir);
            write_file(fs::path(save_dir) / (std::string(c.name) + ".data"), c.data);
            write_file(fs::path(save_dir) / (std::string(c.name) + ".deflate"), stream);
            if (!stream64.empty())
                write_file(fs::path(save_dir) / (std::string(c.name) + ".deflate64"), stream64);
        }
        fflush(stdout);
    }

    // Every CRC method the processor has, each against zlib in the same runs.
    const Bytes& crc_data = corpora[0].data;
    const int methods = fastest_crc_method_here() + 1;
    uint32_t zlib_crc = 0, method_crc[3] = {};
    double theirs = 1e30, method_time[3] = {1e30, 1e30, 1e30};
    for (int run = 0; run < runs * 4; ++run) {
        for (int method = 0; method < methods; ++method)
            method_time[method] =
                std::min(method_time[method], time_update_crc_once(crc_data, &method_crc[method], (CrcMethod)method));
        theirs = std::min(theirs, time_zlib_crc_once(crc_data, &zlib_crc));
    }
    double zlib_mb = megabytes_per_second(crc_data.size(), theirs);
    bool crc_ok = true;
    for (int method = methods - 1; method >= 0; --method) {
        double ours_mb = megabytes_per_second(crc_data.size(), method_time[method]);
        bool same = method_crc[method] == zlib_crc;
        crc_ok = crc_ok && same;
        printf("crc32 %s MB/s=%.1f zlib MB/s=%.1f ratio=%.2f%s\n", crc_method_name((CrcMethod)method), ours_mb,
               zlib_mb, ours_mb / zlib_mb, same ? "" : " MISMATCH");
    }
    return failures || !crc_ok ? 1 : 0;
}
