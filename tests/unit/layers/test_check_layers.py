"""scripts/check_layers.py: on small trees, each kind of fault is found and named, and what
the arrows allow passes; on the repository itself, nothing is found."""
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[3]
sys.path.insert(0, str(ROOT / "scripts"))

import check_layers  # noqa: E402

LAYERS = """\
# two programs with rooms, two shared rooms
tool/top:    tool/low shared
tool/low:    shared
app/front:   app/back shared
app/back:    shared
shared:      base
base:
"""

# The files every case starts from: one header a room.
BASE_FILES = {
    "tool/top/run.h": "",
    "tool/low/names.h": "",
    "app/front/dialog.h": "",
    "app/back/names.h": "",
    "shared/facts.h": "",
    "base/bytes.h": "",
}

# (case, files added or replaced, layers text or None, faults expected: each a list of the
# pieces one fault line must hold, in any order of lines)
CASES = [
    ("downward includes pass",
     {"tool/top/run.cpp": '#include "run.h"\n#include "names.h"\n#include "facts.h"\n'}, None, []),
    ("an include against the arrows names file, line, header and both rooms",
     {"tool/low/names.cpp": '#include "names.h"\n\n#include "run.h"\n'}, None,
     [["tool/low/names.cpp:3", '"run.h"', "tool/top", "tool/low may not use"]]),
    ("a path from the repository counts like a bare name",
     {"shared/facts.cpp": '#include "tool/top/run.h"\n'}, None,
     [["shared/facts.cpp:1", "tool/top", "shared may not use"]]),
    ("a shared room may not reach into a program",
     {"base/bytes.cpp": '#include "facts.h"\n#include "dialog.h"\n'}, None,
     [["base/bytes.cpp:1", "(shared)"], ["base/bytes.cpp:2", "(app/front)"]]),
    ("a bare name means the program's own file, never the other program's",
     {"app/front/dialog.cpp": '#include "names.h"\n', "tool/top/run.cpp": '#include "names.h"\n'}, None, []),
    ("an include found nowhere (system or generated header) is left alone",
     {"base/bytes.cpp": '#include "generated_ids.h"\n'}, None, []),
    ("a commented-out include is no include",
     {"base/bytes.cpp": '// #include "run.h"\n/*\n#include "run.h" */\n'}, None, []),
    ("a bare name in two shared rooms is ambiguous",
     {"shared/bytes.h": "", "app/back/x.cpp": '#include "bytes.h"\n'},
     LAYERS.replace("app/back:   shared", "app/back:   shared base"),
     [['"bytes.h" is ambiguous', "base/bytes.h", "shared/bytes.h"]]),
    ("a source file outside every room",
     {"tool/stray.cpp": "", "tool/top/extra/deep.h": ""}, None,
     [["tool/stray.cpp", "lies in no room"], ["tool/top/extra/deep.h", "lies in no room"]]),
    ("arrows in a circle", {}, LAYERS.replace("base:\n", "base: tool/low\n"),
     [["circle", "base -> tool/low", "shared -> base"]]),
    ("an arrow to a room that is not listed", {}, LAYERS.replace("tool/low:    shared", "tool/low:    shard"),
     [["tool/low names shard, which is no room"]]),
    ("a listed room without its folder", {}, LAYERS + "gone:\n", [["room gone is no folder"]]),
]


def make_tree(folder: Path, files: dict, layers: str) -> None:
    for path, text in files.items():
        (folder / path).parent.mkdir(parents=True, exist_ok=True)
        (folder / path).write_text(text, encoding="utf-8")
    (folder / "layers.txt").write_text(layers, encoding="utf-8")


class CheckLayersTest(unittest.TestCase):
    def test_cases(self):
        for name, files, layers, expected in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as temp:
                root = Path(temp)
                make_tree(root, {**BASE_FILES, **files}, layers or LAYERS)
                faults = check_layers.check(root, root / "layers.txt")
                unmatched = list(faults)
                for pieces in expected:
                    line = next((f for f in unmatched if all(p in f for p in pieces)), None)
                    self.assertIsNotNone(line, f"no fault with {pieces} in {faults}")
                    unmatched.remove(line)
                self.assertEqual(unmatched, [], "faults not expected")

    def test_repository_follows_its_arrows(self):
        faults = check_layers.check(ROOT, ROOT / "layers.txt")
        self.assertEqual(faults, [], "\n".join(faults))


if __name__ == "__main__":
    unittest.main()
