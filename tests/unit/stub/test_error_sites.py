"""sfxhead/SITES.md lists every internal-error site number the stub's code uses, and nothing
else; a number two functions share is named in its text. The numbers are what users see in
the internal-error box, so a site added, dropped or duplicated must show up in the list."""
import re
import sys
import unittest
from collections import defaultdict
from pathlib import Path

ROOT = Path(__file__).resolve().parents[3]
sys.path.insert(0, str(ROOT / "scripts"))

import error_sites  # noqa: E402

LIST = ROOT / "sfxhead" / "SITES.md"


def listed_sites(text: str) -> set:
    """Numbers of the site table: its rows start with "| N | `folder/file`"."""
    return {int(n) for n in re.findall(r"^\| (\d+) \| `\w+/", text, re.M)}


def shared_numbers_named(text: str) -> set:
    """Numbers named as shared in the text above the tables ("- **541**: ...")."""
    return {int(n) for n in re.findall(r"^- \*\*(\d+)\*\*", text, re.M)}


class ErrorSitesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sites = error_sites.internal_error_sites()
        cls.text = LIST.read_text(encoding="utf-8")

    def test_finds_the_sites_of_every_reporting_function(self):
        # A reader that missed a whole kind of call would make the other checks vacuous.
        kinds = {what.split(":")[0] for _, _, _, what in self.sites}
        self.assertEqual(kinds, set(error_sites.SITE_ARGUMENTS) - {"internal_error"})

    def test_every_function_taking_a_site_number_is_read(self):
        # A new helper with a site-number parameter must be known to the lister, or its
        # numbers would be missing from the list without any test noticing.
        takers = set()
        for folder in error_sites.SOURCE_FOLDERS:
            for path in (ROOT / folder).rglob("*.[ch]*"):
                text = error_sites.strip_comments_and_strings(path.read_text(encoding="utf-8"))
                takers |= set(re.findall(r"\b(\w+)\s*\([^;{)]*\bint\s+(?:line|fail_line|full_line)\b",
                                         text))
        self.assertEqual(sorted(takers - set(error_sites.SITE_ARGUMENTS)), [])

    def test_list_holds_exactly_the_numbers_in_the_code(self):
        used = {number for number, _, _, _ in self.sites}
        listed = listed_sites(self.text)
        self.assertEqual(sorted(used - listed), [], "used in the code but missing in SITES.md")
        self.assertEqual(sorted(listed - used), [], "listed in SITES.md but no longer used")

    def test_numbers_shared_by_two_functions_are_named(self):
        functions = defaultdict(set)
        for number, file, function, _ in self.sites:
            functions[number].add((file, function))
        shared = {number for number, where in functions.items() if len(where) > 1}
        self.assertEqual(shared, shared_numbers_named(self.text))


if __name__ == "__main__":
    unittest.main()
