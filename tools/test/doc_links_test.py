#!/usr/bin/env python3
"""Every relative link of README.md and docs/*.md reaches a file of the
checkout, and every #anchor a heading of the file it names (headings as the
Markdown renderer names them). Links in code (fenced or indented blocks,
`spans`) are not links; addresses with a scheme are not followed.

usage: doc_links_test.py --emulator "" --root <source folder>
"""
import glob
import os
import re
import sys
import tempfile
import unittest

import scripttest  # tools/testing, on PYTHONPATH

LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")


def prose_lines(text):
    """(number, line) of the lines outside code blocks."""
    fence, code, blank = None, False, True
    for number, line in enumerate(text.splitlines(), 1):
        marker = re.match(r"\s*(```|~~~)", line)
        if fence:
            fence = None if marker and marker.group(1) == fence else fence
        elif marker:
            fence = marker.group(1)
        elif line.startswith("    ") and (blank or code):
            code = True
        else:
            code = False
            yield number, line
        blank = not line.strip()


def anchors(path):
    """The anchors of a Markdown file's headings: lower case, punctuation
    dropped, spaces as hyphens, repeats numbered."""
    seen, names = {}, set()
    with open(path, encoding="utf-8") as f:
        for _, line in prose_lines(f.read()):
            heading = re.match(r" {0,3}#{1,6}\s+(.*?)\s*#*\s*$", line)
            if heading:
                text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading.group(1)).replace("`", "")
                slug = re.sub(r"[^\w\- ]", "", text.lower()).replace(" ", "-")
                count = seen.get(slug, 0)
                seen[slug] = count + 1
                names.add(slug if count == 0 else "%s-%d" % (slug, count))
    return names


def broken_links(paths):
    """(file, line number, target, reason) of every link that leads nowhere,
    and the number of links checked."""
    broken, checked = [], 0
    for path in paths:
        with open(path, encoding="utf-8") as f:
            text = f.read()
        prose = [""] * (text.count("\n") + 1)   # code blocks as empty lines: a link may span lines
        for number, line in prose_lines(text):
            prose[number - 1] = re.sub(r"(`+).*?\1", "", line)
        prose = "\n".join(prose)
        for link in LINK.finditer(prose):
            target = link.group(1)
            if re.match(r"[a-zA-Z][a-zA-Z0-9+.-]*:", target):
                continue
            checked += 1
            number = prose.count("\n", 0, link.start()) + 1
            file, _, anchor = target.partition("#")
            dest = os.path.normpath(os.path.join(os.path.dirname(path), file)) if file else path
            if not os.path.exists(dest):
                broken.append((path, number, target, "no such file"))
            elif anchor and (not dest.endswith(".md") or anchor not in anchors(dest)):
                broken.append((path, number, target, "no such heading"))
    return broken, checked


class DocLinks(unittest.TestCase):
    def test_every_link_of_the_documentation_resolves(self):
        paths = [os.path.join(self.args.root, "README.md")] + sorted(
            glob.glob(os.path.join(self.args.root, "docs", "*.md")))
        broken, checked = broken_links(paths)
        self.assertEqual(broken, [])
        self.assertGreater(checked, 10)

    def test_a_missing_file_or_heading_is_found(self):
        with tempfile.TemporaryDirectory() as tmp:
            doc, other = os.path.join(tmp, "a.md"), os.path.join(tmp, "b.md")
            with open(other, "w") as f:
                f.write("# Kills, full disks and other users\n\n## `--serve` waits\n\n## Again\n\n## Again\n")
            with open(doc, "w") as f:
                f.write("## Here\n\n[ok](b.md#kills-full-disks-and-other-users) [ok](b.md#--serve-waits)"
                        " [ok](#here) [ok](b.md#again-1) ![ok](b.md) [web](https://example.org/x#y)\n"
                        "[gone](c.md) ![gone](pic.png) [bad](b.md#nowhere) [bad\nacross lines](#there)\n"
                        "`[code](c.md)`\n\n    [code](c.md)\n\n```\n[code](c.md)\n```\n")
            broken, checked = broken_links([doc])
        self.assertEqual([(line, target) for _, line, target, _ in broken],
                         [(4, "c.md"), (4, "pic.png"), (4, "b.md#nowhere"), (4, "#there")])
        self.assertEqual(checked, 9)


def main():
    sys.exit(scripttest.run(scripttest.arguments(options=("--root",))))


if __name__ == "__main__":
    main()
