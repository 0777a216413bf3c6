"""The stub's two dialogs, as tables, and their encoding as in-memory dialog templates.

The stub hands both templates to DialogBoxIndirectParamA, so they use the standard DLGTEMPLATE
form (not DLGTEMPLATEEX): a header, then one DLGITEMTEMPLATE per control, each control starting
on a 4-byte boundary from the start of the template. All strings are NUL-terminated UTF-16LE.
Coordinates are dialog units.
"""

import struct
from collections import namedtuple

Dialog = namedtuple("Dialog", "style x y cx cy title point_size font controls")
Control = namedtuple("Control", "id cls text style x y cx cy")

# Predefined classes are stored as 0xFFFF followed by their atom (4 bytes instead of a name);
# any other class, like the stub's own meter, is stored as its name.
CLASS_ATOMS = {"BUTTON": 0x0080, "EDIT": 0x0081, "STATIC": 0x0082}

DS_SETFONT = 0x00000040  # the header carries a point size and a face name

# WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS
# | DS_3DLOOK, for both dialogs.
DIALOG_STYLE = 0x90C800CC

# Control styles. Every control is WS_CHILD | WS_VISIBLE (0x50000000).
STATIC_TEXT = 0x50020000         # WS_GROUP, SS_LEFT
STATIC_NOPREFIX = 0x50020080     # WS_GROUP, SS_NOPREFIX: shows archive names with "&" as is
STATIC_CENTERED = 0x50020081     # as STATIC_NOPREFIX, plus SS_CENTER
EDIT_FIELD = 0x50810080          # WS_BORDER, WS_TABSTOP, ES_AUTOHSCROLL
EDIT_PASSWORD = 0x508100A0       # as EDIT_FIELD, plus ES_PASSWORD
PUSH_BUTTON = 0x50010000         # WS_TABSTOP, BS_PUSHBUTTON
DEFAULT_BUTTON = 0x50010001      # WS_TABSTOP, BS_DEFPUSHBUTTON
CHECK_BOX = 0x50010003           # WS_TABSTOP, BS_AUTOCHECKBOX
METER_FRAME = 0x50800000         # WS_BORDER
# WS_BORDER, WS_TABSTOP, WS_VSCROLL, ES_MULTILINE, ES_AUTOVSCROLL, ES_READONLY: a text to read
# and scroll, never to edit.
EDIT_READER = 0x50A10844

# The main dialog. Its caption is set at run time, so the template's title is empty.
# Status line 109 and meter 201 share one place; the dialog shows one of them at a time.
MAIN_DIALOG = Dialog(
    style=DIALOG_STYLE, x=43, y=29, cx=270, cy=114, title="", point_size=8, font="MS Shell Dlg",
    controls=[
        #       id   class     text                                      style            x    y    cx   cy
        Control(101, "STATIC", "",                                       STATIC_NOPREFIX, 6,   6,   200, 24),
        Control(105, "STATIC", "E&xtrahieren nach: ",                    STATIC_TEXT,     6,   34,  74,  8),
        Control(106, "EDIT",   "",                                       EDIT_FIELD,      6,   43,  144, 12),
        Control(115, "BUTTON", "&Durchsuchen...",                        PUSH_BUTTON,     152, 42,  54,  14),
        Control(102, "BUTTON", "Dateien ohne &R\u00fcckfrage \u00fcberschreiben", CHECK_BOX, 6, 60, 198, 10),
        Control(111, "BUTTON", "",                                       CHECK_BOX,       6,   74,  198, 10),
        Control(1,   "BUTTON", "&Extrahieren",                           DEFAULT_BUTTON,  210, 6,   54,  14),
        Control(113, "BUTTON", "&Tarvel starten",                        PUSH_BUTTON,     210, 24,  54,  14),
        Control(2,   "BUTTON", "Sch&lie\u00dfen",                        PUSH_BUTTON,     210, 42,  54,  14),
        Control(112, "BUTTON", "&Info",                                  PUSH_BUTTON,     210, 60,  54,  14),
        Control(104, "BUTTON", "&Hilfe",                                 PUSH_BUTTON,     210, 78,  54,  14),
        Control(103, "STATIC", "",                                       STATIC_NOPREFIX, 17,  86,  187, 8),
        Control(109, "STATIC", "",                                       STATIC_CENTERED, 0,   101, 270, 8),
        Control(201, "meter",  "",                                       METER_FRAME,     6,   98,  258, 12),
    ])

