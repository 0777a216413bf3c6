// Path helpers. Paths are narrow strings in the run's form (wide_api.h) and are scanned
// character by character (next_char), so a trail byte of a double-byte character is never
// taken for a separator. Both "\" and "/" separate when reading; "\" is written.
#ifndef TVSFX_PATHS_H
#define TVSFX_PATHS_H

inline bool is_separator(char c) { return c == '\\' || c == '/'; }
inline bool is_drive_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The last character of a non-empty text (its lead byte for a double-byte character).
const char* last_char(const char* text);
// The text behind the last separator, or the whole path when it has none.
const char* file_name_part(const char* path);
// Removes one trailing separator unless it belongs to a drive root ("C:\"), a lone separator or
// the pair that opens a network path. Returns 1 when it removed one.
int strip_trailing_separator(char* path);

#endif
