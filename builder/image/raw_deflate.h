// The builder's small embedded blocks (the configuration block, the licence text) are one raw
// Deflate stream each, the form the stub's inflate_memory unpacks; written and read back here.
#ifndef TVSFX_RAW_DEFLATE_H
#define TVSFX_RAW_DEFLATE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Compresses `size` bytes at `data` at libdeflate's strongest level: the blocks' stored sizes
// have hard limits, so every byte counts. Fails (BuildError) naming `what` ("the
// configuration block") when it cannot.
std::vector<uint8_t> deflate_raw(const void* data, size_t size, const std::string& what);

// Inflates one complete raw Deflate stream into `plain`, at most `limit` bytes. False with
// `error` set when the stream decodes to more than `limit` bytes or is not complete.
bool inflate_raw(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>& plain, std::string& error);

#endif
