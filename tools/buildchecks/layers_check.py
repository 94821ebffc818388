#!/usr/bin/env python3
"""Checks that every #include "folder/..." of the product reaches only a folder
its own folder may use.

    layers_check.py <source root> "<folder>: <folder> <folder> ..." ...

Each rule names a product folder and the folders below it that its files may
include; a folder may always include its own headers. An include of any other
folder (another product folder, tools/, tests/, or a path going up with ..)
is reported as file:line and the check fails."""

import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCE_SUFFIXES = ('.h', '.hpp', '.cpp', '.c', '.rc', '.inl')


def parse_rules(texts):
    rules = {}
    for text in texts:
        folder, sep, allowed = text.partition(':')
        if not sep or not folder.strip():
            raise ValueError('a layer rule reads "<folder>: <folders it may use>": %r' % text)
        rules[folder.strip()] = set(allowed.split())
    unknown = {used for allowed in rules.values() for used in allowed} - rules.keys()
    if unknown:
        raise ValueError('layer rules use folders that have no rule: %s' % ', '.join(sorted(unknown)))
    return rules


def violations(root, rules):
    """(path relative to root, line number, include, folder) of every include
    that reaches a folder the including file's folder may not use."""
    found = []
    for folder in sorted(rules):
        allowed = rules[folder] | {folder}
        base = os.path.join(root, folder)
        for dirpath, _, names in os.walk(base):
            for name in sorted(names):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding='utf-8', errors='replace') as f:
                    for number, line in enumerate(f, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = match.group(1)
                        if '/' not in target:
                            continue  # a header beside the file
                        reached = target.split('/', 1)[0]
                        if reached not in allowed:
                            found.append((os.path.relpath(path, root), number, target, folder))
    return found


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    root = argv[1]
    rules = parse_rules(argv[2:])
    missing = [folder for folder in rules if not os.path.isdir(os.path.join(root, folder))]
    if missing:
        print('layers: no folder %s in %s' % (', '.join(missing), root), file=sys.stderr)
        return 2
    found = violations(root, rules)
    for path, number, target, folder in found:
        print('%s:%d: includes "%s", but %s/ may use only: %s'
              % (path, number, target, folder, ' '.join(sorted(rules[folder])) or 'nothing'))
    if found:
        print('layers: %d include(s) reach a folder they may not' % len(found))
        return 1
    print('layers: %d folders, every include points down' % len(rules))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
