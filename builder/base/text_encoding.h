// The stub shows and uses every text byte for byte in the Windows ANSI code page; the
// builder's arguments and file names arrive in UTF-8. Texts are converted here once.
#ifndef TVSFX_TEXT_ENCODING_H
#define TVSFX_TEXT_ENCODING_H

#include <string>

// The code page for German Windows, the stub's audience.
#define DEFAULT_CODEPAGE "CP1252"
// The OEM code page of archives made on MS-DOS, Windows or OS/2 without a UTF-8 flag: what
// the Windows Explorer and old zip programs write on a US system.
#define DEFAULT_INPUT_CODEPAGE "CP437"
// Passes texts through unchanged.
#define RAW_CODEPAGE "raw"

bool is_valid_utf8(const std::string& text);
bool is_ascii(const std::string& text);

// Converts UTF-8 `text` to `codepage` (an iconv name such as CP1252 or CP1250). Text that
// is not valid UTF-8 is taken to be in the target code page already and kept. A character
// the code page lacks fails with a message naming `what`.
std::string to_stub_codepage(const std::string& text, const std::string& codepage, const std::string& what);

// Whether to_stub_codepage takes `text` as it stands (it holds every character exactly).
bool fits_codepage(const std::string& text, const std::string& codepage);

// UTF-8 to UTF-16 and back, through ICU; text that is not valid fails (the caller checks first).
std::u16string to_utf16(const std::string& utf8);
std::string to_utf8(const std::u16string& text);

// Checks once, up front, that iconv knows the code page.
void check_codepage(const std::string& codepage);

// Checks once, up front, that the stub can run under `codepage` (the value of `option`):
// a single- or double-byte code page that keeps ASCII, or raw. Fails naming what is wrong.
void check_stub_codepage(const std::string& codepage, const std::string& option);

#endif
