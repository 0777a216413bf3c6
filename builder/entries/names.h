// Entry names on their way from the input to the stub. Every name is first worked out as
// Unicode (from the ZIP's flags, its Unicode Path field or its maker's system; a folder's
// names are UTF-8). A name that the --codepage holds is normalised to NFC and stored in it,
// read by the stub in the system's ANSI code page; one it lacks is stored as UTF-8 with the
// UTF-8 flag, as the input gave it, for the NT family's Unicode functions (--win9x refuses it
// instead). Either is checked against the Windows name rules that stub and builder share
// (format/entry_names.h).
#ifndef TVSFX_NAMES_H
#define TVSFX_NAMES_H

#include <cstdint>
#include <string>
#include <vector>

#include "archive.h"
#include "format/entry_names.h"
#include "printable.h"
#include "text_encoding.h"

// How names not flagged as Unicode are read: in `given` (--input-codepage) when set, else by
// the system that made them. MS-DOS, OS/2, NTFS (host 10 or 11) and VFAT wrote the OEM code
// page (CP437);
// every other system (Unix, macOS, VMS, ...) wrote UTF-8 when the bytes are UTF-8, else its
// ANSI code page, taken as `ansi` (the target --codepage, so the bytes stand as they are).
struct NameReading {
    std::string given;
    std::string ansi = DEFAULT_CODEPAGE;
};

struct NameSettings {
    std::string codepage;                                // the stub's: --codepage
    bool keep_macos_metadata = false;                    // --keep-macos-metadata
    bool win9x = false;                                  // --win9x: every name in the code page, short paths
    std::string target_folder;                           // --folder in the stub's code page (--win9x)
    std::string target_folder_given;                     // --folder as given, UTF-8
};

// A ZIP entry's name as Unicode (UTF-8, NFC). `extras` are the central and the local extra
// field; a Unicode Path field in either whose CRC matches `raw` wins over the bytes. `label`
// names the entry in a refusal. `how_read` gets how a name that is not Unicode was read
// ("made on Unix, read as CP1252"); it stays empty for a Unicode or ASCII name.
std::string decode_zip_name(const std::string& raw, uint16_t gp_flags, uint16_t version_made_by,
                            const std::vector<const std::vector<uint8_t>*>& extras, const NameReading& reading,
                            const std::string& label, std::string* how_read = nullptr);

// A folder's file name: UTF-8 on this system; other bytes are read as a Unix system's.
std::string decode_folder_name(const std::string& raw, const NameReading& reading, const std::string& label,
                               std::string* how_read = nullptr);

// UTF-8 in normalisation form C: macOS writes names decomposed, which no ANSI code page holds.
std::string to_nfc(const std::string& utf8);

// The name as Windows compares names (simple upper case per character): equal keys are one
// file on Windows. Also for finding duplicate entries.
std::string windows_name_key(const std::string& utf8);

// Refuses entries whose Unicode names Windows takes for the same file or folder: the same
// name twice, with either separator or a trailing one, names that differ only in case
// ("README", "readme") or in composition (a composed and a decomposed "ü", equal after NFC).
// A name kept as UTF-8 keeps its composition and NTFS would hold both forms, yet they are
// still refused: they look alike to every user, a name the code page holds is stored composed
// whatever form it came in, and file systems that normalise (macOS) take them for one.
// Entries without a Unicode name yet are not compared.
void refuse_name_collisions(const std::vector<ArchiveEntry>& entries);

// "in.zip: entry \"name\"": the entry in a message, its name printable.
std::string describe_entry(const ArchiveEntry& e);

// What the shared name rules need of a code page (iconv name): its lead bytes, none for a
// single-byte one, and its superscript digits. "raw" has neither: its bytes are taken as they
// stand, for whatever code page the system has.
NameCodePage name_code_page_of(const std::string& codepage);

// A Unicode Path extra field for `unicode` whose CRC is that of `stored`.
std::vector<uint8_t> unicode_path_field(const std::string& unicode, const std::string& stored);

// The name as a Windows system of `codepage` shows the stored bytes, in UTF-8: the bytes
// themselves when `gp_flags` mark them as UTF-8, else the local header's Unicode Path field
// when its CRC matches (the builder writes one for every name in the code page that is not
// ASCII), else the bytes read in `codepage`.
std::string shown_name(const std::string& stored, uint16_t gp_flags, const std::vector<uint8_t>& local_extra,
                       const std::string& codepage);

// A stored name that Windows 95/98/ME may not extract: UTF-8 beyond ASCII (the stub converts
// it to the system's code page, which may lack it) or longer than their paths hold.
bool needs_nt_family(const std::string& stored, uint16_t gp_flags);

// Drops Unicode Path fields (their CRC belongs to the name as it was).
std::vector<uint8_t> without_unicode_path(const std::vector<uint8_t>& extra);

// The Unicode Path name in an extra field block whose CRC matches `stored`; empty if none.
std::string find_unicode_path(const std::vector<uint8_t>& extra, const std::string& stored);

// The common second half of both inputs: leaves out macOS metadata (with a note), converts
// every entry's `unicode_name` into `name` in the stub's code page with a Unicode Path field
// or, where the code page lacks a character, as UTF-8 (refused with --win9x), refuses names
// Windows would not keep, paths longer than the stub makes and names that collide on
// Windows, and warns about names that leave the target folder, whose path gets too long below
// an absolute --folder, or that need the NT family.
void settle_entry_names(std::vector<ArchiveEntry>& entries, const NameSettings& settings);

#endif