PASSWORD_DIALOG = Dialog(
    style=DIALOG_STYLE, x=71, y=71, cx=192, cy=76, title="Tarvel Self-Extractor - Kennwort",
    point_size=8, font="MS Shell Dlg",
    controls=[
        Control(401, "STATIC",
                "Dieses selbstextrahierende Archiv ist kennwortgesch\u00fctzt.\n\n"
                "Bitte geben Sie das &Kennwort ein:",                    STATIC_TEXT,     6,   6,   179, 24),
        Control(402, "EDIT",   "",                                       EDIT_PASSWORD,   6,   32,  179, 12),
        Control(1,   "BUTTON", "OK",                                     DEFAULT_BUTTON,  37,  56,  50,  14),
        Control(2,   "BUTTON", "Abbrechen",                              PUSH_BUTTON,     105, 56,  50,  14),
    ])

# The English dialogs: the same layout, ids and styles; only the texts differ.
MAIN_DIALOG_EN = MAIN_DIALOG._replace(controls=[
    control._replace(text=text) for control, text in zip(MAIN_DIALOG.controls, [
        "", "E&xtract to: ", "", "&Browse...", "&Overwrite files without asking", "",
        "&Extract", "Start &Tarvel", "&Close", "&Info", "&Help", "", "", ""])])

PASSWORD_DIALOG_EN = PASSWORD_DIALOG._replace(
    title="Tarvel Self-Extractor - Password",
    controls=[control._replace(text=text) for control, text in zip(PASSWORD_DIALOG.controls, [
        "This self-extracting archive is password-protected.\n\nPlease enter the &password:",
        "", "OK", "Cancel"])])

# The licence page. Accept is not IDOK and no button is the default one, so Enter alone never
# accepts; Decline is IDCANCEL, so Esc and the close box decline. The text field gets the
# licence at run time.
LICENSE_ACCEPT_ID = 603
LICENSE_DIALOG = Dialog(
    style=DIALOG_STYLE, x=20, y=20, cx=300, cy=190, title="Tarvel Self-Extractor - Lizenzvereinbarung",
    point_size=8, font="MS Shell Dlg",
    controls=[
        Control(601, "STATIC",
                "Bitte lesen Sie die Lizenzvereinbarung. Um das Archiv zu entpacken, "
                "m\u00fcssen Sie sie annehmen.",                         STATIC_TEXT,     6,   6,   288, 16),
        Control(602, "EDIT",   "",                                       EDIT_READER,     6,   24,  288, 140),
        Control(LICENSE_ACCEPT_ID, "BUTTON", "Annehmen",                 PUSH_BUTTON,     182, 170, 54,  14),
        Control(2,   "BUTTON", "Ablehnen",                               PUSH_BUTTON,     240, 170, 54,  14),
    ])

LICENSE_DIALOG_EN = LICENSE_DIALOG._replace(
    title="Tarvel Self-Extractor - License Agreement",
    controls=[control._replace(text=text) for control, text in zip(LICENSE_DIALOG.controls, [
        "Please read the license agreement. You must accept it to unpack the archive.",
        "", "I accept", "Decline"])])

# Sizes these tables encode to, kept here so that an edit that changes a template shows up as a
# build failure and is looked at. How they add up:
#   header      18 bytes (style, extended style, control count, x, y, cx, cy) + 2 (no menu)
#               + 2 (default class) + title + 2 (point size) + face name "MS Shell Dlg" (26)
#   control     18 bytes (style, extended style, x, y, cx, cy, id) + class (4 as an atom,
#               2 per character + 2 as a name) + text + 2 (no creation data), at a 4-byte boundary
#   the end     not padded: nothing follows the last control
# Main: header 52, controls 28+64+28+56+100+28+52+56+48+36+40+28+28+34 with the padding of all
# but the last; password: header 116, controls 212+28+32+44.
MAIN_TEMPLATE_SIZE = 678
PASSWORD_TEMPLATE_SIZE = 432


def encode_string(text):
    return text.encode("utf-16-le") + b"\0\0"


def encode_class(name):
    atom = CLASS_ATOMS.get(name)
    if atom is not None:
        return struct.pack("<HH", 0xFFFF, atom)
    return encode_string(name)


def pad_to_dword(buffer):
    buffer += b"\0" * (-len(buffer) % 4)


def encode_header(dialog):
    header = bytearray(struct.pack("<IIHhhhh", dialog.style, 0, len(dialog.controls),
                                   dialog.x, dialog.y, dialog.cx, dialog.cy))
    header += b"\0\0"  # no menu
    header += b"\0\0"  # the system's dialog class
    header += encode_string(dialog.title)
    if dialog.style & DS_SETFONT:
        header += struct.pack("<H", dialog.point_size) + encode_string(dialog.font)
    return header


def encode_control(control):
    item = bytearray(struct.pack("<IIhhhhH", control.style, 0, control.x, control.y,
                                 control.cx, control.cy, control.id))
    item += encode_class(control.cls)
    item += encode_string(control.text)
    item += b"\0\0"  # no creation data
    return item


def build_template(dialog):
    template = encode_header(dialog)
    for control in dialog.controls:
        pad_to_dword(template)
        template += encode_control(control)
    return bytes(template)
