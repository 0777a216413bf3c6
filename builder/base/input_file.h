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

// Where the folder walk found a file: the real path of its folder (no links in it), its
// name there, and the identities (device, inode) the walk saw of both.
struct WalkedFile {
    std::string folder;
    std::string name;
    uint64_t folder_device = 0, folder_inode = 0;
    uint64_t device = 0, inode = 0;
};

// Opens a file the walk found as that very file: its folder by path, checked to be the folder
// walked; the name in it without following a link (O_NOFOLLOW, without blocking); the file
// checked to be the one walked. A file swapped since for a link, a FIFO or another file, or a
// folder swapped on the way, is refused naming `label`. `size` receives the file's size.
FilePtr open_walked_file(const WalkedFile& file, const std::string& label, uint64_t* size = nullptr);

// Why a read of `f` came up short, for a message: the system's error (errno, so call it
// right after the read), else that the file ended early, having shrunk since it was measured.
std::string short_read_reason(std::FILE* f);

// The same test without opening: "a FIFO", "a device", ... or "" for a regular file or a
// folder, for paths the builder is about to walk or write.
std::string special_file_kind(unsigned mode);

#endif
