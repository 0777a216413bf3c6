"""The stub's code depends on itself one way only.

Units: in sfxhead/ (in all its rooms) a header and its source of the same name are one unit;
the leaves inflate/
(the Deflate decoder), lzma/ (the LZMA decoder), crypt/ (the cipher), meter/ (the meter control) and format/ (the facts of the
file formats, shared with the builder) are one unit each. A unit
depends on another when one of its files includes the other's header or calls a function the
other defines. A function that a unit declares in its own header and leaves to its user to
define (the decoder's refill_input and flush_output) belongs to the declaring unit's
interface, as a function pointer would: calling it is no dependency on the definer, from
that unit or from one that includes its header (the LZMA decoder shares the Deflate
decoder's source and sink).

LAYERS lists the units from the top down; a unit depends only on units of lower layers, so
there is no circle between units. Inside every folder, no two source files call each other in
a circle either. A new file must be given its place in LAYERS: where it sits is a decision.
Between the rooms (sfxhead/start, dialog, walk, pipeline, system) the arrows of layers.txt
hold as well; scripts/check_layers.py checks those, by includes only.
"""
import os
import re
import unittest
from collections import defaultdict

ROOT = os.path.normpath(os.path.join(os.path.dirname(__file__), "../../.."))
FOLDERS = ("sfxhead", "inflate", "lzma", "meter", "crypt", "format")
LEAF_MODULES = ("inflate", "lzma", "meter", "crypt", "format")

LAYERS = [
    # the program's entry and its start-up
    ["sfxhead/start/entry"],
    ["sfxhead/start/startup"],
    ["sfxhead/start/selfcheck", "sfxhead/start/config", "sfxhead/dialog/messages", "sfxhead/dialog/language"],
    # the dialog, and what only it uses
    ["sfxhead/dialog/main_dialog", "sfxhead/dialog/license"],
    ["sfxhead/dialog/command", "sfxhead/dialog/info", "sfxhead/dialog/folders", "sfxhead/dialog/private_folder"],
    # the driver
    ["sfxhead/walk/extract"],
    # record walk, password, entry data pipeline
    ["sfxhead/walk/archive", "sfxhead/walk/password", "sfxhead/pipeline/pipeline"],
    # disks, the output file, the current entry's cipher, the archive file's lowest level
    ["sfxhead/pipeline/volume", "sfxhead/pipeline/output_file", "sfxhead/pipeline/entry_cipher",
     "sfxhead/pipeline/lzma_entry"],
    # a split package's volumes beside the program
    ["sfxhead/pipeline/split_volume"],
    ["sfxhead/pipeline/reader", "sfxhead/pipeline/cleanup"],
    # the mark an extracted file gets, and loses with it
    ["sfxhead/pipeline/web_mark"],
    # helpers and the register of global state
    ["sfxhead/system/screen", "sfxhead/system/failure"],
    ["sfxhead/system/paths", "sfxhead/system/globals", "sfxhead/system/log"],
    # the run's text form: UTF-8 and the W calls on the NT family, the A calls on Windows 9x
    ["sfxhead/system/wide_api"],
    ["sfxhead/system/system"],
    ["sfxhead/system/control_ids"],
    # leaves
    ["meter", "crypt", "lzma"],
    ["inflate"],
    ["format"],
]


def strip_comments_and_strings(text):
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
    return pattern.sub(" ", text)


def unit_of(path):
    folder = path.split("/")[0]
    return folder if folder in LEAF_MODULES else os.path.splitext(path)[0]


def source_files():
    """Paths (relative to ROOT) of every header and source file."""
    paths = []
    for folder in FOLDERS:
        for where, _, names in sorted(os.walk(os.path.join(ROOT, folder))):
            for name in sorted(names):
                if name.endswith((".h", ".cpp")):
                    paths.append(os.path.relpath(os.path.join(where, name), ROOT).replace(os.sep, "/"))
    return paths


