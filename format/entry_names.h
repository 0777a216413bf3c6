// The rules for entry names that stub and builder share: which names would leave the target
// folder, name a Windows device or a file stream, or hold what Windows does not keep as
// written. Portable, no Win32, no library containers: the stub compiles it too.
//
// Names are bytes in an ANSI code page. In a double-byte code page (932, 936, 949, 950) the
// trail byte of a character may equal '\' or '/', so every scan here steps over whole
// characters with the caller's set of lead bytes: the stub asks the system for it, the builder
// works it out for the code page it writes.
#ifndef TVSFX_FORMAT_ENTRY_NAMES_H
#define TVSFX_FORMAT_ENTRY_NAMES_H

#include <stdint.h>

// Bit b is set when byte b opens a two-byte character. All clear: a single-byte code page.
struct LeadBytes {
    uint8_t bits[32];
};

inline bool is_lead_byte(const LeadBytes* lead, unsigned char c)
{
    return lead != 0 && (lead->bits[c >> 3] >> (c & 7) & 1) != 0;
}

inline void set_lead_byte(LeadBytes* lead, unsigned char c)
{
    lead->bits[c >> 3] = (uint8_t)(lead->bits[c >> 3] | 1 << (c & 7));
}

inline bool is_name_separator(char c) { return c == '\\' || c == '/'; }

// The next character: two bytes after a lead byte, unless the name ends behind it.
const char* next_name_char(const char* p, const LeadBytes* lead);

// What is wrong with a name, the most serious finding first: a name with several faults
// reports the lowest value.
enum NameVerdict {
    NAME_OK = 0,
    // Absolute after its one leading separator is dropped (a network path among them), a
    // drive prefix, or a component of dots alone (blanks aside) with two dots or more.
    NAME_LEAVES_TARGET,
    // A component Windows takes for a device: CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$,
    // CONOUT$, in any case, with any extension, also with blanks before the extension or dots
    // and blanks behind the name ("nul.txt", "Con .log", "aux."). Writing to it writes to
    // the device, not to a file.
    NAME_DEVICE,
    // A ':' that is not a drive prefix: Windows reads "a.txt:x" as the stream x of a.txt.
    NAME_STREAM,
    // < > " | ? * or a control character (1..31), which Windows refuses in file names.
    NAME_FORBIDDEN_CHAR,
    // A component that ends in a dot or a blank ("a.", "b "): Windows drops them, so the file
    // lands under another name, perhaps on another entry's file.
    NAME_TRAILING_DOT_OR_BLANK,
};

// The verdict on a NUL-terminated name; `where`, when given, receives the start of the
// component (or, for a forbidden character, the character) that decided it.
NameVerdict check_entry_name(const char* name, const LeadBytes* lead, const char** where);

// The stub refuses these before it makes anything for an entry; the rest it leaves to
// Windows, whose refusal to create the file ends the run as well.
inline bool stub_refuses_name(NameVerdict verdict)
{
    return verdict == NAME_LEAVES_TARGET || verdict == NAME_DEVICE || verdict == NAME_STREAM;
}

#endif
