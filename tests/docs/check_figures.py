#!/usr/bin/env python3
"""Fails when README.md, PLAYERS.md, CHANGELOG.md or a page of docs/ carries a
measured figure that no program wrote: every number with a unit of measure
(a time, a size, a share, a ratio) in their prose must stand in a file of
docs/generated/, which the bench and the test command write with the commit
and the machine they measured, or be one of the system's own values listed in
tests/docs/fixed_values.txt (5000 ms, 4096 MB and the like). Code spans and
code blocks are commands and names, not figures, and are skipped.

    check_figures.py [ROOT]     exit 0 when every figure has its source
"""
import pathlib
import re
import sys

UNITS = {
    "ns": "ns", "us": "us", "µs": "us", "μs": "us", "ms": "ms",
    "s": "s", "sec": "s", "second": "s", "seconds": "s",
    "min": "min", "minute": "min", "minutes": "min",
    "h": "h", "hour": "h", "hours": "h",
    "b": "B", "byte": "B", "bytes": "B",
    "kb": "KB", "kib": "KiB", "mb": "MB", "mib": "MiB", "gb": "GB", "gib": "GiB",
    "%": "%", "×": "x", "x": "x", "hz": "Hz",
}
# A number (digits, thousands separators, decimals) and a unit right after it,
# a blank or none between, the unit ending the word.
FIGURE = re.compile(
    r"(?<![\w.])(\d[\d,]*(?:\.\d+)?)[ \u00a0]?(µs|μs|ns|us|ms|seconds?|sec|s|minutes?|min|hours?|h|"
    r"bytes?|KiB|MiB|GiB|KB|MB|GB|B|Hz|%|×)(?![\w])|(?<![\w.])(\d+(?:\.\d+)?)(x)(?![\w])",
    re.IGNORECASE)
CODE = re.compile(r"```.*?```|`[^`\n]*`", re.DOTALL)
LINK_TARGET = re.compile(r"\]\([^)]*\)")


def prose_of(text):
    """text without its code and link targets, each line where it was."""
    text = CODE.sub(lambda code: "\n" * code.group(0).count("\n"), text)
    return LINK_TARGET.sub("]", text)


def figures(prose):
    """The (number, unit) pairs of prose, as written and normalised."""
    for match in FIGURE.finditer(prose):
        number = (match.group(1) or match.group(3)).replace(",", "").rstrip(".")
        unit = (match.group(2) or match.group(4)).lower()
        yield match.group(0), (number, UNITS.get(unit, unit))


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    generated = root / "docs" / "generated"
    known = set()
    for path in sorted(generated.glob("*")):
        if path.suffix in (".md", ".txt"):
            known |= {figure for _, figure in figures(path.read_text(encoding="utf-8"))}
    fixed_file = root / "tests" / "docs" / "fixed_values.txt"
    for line in fixed_file.read_text(encoding="utf-8").splitlines():
        value = line.split("#", 1)[0].strip()
        if value:
            known |= {figure for _, figure in figures(value)}
    pages = [root / "README.md", root / "PLAYERS.md", root / "CHANGELOG.md"]
    pages += sorted(p for p in (root / "docs").rglob("*.md") if generated not in p.parents)
    unsourced = []
    for page in pages:
        if not page.exists():
            continue
        lines = prose_of(page.read_text(encoding="utf-8")).splitlines()
        for number, line in enumerate(lines, 1):
            for written, figure in figures(line):
                if figure not in known:
                    unsourced.append(f"{page.relative_to(root)}:{number}: {written}")
    for entry in unsourced:
        print(f"{entry}  <- measured by no program: not in docs/generated/ nor a fixed value")
    print(f"{len(pages)} pages, {len(unsourced)} figures without a source")
    return 1 if unsourced else 0


if __name__ == "__main__":
    sys.exit(main())
