// The longest password the stub takes, shared by the stub, the builder and `tvsfx test`.
// Portable, no Win32: the stub compiles it too.
#ifndef TVSFX_FORMAT_PASSWORD_LIMIT_H
#define TVSFX_FORMAT_PASSWORD_LIMIT_H

// Neither cipher limits the password: the traditional one feeds it byte by byte into its keys,
// and AES hashes it into PBKDF2's HMAC key whatever its length. The limit is the stub's: the
// password dialog reads its edit control into a 255-byte buffer, and -password= takes its
// value into a buffer of the same size, so both carry 254 bytes of the ANSI code page (254
// characters in a single-byte code page). The builder and `tvsfx test` refuse longer ones.
enum {
    PASSWORD_MAX = 254,
    PASSWORD_CAPACITY = PASSWORD_MAX + 1,  // with the terminating NUL
};

// The one character -password="..." cannot carry: its value ends at the first double quote.
#define PASSWORD_SWITCH_QUOTE '"'

#endif
