// What the builder's fuzz targets share: the builder's warn/note silenced, and a memory file
// with a path, because the builder's readers open files by name.
#ifndef TVSFX_BUILDER_FUZZ_SUPPORT_H
#define TVSFX_BUILDER_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>

#include <string>

// Replaces the memory file's content with data[0, size) and returns its path
// (/proc/self/fd/N), valid until the next call.
std::string place_in_memory_file(const uint8_t* data, size_t size);

// The stub the builder's targets build with: $TVSFX_FUZZ_STUB, else the one the build tree
// holds (FUZZ_STUB_PATH). Aborts, saying so, when it cannot be read.
const std::string& fuzz_stub_path();

// A folder of the target's own for output files (made once, emptied by the target).
const std::string& scratch_folder_path();

#endif
