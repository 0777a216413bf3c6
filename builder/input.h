// The two kinds of input: an existing ZIP archive or a folder.
#ifndef TVSFX_INPUT_H
#define TVSFX_INPUT_H

#include <string>

#include "archive.h"

// Reads an input ZIP with libzip; headers the builder must keep exactly (DOS time, flags,
// extra fields) are taken from the archive's own bytes. Refuses what the stub cannot read.
// Each entry's `unicode_name` is worked out here; `input_codepage` is the OEM code page of
// names from MS-DOS, Windows and OS/2 without a UTF-8 flag.
ArchiveInput read_input_zip(const std::string& path, const std::string& input_codepage);

// Collects a folder's files in sorted order; each is compressed when it is written.
// Names are UTF-8 on this system; bytes that are not are read in `input_codepage`.
ArchiveInput read_input_folder(const std::string& path, const std::string& input_codepage);

#endif
