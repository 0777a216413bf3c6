#!/usr/bin/env python3
"""Builds the stub's resource data: resource_data.cpp and the application icon.

resource_data.cpp defines what resource_data.h declares, once per language (German from
messages.txt, usage.txt and fixed_texts.txt; English from the *_en.txt files beside them):
  - the message table: the offsets of the 54 texts and of the main dialog template, and one raw
    Deflate stream of the texts (code page 850, each NUL-terminated) followed by the template;
  - the password and the licence dialog templates, each as a raw Deflate stream;
  - the usage box (code page 850, NUL-terminated) as another raw Deflate stream;
  - the fixed texts in Windows-1252;
and the table text_sets that gathers each language's set. The German data keep their names and
bytes whether or not other languages exist: a package in German is the same program as before.

The stub's image must not hold a ZIP record signature or the stub record's marker anywhere
before the real ones: the archive walk and the checksum's marker scan take the first match.
Every byte array written here is checked for them; a compressed stream that contains one is
made again with other settings, and data that cannot avoid one stops the build.

Usage: gen_resources.py RESOURCE_DIR OUT_DIR
"""

import os
import re
import sys
import zlib

import dialog_templates
import icon

MESSAGE_TEXT_COUNT = 54          # ids 0..53; id 54 is the main dialog template
FIXED_TEXT_NAMES = ("caption", "header_error", "no_memory", "no_memory_resources",
                    "product_info", "report_notice", "log_message", "log_file", "log_end",
                    "log_license", "log_at_restart", "log_not_removed", "log_not_empty",
                    "log_link", "log_replaced", "log_gone", "log_folder", "split_missing", "split_damaged")
# The fixed texts that every language has in its own words; the others are the same for all
# (caption, English internal-error texts) or never shown (no_memory).
LANGUAGE_TEXT_NAMES = ("header_error", "product_info", "log_message", "log_file", "log_end",
                       "log_license", "log_at_restart", "log_not_removed", "log_not_empty", "log_link",
                       "log_replaced", "log_gone", "log_folder", "split_missing", "split_damaged")

# The languages in the order of the stub's Language enum: name, suffix of their files and of
# their C++ names. German comes first and has no suffix: its names are those of old.
LANGUAGES = (("German", ""), ("English", "_en"))

# The loaded table is a 6117-byte block with two guard bytes at 6115 and 6116. The entry function
# copies 1024 bytes from the template's offset, so text part + 1024 must stay below the guards.
MESSAGE_BLOCK_GUARD_OFFSET = 6115
MAIN_TEMPLATE_COPY_SIZE = 1024
PASSWORD_TEMPLATE_BLOCK_SIZE = 600
# The stub inflates the usage text into a buffer of this size that keeps one zero byte at its end.
USAGE_TEXT_CAPACITY = 1024

FORBIDDEN_SEQUENCES = {
    "local header signature": b"PK\x03\x04",
    "central header signature": b"PK\x01\x02",
    "end record signature": b"PK\x05\x06",
    "digital signature record": b"PK\x05\x05",
    "single-volume marker": b"PK00",
    "spanning marker": b"PK\x07\x08",
    "stub record marker": b"TVK\x01sfx\x02",
}

# Raw Deflate settings, best first: (level, memory level, strategy).
DEFLATE_SETTINGS = [(level, mem_level, strategy)
                    for level in (9, 8, 7, 6)
                    for strategy in (zlib.Z_DEFAULT_STRATEGY, zlib.Z_FILTERED, zlib.Z_FIXED)
                    for mem_level in (9, 8)]

LINE_PATTERN = re.compile(r'^\s*(\S+)\s+"(.*)"\s*$')


def fail(text):
    sys.exit("gen_resources: " + text)


def unescape(text, where):
    """Turns \\n into a line feed and \\\\ into one backslash; any other escape is an error."""
    parts = re.split(r"(\\.?)", text)
    for index in range(1, len(parts), 2):
        if parts[index] not in ("\\n", "\\\\"):
            fail(where + ": only \\n and \\\\ may follow a backslash")
        parts[index] = "\n" if parts[index] == "\\n" else "\\"
    return "".join(parts)


def read_entries(path):
    """(key, text) for every non-comment line of a texts file, in file order."""
    entries = []
    with open(path, encoding="utf-8") as source:
        for number, line in enumerate(source, 1):
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            match = LINE_PATTERN.match(line.rstrip("\n"))
            where = "%s:%d" % (os.path.basename(path), number)
            if not match:
                fail(where + ": expected a key and a text in double quotes")
            entries.append((match.group(1), unescape(match.group(2), where)))
    return entries


