// The rules for entry names that stub and builder share: which names would leave the target
// folder, name a Windows device or a file stream, or hold what Windows does not keep as
// written. Portable, no Win32, no library containers: the stub compiles it too.
//
// Names are bytes in an ANSI code page, and two things of it matter here, both given by the
// caller in a NameCodePage: the stub asks the system for them, the builder works them out for
// the code page it writes. In a double-byte code page (932, 936, 949, 950) the trail byte of a
// character may equal '\' or '/', so every scan steps over whole characters with the code
// page's lead bytes. And Windows counts the superscript digits as digits of COM and LPT
// devices, so the rules must know which bytes spell them.
#ifndef TVSFX_FORMAT_ENTRY_NAMES_H
#define TVSFX_FORMAT_ENTRY_NAMES_H

#include <stdint.h>

// The superscript digits Windows takes for the device numbers 1, 2 and 3 ("COM\u00B9" is COM1):
// U+00B9, U+00B2, U+00B3.
const uint16_t SUPERSCRIPT_DIGITS[3] = {0x00B9, 0x00B2, 0x00B3};
enum { SUPERSCRIPT_CAPACITY = 3 };  // one or two bytes of a character in an ANSI code page, NUL

// What the name rules need to know of the code page the names are in. All zero: a single-byte
// code page without superscript digits (the names' bytes as they stand).
struct NameCodePage {
    // Bit b is set when byte b opens a two-byte character.
    uint8_t lead_bits[32];
    // SUPERSCRIPT_DIGITS in the code page, NUL-terminated; empty where the code page lacks one
    // (code page 1250 has none: its 0xB9 is a letter).
    char superscripts[3][SUPERSCRIPT_CAPACITY];
};

inline bool is_lead_byte(const NameCodePage* page, unsigned char c)
{
    return page != 0 && (page->lead_bits[c >> 3] >> (c & 7) & 1) != 0;
}

inline void set_lead_byte(NameCodePage* page, unsigned char c)
{
    page->lead_bits[c >> 3] = (uint8_t)(page->lead_bits[c >> 3] | 1 << (c & 7));
}

inline bool is_name_separator(char c) { return c == '\\' || c == '/'; }

// The next character: two bytes after a lead byte, unless the name ends behind it.
const char* next_name_char(const char* p, const NameCodePage* page);

// What is wrong with a name, the most serious finding first: a name with several faults
// reports the lowest value.
enum NameVerdict {
    NAME_OK = 0,
    // Absolute after its one leading separator is dropped (a network path among them), a
    // drive prefix, or a component of dots alone (blanks aside) with two dots or more.
    NAME_LEAVES_TARGET,
    // A component Windows takes for a device: CON, PRN, AUX, NUL, COM0-9, LPT0-9 (also with
    // a superscript 1, 2 or 3 for the digit), CONIN$, CONOUT$, in any case, with any extension, also with blanks before the extension or dots
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
NameVerdict check_entry_name(const char* name, const NameCodePage* page, const char** where);

// The stub refuses these before it makes anything for an entry; the rest it leaves to
// Windows, whose refusal to create the file ends the run as well.
inline bool stub_refuses_name(NameVerdict verdict)
{
    return verdict == NAME_LEAVES_TARGET || verdict == NAME_DEVICE || verdict == NAME_STREAM;
}

#endif
