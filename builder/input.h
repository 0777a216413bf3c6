// The two kinds of input: an existing ZIP archive or a folder.
#ifndef TVSFX_INPUT_H
#define TVSFX_INPUT_H

#include <string>

#include "archive.h"

// Reads an input ZIP with libzip; headers the builder must keep exactly (DOS time, flags,
// extra fields) are taken from the archive's own bytes. Refuses what the stub cannot read.
// Each entry's `unicode_name` is worked out here, names without a UTF-8 flag by `reading`.
struct NameReading;
ArchiveInput read_input_zip(const std::string& path, const NameReading& reading);

// Collects a folder's files in sorted order; each is compressed when it is written.
// Names are UTF-8 on this system; bytes that are not are read by `reading`.
ArchiveInput read_input_folder(const std::string& path, const NameReading& reading);

#endif