def read_messages(path):
    entries = read_entries(path)
    ids = [key for key, _ in entries]
    if ids != [str(i) for i in range(MESSAGE_TEXT_COUNT)]:
        fail("%s must list the ids 0..%d once each, in order" % (path, MESSAGE_TEXT_COUNT - 1))
    return [text for _, text in entries]


def read_fixed_texts(path, names=FIXED_TEXT_NAMES):
    texts = dict(read_entries(path))
    if sorted(texts) != sorted(names):
        fail("%s must define exactly: %s" % (path, ", ".join(names)))
    return texts


def read_usage(path):
    """The usage box: every line that is not a comment, joined by line feeds."""
    with open(path, encoding="utf-8") as source:
        lines = [line.rstrip("\n") for line in source if not line.startswith("#")]
    text = "\n".join(lines).strip("\n")
    data = encode_text(text, "cp850", "usage") + b"\0"
    if "%" in text or len(data) > USAGE_TEXT_CAPACITY - 1:
        fail("the usage text must hold no %% and fit %d bytes" % (USAGE_TEXT_CAPACITY - 2))
    return data


def encode_text(text, codec, name):
    if "\0" in text or "\r" in text:
        fail("%s: texts hold no NUL and no carriage return" % name)
    try:
        return text.encode(codec)
    except UnicodeEncodeError as error:
        fail("%s: %r has no %s form" % (name, text[error.start:error.end], codec))


def find_forbidden(data):
    for name, sequence in FORBIDDEN_SEQUENCES.items():
        if sequence in data:
            return name
    return None


def require_clean(data, name):
    found = find_forbidden(data)
    if found:
        fail("%s contains the %s" % (name, found))


def deflate_raw(data, level, mem_level, strategy):
    encoder = zlib.compressobj(level, zlib.DEFLATED, -15, mem_level, strategy)
    return encoder.compress(data) + encoder.flush()


def inflates_to(stream, data):
    decoder = zlib.decompressobj(-15)
    return decoder.decompress(stream) == data and decoder.eof and not decoder.unused_data


def compress_clean(data, name):
    """The first raw Deflate stream, best settings first, that holds no forbidden sequence."""
    for settings in DEFLATE_SETTINGS:
        stream = deflate_raw(data, *settings)
        if not find_forbidden(stream):
            if not inflates_to(stream, data):
                fail("%s does not inflate back to its data" % name)
            return stream
    fail("every tried Deflate setting puts a forbidden sequence into " + name)


def build_checked_template(dialog, expected_size, name):
    """The template; expected_size None: any size (the limits are checked on their own)."""
    template = dialog_templates.build_template(dialog)
    if expected_size is not None and len(template) != expected_size:
        fail("the %s dialog template is %d bytes, not %d" % (name, len(template), expected_size))
    return template


def build_message_data(texts, main_dialog=dialog_templates.MAIN_DIALOG,
                       main_size=dialog_templates.MAIN_TEMPLATE_SIZE):
    """The table's decompressed bytes and the 55 offsets (54 texts, then the template)."""
    data = bytearray()
    offsets = []
    for number, text in enumerate(texts):
        offsets.append(len(data))
        data += encode_text(text, "cp850", "message %d" % number) + b"\0"
    offsets.append(len(data))
    data += build_checked_template(main_dialog, main_size, "main")
    return bytes(data), offsets


def check_limits(data, offsets, main_template_size, password_template_size,
                 license_template_size=0):
    text_size = offsets[MESSAGE_TEXT_COUNT]
    if text_size + MAIN_TEMPLATE_COPY_SIZE > MESSAGE_BLOCK_GUARD_OFFSET:
        fail("text part of %d bytes leaves no room for the %d-byte template copy"
             % (text_size, MAIN_TEMPLATE_COPY_SIZE))
    if len(data) > MESSAGE_BLOCK_GUARD_OFFSET:
        fail("message data of %d bytes reaches the guard bytes" % len(data))
    if main_template_size > MAIN_TEMPLATE_COPY_SIZE:
        fail("main dialog template is larger than its %d-byte copy" % MAIN_TEMPLATE_COPY_SIZE)
    if password_template_size > PASSWORD_TEMPLATE_BLOCK_SIZE:
        fail("password dialog template is larger than its %d-byte block"
             % PASSWORD_TEMPLATE_BLOCK_SIZE)
    if license_template_size > PASSWORD_TEMPLATE_BLOCK_SIZE:
        fail("licence dialog template is larger than its %d-byte block"
             % PASSWORD_TEMPLATE_BLOCK_SIZE)


