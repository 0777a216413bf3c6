"""Wine test bench: runs Windows programs under Wine and observes and drives their windows.

The pieces:
- WineSession: one per pytest run. A display (its own Xvfb unless DISPLAY is set), a fresh
  Wine prefix under build/, a persistent wineserver, the Win32 test programs.
- Driver: one tvdriver.exe process (tests/wine/driver), spoken to line by line.
- Run: one started program with its driver: windows, waits, input, exit code.
- Window / MessageBox / Control: snapshots of what the driver saw, with actions.
- Bench: the per-test helper (fixture `bench`): builds self-extractors, starts programs,
  compares trees, patches stub records, mounts floppies.
"""

from __future__ import annotations

import json
import os
import queue
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
import zipfile
import zlib
from dataclasses import dataclass, field
from pathlib import Path
from typing import Iterable
from xml.sax.saxutils import escape as xml_escape

REPO = Path(__file__).resolve().parents[2]
BUILD = REPO / "build"
DRIVER_SOURCES = Path(__file__).resolve().parent / "driver"
TEST_PROGRAMS = ("tvdriver", "argecho", "tvmsgbox", "tvdialog", "verinfo")

BOX_CAPTION = "Tarvel Self-Extractor"

# The real 32-bit stub under the user-mode emulator (scripts/i386-emulator.sh run, which sets
# TVSFX_I386_EMULATOR): asked for with TVSFX_WINE=32emu.
EMULATED = os.environ.get("TVSFX_WINE") == "32emu"

# The emulator translates every 32-bit instruction, the test programs' and Wine's own DLLs'
# included: every wait of the bench, and every message the driver sends the program under
# test, gets this many times as long there.
TIME_FACTOR = 3 if EMULATED else 1
# Seconds. Generous because two cores are shared with parallel builds.
DEFAULT_TIMEOUT = 15.0 * TIME_FACTOR
# Extra time the driver gets beyond a wait's own time-out before it counts as hung.
DRIVER_GRACE = 15.0

# The stub is a 32-bit program, and Debian's Wine runs it in a 32-bit Linux process, which
# needs the kernel's IA-32 emulation. Some kernels have it switched off (for 32-bit code in a
# 64-bit process as well). There the bench runs the x86-64 build of the same sources under
# 64-bit Wine (`make wine64`: build/wine64 holds that stub, the test programs and a copy of
# the builder): every behaviour is checked but the 32-bit code generation.
WINE64_LOADER = "/usr/lib/wine/wine64"
WINE64_OUT_DIR = BUILD / "wine64"
# Puts a `wine` that runs the 64-bit loader first on PATH for every process of the run.
WINE64_SHIM = WINE64_OUT_DIR / "bin"


def _wine_answers(command: list) -> str | None:
    """None when `command --version` works, else why not."""
    try:
        result = subprocess.run([*command, "--version"], capture_output=True, timeout=120)
    except FileNotFoundError:
        return f"{command[0]} is not installed"
    except subprocess.TimeoutExpired:
        return f"'{command[0]} --version' did not answer within 120 s"
    if result.returncode != 0:
        detail = (result.stderr or result.stdout).decode(errors="replace").strip().splitlines()
        return (f"'{command[0]} --version' exited {result.returncode}" + (f": {detail[-1]}" if detail else ""))
    return None


def _choose_wine() -> tuple[str, str | None]:
    """("32", None), ("32emu", None), ("64", why 32-bit Wine cannot run) or ("none", why no
    Wine can run)."""
    if EMULATED:
        if not os.environ.get("TVSFX_I386_EMULATOR"):
            return "none", "TVSFX_WINE=32emu runs only inside scripts/i386-emulator.sh run"
        why_not = _wine_answers(["wine"])
        return ("32emu", None) if why_not is None else ("none", f"under the emulator: {why_not}")
    if os.environ.get("TVSFX_WINE") != "64":
        why_not_32 = _wine_answers(["wine"])
        if why_not_32 is None:
            return "32", None
        why_not_32 = ("this machine cannot run 32-bit programs (kernel without IA-32 emulation?): "
                      + why_not_32)
    else:
        why_not_32 = "TVSFX_WINE=64 asks for the x86-64 build"
    why_not_64 = _wine_answers([WINE64_LOADER])
    if why_not_64 is None and (WINE64_OUT_DIR / "tvsfx32.exe").exists():
        return "64", why_not_32
    if why_not_64 is None:
        why_not_64 = f"{WINE64_OUT_DIR} is not built (make wine64)"
    return "none", f"{why_not_32}; and 64-bit Wine cannot stand in: {why_not_64}"


WINE_KIND, WINE_KIND_REASON = _choose_wine()
if WINE_KIND == "64":
    WINE64_SHIM.mkdir(parents=True, exist_ok=True)
    (WINE64_SHIM / "wine").write_text(
        f"#!/bin/sh\nexport WINELOADER={WINE64_LOADER}\nexec {WINE64_LOADER} \"$@\"\n")
    (WINE64_SHIM / "wine").chmod(0o755)
    os.environ["PATH"] = f"{WINE64_SHIM}{os.pathsep}{os.environ.get('PATH', '')}"

# The programs under test; TVSFX_OUT_DIR points the bench at another build of them.
OUT_DIR = Path(os.environ.get("TVSFX_OUT_DIR", WINE64_OUT_DIR if WINE_KIND == "64" else BUILD))
STUB = OUT_DIR / "tvsfx32.exe"
BUILDER = OUT_DIR / "tvsfx"
TESTBIN = (WINE64_OUT_DIR if WINE_KIND == "64" else BUILD) / "testbin"


def wine_unavailable_reason() -> str | None:
    """Why the bench cannot run the stub under Wine on this machine, or None when it can."""
    return WINE_KIND_REASON if WINE_KIND == "none" else None



