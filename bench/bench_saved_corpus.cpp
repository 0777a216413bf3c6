// Our decoder and CRC-32 on a corpus saved by `bench_inflate --save DIR`, without zlib or 7-Zip:
// the 32-bit Windows build of the benchmark (run under Wine), also handy natively for profiling.
//
//   bench_saved_corpus DIR [--runs N] [--only NAME]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "decoder_timing.h"

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

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s DIR [--runs N] [--only NAME]\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    int runs = 5;
    const char* only = nullptr;
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
        if (!load(dir + "/" + name + ".data", &data) || !load(dir + "/" + name + ".deflate", &stream)) {
            printf("%s: corpus missing\n", name);
            ++failures;
            continue;
        }
        bool ok = check_inflate(stream, data, false);
        bool have64 = load(dir + "/" + name + ".deflate64", &stream64);
        bool ok64 = have64 && check_inflate(stream64, data, true);
        double best = 1e30, best64 = 1e30;
        for (int run = 0; run < runs; ++run) {
            best = std::min(best, time_inflate_once(stream, false));
            if (ok64)
                best64 = std::min(best64, time_inflate_once(stream64, true));
        }
        if (ok)
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
        uint32_t crc = 0;
        double best = 1e30;
        for (int run = 0; run < runs * 4; ++run)
            best = std::min(best, time_update_crc_once(text, &crc));
        printf("crc32 MB/s=%.1f\n", text.size() / best / 1e6);
    }
    return failures ? 1 : 0;
}
