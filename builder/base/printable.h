// Paths and messages for the terminal, escaped by the one rule of names.h (escape_text):
// names and paths come from archives and folders made by others, and printed raw an escape
// sequence in one would reach the terminal (and rewrite its title or worse), a NUL would cut
// the message.
#ifndef TVSFX_PRINTABLE_H
#define TVSFX_PRINTABLE_H

#include <string>

// A message or path: control bytes, C1 controls and bytes that are not UTF-8 as \xNN,
// newline, CR and tab as \n, \r, \t; valid UTF-8 stays as it is.
std::string printable(const std::string& text);

// The text in double quotes, '"' and '\' escaped as well; with `bytes_above_ascii` every
// byte from 0x80 too (a stored entry name is in the stub's code page, not the terminal's).
std::string quoted(const std::string& text, bool bytes_above_ascii = false);

#endif
