// Timing of our decoder and CRC-32 through the real byte source and sink: 28,672-byte input
// chunks from memory, 28,672-byte output pieces. Shared by the native benchmark and the
// saved-corpus benchmark (also built for 32-bit Windows).
#ifndef TVSFX_BENCH_DECODER_TIMING_H
#define TVSFX_BENCH_DECODER_TIMING_H

#include <stdint.h>

#include <vector>

#include "crc32.h"

using Bytes = std::vector<uint8_t>;

// Decodes stream once and compares the output with expected.
bool check_inflate(const Bytes& stream, const Bytes& expected, bool is_deflate64);
// Seconds of one decode (output discarded).
double time_inflate_once(const Bytes& stream, bool is_deflate64, bool fast_loop = true);
// The fastest CRC-32 method of this processor (builds the tables on first use); the slower
// ones can be timed too. The name is what the benchmark lines print.
CrcMethod fastest_crc_method_here();
const char* crc_method_name(CrcMethod method);
// Seconds of one CRC-32 over data in 28,672-byte pieces with the given method (at most the
// fastest here); *crc receives the result.
double time_update_crc_once(const Bytes& data, uint32_t* crc, CrcMethod method);

// Processor time of this thread where the system has it (the machine is shared: time spent
// waiting for a processor is not ours), else wall time.
double cpu_seconds();

#endif
