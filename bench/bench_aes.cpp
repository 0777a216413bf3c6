// Throughput of the AES entry cipher as the stub uses it: decrypt and authenticate 28,672-byte
// chunks, and the key derivation of one AES-256 entry (PBKDF2, 1000 iterations), once with
// AES-NI and the SHA extensions (where the processor has them) and once with the portable
// methods. Best of several runs of the process's CPU time (the machine may be shared; the
// work is single-threaded); one line per figure, with its goal.
//
//   bench_aes [--runs N]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <time.h>

#include <algorithm>
#include <random>
#include <vector>

#include "inflate.h"  // INPUT_CHUNK_SIZE: the stub decrypts what one refill reads
#include "zip_aes.h"

namespace {

const size_t DATA_SIZE = 64u << 20;
const int DERIVATIONS = 100;

double cpu_seconds()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

double seconds_since(double start)
{
    return cpu_seconds() - start;
}

// Best time of `runs` to decrypt and authenticate data chunk by chunk.
double time_decrypt(std::vector<uint8_t>& data, int runs)
{
    const uint8_t password[] = "benchmark password";
    uint8_t salt[AES_MAX_SALT_SIZE] = {1, 2, 3}, verifier[AES_VERIFIER_SIZE], code[AES_CODE_SIZE];
    double best = 1e9;
    for (int run = 0; run < runs; ++run) {
        ZipAes aes;
        zip_aes_start(&aes, password, sizeof password - 1, AES_STRENGTH_256, salt, verifier);
        double start = cpu_seconds();
        for (size_t at = 0; at < data.size(); at += INPUT_CHUNK_SIZE)
            zip_aes_decrypt(&aes, data.data() + at, std::min<size_t>(INPUT_CHUNK_SIZE, data.size() - at));
        zip_aes_finish(&aes, code);
        best = std::min(best, seconds_since(start));
    }
    return best;
}

// Best time of `runs` for one AES-256 key derivation (average over DERIVATIONS).
double time_derivation(int runs)
{
    const uint8_t password[] = "benchmark password";
    uint8_t salt[AES_MAX_SALT_SIZE] = {4, 5, 6}, verifier[AES_VERIFIER_SIZE];
    double best = 1e9;
    for (int run = 0; run < runs; ++run) {
        double start = cpu_seconds();
        for (int i = 0; i < DERIVATIONS; ++i) {
            ZipAes aes;
            salt[0] = uint8_t(i);
            zip_aes_start(&aes, password, sizeof password - 1, AES_STRENGTH_256, salt, verifier);
        }
        best = std::min(best, seconds_since(start) / DERIVATIONS);
    }
    return best;
}

void report(const char* name, std::vector<uint8_t>& data, int runs, double goal_mb_s)
{
    double mb_s = data.size() / time_decrypt(data, runs) / 1e6;
    printf("aes-256 decrypt+authenticate %s: %.0f MB/s (goal >= %.0f)%s\n", name, mb_s, goal_mb_s,
           mb_s >= goal_mb_s ? "" : "  BELOW GOAL");
    double ms = time_derivation(runs) * 1e3;
    printf("aes-256 key derivation %s: %.3f ms per entry%s\n", name, ms,
           goal_mb_s >= 1000 ? (ms <= 1.0 ? " (goal <= 1 ms)" : " (goal <= 1 ms)  ABOVE GOAL") : "");
}

}  // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = atoi(argv[++i]);
    }
    std::vector<uint8_t> data(DATA_SIZE);
    std::mt19937 rng(24);
    for (uint8_t& b : data)
        b = uint8_t(rng());
    build_zip_aes();
    if (aes_method == AES_BY_INSTRUCTIONS && sha1_method == SHA1_BY_INSTRUCTIONS)
        report("AES-NI+SHA-NI", data, runs, 1000);
    else
        printf("aes-256 AES-NI+SHA-NI: n/a (the processor lacks them)\n");
    aes_method = AES_BY_TABLES;
    sha1_method = SHA1_PORTABLE;
    report("portable", data, runs, 100);
    return 0;
}
