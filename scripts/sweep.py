#!/usr/bin/env python3
"""Stub mutation sweep: damages the archives of real self-extractors at random and runs each
under Wine in hidden mode, looking for crashes, hangs and files written outside the target.

    scripts/sweep.sh [--cases N] [--seed S] [--limit SECONDS] [--keep]

Base programs: a few archives from real producers (Python zipfile stored and deflated,
Info-ZIP with folders, 7-Zip Deflate64, the builder's own folder input), each built with
--hidden --overwrite --folder . so a run extracts beside the program without asking.
Each case copies one base program into a folder of its own, damages bytes behind
archive_offset (bit flips; a header field overwritten with 0, 0x7FFFFFFF, 0x80000000,
0xFFFFFFFF or a random value; a cut) and runs it with one Wine test driver:
  clean    the program ended (any of the stub's exit codes 0 to 3)
  box      a message box waits for an answer: the stub refused or asks, which is clean
  unloaded the system refused to load the image (error 193, not a valid program): a cut
           inside the attached section leaves its raw data past the end of the file, and
           the loader checks that before the stub runs, which is clean
  crash    it ended with another code (an exception, an internal error code)
  hang     still running after the time limit, with no box to answer
  outside  a file appeared outside the case's folder
The same seed gives the same cases. Results: build/sweep/report.json and one line per
finding; a finding's damaged program stays in build/sweep/findings/ for replay.
"""

import argparse
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "wine"))

from winebench import (BUILDER, MARKER, RECORD_FIELDS, WINE_KIND, WineSession, quote,  # noqa: E402
                       wine_unavailable_reason, winpath)

WORK = ROOT / "build" / "sweep"
SPECIAL_VALUES = [0, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF]
STUB_EXIT_CODES = {0, 1, 2, 3}

# Field offsets (offset, width) inside each record the stub or a ZIP reader takes apart.
LOCAL_FIELDS = [(4, 2), (6, 2), (8, 2), (10, 2), (12, 2), (14, 4), (18, 4), (22, 4), (26, 2), (28, 2)]
CENTRAL_FIELDS = [(8, 2), (10, 2), (16, 4), (20, 4), (24, 4), (28, 2), (30, 2), (32, 2), (34, 2),
                  (42, 4)]
END_FIELDS = [(4, 2), (6, 2), (8, 2), (10, 2), (12, 4), (16, 4), (20, 2)]


# ---- base programs -----------------------------------------------------------------------------

def make_corpus(folder: Path) -> dict:
    """Input archives and a folder; name -> path."""
    import zipfile
    folder.mkdir(parents=True, exist_ok=True)
    tree = folder / "tree"
    (tree / "sub" / "deeper").mkdir(parents=True, exist_ok=True)
    (tree / "empty").mkdir(exist_ok=True)
    text = "".join(f"line {i} of the sample text\n" for i in range(4000)).encode()
    rng = random.Random(1)
    noise = bytes(rng.getrandbits(8) for _ in range(40000))
    (tree / "text.txt").write_bytes(text)
    (tree / "noise.bin").write_bytes(noise)
    (tree / "sub" / "small.txt").write_bytes(b"small\n")
    (tree / "sub" / "deeper" / "zero.txt").write_bytes(b"")
    inputs = {"folder": tree}
    for name, method in (("stored", zipfile.ZIP_STORED), ("deflate", zipfile.ZIP_DEFLATED)):
        path = folder / f"{name}.zip"
        with zipfile.ZipFile(path, "w", method) as z:
            for file in sorted(tree.rglob("*")):
                z.write(file, file.relative_to(tree).as_posix())
        inputs[name] = path
    if shutil.which("zip"):
        path = folder / "infozip.zip"
        path.unlink(missing_ok=True)
        subprocess.run(["zip", "-q", "-r", str(path), "."], cwd=tree, check=True)
        inputs["infozip"] = path
    if shutil.which("7zz"):
        path = folder / "deflate64.zip"
        path.unlink(missing_ok=True)
        subprocess.run(["7zz", "a", "-tzip", "-mm=Deflate64", str(path), "."], cwd=tree, check=True,
                       stdout=subprocess.DEVNULL)
        inputs["deflate64"] = path
    return inputs


def build_base_programs(inputs: dict, folder: Path) -> dict:
    programs = {}
    for name, source in inputs.items():
        exe = folder / f"{name}.exe"
        subprocess.run([str(BUILDER), "build", "-o", str(exe), "--hidden", "--overwrite", "--folder", ".",
                        str(source)], check=True, stdout=subprocess.DEVNULL)
        programs[name] = exe.read_bytes()
    return programs


# ---- damage ------------------------------------------------------------------------------------

def archive_offset(data: bytes) -> int:
    at = data.find(MARKER)
    offset, fmt = RECORD_FIELDS["archive_offset"]
    return struct.unpack_from(fmt, data, at + offset)[0]


def find_records(data: bytes, start: int) -> list:
    """(offset, fields) of every local header, central header and end record behind start."""
    records = []
    signatures = {b"PK\x03\x04": LOCAL_FIELDS, b"PK\x01\x02": CENTRAL_FIELDS, b"PK\x05\x06": END_FIELDS}
    for signature, fields in signatures.items():
        at = data.find(signature, start)
        while at >= 0:
            records.append((at, fields))
            at = data.find(signature, at + 4)
    return records


