// Opening the files the builder reads (the input ZIP, the stub, the file to inspect, a
// folder's files). A FIFO would block `open` until someone writes to it and a device could
// deliver bytes without end, so files are opened without blocking and anything that is not
// a regular file is refused before a byte is read.
#ifndef TVSFX_INPUT_FILE_H
#define TVSFX_INPUT_FILE_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

using FilePtr = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

// Opens `path` for reading; fails (BuildError) naming `what` and the path unless it is a
// regular file. `size`, when given, receives the file's size.
FilePtr open_regular_file(const std::string& path, const std::string& what, uint64_t* size = nullptr);

// The same test without opening: "a FIFO", "a device", ... or "" for a regular file or a
// folder, for paths the builder is about to walk or write.
std::string special_file_kind(unsigned mode);

#endif
