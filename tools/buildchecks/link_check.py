#!/usr/bin/env python3
"""Checks that no library of a product folder needs a symbol that only a
library of a folder it may not use defines: the link-time side of the layers.

    link_check.py <nm> <folder>=<library> ... -- "<folder>: <folder> ..." ...

The rules are those of layers_check.py. A symbol a library leaves undefined
that another product library defines must come from the library's own folder
or one its rule allows; each that does not is reported with both libraries,
and the check fails. Symbols no product library defines (the system's, the
runtime's) are not the layers' business."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from layers_check import parse_rules  # noqa: E402


def symbols(nm, library, *flags):
    out = subprocess.run([nm, '--format=posix', *flags, library], check=True, capture_output=True, text=True).stdout
    # posix format: "<name> <type> [value size]"; archive member headers end with ':'.
    return {line.split()[0] for line in out.splitlines() if line and not line.endswith(':') and ' ' in line}


def upward_references(defined, undefined, rules):
    """(folder, symbol, folder defining it) for every symbol a folder's library
    needs from a folder it may not use. defined/undefined: folder -> names."""
    definers = {}
    for folder, names in defined.items():
        for name in names:
            definers.setdefault(name, set()).add(folder)
    found = []
    for folder in sorted(undefined):
        allowed = rules[folder] | {folder}
        for name in sorted(undefined[folder] - defined.get(folder, set())):
            owners = definers.get(name, set())
            if owners and not owners & allowed:
                found.append((folder, name, ', '.join(sorted(owners))))
    return found


def main(argv):
    if '--' not in argv or len(argv) < 4:
        print(__doc__)
        return 2
    split = argv.index('--')
    nm, libraries, rules = argv[1], argv[2:split], parse_rules(argv[split + 1:])
    defined, undefined = {}, {}
    for item in libraries:
        folder, _, library = item.partition('=')
        defined[folder] = symbols(nm, library, '--defined-only', '--extern-only')
        undefined[folder] = symbols(nm, library, '--undefined-only')
    found = upward_references(defined, undefined, rules)
    for folder, name, owners in found:
        print('%s: needs %s, defined only in %s, which it may not use' % (folder, name, owners))
    if found:
        return 1
    print('link layers: %d libraries, every symbol they need comes from below' % len(libraries))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
