// The rules every text given on the command line follows, whatever it becomes (a field of the
// configuration block, a version string, the licence page, the password): valid UTF-8, no
// control character, and a length counted in the unit its limit is in and reported in that
// same unit. One place, so no option lets through what another refuses.
#ifndef TVSFX_OPTION_TEXT_H
#define TVSFX_OPTION_TEXT_H

#include <string>

enum TextLines {
    ONE_LINE,    // shown on one line: no line break or tab either
    MULTI_LINE,  // message box texts and the licence: tab, CR and LF are fine
};

// A description of the first control character in `text` (C0 but the line breaks that
// `lines` allows, DEL, C1 U+0080-U+009F, U+2028 and U+2029), such as "U+0085", or "" when it
// has none. With `raw_bytes` the text is bytes of some code page: only C0 and DEL are known
// to be controls there.
std::string find_control_character(const std::string& text, TextLines lines, bool raw_bytes = false);

// Fails unless `text` is valid UTF-8 (with `raw_bytes` anything goes) without a control
// character, naming `option` ("--title").
void check_text_characters(const std::string& option, const std::string& text, TextLines lines,
                           bool raw_bytes = false);

// Fails when `count` exceeds `limit`, in one wording for every option:
// "--title has 65 bytes in code page CP1252; the stub takes at most 64".
void check_text_length(const std::string& option, size_t count, size_t limit, const std::string& unit,
                       const std::string& holder);

// Characters (Unicode code points) in valid UTF-8.
size_t count_characters(const std::string& utf8);

// The password as the stub compares it: its bytes in `codepage`. Fails (naming --password)
// when it is empty, not UTF-8, holds a control character or is longer than the stub takes.
std::string settle_password(const std::string& given, const std::string& codepage);

// Warns about a password the stub takes but other tools or -password= may not; `aes` when
// the builder encrypts with AES.
void warn_about_password(const std::string& given, const std::string& codepage, bool aes);

#endif