class BenchError(AssertionError):
    """A bench step failed; the message says what was seen at that moment."""


# ---- paths ------------------------------------------------------------------------------------


def winpath(path: os.PathLike | str) -> str:
    """Unix path -> Windows path on drive Z: (which Wine maps to /)."""
    return "Z:" + str(Path(path).absolute()).replace("/", "\\")


def unixpath(path: str, prefix: Path | None = None) -> Path:
    """Windows path -> Unix path: Z: directly, other drives through the prefix's dosdevices."""
    drive, rest = path[:2].lower(), path[2:].replace("\\", "/").lstrip("/")
    if drive == "z:":
        return Path("/") / rest
    if prefix is None:
        raise ValueError(f"{path}: only Z: paths map without a prefix")
    return Path(os.path.realpath(prefix / "dosdevices" / drive)) / rest


def quote(text: str) -> str:
    """A driver token that carries any text (a JSON string literal)."""
    return json.dumps(text)


# ---- environment -------------------------------------------------------------------------------

# What every process of a run sees (pytest itself, the builder, the archivers, Wine and the
# programs under it), whatever the caller's environment, so no verdict depends on it:
# - Locale: Wine derives its Unix file-name encoding and its Windows locale from it. Under C
#   it cannot name "größe.txt" (ASCII only); C.UTF-8 exists on every glibc system and gives
#   code page 1252 and Wine's English texts ("Yes"/"No"), as the tests expect. LANGUAGE
#   would translate those texts, so it goes.
# - TZ: a DOS time is local time, so every expected file time depends on the zone; UTC makes
#   them the same on every machine. Tests of the daylight-saving rule set their own TZ.
# - umask: files and folders the tests and the programs make get the usual modes.
# - Temporary folder: pytest's folders go under /tmp, so the paths the tests build (which
#   must stay within MAX_PATH) do not grow with TMPDIR.
PINNED_LOCALE = "C.UTF-8"
PINNED_TZ = "UTC"
PINNED_UMASK = 0o022
PINNED_TEMP = "/tmp"


def pinned_environment(environment: dict) -> dict:
    """environment with the locale, time zone and temporary folder of the bench."""
    pinned = {name: value for name, value in environment.items()
              if not name.startswith("LC_") and name != "LANGUAGE"}
    pinned.update(LANG=PINNED_LOCALE, LC_ALL=PINNED_LOCALE, TZ=PINNED_TZ, TMPDIR=PINNED_TEMP)
    return pinned


def pin_environment() -> None:
    """Pins this process, and so every process it starts."""
    pinned = pinned_environment(dict(os.environ))
    os.environ.clear()
    os.environ.update(pinned)
    time.tzset()
    os.umask(PINNED_UMASK)
    tempfile.tempdir = PINNED_TEMP


# On import: before this module and the test modules compute local times (DEFAULT_FILE_TIME,
# the archive makers' times), which the builder and the stub must read the same way.
pin_environment()


# Fonts: Wine reads the host's fonts and their rendering settings (anti-aliasing, hinting)
# through fontconfig, so a font package installed on the machine changes what the controls
# paint. The session points fontconfig at this configuration instead: the fonts-wine package's
# folder only (Wine's own fonts, Tahoma for "MS Shell Dlg"; with no font at all, 64-bit Wine
# crashes while creating a dialog) and fixed rendering settings, those of a default Debian
# installation.
FONTCONFIG_SETTINGS = """<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <dir>/usr/share/wine/fonts</dir>
  <cachedir>{cache}</cachedir>
  <match target="pattern">
    <edit name="antialias" mode="assign"><bool>true</bool></edit>
    <edit name="hinting" mode="assign"><bool>true</bool></edit>
    <edit name="hintstyle" mode="assign"><const>hintslight</const></edit>
    <edit name="rgba" mode="assign"><const>none</const></edit>
    <edit name="lcdfilter" mode="assign"><const>lcddefault</const></edit>
  </match>
</fontconfig>
"""


# ---- session -----------------------------------------------------------------------------------


def _newest_mtime(folder: Path) -> float:
    return max(p.stat().st_mtime for p in folder.iterdir() if p.is_file())


def ensure_test_programs() -> None:
    """Builds the Win32 test programs when the stub project has not (or they are stale)."""
    exes = [TESTBIN / f"{name}.exe" for name in TEST_PROGRAMS]
    if all(exe.exists() for exe in exes):
        if min(exe.stat().st_mtime for exe in exes) >= _newest_mtime(DRIVER_SOURCES):
            return
    bits = "x86_64" if WINE_KIND == "64" else "i686"
    build_dir = BUILD / f"wine-testprogs-{bits}"
    subprocess.run(
        ["cmake", "-S", str(DRIVER_SOURCES), "-B", str(build_dir),
         f"-DCMAKE_TOOLCHAIN_FILE={REPO / 'cmake' / f'mingw-{bits}.cmake'}",
         f"-DTVSFX_OUT_DIR={TESTBIN.parent}", "-DCMAKE_BUILD_TYPE=MinSizeRel"],
        check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build_dir), "-j", "2"], check=True,
                   stdout=subprocess.DEVNULL)
    for exe in exes:
        os.utime(exe)  # the sources may be newer than an unchanged relink


# Where the session's copies of the Win32 test programs are (None before a session starts).
# Tests see them at a short path without blanks, /tmp/tvbench-XXXXXXXX, not inside the
# checkout: their Windows path goes into command lines and registered commands, which the
# stub cuts at the first blank or keeps in fixed buffers, so the checkout's path would change
# the verdicts.
_program_copies: Path | None = None


def copy_test_programs() -> Path:
    global _program_copies
    folder = Path(tempfile.mkdtemp(prefix="tvbench-", dir=PINNED_TEMP))
    for name in TEST_PROGRAMS:
        shutil.copy2(TESTBIN / f"{name}.exe", folder / f"{name}.exe")
    _program_copies = folder
    return folder


