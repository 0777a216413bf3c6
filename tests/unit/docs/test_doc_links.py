"""The front page and the docs/ pages point at each other by relative links, and the builder's
--help names docs/ pages: every such link must land on a file that exists and, with a
#fragment, on a heading of that file (as GitHub makes heading anchors)."""
import re
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[3]
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")


def anchor_of(heading: str) -> str:
    """GitHub's anchor for a heading: lower case, punctuation dropped, blanks as hyphens."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def anchors(path: Path) -> set:
    text = re.sub(r"```.*?```", "", path.read_text(encoding="utf-8"), flags=re.S)
    return {anchor_of(m) for m in re.findall(r"^#+ (.+)$", text, re.M)}


def broken_links(page: Path) -> list:
    faults = []
    text = re.sub(r"```.*?```", "", page.read_text(encoding="utf-8"), flags=re.S)
    for target in LINK.findall(text):
        if re.match(r"[a-z]+:", target):
            continue  # a web address
        path, _, fragment = target.partition("#")
        file = (page.parent / path).resolve() if path else page
        if not file.exists():
            faults.append(f"{page.relative_to(ROOT)}: {target}: no such file")
        elif fragment and file.suffix == ".md" and fragment not in anchors(file):
            faults.append(f"{page.relative_to(ROOT)}: {target}: no such heading")
    return faults


class DocLinksTest(unittest.TestCase):
    def test_anchor_rule(self):
        for heading, anchor in [("Tests", "tests"), ("Waiting for a setup", "waiting-for-a-setup"),
                                ("The finished program's command line and exit code",
                                 "the-finished-programs-command-line-and-exit-code"),
                                ("The decoder's embedding contract (`inflate/inflate.h`)",
                                 "the-decoders-embedding-contract-inflateinflateh")]:
            self.assertEqual(anchor_of(heading), anchor)

    def test_pages_link_to_what_exists(self):
        pages = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
        self.assertGreater(len(pages), 1)
        faults = [f for page in pages for f in broken_links(page)]
        self.assertEqual(faults, [], "\n".join(faults))

    def test_builder_names_only_existing_pages(self):
        named = set()
        for source in (ROOT / "builder").rglob("*.cpp"):
            named |= set(re.findall(r"docs/[\w-]+\.md", source.read_text(encoding="utf-8")))
        self.assertTrue(named, "the builder's help names no docs/ page")
        missing = sorted(p for p in named if not (ROOT / p).exists())
        self.assertEqual(missing, [])


if __name__ == "__main__":
    unittest.main()