def check_not_longer(texts, german, name):
    """Another language's text may not be longer than the German one: the buffers, limits and
    internal-error lengths are worked out for the German texts."""
    for key, text in texts.items():
        if len(text) > len(german[key]):
            fail("%s %s is %d characters, longer than the German text's %d"
                 % (name, key, len(text), len(german[key])))


# --- C++ output ------------------------------------------------------------------------------

def byte_rows(data, indent="    ", per_row=16):
    rows = []
    for start in range(0, len(data), per_row):
        rows.append(indent + ", ".join("0x%02x" % b for b in data[start:start + per_row]) + ",")
    return "\n".join(rows)


def word_rows(values, per_row=8):
    rows = []
    for start in range(0, len(values), per_row):
        rows.append("    " + ", ".join("%5d" % v for v in values[start:start + per_row]) + ",")
    return "\n".join(rows)


def c_string(data):
    """A string literal; octal escapes, because a hex escape would swallow following digits."""
    out = []
    for b in data:
        if b == 0x0A:
            out.append("\\n")
        elif b in (0x22, 0x5C):
            out.append("\\" + chr(b))
        elif 0x20 <= b < 0x7F and b != 0x3F:  # "?" escaped: no trigraphs
            out.append(chr(b))
        else:
            out.append("\\%03o" % b)
    return '"' + "".join(out) + '"'


def render_language(names, suffix, language):
    """The arrays and fixed texts of one language. German (no suffix) keeps the names that
    resource_data.h declares; the others' arrays are internal and reached through text_sets."""
    storage = "" if not suffix else "static "
    lines = [
        "// --- %s " % language["name"] + "-" * (88 - len(language["name"])),
        "%sconst uint32_t message_offsets%s[MESSAGE_OFFSET_COUNT] = {" % (storage, suffix),
        word_rows(language["offsets"]),
        "};",
        "",
    ]
    for blob in ("message_blob", "password_template_blob", "usage_blob", "license_template_blob"):
        data = language[blob]
        lines += ["%sconst uint8_t %s%s[%d] = {" % (storage, blob, suffix, len(data)), byte_rows(data), "};"]
        if not suffix:
            lines.append("const uint32_t %s_size = %d;" % (blob, len(data)))
    if not suffix:
        lines += [
            "const uint32_t message_data_size = %d;" % language["data_size"],
            "const uint32_t main_template_size = %d;" % language["main_template_size"],
            "const uint32_t password_template_size = %d;" % language["password_template_size"],
        ]
    for name in names:
        # The literal's own NUL terminates the text.
        lines.append("%sconst char text_%s%s[] = %s;"
                     % (storage, name, suffix, c_string(language["fixed"][name][:-1])))
    return lines + [""]


def render_text_set(suffix, language):
    def sized(blob):
        return "%s%s, %d" % (blob, suffix, len(language[blob]))
    return ["    {",
            "        message_offsets%s, %s, %d, %d," % (suffix, sized("message_blob"), language["data_size"],
                                                       language["main_template_size"]),
            "        %s, %d," % (sized("password_template_blob"), language["password_template_size"]),
            "        %s," % sized("usage_blob"),
            "        %s, %d," % (sized("license_template_blob"), language["license_template_size"]),
            "        " + ", ".join("text_%s%s" % (name, suffix) for name in LANGUAGE_TEXT_NAMES) + ",",
            "    },"]


def render_cpp(languages):
    lines = [
        "// Generated by gen_resources.py from messages*.txt, fixed_texts*.txt, usage*.txt and the",
        "// dialog tables in dialog_templates.py. Edit those, not this file.",
        '#include "resource_data.h"',
        "",
    ]
    for (name, suffix), language in zip(LANGUAGES, languages):
        names = FIXED_TEXT_NAMES if not suffix else LANGUAGE_TEXT_NAMES
        lines += render_language(names, suffix, dict(language, name=name))
    lines.append("const TextSet text_sets[LANGUAGE_COUNT] = {")
    for (_, suffix), language in zip(LANGUAGES, languages):
        lines += render_text_set(suffix, language)
    lines.append("};")
    return "\n".join(lines) + "\n"


