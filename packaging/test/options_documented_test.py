#!/usr/bin/env python3
"""Every program's bash completion offers exactly the options its man page
lists (section OPTIONS), so that neither leaves out an option of the other.

usage: options_documented_test.py [--emulator "<prefix>"] program:completion:manpage ...
"""
import re
import subprocess
import sys

import scripttest  # tools/testing, on PYTHONPATH
import unittest

# An option at the start of a word: \-x, \-\-long\-name.
ROFF_OPTION = re.compile(r'(?:^|[\s"])(\\-(?:\\-)?[A-Za-z0-9][A-Za-z0-9]*(?:\\-[A-Za-z0-9]+)*)')


def completed_options(program, completion):
    """What the completion offers for a word "-" after the program name."""
    script = ('source "$1"; COMP_WORDS=("$2" -); COMP_CWORD=1; '
              'f=$(complete -p "$2" | sed -n "s/.* -F \\([^ ]*\\) .*/\\1/p"); "$f"; printf "%s\\n" "${COMPREPLY[@]}"')
    r = subprocess.run(["bash", "--norc", "-c", script, "bash", completion, program], capture_output=True, text=True,
                       timeout=60)
    if r.returncode != 0:
        raise AssertionError("%s: %s" % (completion, r.stderr))
    return {word for word in r.stdout.split("\n") if word}


def documented_options(page):
    """The options named at the start of the entries (.TP) of OPTIONS."""
    with open(page) as f:
        text = f.read()
    section = re.search(r"^\.SH OPTIONS\n(.*?)(?=^\.SH )", text, re.M | re.S)
    if not section:
        raise AssertionError("%s: no OPTIONS section" % page)
    options = set()
    for tag in re.findall(r"^\.TP\n(.*)$", section.group(1), re.M):
        tag = re.sub(r"\\f[BIRP]", " ", tag)  # font changes
        options |= {o.replace("\\-", "-") for o in ROFF_OPTION.findall(tag)}
    return options


class OptionsDocumented(unittest.TestCase):
    def test_completion_and_man_page_name_the_same_options(self):
        for program, completion, page in (p.split(":") for p in self.args.programs):
            with self.subTest(program):
                self.assertEqual(sorted(completed_options(program, completion)), sorted(documented_options(page)))


def main():
    return scripttest.run(scripttest.arguments(extra=lambda parser: parser.add_argument("programs", nargs="+")))


if __name__ == "__main__":
    sys.exit(main())
