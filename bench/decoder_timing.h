// Timing of our decoder and CRC-32 through the real byte source and sink: 28,672-byte input
// chunks from memory, 28,672-byte output pieces. Shared by the native benchmark and the
// saved-corpus benchmark (also built for 32-bit Windows).
#ifndef TVSFX_BENCH_DECODER_TIMING_H
#define TVSFX_BENCH_DECODER_TIMING_H

#include <stdint.h>

#include <vector>

using Bytes = std::vector<uint8_t>;

// Decodes stream once and compares the output with expected.
bool check_inflate(const Bytes& stream, const Bytes& expected, bool is_deflate64);
// Seconds of one decode (output discarded).
double time_inflate_once(const Bytes& stream, bool is_deflate64, bool fast_loop = true);
// Seconds of one CRC-32 over data in 28,672-byte pieces; *crc receives the result. folding
// false times the portable path also where the processor could fold.
double time_update_crc_once(const Bytes& data, uint32_t* crc, bool folding = true);

// Processor time of this thread where the system has it (the machine is shared: time spent
// waiting for a processor is not ours), else wall time.
double cpu_seconds();

#endif