def offsets_as_bytes(offsets):
    return b"".join(v.to_bytes(4, "little") for v in offsets)


def write_file(path, content):
    with open(path, "wb") as target:
        target.write(content)


# Per language: its files and dialogs, and the sizes its German dialogs must have (None: any).
LANGUAGE_SOURCES = {
    "": ("messages.txt", "usage.txt", "fixed_texts.txt",
         dialog_templates.MAIN_DIALOG, dialog_templates.MAIN_TEMPLATE_SIZE,
         dialog_templates.PASSWORD_DIALOG, dialog_templates.PASSWORD_TEMPLATE_SIZE,
         dialog_templates.LICENSE_DIALOG),
    "_en": ("messages_en.txt", "usage_en.txt", "fixed_texts_en.txt",
            dialog_templates.MAIN_DIALOG_EN, None,
            dialog_templates.PASSWORD_DIALOG_EN, None,
            dialog_templates.LICENSE_DIALOG_EN),
}


def build_language(resource_dir, suffix, german):
    """Everything one language puts into the image; german is the German language's result
    (None while building German itself)."""
    (messages_name, usage_name, fixed_name, main_dialog, main_size,
     password_dialog, password_size, license_dialog) = LANGUAGE_SOURCES[suffix]
    texts = read_messages(os.path.join(resource_dir, messages_name))
    names = FIXED_TEXT_NAMES if not suffix else LANGUAGE_TEXT_NAMES
    fixed = read_fixed_texts(os.path.join(resource_dir, fixed_name), names)
    if german is not None:
        check_not_longer(dict(enumerate(texts)), dict(enumerate(german["texts"])), "message")
        check_not_longer(fixed, german["fixed_texts"], "fixed text")
    data, offsets = build_message_data(texts, main_dialog, main_size)
    main_template_size = len(data) - offsets[MESSAGE_TEXT_COUNT]
    password_template = build_checked_template(password_dialog, password_size, "password")
    license_template = build_checked_template(license_dialog, None, "licence")
    check_limits(data, offsets, main_template_size, len(password_template), len(license_template))
    fixed_encoded = {name: encode_text(fixed[name], "cp1252", name) + b"\0" for name in names}
    for name, encoded in fixed_encoded.items():
        require_clean(encoded, "text_%s%s" % (name, suffix))
    require_clean(offsets_as_bytes(offsets), "message_offsets" + suffix)
    return {
        "texts": texts, "fixed_texts": fixed, "fixed": fixed_encoded, "offsets": offsets,
        "data_size": len(data), "main_template_size": main_template_size,
        "password_template_size": len(password_template),
        "license_template_size": len(license_template),
        "message_blob": compress_clean(data, "the message blob" + suffix),
        "password_template_blob": compress_clean(password_template, "the password template blob" + suffix),
        "usage_blob": compress_clean(read_usage(os.path.join(resource_dir, usage_name)), "the usage blob" + suffix),
        "license_template_blob": compress_clean(license_template, "the licence template blob" + suffix),
    }


def main(argv):
    if len(argv) != 3:
        fail("usage: gen_resources.py RESOURCE_DIR OUT_DIR")
    resource_dir, out_dir = argv[1:]
    languages = []
    for _, suffix in LANGUAGES:
        languages.append(build_language(resource_dir, suffix, languages[0] if languages else None))
    icon_data = icon.build_icon()
    require_clean(icon_data, "the icon")

    os.makedirs(out_dir, exist_ok=True)
    write_file(os.path.join(out_dir, "resource_data.cpp"), render_cpp(languages).encode("ascii"))
    write_file(os.path.join(out_dir, "tarvel.ico"), icon_data)
    for (name, _), language in zip(LANGUAGES, languages):
        print("resources (%s): messages %d -> %d bytes (template at %d), password template %d -> %d "
              "bytes, usage -> %d bytes, licence template %d -> %d bytes"
              % (name, language["data_size"], len(language["message_blob"]),
                 language["offsets"][MESSAGE_TEXT_COUNT], language["password_template_size"],
                 len(language["password_template_blob"]), len(language["usage_blob"]),
                 language["license_template_size"], len(language["license_template_blob"])))


if __name__ == "__main__":
    main(sys.argv)
