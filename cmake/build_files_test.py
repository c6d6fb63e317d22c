#!/usr/bin/env python3
"""The build files mirror the source folders: every folder with C or C++
sources has its own CMakeLists.txt; CMake fragments (*.cmake) are modules of
cmake/ only, so no folder includes another's or globs for them; no build file
reads the engine folder's old TRACK variable; VxTesting.cmake defines test
helpers only (vx_add_*test*, vx_add_benchmark)."""

import os
import re

import scripttest  # tools/testing, on PYTHONPATH

SOURCE_FOLDERS = ("functional", "platform", "tools", "packaging")


def build_files(source):
    for top in SOURCE_FOLDERS + ("cmake",):
        for folder, dirs, files in os.walk(os.path.join(source, top)):
            for name in files:
                if name == "CMakeLists.txt" or name.endswith(".cmake"):
                    yield os.path.join(folder, name)
    yield os.path.join(source, "CMakeLists.txt")


def main():
    args = scripttest.arguments(options=("--source",), checks=True)   # it reads files only
    source = os.path.abspath(args.source)
    c = scripttest.Failures()

    for top in SOURCE_FOLDERS:
        for folder, dirs, files in os.walk(os.path.join(source, top)):
            if any(name.endswith((".cpp", ".c")) for name in files):
                c.check("CMakeLists.txt" in files, f"{os.path.relpath(folder, source)} has sources but no CMakeLists.txt")

    fragment = re.compile(r"\bfile\s*\(\s*GLOB\w*[^)]*(\.cmake|CMakeLists)", re.S)
    for path in build_files(source):
        rel = os.path.relpath(path, source)
        with open(path) as f:
            text = f.read()
        c.check(rel.startswith("cmake/") or not rel.endswith(".cmake"),
                f"{rel}: a build fragment outside cmake/ (a folder's build file is its CMakeLists.txt)")
        c.check(not fragment.search(text), f"{rel}: globs for build files")
        c.check("${TRACK}" not in text, f"{rel}: reads TRACK, the engine folder's variable")

    with open(os.path.join(source, "cmake", "VxTesting.cmake")) as f:
        defined = re.findall(r"^\s*(?:function|macro)\s*\(\s*(\w+)", f.read(), re.M)
    c.check(defined, "VxTesting.cmake defines its helpers")
    for name in defined:
        c.check(re.fullmatch(r"vx_add_\w*(test|benchmark)\w*", name),
                f"VxTesting.cmake defines {name}, which is no test helper (cmake/VxProduct.cmake is for those)")
    c.finish()


if __name__ == "__main__":
    main()
