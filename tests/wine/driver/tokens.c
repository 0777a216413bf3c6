/* Command line tokens of the test driver.
 *
 * Tokens are separated by blanks. A token that starts with a double quote is a JSON string
 * literal, so the Python side can pass any text (blanks, quotes, line breaks, umlauts) by
 * json.dumps; a bare token ends at the next blank. "key=" followed by a JSON string is one
 * token too (used by the wait conditions), the literal being decoded in place. */
#include "driver.h"

#include <wchar.h>

static int hex_digit(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

/* Decodes the literal starting at *cursor (on the opening quote) into out, which may be the
 * same memory: the decoded text is never longer than the literal. Returns the position
 * after the closing quote, or NULL for a bad escape or a missing quote. */
static wchar_t *decode_literal(wchar_t *cursor, wchar_t *out)
{
    for (cursor++; *cursor != L'"'; cursor++) {
        if (*cursor == 0) return NULL;
        if (*cursor != L'\\') { *out++ = *cursor; continue; }
        cursor++;
        switch (*cursor) {
        case L'"': case L'\\': case L'/': *out++ = *cursor; break;
        case L'b': *out++ = L'\b'; break;
        case L'f': *out++ = L'\f'; break;
        case L'n': *out++ = L'\n'; break;
        case L'r': *out++ = L'\r'; break;
        case L't': *out++ = L'\t'; break;
        case L'u': {
            int code = 0;
            for (int i = 1; i <= 4; i++) {
                int digit = hex_digit(cursor[i]);
                if (digit < 0) return NULL;
                code = code * 16 + digit;
            }
            *out++ = (wchar_t)code;
            cursor += 4;
            break;
        }
        default: return NULL;
        }
    }
    *out = 0;
    return cursor + 1;
}

int split_command(wchar_t *line, Command *cmd)
{
    wchar_t *cursor = line;
    cmd->count = 0;
    for (;;) {
        while (*cursor == L' ') cursor++;
        if (*cursor == 0) return 1;
        if (cmd->count == MAX_TOKENS) return 0;
        wchar_t *start = cursor;
        cmd->token[cmd->count++] = start;
        while (*cursor && *cursor != L' ' && *cursor != L'"') cursor++;
        if (*cursor == L'"') {
            /* The literal follows a key= prefix (or is the whole token): decode it in place
               right behind the prefix. */
            cursor = decode_literal(cursor, cursor);
            if (cursor == NULL) return 0;
            if (*cursor != 0 && *cursor != L' ') return 0;
            wchar_t *after = cursor;
            if (*after == L' ') { *after = 0; cursor = after + 1; }
            else cursor = after;
            continue;
        }
        if (*cursor == L' ') *cursor++ = 0;
    }
}

int parse_number(const wchar_t *text, long long *value)
{
    wchar_t *end = NULL;
    if (text == NULL || *text == 0) return 0;
    *value = wcstoll(text, &end, 0);
    return *end == 0;
}
