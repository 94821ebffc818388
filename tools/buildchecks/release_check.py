#!/usr/bin/env python3
"""Checks that the product releases handles, keys and memory only through its
owners (common/UniqueResource.h and the owners built on it): a raw
CloseHandle, RegCloseKey, free, delete, LocalFree, HeapFree, FreeSid or
WinHttpCloseHandle anywhere else is reported as file:line and the check fails.

    release_check.py <source root> <exception list> <folder> ...

The exception list names the files (or whole folders, ending in "/") that may
still release by hand, each with the reason why; an entry without a reason,
or one that names nothing in the tree, fails the check too. Comments and
string literals are not looked at, nor "= delete" on a declaration."""

import os
import re
import sys

SOURCE_SUFFIXES = ('.h', '.hpp', '.cpp', '.c', '.inl')
RELEASE = re.compile(r'\b(CloseHandle|RegCloseKey|LocalFree|HeapFree|FreeSid|WinHttpCloseHandle)\b'
                     r'|\bfree\s*\('
                     r'|\bdelete\b')
DELETED_FUNCTION = re.compile(r'=\s*delete\b')


def code_only(text):
    """The text with comments and string and character literals blanked out,
    line breaks kept, so that line numbers stay right."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            end = text.find('\n', i)
            end = n if end == -1 else end
            i = end
        elif text.startswith('/*', i):
            end = text.find('*/', i + 2)
            end = n if end == -1 else end + 2
            out.append(''.join('\n' if ch == '\n' else ' ' for ch in text[i:end]))
            i = end
        elif c in '"\'':
            j = i + 1
            while j < n and text[j] != c and text[j] != '\n':
                j += 2 if text[j] == '\\' else 1
            out.append(' ' * (min(j + 1, n) - i))
            i = j + 1
        else:
            out.append(c)
            i += 1
    return ''.join(out)


def parse_exceptions(text):
    """{path: reason} from the list: one entry a line, "<path> <reason>";
    blank lines and lines starting with # are skipped."""
    entries = {}
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line or line.startswith('#'):
            continue
        path, _, reason = line.partition(' ')
        if not reason.strip():
            raise ValueError('exception list line %d: "%s" gives no reason' % (number, path))
        entries[path] = reason.strip()
    return entries


def excepted(path, exceptions):
    return any(path == entry or (entry.endswith('/') and path.startswith(entry)) for entry in exceptions)


def raw_releases(root, folders, exceptions):
    """(path relative to root, line number, the call) of every raw release
    outside the files the exception list names."""
    found = []
    for folder in folders:
        for dirpath, dirnames, names in os.walk(os.path.join(root, folder)):
            dirnames.sort()
            for name in sorted(names):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(dirpath, name)
                relative = os.path.relpath(path, root).replace(os.sep, '/')
                if excepted(relative, exceptions):
                    continue
                with open(path, encoding='utf-8', errors='replace') as f:
                    code = code_only(f.read())
                for number, line in enumerate(code.split('\n'), 1):
                    line = DELETED_FUNCTION.sub('', line)
                    for match in RELEASE.finditer(line):
                        found.append((relative, number, match.group(0).rstrip('( \t')))
    return found


def main(argv):
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    root, list_path, folders = argv[1], argv[2], argv[3:]
    with open(list_path, encoding='utf-8') as f:
        exceptions = parse_exceptions(f.read())
    stale = [entry for entry in exceptions if not os.path.exists(os.path.join(root, entry))]
    for entry in stale:
        print('%s: the exception list names %s, which is not there' % (list_path, entry))
    found = raw_releases(root, folders, exceptions)
    for path, number, call in found:
        print('%s:%d: releases by hand (%s); hold it in an owner (common/UniqueResource.h)' % (path, number, call))
    if found or stale:
        print('release: %d raw release(s), %d stale exception(s)' % (len(found), len(stale)))
        return 1
    print('release: %d folders, every release goes through an owner (%d exceptions)'
          % (len(folders), len(exceptions)))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