def damage(data: bytes, rng: random.Random) -> tuple:
    """A damaged copy and a short description of what was done."""
    data = bytearray(data)
    start = archive_offset(data)
    kind = rng.choice(["bits", "field", "field", "field", "cut"])
    if kind == "bits":
        flips = []
        for _ in range(rng.randint(1, 8)):
            at = rng.randrange(start, len(data))
            bit = rng.randrange(8)
            data[at] ^= 1 << bit
            flips.append(f"{at:#x}.{bit}")
        return bytes(data), "bits " + " ".join(flips)
    if kind == "cut":
        at = rng.randrange(start, len(data))
        return bytes(data[:at]), f"cut at {at:#x}"
    records = find_records(bytes(data), start)
    offset, fields = rng.choice(records)
    field, width = rng.choice(fields)
    value = rng.choice(SPECIAL_VALUES + [rng.getrandbits(32)]) & ((1 << (8 * width)) - 1)
    data[offset + field:offset + field + width] = value.to_bytes(width, "little")
    return bytes(data), f"field {offset:#x}+{field} = {value:#x}"


# ---- running -----------------------------------------------------------------------------------

def snapshot(folders: list) -> set:
    found = set()
    for folder in folders:
        for base, dirs, files in os.walk(folder):
            for name in dirs + files:
                found.add(os.path.join(base, name))
    return found


def run_case(driver, exe: Path, limit: float) -> tuple:
    """Outcome and detail of one run of exe."""
    answer = driver.request(f"start {quote(winpath(exe.parent))} {quote(winpath(exe))}")
    if not answer.get("ok"):
        error = str(answer.get("error"))
        if "error 193" in error:
            return "unloaded", "the loader refused the image (error 193)"
        return "crash", f"did not start: {error}"
    deadline = time.monotonic() + limit
    while True:
        answer = driver.request("wait_exit 250", 1)
        if answer.get("ok"):
            code = answer["exit_code"]
            return ("clean" if code in STUB_EXIT_CODES else "crash"), f"exit code {code}"
        # Hidden mode shows nothing of its own: a visible window is a box or dialog that
        # waits for an answer (an error, an overwrite question, a password or disk prompt).
        shown = [w for w in answer.get("windows", []) if w.get("visible")]
        if shown:
            text = shown[0]["msgbox"]["text"] if "msgbox" in shown[0] else "dialog " + shown[0].get("caption", "")
            driver.request("kill")
            return "box", " ".join(text.split())[:100]
        if time.monotonic() > deadline:
            driver.request("kill")
            return "hang", f"running after {limit:.0f} s"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cases", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--limit", type=float, default=10.0, help="seconds before a run counts as hung")
    args = parser.parse_args()

    reason = wine_unavailable_reason()
    if reason:
        print(f"sweep: Wine does not run here: {reason}", file=sys.stderr)
        return 2
    if WINE_KIND == "64":
        print("sweep: this kernel runs no 32-bit code: the x86-64 build of the stub runs under 64-bit Wine",
              flush=True)
    if WORK.exists():
        shutil.rmtree(WORK)
    (WORK / "findings").mkdir(parents=True)
    inputs = make_corpus(WORK / "corpus")
    programs = build_base_programs(inputs, WORK / "corpus")
    names = sorted(programs)
    print(f"sweep: {args.cases} cases, seed {args.seed}, base programs {', '.join(names)}", flush=True)

    session = WineSession(prefix=ROOT / "build" / "sweep-prefix")
    session.start()
    drive_c = session.prefix / "drive_c"
    (WORK / "cases").mkdir()
    counts = {"clean": 0, "box": 0, "unloaded": 0, "crash": 0, "hang": 0, "outside": 0}
    boxes = {}
    findings = []
    rng = random.Random(args.seed)
    driver = session.driver(WORK / "driver.log")
    started = time.monotonic()
    try:
        # Wine's own files change under drive_c/windows; everything else must stay as it is,
        # and nothing may appear beside a case's folder.
        before = {p for p in snapshot([drive_c, WORK / "cases"]) if "/windows/" not in p}
        for number in range(1, args.cases + 1):
            base = rng.choice(names)
            data, what = damage(programs[base], rng)
            case = WORK / "cases" / f"{number:05d}"
            case.mkdir()
            exe = case / "x.exe"
            exe.write_bytes(data)
            try:
                outcome, detail = run_case(driver, exe, args.limit)
            except Exception as error:  # the driver itself failed: start a new one
                outcome, detail = "hang", f"driver: {error}"
                driver.close()
                driver = session.driver(WORK / "driver.log")
            after = {p for p in snapshot([drive_c, WORK / "cases"]) if "/windows/" not in p}
            outside = sorted(p for p in after - before if not p.startswith(str(case)))
            if outside:
                counts["outside"] += 1
                findings.append({"case": number, "base": base, "damage": what, "outcome": "outside",
                                 "detail": outside[:5]})
                before = after
            counts[outcome] += 1
            if outcome == "box":
                boxes[detail] = boxes.get(detail, 0) + 1
            if outcome in ("crash", "hang"):
                findings.append({"case": number, "base": base, "damage": what, "outcome": outcome,
                                 "detail": detail})
                shutil.copy(exe, WORK / "findings" / f"{number:05d}-{outcome}-{base}.exe")
                print(f"  case {number}: {outcome} ({detail}) {base}: {what}", flush=True)
            shutil.rmtree(case, ignore_errors=True)
            if number % 100 == 0:
                print(f"  {number} cases, {time.monotonic() - started:.0f} s: {counts}", flush=True)
    finally:
        driver.close()
        session.stop()
    report = {"cases": args.cases, "seed": args.seed, "limit": args.limit, "counts": counts,
              "boxes": dict(sorted(boxes.items(), key=lambda x: -x[1])), "findings": findings,
              "seconds": round(time.monotonic() - started)}
    (WORK / "report.json").write_text(json.dumps(report, indent=1, ensure_ascii=False))
    print(f"sweep: {counts} in {report['seconds']} s; report {WORK / 'report.json'}")
    return 1 if counts["crash"] or counts["hang"] or counts["outside"] else 0


if __name__ == "__main__":
    sys.exit(main())
