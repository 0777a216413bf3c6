// How long an extracted path may be on the NT family, where the stub creates files through
// the wide functions with "\\?\" paths. Windows 95/98/ME keep the ANSI functions' limit of
// 259 characters (builder: MAX_ENTRY_NAME). Portable, no Win32: the stub compiles it too.
#ifndef TVSFX_FORMAT_PATH_LIMITS_H
#define TVSFX_FORMAT_PATH_LIMITS_H

enum {
    // Target folder, separator and entry name together, in UTF-16 units, terminating NUL not
    // counted: the most a "\\?\" path holds (a UNICODE_STRING counts its bytes in 16 bits).
    MAX_LONG_PATH_UNITS = 32767,
    // One folder or file name: NTFS, FAT and exFAT keep at most 255 UTF-16 units each.
    MAX_NAME_COMPONENT_UNITS = 255,
    // The shortest absolute target folder, "C:\": an entry name alone may take the rest.
    SHORTEST_TARGET_UNITS = 3,
    MAX_LONG_NAME_UNITS = MAX_LONG_PATH_UNITS - SHORTEST_TARGET_UNITS,
    // An entry name's bytes as stored: the 16-bit length field of the ZIP headers bounds
    // them, in UTF-8 (up to three bytes a unit) well before MAX_LONG_NAME_UNITS does.
    MAX_LONG_NAME_BYTES = 0xFFFF,
};

#endif
