#!/usr/bin/env python3
"""Writes the icon-name table of the FontAwesome icon font as C++ source.

Reads the font's stylesheet (rules such as `.fa-close:before, .fa-times:before
{ content: "\\f00d"; }`) and emits one row per icon name: the name without its
hyphens, prefixed with "fa_" when it would begin with a digit or read as a
reserved word ("fa_500px", "fa_linux", "fa_try").

usage: fontawesome_names.py font-awesome.css output.cpp
"""
import re
import sys

RESERVED = {"linux", "try"}


def table_name(css_name):
    name = css_name.replace("-", "")
    if name[0].isdigit() or name in RESERVED:
        name = "fa_" + name
    return name


def main():
    css_path, out_path = sys.argv[1], sys.argv[2]
    with open(css_path, encoding="utf-8") as f:
        css = f.read()
    rows = {}
    rule = re.compile(r'((?:\.fa-[a-z0-9-]+:before\s*,?\s*)+)\{\s*content:\s*"\\([0-9a-fA-F]+)";\s*\}')
    for m in rule.finditer(css):
        code = int(m.group(2), 16)
        for css_name in re.findall(r"\.fa-([a-z0-9-]+):before", m.group(1)):
            name = table_name(css_name)
            if name in rows and rows[name] != code:
                sys.exit("conflicting rows for %s" % name)
            rows[name] = code
    if not rows:
        sys.exit("no icon names found in " + css_path)
    lines = [
        "// Generated from %s by fontawesome_names.py; do not edit." % css_path.split("/")[-1],
        '#include "presentation/QtAwesomeNames.h"',
        "",
        "const QtAwesomeName qtAwesomeNames[] = {",
    ]
    for name in sorted(rows):
        lines.append('    {"%s", 0x%x},' % (name, rows[name]))
    lines += ["};", "", "const int qtAwesomeNameCount = %d;" % len(rows), ""]
    with open(out_path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main()
