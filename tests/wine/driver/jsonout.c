/* The driver's JSON answers: one line per command, UTF-8, collected in one buffer. */
#include "driver.h"

#include <stdio.h>
#include <string.h>

/* Room for the largest answer: a wait time-out lists every window with its controls and
 * their texts; 64 windows of 30 controls with 300-byte texts stay far below 1 MiB. */
enum { ANSWER_CAPACITY = 1 << 20 };

static char answer[ANSWER_CAPACITY];
static size_t answer_length;
static int answer_overflow;
static int need_comma;

static void put_raw(const char *text, size_t length)
{
    if (answer_length + length >= ANSWER_CAPACITY) { answer_overflow = 1; return; }
    memcpy(answer + answer_length, text, length);
    answer_length += length;
}

static void put_text(const char *text) { put_raw(text, strlen(text)); }

/* Comma and key in front of every value. */
static void begin_value(const char *key)
{
    if (need_comma) put_raw(",", 1);
    if (key) {
        put_raw("\"", 1);
        put_text(key);
        put_raw("\":", 2);
    }
    need_comma = 1;
}

void json_reset(void)
{
    answer_length = 0;
    answer_overflow = 0;
    need_comma = 0;
}

void json_open_object(const char *key) { begin_value(key); put_raw("{", 1); need_comma = 0; }
void json_close_object(void) { put_raw("}", 1); need_comma = 1; }
void json_open_array(const char *key) { begin_value(key); put_raw("[", 1); need_comma = 0; }
void json_close_array(void) { put_raw("]", 1); need_comma = 1; }

void json_int(const char *key, long long value)
{
    char digits[32];
    begin_value(key);
    snprintf(digits, sizeof digits, "%lld", value);
    put_text(digits);
}

void json_bool(const char *key, int value)
{
    begin_value(key);
    put_text(value ? "true" : "false");
}

/* Escapes UTF-8 text: quote, backslash and control characters; the rest passes as is. */
static void put_escaped(const char *text)
{
    put_raw("\"", 1);
    for (const unsigned char *c = (const unsigned char *)text; *c; c++) {
        char escape[8];
        if (*c == '"' || *c == '\\') {
            escape[0] = '\\';
            escape[1] = (char)*c;
            put_raw(escape, 2);
        } else if (*c < 0x20) {
            snprintf(escape, sizeof escape, "\\u%04x", *c);
            put_text(escape);
        } else {
            put_raw((const char *)c, 1);
        }
    }
    put_raw("\"", 1);
}

void json_utf8(const char *key, const char *text)
{
    begin_value(key);
    put_escaped(text);
}

/* length -1 means NUL-terminated. */
void json_wide(const char *key, const wchar_t *text, int length)
{
    static char utf8[3 * 65536 + 1];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, utf8, sizeof utf8 - 1, NULL, NULL);
    if (bytes < 0) bytes = 0;
    utf8[bytes] = 0;
    if (length < 0 && bytes > 0) utf8[bytes - 1] = 0; /* the converted terminator */
    json_utf8(key, utf8);
}

void json_rect(const char *key, const RECT *rect)
{
    json_open_array(key);
    json_int(NULL, rect->left);
    json_int(NULL, rect->top);
    json_int(NULL, rect->right);
    json_int(NULL, rect->bottom);
    json_close_array();
}

static void write_line(const char *text, size_t length)
{
    fwrite(text, 1, length, stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

void json_emit(void)
{
    if (answer_overflow) {
        static const char overflow[] = "{\"ok\":false,\"error\":\"answer too long\"}";
        write_line(overflow, sizeof overflow - 1);
    } else {
        write_line(answer, answer_length);
    }
    json_reset();
}

void answer_error(const char *text)
{
    json_reset();
    json_open_object(NULL);
    json_bool("ok", 0);
    json_utf8("error", text);
    json_close_object();
    json_emit();
}
