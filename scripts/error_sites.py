#!/usr/bin/env python3
"""Lists the stub's error site numbers from its sources.

Internal-error sites: the fixed numbers the stub shows as "Tarvel internal error in file
sfxhead line N" (and writes into TVSFX32.RPT). They are the literal numbers passed to the
functions below; a number a function returns (platform_line_number) counts too.
Read-error codes: the READ_ERROR_* values shown as " <code>" behind the read-failure message.

    scripts/error_sites.py            the table of sfxhead/SITES.md (markdown)
    scripts/error_sites.py --numbers  one internal-error site number per line, sorted

tests/unit/stub/test_error_sites.py checks sfxhead/SITES.md against it.
"""

import re
import sys
from collections import defaultdict
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
SOURCE_FOLDERS = ("sfxhead", "meter")  # with every folder below them

# function -> positions of its arguments that carry a site number (0-based)
SITE_ARGUMENTS = {
    "internal_error_at": (0,),
    "internal_error": (1,),
    "copy_checked": (3,),
    "append_checked": (3,),
    "append_separator": (2,),
    "format_checked": (2, 3),
    "fatal_message": (0, 1),
    "write_report_line": (1,),
    "assemble_signature": (2,),
    "report_start_failure": (2,),
    "store_text": (3,),
    "check_text_length": (2,),
}
WHAT = {
    "internal_error_at": "raised directly",
    "internal_error": "raised directly",
    "copy_checked": "copy too long",
    "append_checked": "append too long",
    "append_separator": "separator append too long",
    "format_checked": ("format failed", "format too long"),
    "fatal_message": ("message format failed", "message too long"),
    "write_report_line": "report line too long",
    "assemble_signature": "signature copy too long",
    "report_start_failure": "command-failed message too long",
    "store_text": "configuration text too long",
    "check_text_length": "text too long in characters",
}


def strip_comments_and_strings(text: str) -> str:
    """Blanks comments and string/char literals, keeping offsets (and so line numbers)."""
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
    return pattern.sub(lambda m: re.sub(r"[^\n]", " ", m.group()), text)


def split_arguments(text: str, start: int) -> tuple[list[str], int]:
    """Arguments of the call whose "(" is at start; returns them and the offset after ")"."""
    depth, args, current = 0, [], start + 1
    for i in range(start, len(text)):
        c = text[i]
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                args.append(text[current:i])
                return [a.strip() for a in args], i + 1
        elif c == "," and depth == 1:
            args.append(text[current:i])
            current = i + 1
    raise ValueError("unbalanced call")


def function_bodies(text: str) -> dict:
    """name -> body of each function defined at file level (a rough C++ reader)."""
    bodies = {}
    for m in re.finditer(r"^[A-Za-z_][\w:<>*& ]*?\b(\w+)\s*\([^;{]*\)\s*\{", text, re.M):
        depth, i = 0, m.end() - 1
        for j in range(i, len(text)):
            depth += {"{": 1, "}": -1}.get(text[j], 0)
            if depth == 0:
                bodies[m.group(1)] = (m.start(), text[i:j + 1])
                break
    return bodies


def enclosing_function(bodies: dict, offset: int) -> str:
    best = ""
    for name, (start, body) in bodies.items():
        if start <= offset < start + len(body) + 200 and start <= offset:
            if not best or start > bodies[best][0]:
                best = name
    return best


def internal_error_sites() -> list[tuple[int, str, str, str]]:
    """(number, file, function, what) for every site, in source order."""
    sites = []
    for folder in SOURCE_FOLDERS:
        for path in sorted((ROOT / folder).rglob("*.cpp")):
            text = strip_comments_and_strings(path.read_text(encoding="utf-8"))
            bodies = function_bodies(text)
            for m in re.finditer(r"\b(\w+)\s*\(", text):
                name = m.group(1)
                if name not in SITE_ARGUMENTS or text[:m.start()].rstrip().endswith(("void", "int")):
                    continue
                args, _ = split_arguments(text, m.end() - 1)
                where = enclosing_function(bodies, m.start())
                for index, position in enumerate(SITE_ARGUMENTS[name]):
                    if position >= len(args):
                        continue
                    what = WHAT[name] if isinstance(WHAT[name], str) else WHAT[name][index]
                    for number in numbers_of(args[position], bodies):
                        sites.append((number, path.relative_to(ROOT).as_posix(), where, f"{name}: {what}"))
    return sites


def numbers_of(argument: str, bodies: dict) -> list[int]:
    """Literal numbers in an argument; a call f() gives the numbers f returns."""
    call = re.fullmatch(r"(\w+)\s*\(\s*\)", argument)
    if call and call.group(1) in bodies:
        body = bodies[call.group(1)][1]
        return [int(n) for n in re.findall(r"(?:\breturn|\?|:)\s*(\d+)\b", body)]
    return [int(n) for n in re.findall(r"(?<![\w.])(\d+)(?![\w.])", argument)]


def read_error_codes() -> list[tuple[int, str]]:
    text = (ROOT / "sfxhead" / "pipeline" / "reader.h").read_text(encoding="utf-8")
    return [(int(v), n) for n, v in re.findall(r"\b(READ_ERROR_\w+)\s*=\s*(\d+)", text)]


def table() -> str:
    sites = internal_error_sites()
    by_number = defaultdict(list)
    for site in sites:
        by_number[site[0]].append(site)
    lines = ["| site | file | function | raised when |", "|---:|---|---|---|"]
    for number in sorted(by_number):
        uses = sorted(set(by_number[number]))
        for _, file, function, what in uses:
            lines.append(f"| {number} | `{file}` | `{function}` | {what} |")
    lines += ["", "| read-error code | name |", "|---:|---|"]
    lines += [f"| {code} | `{name}` |" for code, name in sorted(read_error_codes())]
    return "\n".join(lines)


def main() -> None:
    if sys.argv[1:] == ["--numbers"]:
        print("\n".join(str(n) for n in sorted({s[0] for s in internal_error_sites()})))
    else:
        print(table())


if __name__ == "__main__":
    main()