def read(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


# A function definition at the start of a line: return type, name, parameters, body. Static
# functions are left out: no other file can call them.
DEFINITION = re.compile(r"^(?!static\b)[A-Za-z_][\w:<>*&, ]*?\b(\w+)\s*\([^;{}]*\)\s*\{", re.M)
# A declaration (or inline definition) in a header, attributes such as [[noreturn]] allowed.
DECLARATION = re.compile(r"^[A-Za-z_\[][\w:<>*&, \[\]]*?\b(\w+)\s*\([^;{}]*\)\s*[;{]", re.M)
KEYWORDS = {"if", "while", "for", "switch", "return", "sizeof"}


def defined_functions(text):
    return {m.group(1) for m in DEFINITION.finditer(text)}


def declared_functions(text):
    return {m.group(1) for m in DECLARATION.finditer(text)} - KEYWORDS


def called_functions(text):
    return set(re.findall(r"\b(\w+)\s*\(", text))


def scan():
    """(unit edges, file edges): {from: {to: [why, ...]}}. File edges are calls between the
    source files of one folder."""
    paths = source_files()
    texts = {path: strip_comments_and_strings(read(path)) for path in paths}
    unit_of_header = {os.path.basename(p): unit_of(p) for p in paths if p.endswith(".h")}
    definer = {}
    interface = defaultdict(set)  # unit -> functions its headers declare
    for path in paths:
        if path.endswith(".h"):
            interface[unit_of(path)] |= declared_functions(texts[path])
        else:
            for name in defined_functions(texts[path]):
                definer.setdefault(name, path)
    unit_edges = defaultdict(lambda: defaultdict(list))
    file_edges = defaultdict(lambda: defaultdict(list))
    for path in paths:
        unit = unit_of(path)
        for header in re.findall(r'^\s*#\s*include\s+"([^"]+)"', read(path), re.M):
            target = unit_of_header.get(os.path.basename(header))
            if target and target != unit:
                unit_edges[unit][target].append(f"{path} includes {header}")
    for path in paths:
        unit = unit_of(path)
        if not path.endswith(".cpp"):
            continue
        for name in called_functions(texts[path]):
            target = definer.get(name)
            if not target or target == path:
                continue
            declarers = {unit} | set(unit_edges[unit])  # this unit and the units it includes
            if any(name in interface[d] and unit_of(target) != d for d in declarers):
                continue  # declared there, defined by the user: a callback
            why = f"{path} calls {name}"
            if unit_of(target) != unit:
                unit_edges[unit][unit_of(target)].append(why)
            if target.split("/")[0] == path.split("/")[0]:
                file_edges[path][target].append(why)
    return unit_edges, file_edges


def find_cycle(edges):
    state = {}

    def visit(unit, path):
        state[unit] = "open"
        for target in edges.get(unit, {}):
            if state.get(target) == "open":
                return path[path.index(target):] + [target] if target in path else [unit, target]
            if target not in state:
                found = visit(target, path + [target])
                if found:
                    return found
        state[unit] = "done"
        return None

    for unit in list(edges):
        if unit not in state:
            found = visit(unit, [unit])
            if found:
                return found
    return None


def file_circles(edges):
    """Pairs of files that reach each other through calls."""
    def reach(start):
        seen, todo = set(), [start]
        while todo:
            for target in edges.get(todo.pop(), {}):
                if target not in seen:
                    seen.add(target)
                    todo.append(target)
        return seen

    reached = {path: reach(path) for path in list(edges)}
    return {(a, b) for a in reached for b in reached[a] if a < b and a in reached.get(b, ())}


class LayerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.unit_edges, cls.file_edges = scan()
        cls.layer = {unit: i for i, layer in enumerate(LAYERS) for unit in layer}
        cls.units = {unit_of(path) for path in source_files()}

    def test_every_unit_has_a_layer(self):
        missing = sorted(self.units - set(self.layer))
        self.assertEqual(missing, [], "give these units a place in LAYERS")

    def test_dependencies_point_down(self):
        upward = []
        for unit, targets in sorted(self.unit_edges.items()):
            for target, why in sorted(targets.items()):
                if self.layer.get(target, -1) <= self.layer.get(unit, -1):
                    upward.append(f"{unit} -> {target}: {why[0]}")
        self.assertEqual(upward, [], "\n  ".join(["dependencies that do not point down:"] + upward))

    def test_no_unit_circle(self):
        cycle = find_cycle(self.unit_edges)
        if cycle:
            steps = [f"{a} -> {b}: {self.unit_edges[a][b][0]}" for a, b in zip(cycle, cycle[1:])]
            self.fail("circle:\n  " + "\n  ".join(steps))

    def test_no_two_files_call_each_other_in_a_circle(self):
        self.assertEqual(sorted(file_circles(self.file_edges)), [])


if __name__ == "__main__":
    unittest.main()
