#!/usr/bin/env python3
"""The administrator's guide (docs/admin.md) against the code: every registry
value the provider reads (a wide literal or constant given as the value name
to a Read... helper, RegQueryValueExW or RegGetValueW; a name formatted at run
time, "ProviderFilename%u", as "ProviderFilename<n>") has a row in a table of
the guide whose first header cell is "Value", and every such row names a
value the provider reads.

Usage: admin_guide_test.py <source folder>
"""
import re
import sys
from pathlib import Path

PRODUCT_DIRS = ["common", "model", "manager", "pbx", "http", "json", "log", "config", "provider"]
VALUE_NAME = re.compile(r"^[A-Z][A-Za-z0-9]*(%[du])?$")
WIDE_CONSTANT = re.compile(r"\b(k\w+|g_\w+)\s*(?:\[\s*\])?\s*=\s*L\"([^\"\\]*)\"")
READ_CALL = re.compile(r"\b(Read\w*|RegQueryValueExW|RegGetValueW)\s*\(")
FORMAT_INTO = re.compile(r"\b(?:StrFormat|BoundedFormat)\(\s*(\w+)\s*,\s*(?:\w+\s*,\s*)?L\"([A-Z][A-Za-z0-9]*%[du])\"")


# A string literal, a bracket or comma, or a run of anything else.
TOKEN = re.compile(r'"(?:\\.|[^"\\])*"|[()\[\]{},]|[^"()\[\]{},]+')


def split_arguments(text, start):
    """The top-level arguments of the call whose "(" is at text[start - 1]."""
    arguments, depth, current = [], 0, ""
    for token in TOKEN.finditer(text, start):
        t = token.group()
        if t == "," and depth == 0:
            arguments.append(current.strip())
            current = ""
            continue
        if t in ")]}":
            if depth == 0:
                return arguments + [current.strip()]
            depth -= 1
        elif t in "([{":
            depth += 1
        current += t
    return arguments


def value_names(argument, constants, formatted):
    """The value names an argument stands for: a literal, a constant, or a
    buffer that the same file formats a name into."""
    literal = re.fullmatch(r'L"([^"\\]*)"', argument)
    if literal:
        return [literal.group(1)]
    if argument in constants:
        return [constants[argument]]
    return formatted.get(argument, [])


def names_read_by_code(source):
    files = [p for d in PRODUCT_DIRS for p in sorted((source / d).glob("*")) if p.suffix in (".cpp", ".h")]
    texts = {p: p.read_text(encoding="utf-8") for p in files}
    constants = {}
    for text in texts.values():
        constants.update(WIDE_CONSTANT.findall(text))
    names = {}
    for path, text in texts.items():
        formatted = {}
        for buffer, name in FORMAT_INTO.findall(text):
            formatted.setdefault(buffer, []).append(name)
        for call in READ_CALL.finditer(text):
            arguments = split_arguments(text, call.end())
            # RegQueryValueExW(key, name, ...); RegGetValueW(key, subkey, name, ...);
            # the Read... helpers take the name first or after the key.
            positions = {"RegQueryValueExW": [1], "RegGetValueW": [2]}.get(call.group(1), [0, 1])
            for position in positions[: len(arguments)]:
                for name in value_names(arguments[position], constants, formatted):
                    if VALUE_NAME.match(name):
                        names.setdefault(re.sub(r"%[du]$", "<n>", name), f"{path.relative_to(source)}: {call.group(1)}")
    return names


def names_in_guide(guide):
    """First-column names of the guide's tables whose first header cell is "Value"."""
    names, in_value_table, lines = {}, False, guide.read_text(encoding="utf-8").splitlines()
    for number, line in enumerate(lines, 1):
        if not line.startswith("|"):
            in_value_table = False
            continue
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if not in_value_table:
            in_value_table = cells[0] == "Value" and number < len(lines) and lines[number].startswith("|-")
            continue
        if set(cells[0]) <= set("-: "):
            continue
        for name in re.findall(r"`([^`]+)`", cells[0]):
            names[name] = number
    return names


def main():
    source = Path(sys.argv[1]).resolve()
    read = names_read_by_code(source)
    documented = names_in_guide(source / "docs" / "admin.md")
    failures = []
    for name, where in sorted(read.items()):
        if name not in documented:
            failures.append(f"registry value {name} ({where}) is not in a value table of docs/admin.md")
    for name, line in sorted(documented.items()):
        if name not in read:
            failures.append(f"docs/admin.md line {line} documents {name}, which the provider does not read")
    if not read:
        failures.append("no registry value found in the sources: the scan is broken")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(read)} registry values read by the provider, {len(documented)} documented")
    print(f"{len(read) - len([f for f in failures if 'is not in' in f])} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