def remove_test_program_copies() -> None:
    global _program_copies
    if _program_copies:
        shutil.rmtree(_program_copies, ignore_errors=True)
    _program_copies = None


def test_program(name: str) -> Path:
    """A Win32 test program: the session's copy, or the built one before a session starts."""
    return (_program_copies or TESTBIN) / f"{name}.exe"


REGISTRY_SETTINGS = r"""REGEDIT4

; Without a window manager Wine waits about 2 s whenever a managed window hides.
[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"""


class WineSession:
    """Display, fresh prefix and persistent wineserver for one test run."""

    def __init__(self, prefix: Path | None = None):
        default_prefix = BUILD / ("wine-test-prefix-32emu" if EMULATED else "wine-test-prefix")
        self.prefix = Path(os.environ.get("TVSFX_WINEPREFIX", prefix or default_prefix))
        self.xvfb: subprocess.Popen | None = None
        self.env = pinned_environment(dict(os.environ))
        # The bench's own display unless TVSFX_DISPLAY names one to watch the tests on: a
        # desktop's window manager, size or resolution would change what the tests see.
        self.env.pop("DISPLAY", None)
        if os.environ.get("TVSFX_DISPLAY"):
            self.env["DISPLAY"] = os.environ["TVSFX_DISPLAY"]
        self.setup_seconds = 0.0
        self.programs: Path | None = None

    def start(self) -> None:
        started = time.monotonic()
        ensure_test_programs()
        self.programs = copy_test_programs()
        self._start_display()
        if self.prefix.exists():
            shutil.rmtree(self.prefix)
        self.prefix.mkdir(parents=True)
        fontconfig_file = self.prefix / "bench-fonts.conf"
        fontconfig_file.write_text(FONTCONFIG_SETTINGS.format(
            cache=xml_escape(str(self.prefix / "fontconfig-cache"))))
        self.env.update(
            WINEPREFIX=str(self.prefix),
            FONTCONFIG_FILE=str(fontconfig_file),
            WINEDEBUG="-all",
            # No Mono/Gecko install prompt, no menu entries written into $HOME.
            WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
            TVDRIVER_TIME_FACTOR=str(TIME_FACTOR),
        )
        # A persistent server keeps the prefix warm between tests (no 3 s restart each time).
        subprocess.run(["wineserver", "-p"], env=self.env, check=True)
        # Under the emulator the prefix is a win64 one made natively by 64-bit Wine; its
        # syswow64 half (installed through the emulator) runs the 32-bit programs.
        setup_wine = WINE64_LOADER if EMULATED else "wine"
        subprocess.run([setup_wine, "wineboot", "-i"], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        reg_file = self.prefix / "bench-settings.reg"
        reg_file.write_text(REGISTRY_SETTINGS)
        subprocess.run([setup_wine, "regedit", "/S", winpath(reg_file)], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.setup_seconds = time.monotonic() - started

    def _start_display(self) -> None:
        if self.env.get("DISPLAY"):
            return
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            stdin=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise BenchError("Xvfb did not start")
        self.env["DISPLAY"] = f":{number}"

    def stop(self) -> None:
        if "WINEPREFIX" in self.env:
            subprocess.run(["wineserver", "-k"], env=self.env, check=False)
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
            self.xvfb = None
        if self.programs:
            remove_test_program_copies()
            self.programs = None

    def driver(self, log_path: Path, unix_env: dict | None = None) -> "Driver":
        """A driver whose Unix environment is the session's with unix_env applied: a value
        sets a variable, None removes it."""
        env = {**self.env, **(unix_env or {})}
        return Driver({name: value for name, value in env.items() if value is not None}, log_path)


# ---- driver ------------------------------------------------------------------------------------


class Driver:
    """One tvdriver.exe: a command line in, one JSON answer out."""

    def __init__(self, env: dict, log_path: Path):
        self.env = env
        self.log_path = log_path
        self._log = open(log_path, "wb")
        self.process = subprocess.Popen(
            ["wine", str(test_program("tvdriver"))], env=env, stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=self._log)
        self._answers: queue.Queue = queue.Queue()
        threading.Thread(target=self._read_answers, daemon=True).start()

    def _read_answers(self) -> None:
        for line in self.process.stdout:
            self._answers.put(line)
        self._answers.put(None)

    def request(self, line: str, timeout: float = DEFAULT_TIMEOUT) -> dict:
        """Sends one command; returns the answer (ok or not). Raises when the driver is gone
        or does not answer within timeout + DRIVER_GRACE seconds."""
        try:
            self.process.stdin.write(line.encode("utf-8") + b"\n")
            self.process.stdin.flush()
        except (BrokenPipeError, ValueError):
            raise BenchError(f"driver has ended; {self._log_tail()}") from None
        try:
            answer = self._answers.get(timeout=timeout + DRIVER_GRACE)
        except queue.Empty:
            raise BenchError(f"driver did not answer {line!r}") from None
        if answer is None:
            raise BenchError(f"driver ended during {line!r}; {self._log_tail()}")
        return json.loads(answer)

    def call(self, line: str, timeout: float = DEFAULT_TIMEOUT) -> dict:
        """request() that raises on an error answer."""
        answer = self.request(line, timeout)
        if not answer.get("ok"):
            raise BenchError(f"{line!r} failed: {answer.get('error')}")
        return answer

    def _log_tail(self) -> str:
        self._log.flush()
        text = self.log_path.read_text(errors="replace")[-2000:]
        return f"driver log: {text!r}" if text else "driver log empty"

    def close(self) -> bool:
        """Ends the driver, which kills a child that still runs when its input ends.
        Returns False when the driver had to be killed itself."""
        try:
            self.process.stdin.close()
        except OSError:
            pass
        ended = True
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            ended = False
        self._log.close()
        return ended


def kill_stray_processes(prefix: str, exe_winpath: str) -> None:
    """Kills the Unix processes of this prefix that run exe (Wine shows the Windows path in
    the command line)."""
    for proc in Path("/proc").iterdir():
        if not proc.name.isdigit():
            continue
        try:
            command = (proc / "cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace")
            environment = (proc / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if exe_winpath.lower() in command.lower() and f"WINEPREFIX={prefix}".encode() in environment:
            try:
                os.kill(int(proc.name), signal.SIGKILL)
            except OSError:
                pass


# ---- window snapshots --------------------------------------------------------------------------


@dataclass
class Control:
    hwnd: int
    id: int
    cls: str
    text: str
    style: int
    exstyle: int
    visible: bool
    enabled: bool
    rect: tuple
    parent: int
    checked: int | None = None

    @classmethod
    def from_json(cls, data: dict) -> "Control":
        return cls(hwnd=data["hwnd"], id=data["id"], cls=data["class"], text=data["text"],
                   style=data["style"], exstyle=data["exstyle"], visible=data["visible"],
                   enabled=data["enabled"], rect=tuple(data["rect"]), parent=data["parent"],
                   checked=data.get("checked"))


@dataclass
class Window:
    """A top-level window as the driver saw it; actions go through the run's driver."""

    run: "Run" = field(repr=False)
    hwnd: int
    cls: str
    caption: str
    visible: bool
    enabled: bool
    style: int
    exstyle: int
    rect: tuple
    client: tuple
    owner: int
    foreground: bool
    controls: list
    busy: bool

    @classmethod
    def from_json(cls, run: "Run", data: dict) -> "Window":
        kind = MessageBox if "msgbox" in data else Window
        window = kind(run=run, hwnd=data["hwnd"], cls=data["class"], caption=data["caption"],
                      visible=data["visible"], enabled=data["enabled"], style=data["style"],
                      exstyle=data["exstyle"], rect=tuple(data["rect"]),
                      client=tuple(data["client"]), owner=data["owner"],
                      foreground=data["foreground"],
                      controls=[Control.from_json(c) for c in data["controls"]],
                      busy=data["busy"])
        if kind is MessageBox:
            box = data["msgbox"]
            window.text = box["text"]
            window.icon = box["icon"]
            window.buttons = [(b["id"], b["text"]) for b in box["buttons"]]
        return window

    def __getitem__(self, control_id: int) -> Control:
        for control in self.controls:
            if control.id == control_id:
                return control
        raise KeyError(f"no control {control_id} in {self.caption!r}")

    def __contains__(self, control_id: int) -> bool:
        return any(control.id == control_id for control in self.controls)

    def refresh(self) -> "Window":
        """A new snapshot of the same window."""
        answer = self.run.driver.call(f"wait 0 hwnd={self.hwnd}")
        return Window.from_json(self.run, answer["window"])

    def live_text(self, control_id: int = 0) -> str:
        """Live text of a control (0: the window itself), not the snapshot's."""
        return self.run.driver.call(f"text {self.hwnd} {control_id}")["text"]

    def click(self, control_id: int) -> None:
        self.run.driver.call(f"click {self.hwnd} {control_id}")

    def settext(self, control_id: int, text: str) -> None:
        self.run.driver.call(f"settext {self.hwnd} {control_id} {quote(text)}")

    def check(self, control_id: int, checked: bool = True) -> None:
        self.run.driver.call(f"check {self.hwnd} {control_id} {int(checked)}")

    def key(self, control_id: int, vk: int) -> None:
        self.run.driver.call(f"key {self.hwnd} {control_id} {vk}")

    def lbuttondown(self, control_id: int, x: int | None = None, y: int | None = None) -> None:
        where = f" {x} {y}" if x is not None and y is not None else ""
        self.run.driver.call(f"lbuttondown {self.hwnd} {control_id}{where}")

    def close(self) -> None:
        self.run.driver.call(f"close {self.hwnd}")

    def capture(self, path: os.PathLike | str) -> "Bitmap":
        """Screenshot as a 24-bit BMP file; returns it decoded."""
        self.run.driver.call(f"capture {self.hwnd} {quote(winpath(path))}")
        return Bitmap.read(Path(path))

    def wait_gone(self, timeout: float = DEFAULT_TIMEOUT) -> None:
        answer = self.run.driver.request(f"wait_gone {self.hwnd} {int(timeout * 1000)}", timeout)
        if not answer.get("ok"):
            raise BenchError(f"window {self.caption!r} still there after {timeout} s\n"
                             + describe_windows(self.run, answer.get("windows", [])))

    def summary(self) -> str:
        state = ("visible" if self.visible else "hidden") + ("" if self.enabled else ", disabled")
        lines = [f"{self.cls} {self.caption!r} ({state}, hwnd {self.hwnd})"]
        if isinstance(self, MessageBox):
            lines.append(f"  message box text {self.text!r}, icon {self.icon}, "
                         f"buttons {[text for _, text in self.buttons]}")
        for c in self.controls:
            flags = "" if c.visible else " hidden"
            flags += "" if c.enabled else " disabled"
            flags += f" checked={c.checked}" if c.checked is not None else ""
            lines.append(f"  {c.id:>5} {c.cls:<8} {c.text!r}{flags}")
        return "\n".join(lines)


# Standard button ids of message boxes by their German and English texts. "Abbrechen" is both
# Cancel (2) and Abort (3) in German; the box's own buttons decide.
BUTTON_IDS = {
    "ok": (1,), "abbrechen": (2, 3), "cancel": (2,), "abort": (3,),
    "wiederholen": (4, 10), "retry": (4,), "try again": (10,), "ignorieren": (5,),
    "ignore": (5,), "ja": (6,), "yes": (6,), "nein": (7,), "no": (7,),
    "weiter": (11,), "continue": (11,),
}


def _plain(text: str) -> str:
    return text.replace("&", "").strip().casefold()


class MessageBox(Window):
    """A window with a message box's text static; text, icon and buttons are filled in."""

    text: str
    icon: str  # "error", "warning", "question", "information", "none" or "unknown"
    buttons: list  # (id, text) in the box's order

    @property
    def button_ids(self) -> list:
        return [button_id for button_id, _ in self.buttons]

    def button_id(self, button: int | str) -> int:
        """Id of a button named by id, by its text, or by a standard German/English name."""
        if isinstance(button, int):
            return button
        for button_id, text in self.buttons:
            if _plain(text) == _plain(button):
                return button_id
        for button_id in BUTTON_IDS.get(_plain(button), ()):
            if button_id in self.button_ids:
                return button_id
        raise BenchError(f"no button {button!r} in box {self.text!r}: {self.buttons}")

    def click(self, button: int | str = "OK", wait_gone: bool = True) -> None:  # type: ignore[override]
        """Presses a button and (by default) waits until the box has gone."""
        self.run.driver.call(f"click {self.hwnd} {self.button_id(button)}")
        if wait_gone:
            self.wait_gone()


def describe_windows(run: "Run", windows: list) -> str:
    if not windows:
        return "no windows"
    return "windows seen:\n" + "\n".join(Window.from_json(run, w).summary() for w in windows)


@dataclass
class Bitmap:
    """A decoded 24-bit BMP: pixels[y][x] = (r, g, b), top row first."""

    width: int
    height: int
    pixels: list

    @classmethod
    def read(cls, path: Path) -> "Bitmap":
        data = path.read_bytes()
        if data[:2] != b"BM":
            raise BenchError(f"{path} is not a BMP")
        offset, = struct.unpack_from("<I", data, 10)
        width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
        if bits != 24:
            raise BenchError(f"{path}: {bits} bits per pixel")
        row_size = (width * 3 + 3) & ~3
        rows = []
        for y in range(abs(height)):
            start = offset + y * row_size
            rows.append([(data[start + 3 * x + 2], data[start + 3 * x + 1], data[start + 3 * x])
                         for x in range(width)])
        if height > 0:
            rows.reverse()
        return cls(width, abs(height), rows)

    def colours(self) -> set:
        return {pixel for row in self.pixels for pixel in row}


# ---- runs --------------------------------------------------------------------------------------


class Run:
    """One program started under Wine, with the driver that watches it."""

    def __init__(self, driver: Driver, exe: Path):
        self.driver = driver
        self.exe = exe
        self.pid: int | None = None
        self.exit_code: int | None = None

    def windows(self) -> list:
        """All top-level windows of the program, visible and hidden."""
        return [Window.from_json(self, w) for w in self.driver.call("windows")["windows"]]

    def wait_window(self, caption: str | None = None, caption_contains: str | None = None,
                    cls: str | None = None, control: int | None = None,
                    msgbox: bool | None = None, visible: bool | None = True,
                    enabled: bool | None = None, exclude: Iterable[int] = (),
                    timeout: float = DEFAULT_TIMEOUT) -> Window:
        """First top-level window meeting every given condition. Fails the test when none
        appears in time or the program exits first, listing the windows seen."""
        conditions = []
        if caption is not None:
            conditions.append("caption=" + quote(caption))
        if caption_contains is not None:
            conditions.append("caption~" + quote(caption_contains))
        if cls is not None:
            conditions.append("class=" + quote(cls))
        if control is not None:
            conditions.append(f"control={control}")
        if msgbox is not None:
            conditions.append("msgbox" if msgbox else "!msgbox")
        if visible is not None:
            conditions.append("visible" if visible else "hidden")
        if enabled is not None:
            conditions.append("enabled" if enabled else "!enabled")
        conditions += [f"exclude={hwnd}" for hwnd in exclude]
        answer = self.driver.request(f"wait {int(timeout * 1000)} {' '.join(conditions)}", timeout)
        if answer.get("ok"):
            return Window.from_json(self, answer["window"])
        wanted = " ".join(conditions) or "any window"
        if answer.get("error") == "exited":
            self.exit_code = answer.get("exit_code")
            reason = f"program exited with code {self.exit_code}"
        else:
            reason = f"{answer.get('error')} after {timeout} s"
        raise BenchError(f"waiting for {wanted}: {reason}\n"
                         + describe_windows(self, answer.get("windows", [])))

    def wait_message_box(self, timeout: float = DEFAULT_TIMEOUT, **conditions) -> MessageBox:
        box = self.wait_window(msgbox=True, timeout=timeout, **conditions)
        assert isinstance(box, MessageBox)
        return box

    def dialog(self, timeout: float = DEFAULT_TIMEOUT, visible: bool | None = True,
               **conditions) -> Window:
        """The program's dialog window (a #32770 that is not a message box)."""
        return self.wait_window(cls="#32770", msgbox=False, visible=visible, timeout=timeout,
                                **conditions)

    def wait_exit(self, timeout: float = DEFAULT_TIMEOUT) -> int:
        answer = self.driver.request(f"wait_exit {int(timeout * 1000)}", timeout)
        if not answer.get("ok"):
            raise BenchError(f"program still running after {timeout} s\n"
                             + describe_windows(self, answer.get("windows", [])))
        self.exit_code = answer["exit_code"]
        return self.exit_code

    def wait_until(self, predicate, timeout: float = DEFAULT_TIMEOUT, what: str = "condition",
                   interval: float = 0.05):
        """Polls predicate() until it returns a true value, which is returned."""
        deadline = time.monotonic() + timeout
        while True:
            value = predicate()
            if value:
                return value
            if time.monotonic() > deadline:
                raise BenchError(f"{what} not reached after {timeout} s\n"
                                 + describe_windows(self, self.driver.call("windows")["windows"]))
            time.sleep(interval)

    def kill(self) -> int:
        self.exit_code = self.driver.call("kill")["exit_code"]
        return self.exit_code

    def close(self) -> None:
        """Kills the program if it still runs and ends the driver. A driver that no longer
        answers cannot kill it, so then its Unix process is found and killed directly."""
        if not self.driver.close() and self.pid is not None:
            kill_stray_processes(self.driver.env["WINEPREFIX"], winpath(self.exe))


# ---- stub record -------------------------------------------------------------------------------

MARKER = bytes([0x54, 0x56, 0x4B, 0x01, 0x73, 0x66, 0x78, 0x02])

# name: (offset in the record, struct format)
RECORD_FIELDS = {
    "marker": (0x00, "8s"), "stub_crc": (0x08, "<I"), "archive_offset": (0x0C, "<I"),
    "config_offset": (0x10, "<I"), "end_record_offset": (0x14, "<I"),
    "total_size": (0x18, "<I"), "flags": (0x1C, "<I"), "reserved1": (0x20, "<I"),
    "reserved2": (0x24, "<I"), "reserved3": (0x28, "<H"), "complete": (0x2A, "<H"),
    "license_offset": (0x20, "<I"), "license_size": (0x24, "<I"),  # reserved1 and 2 before
    "reserved4": (0x2C, "<I"), "total_size_high": (0x30, "<I"), "reserved6": (0x34, "<H"),
    "entry_point": (0x36, "<I"),
}

SFX_OVERWRITE = 0x00000002
SFX_USE_TITLE = 0x00000010
SFX_PASSWORD_FIRST = 0x00000100
SFX_AUTO = 0x00000200
SFX_CRC_AFTER_HEADERS = 0x00000800
SFX_MULTI_VOLUME = 0x00001000
SFX_EXE_VOLUMES = 0x00008000
SFX_VERB_INSTALL = 0x00020000
SFX_TITLE_CAPTION = 0x00040000
SFX_PROMPT_ASK = 0x00080000
SFX_PROMPT_OKCANCEL = 0x00100000
SFX_HIDDEN = 0x00400000



class StubFile:
    """A built self-extractor loaded for inspection and patching.

        f = StubFile(exe); f["flags"] |= SFX_AUTO; f.fix_stub_crc(); f.save(tmp / "x.exe")
    """

    def __init__(self, path: os.PathLike | str):
        self.path = Path(path)
        self.data = bytearray(self.path.read_bytes())
        self.record_offset = self.data.find(MARKER)  # the stub also takes the first one
        if self.record_offset < 0:
            raise BenchError(f"{path}: no stub record marker")

    def __getitem__(self, name: str):
        offset, fmt = RECORD_FIELDS[name]
        return struct.unpack_from(fmt, self.data, self.record_offset + offset)[0]

    def __setitem__(self, name: str, value) -> None:
        offset, fmt = RECORD_FIELDS[name]
        struct.pack_into(fmt, self.data, self.record_offset + offset, value)

    @property
    def e_lfanew(self) -> int:
        return struct.unpack_from("<I", self.data, 0x3C)[0]

    @property
    def headers_end(self) -> int:
        """First byte after the PE signature, the file header and the optional header (224
        bytes in the 32-bit stub, 240 in its x86-64 build)."""
        optional_size, = struct.unpack_from("<H", self.data, self.e_lfanew + 20)
        return self.e_lfanew + 24 + optional_size

    @property
    def entry_point_offset(self) -> int:
        """File offset of the PE header's AddressOfEntryPoint."""
        return self.e_lfanew + 40

    @property
    def pe_entry_point(self) -> int:
        return struct.unpack_from("<I", self.data, self.entry_point_offset)[0]

    @pe_entry_point.setter
    def pe_entry_point(self, value: int) -> None:
        struct.pack_into("<I", self.data, self.entry_point_offset, value)

    def compute_stub_crc(self) -> int:
        """The stub checksum as the builder writes it: CRC-32 over [start, archive_offset)
        with the stored stub_crc bytes taken as zero; start is the end of the PE headers when
        SFX_CRC_AFTER_HEADERS is set, else 0."""
        block = bytearray(self.data[:self["archive_offset"]])
        crc_at = self.record_offset + RECORD_FIELDS["stub_crc"][0]
        block[crc_at:crc_at + 4] = bytes(4)
        start = self.headers_end if self["flags"] & SFX_CRC_AFTER_HEADERS else 0
        return zlib.crc32(bytes(block[start:])) & 0xFFFFFFFF

    def fix_stub_crc(self) -> None:
        self["stub_crc"] = self.compute_stub_crc()

    def truncate(self, length: int) -> None:
        del self.data[length:]

    def save(self, path: os.PathLike | str | None = None) -> Path:
        target = Path(path) if path is not None else self.path
        target.write_bytes(bytes(self.data))
        return target


# ---- trees -------------------------------------------------------------------------------------

# A fixed, even-second default time for files the bench writes (DOS times have 2 s steps).
DEFAULT_FILE_TIME = time.mktime((2021, 6, 15, 12, 34, 56, 0, 0, -1))


def write_tree(root: Path, files: dict) -> Path:
    """Writes files {relative name: content}: bytes or str (UTF-8) or (content, mtime);
    a name ending in "/" is a folder."""
    root.mkdir(parents=True, exist_ok=True)
    for name, content in files.items():
        target = root / name
        if name.endswith("/"):
            target.mkdir(parents=True, exist_ok=True)
            continue
        mtime = DEFAULT_FILE_TIME
        if isinstance(content, tuple):
            content, mtime = content
        if isinstance(content, str):
            content = content.encode("utf-8")
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(content)
        os.utime(target, (mtime, mtime))
    return root


def _tree(root: Path) -> dict:
    return {p.relative_to(root).as_posix(): p for p in sorted(root.rglob("*"))}


def compare_trees(actual: Path, expected: Path, times: bool = True) -> None:
    """Same files and folders, same bytes, and (times=True) file times equal at the 2-second
    precision of DOS times. Raises BenchError listing every difference."""
    have, want = _tree(Path(actual)), _tree(Path(expected))
    problems = [f"missing: {name}" for name in want if name not in have]
    problems += [f"unexpected: {name}" for name in have if name not in want]
    for name in sorted(set(have) & set(want)):
        a, e = have[name], want[name]
        if a.is_dir() != e.is_dir():
            problems.append(f"{name}: folder on one side only")
        elif a.is_file():
            if a.read_bytes() != e.read_bytes():
                problems.append(f"{name}: contents differ")
            elif times and abs(a.stat().st_mtime - e.stat().st_mtime) >= 2.0:
                problems.append(f"{name}: time {time.ctime(a.stat().st_mtime)}, "
                                f"expected {time.ctime(e.stat().st_mtime)}")
    if problems:
        raise BenchError(f"{actual} differs from {expected}:\n  " + "\n  ".join(problems))


def make_zip(path: Path, files: dict, method: int = zipfile.ZIP_DEFLATED) -> Path:
    """A ZIP written by Python's zipfile from the same description as write_tree."""
    with zipfile.ZipFile(path, "w", compression=method) as archive:
        for name, content in files.items():
            mtime = DEFAULT_FILE_TIME
            if isinstance(content, tuple):
                content, mtime = content
            if isinstance(content, str):
                content = content.encode("utf-8")
            info = zipfile.ZipInfo(name, time.localtime(mtime)[:6])
            info.compress_type = method
            archive.writestr(info, b"" if name.endswith("/") else content)
    return path


# ---- floppy ------------------------------------------------------------------------------------


class Floppy:
    """Drive A: as a removable disk on a folder, its volume label in the folder's
    .windows-label file. insert() again swaps the disk while programs run.

    Wine's mount manager reads the label only when a drive is defined, so each insert
    redefines A: through the driver (the request winecfg uses) instead of re-pointing the
    dosdevices link by hand, which would keep the old label."""

    def __init__(self, driver: Driver, no_disk: Path):
        self.driver = driver
        self.no_disk = no_disk  # a folder that does not exist: empty label, no files

    def insert(self, folder: Path, label: str | None = None) -> None:
        folder.mkdir(parents=True, exist_ok=True)
        label_file = folder / ".windows-label"
        if label is None:
            label_file.unlink(missing_ok=True)
        else:
            label_file.write_text(label)
        self.driver.call(f"mount a {quote(str(folder.absolute()))}")

    def eject(self) -> None:
        self.driver.call(f"mount a {quote(str(self.no_disk))}")

    def volume(self) -> dict:
        """What Windows programs see: type (2 = removable), label, serial."""
        return self.driver.call("volume " + quote("A:\\"))


# ---- per-test helper ---------------------------------------------------------------------------


@dataclass
class Sfx:
    """A built self-extractor: the .exe and the tree it was built from (when known)."""

    path: Path
    source: Path | None = None

    def __fspath__(self) -> str:
        return str(self.path)

    def __str__(self) -> str:
        return str(self.path)


def builder_arguments(options: dict) -> list:
    """Keyword options -> builder arguments: info="x" -> --info x, auto=True -> --auto."""
    arguments = []
    for name, value in options.items():
        flag = "--" + name.replace("_", "-")
        if value is True:
            arguments.append(flag)
        elif value is not None and value is not False:
            arguments += [flag, str(value)]
    return arguments


# Variables that Wine reads on the Unix side of a process: the time zone, and the locale, from
# which it takes the system's default language (LC_CTYPE) and the user's language and UI
# language (LC_MESSAGES).
UNIX_SIDE_VARIABLES = ("TZ", "LANG", "LC_ALL", "LC_CTYPE", "LC_MESSAGES")



def locale_session(display_session: WineSession, name: str, locale: str):
    """A second prefix whose ANSI code page follows `locale` (Wine takes it from there), on the
    display of `display_session`; a generator for a fixture, which removes the prefix after.
    Skips when the machine lacks the locale (scripts/install-deps.sh generates them). The
    prefix's folder names the bench's Wine, so the emulated 32-bit run beside the x86-64 one
    never shares it."""
    import pytest
    listed = locale.replace("UTF-8", "utf8")
    if listed not in subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split():
        pytest.skip(f"the {locale} locale is missing (scripts/install-deps.sh generates it)")
    session = WineSession()
    session.prefix = BUILD / (f"wine-test-prefix-{name}" + ("-32emu" if EMULATED else ""))
    session.env.update(DISPLAY=display_session.env["DISPLAY"], LANG=locale, LC_ALL=locale)
    try:
        session.start()
        yield session
    finally:
        session.stop()
        shutil.rmtree(session.prefix, ignore_errors=True)


class Bench:
    """What one test uses: self-extractors, runs, trees, record patches, floppies."""

    def __init__(self, session: WineSession, tmp_path: Path):
        self.session = session
        self.tmp_path = tmp_path
        self.runs: list = []
        self.drivers: list = []
        self._floppy: Floppy | None = None
        self._dpi_changed = False

    # paths
    winpath = staticmethod(winpath)

    def unixpath(self, path: str) -> Path:
        return unixpath(path, self.session.prefix)

    @staticmethod
    def testprog(name: str) -> Path:
        """A Win32 test program: argecho, tvmsgbox, tvdialog (the session's copy)."""
        return test_program(name)

    # building
    def make_sfx(self, where: Path, files: dict | None = None, zip: Path | None = None,
                 folder: Path | None = None, name: str = "test.exe",
                 args: Iterable[str] = (), **options) -> Sfx:
        """Builds name in where from files (written to where/src, the reference tree), a
        prepared zip or a folder. Builder options as keywords (info="Hallo", auto=True) and/or
        a raw argument list."""
        if not BUILDER.exists() or not STUB.exists():
            import pytest
            message = f"needs {BUILDER} and {STUB}; run make first"
            if os.environ.get("CI"):
                pytest.fail(message)
            pytest.skip(message)
        if sum(x is not None for x in (files, zip, folder)) != 1:
            raise ValueError("give exactly one of files, zip, folder")
        where = Path(where)
        where.mkdir(parents=True, exist_ok=True)
        source = folder
        if files is not None:
            source = write_tree(where / "src", files)
        exe = where / name
        command = [str(BUILDER), "build", "-o", str(exe), *builder_arguments(options),
                   *args, str(zip if zip is not None else source)]
        result = subprocess.run(command, capture_output=True, text=True, timeout=120)
        if result.returncode != 0:
            raise BenchError(f"builder failed ({result.returncode}): {' '.join(command)}\n"
                             f"{result.stderr}{result.stdout}")
        return Sfx(exe, source)

    make_zip = staticmethod(make_zip)
    write_tree = staticmethod(write_tree)
    compare_trees = staticmethod(compare_trees)

    def patch(self, exe: os.PathLike | str) -> StubFile:
        return StubFile(exe)

    # running
    def start(self, exe: os.PathLike | str, args: str | None = None,
              cwd: os.PathLike | str | None = None, env: dict | None = None,
              command_line: str | None = None) -> Run:
        """Starts exe under Wine as "exe" args (or with a verbatim command_line) in folder
        cwd (default: the exe's folder). env sets (value) or removes (None) variables."""
        exe = Path(os.fspath(exe))
        folder = quote(winpath(cwd if cwd is not None else exe.parent))
        if command_line is not None:
            line = f"start_raw {folder} {quote(winpath(exe))} {quote(command_line)}"
        elif args is not None:
            line = f"start {folder} {quote(winpath(exe))} {quote(args)}"
        else:
            line = f"start {folder} {quote(winpath(exe))}"
        # 64-bit Wine now and then fails a process start on its own (CreateProcess error 1359,
        # or the driver dies while starting it; seen about once in a thousand starts). The
        # program has not run then, so the start is tried once more with a fresh driver.
        for attempt in (1, 2):
            run = self._new_run(exe, env)
            try:
                run.pid = run.driver.call(line)["pid"]
                return run
            except BenchError as error:
                transient = "error 1359" in str(error) or "driver ended during" in str(error)
                if attempt == 2 or not transient:
                    raise
                run.close()
                self.runs.remove(run)
        raise AssertionError("unreachable")

    def _new_run(self, exe: Path, env: dict | None) -> Run:
        """A run with a driver of its own whose environment env sets up."""
        number = len(self.runs) + 1
        # Wine takes the time zone from the Unix environment of the process, not from the
        # Windows one: TZ goes to the driver's Unix side as well, whose children inherit it.
        unix_env = {name: value for name, value in (env or {}).items() if name in UNIX_SIDE_VARIABLES}
        driver = self.session.driver(self.tmp_path / f"driver-{number}.log", unix_env)
        run = Run(driver, exe)
        self.runs.append(run)
        for name, value in (env or {}).items():
            if value is None:
                driver.call(f"unsetenv {quote(name)}")
            else:
                driver.call(f"setenv {quote(name)} {quote(value)}")
        return run

    def driver(self) -> Driver:
        """A driver without a program, for queries such as volume A:\\."""
        driver = self.session.driver(self.tmp_path / f"driver-q{len(self.drivers) + 1}.log")
        self.drivers.append(driver)
        return driver

    # floppy
    def floppy(self) -> Floppy:
        """Drive A: for this test; it is left without a disk when the test ends."""
        if self._floppy is None:
            self._floppy = Floppy(self.driver(), self.tmp_path / "no-disk")
        return self._floppy

    # screen
    def set_screen_dpi(self, dpi: int | None) -> None:
        """The system DPI of the programs started from now on (None: the prefix's 96). Wine 8
        reads LogPixels when a process starts, first from HKCU\\Control Panel\\Desktop (absent
        in a fresh prefix), then from HKLM\\...\\Hardware Profiles\\Current\\Software\\Fonts
        (96): so the user's value is set or removed, and no server restart is needed. Programs
        already running keep their DPI. The test's end removes the value again."""
        key = r"HKCU\Control Panel\Desktop"
        if dpi is None:
            command = ["delete", key, "/v", "LogPixels", "/f"]
        else:
            command = ["add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"]
        subprocess.run(["wine", "reg", *command], env=self.session.env, check=dpi is not None,
                       capture_output=True, timeout=60)
        self._dpi_changed = dpi is not None

    def close(self) -> None:
        for run in self.runs:
            run.close()
        if self._floppy:
            self._floppy.eject()
        for driver in self.drivers:
            driver.close()
        if self._dpi_changed:
            self.set_screen_dpi(None)


def exit_without_window(run: "Run", timeout: float = 30.0 * TIME_FACTOR) -> int:
    """Waits for the end of a run that must show no window at all; returns its exit code."""
    answer = run.driver.request(f"wait {int(timeout * 1000)} visible", timeout + 5)
    if answer.get("ok"):
        raise BenchError("a window appeared: " + str(answer["window"]))
    assert answer.get("error") == "exited", answer
    return answer["exit_code"]


def read_argecho_log(path: Path) -> list:
    """The lines argecho.exe appended: dicts with cmdline, args, cwd, exe."""
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines() if line]
