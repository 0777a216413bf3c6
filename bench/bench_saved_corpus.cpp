// Our decoder and CRC-32 on a corpus saved by `bench_inflate --save DIR`, without 7-Zip: the
// 32-bit Windows build of the benchmark (bench/i686, run under Wine by scripts/bench.sh), also
// handy natively for profiling. Built with TVSFX_BENCH_ZLIB it times zlib alongside (the i686
// build links MinGW's static zlib); libdeflate has no 32-bit Windows build here.
//
//   bench_saved_corpus DIR [--runs N] [--only NAME] [--check]
//
// --check prints verdicts and no timings: every stream decoded and compared, every CRC-32
// method the processor offers compared with the table method (and with zlib where linked).
// It is how the 32-bit build runs under an emulator, whose timings would mean nothing.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "decoder_timing.h"

#ifdef TVSFX_BENCH_ZLIB
#include <zlib.h>

#include "inflate.h"

static uLong zlib_crc;  // kept, so the timed loop is not optimised away

// Seconds of zlib's raw inflate of stream into one buffer, or -1 when it fails.
static double time_zlib_inflate_once(const Bytes& stream, Bytes* out)
{
    z_stream z = {};
    inflateInit2(&z, -15);
    z.next_in = const_cast<uint8_t*>(stream.data());
    z.avail_in = (uInt)stream.size();
    z.next_out = out->data();
    z.avail_out = (uInt)out->size();
    double start = cpu_seconds();
    int status = inflate(&z, Z_FINISH);
    double elapsed = cpu_seconds() - start;
    inflateEnd(&z);
    return status == Z_STREAM_END ? elapsed : -1;
}

static double time_zlib_crc_once(const Bytes& data)
{
    double start = cpu_seconds();
    zlib_crc = crc32(0, nullptr, 0);
    for (size_t at = 0; at < data.size(); at += OUTPUT_PIECE_SIZE)
        zlib_crc = crc32(zlib_crc, data.data() + at, (uInt)std::min<size_t>(OUTPUT_PIECE_SIZE, data.size() - at));
    return cpu_seconds() - start;
}
#endif

static bool load(const std::string& path, Bytes* data)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    data->clear();
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        data->insert(data->end(), buffer, buffer + n);
    fclose(f);
    return true;
}

// One corpus file's data and its Deflate stream; says so when either is missing.
static bool load_corpus(const std::string& dir, const char* name, Bytes* data, Bytes* stream)
{
    if (load(dir + "/" + name + ".data", data) && load(dir + "/" + name + ".deflate", stream))
        return true;
    printf("%s: corpus missing\n", name);
    return false;
}

// The verdicts of --check: 0 when everything agrees.
static int check_corpus(const std::string& dir)
{
    int failures = 0;
    Bytes text;
    for (const char* name : {"text", "binary", "compressed"}) {
        Bytes data, stream, stream64;
        if (!load_corpus(dir, name, &data, &stream)) {
            ++failures;
            continue;
        }
        bool ok = check_inflate(stream, data, false);
        bool ok64 = !load(dir + "/" + name + ".deflate64", &stream64) || check_inflate(stream64, data, true);
        printf("inflate %s %s, inflate64 %s\n", name, ok ? "correct" : "FAILED", ok64 ? "correct" : "FAILED");
        failures += !ok + !ok64;
        if (text.empty())
            text = data;
    }
    uint32_t table_crc = 0, crc = 0;
    time_update_crc_once(text, &table_crc, (CrcMethod)0);
#ifdef TVSFX_BENCH_ZLIB
    bool zlib_agrees = crc32(crc32(0, nullptr, 0), text.data(), (uInt)text.size()) == table_crc;
    printf("crc32 %s %s zlib\n", crc_method_name((CrcMethod)0), zlib_agrees ? "agrees with" : "DIFFERS from");
    failures += !zlib_agrees;
#endif
    for (int method = 1; method <= fastest_crc_method_here(); ++method) {
        time_update_crc_once(text, &crc, (CrcMethod)method);
        printf("crc32 %s %s\n", crc_method_name((CrcMethod)method), crc == table_crc ? "correct" : "FAILED");
        failures += crc != table_crc;
    }
    return failures ? 1 : 0;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s DIR [--runs N] [--only NAME] [--check]\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    int runs = 5;
    const char* only = nullptr;
    for (int i = 2; i < argc; ++i)
        if (!strcmp(argv[i], "--check"))
            return check_corpus(dir);
    for (int i = 2; i + 1 < argc; ++i) {
        if (!strcmp(argv[i], "--runs"))
            runs = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--only"))
            only = argv[++i];
    }
    int failures = 0;
    Bytes text;
    for (const char* name : {"text", "binary", "compressed"}) {
        if (only && strcmp(only, name) != 0)
            continue;
        Bytes data, stream, stream64;
        if (!load_corpus(dir, name, &data, &stream)) {
            ++failures;
            continue;
        }
        bool ok = check_inflate(stream, data, false);
        bool have64 = load(dir + "/" + name + ".deflate64", &stream64);
        bool ok64 = have64 && check_inflate(stream64, data, true);
        double best = 1e30, best64 = 1e30, best_zlib = 1e30;
#ifdef TVSFX_BENCH_ZLIB
        Bytes zlib_out(data.size() + 1);
#endif
        for (int run = 0; run < runs; ++run) {
            best = std::min(best, time_inflate_once(stream, false));
            if (ok64)
                best64 = std::min(best64, time_inflate_once(stream64, true));
#ifdef TVSFX_BENCH_ZLIB
            double zlib_seconds = time_zlib_inflate_once(stream, &zlib_out);
            if (zlib_seconds >= 0)
                best_zlib = std::min(best_zlib, zlib_seconds);
#endif
        }
        if (ok && best_zlib < 1e30)
            printf("inflate %s MB/s=%.1f zlib MB/s=%.1f ours/zlib=%.2f libdeflate n/a\n", name, data.size() / best / 1e6,
                   data.size() / best_zlib / 1e6, best_zlib / best);
        else if (ok)
            printf("inflate %s MB/s=%.1f\n", name, data.size() / best / 1e6);
        else
            printf("inflate %s FAILED\n", name), ++failures;
        if (ok64)
            printf("inflate64 %s MB/s=%.1f\n", name, data.size() / best64 / 1e6);
        else if (have64)
            printf("inflate64 %s FAILED\n", name), ++failures;
        if (text.empty())
            text = data;
    }
    if (!text.empty()) {
        const int methods = fastest_crc_method_here() + 1;
        uint32_t crc = 0;
        double best_zlib = 1e30, method_time[3] = {1e30, 1e30, 1e30};
        for (int run = 0; run < runs * 4; ++run) {
            for (int method = 0; method < methods; ++method)
                method_time[method] = std::min(method_time[method], time_update_crc_once(text, &crc, (CrcMethod)method));
#ifdef TVSFX_BENCH_ZLIB
            best_zlib = std::min(best_zlib, time_zlib_crc_once(text));
#endif
        }
        for (int method = methods - 1; method >= 0; --method) {
            printf("crc32 %s MB/s=%.1f", crc_method_name((CrcMethod)method), text.size() / method_time[method] / 1e6);
            if (best_zlib < 1e30)
                printf(" zlib MB/s=%.1f ratio=%.2f", text.size() / best_zlib / 1e6, best_zlib / method_time[method]);
            printf("\n");
        }
    }
    return failures ? 1 : 0;
}
