// Paths, names and messages for the terminal, escaped by one rule (escape_text):
// names and paths come from archives and folders made by others, and printed raw an escape
// sequence in one would reach the terminal (and rewrite its title or worse), a NUL would cut
// the message.
#ifndef TVSFX_PRINTABLE_H
#define TVSFX_PRINTABLE_H

#include <string>

// The one escaping rule for everything the builder prints (names, paths, messages): control
// bytes, C1 controls and bytes that are not UTF-8 become \xNN, so no escape sequence reaches
// the terminal and a NUL does not cut the text. The flags escape more.
enum EscapeFlags : unsigned {
    ESCAPE_QUOTE = 1,           // '"' as \"
    ESCAPE_BACKSLASH = 2,       // '\' as \\ (so the escapes read back unambiguously)
    ESCAPE_NAMED_CONTROLS = 4,  // newline, CR and tab as \n, \r, \t
    ESCAPE_ALL_HIGH = 8,        // every byte from 0x80 (bytes in the stub's code page, not UTF-8)
};
std::string escape_text(const std::string& bytes, unsigned how);

// A name for a terminal: escape_text with '"' escaped.
std::string printable_name(const std::string& bytes);

// A message or path: control bytes, C1 controls and bytes that are not UTF-8 as \xNN,
// newline, CR and tab as \n, \r, \t; valid UTF-8 stays as it is.
std::string printable(const std::string& text);

// The text in double quotes, '"' and '\' escaped as well; with `bytes_above_ascii` every
// byte from 0x80 too (a stored entry name is in the stub's code page, not the terminal's).
std::string quoted(const std::string& text, bool bytes_above_ascii = false);

#endif
