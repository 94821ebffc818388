#!/usr/bin/env python3
"""The build checks themselves: the include and release checks fail, naming
file and line, on what they are there to find, and pass everything else; the
link check names a library that needs a symbol of a layer above it, and only
that (build.layers, build.release and build.link_layers run them on the product).

    test_checks.py [LayersCheck | ReleaseCheck | LinkCheck]"""

import io
import os
import sys
import tempfile
import unittest
from contextlib import redirect_stdout

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import layers_check  # noqa: E402
import link_check  # noqa: E402
import release_check  # noqa: E402

LAYERS = ['common:', 'log: common', 'model: log common', 'manager: model log common']
FOLDERS = {name + '/.keep': '' for name in ('common', 'log', 'model', 'manager')}
RELEASE_TREE = dict(FOLDERS, **{'common/Owner.h': '// the owner\n',
                                'exceptions.txt': 'common/Owner.h the owner\nmodel/ converted after merge\n'})


def run_in_tree(check, files, *args):
    """The check's result and output on a tree of its own holding files ({path: text});
    "{root}" in an argument stands for the tree."""
    with tempfile.TemporaryDirectory(prefix='checks_') as root:
        for path, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), 'w', encoding='utf-8') as f:
                f.write(text)
        out = io.StringIO()
        with redirect_stdout(out):
            result = check.main(['check', root] + [arg.format(root=root) for arg in args])
        return result, out.getvalue()


class LayersCheck(unittest.TestCase):
    CASES = [
        # folder, include line, allowed
        ('model', '#include "manager/CGenericTSPIManager.h"', False),
        ('log', '#include "model/TapiDefs.h"', False),
        ('common', '#include "log/Trace.h"', False),
        ('model', '#include "tools/tapihost/Host.h"', False),
        ('model', '#include "../manager/ProviderLock.h"', False),
        ('model', '  #  include "manager/ProviderLock.h"', False),
        ('model', '#include "log/Trace.h"', True),
        ('model', '#include "common/Types.h"', True),
        ('model', '#include "model/LineTable.h"', True),
        ('manager', '#include "model/LineTable.h"', True),
        ('model', '#include "resource.h"', True),
        ('model', '#include <manager/anything.h>', True),
        ('model', '// #include "manager/x.h" in a comment line', True),
    ]

    def test_cases(self):
        for folder, include, allowed in self.CASES:
            with self.subTest(folder=folder, include=include):
                files = dict(FOLDERS, **{folder + '/File.cpp': '// one include\n%s\n' % include})
                result, out = run_in_tree(layers_check, files, *LAYERS)
                self.assertEqual(result, 0 if allowed else 1, out)
                if not allowed:
                    self.assertIn('%s/File.cpp:2: includes ' % folder, out)


class ReleaseCheck(unittest.TestCase):
    CASES = [
        # file, line of code, flagged
        ('manager/File.cpp', 'CloseHandle(h);', True),
        ('manager/File.cpp', 'if (h) ::CloseHandle(h);', True),
        ('manager/File.cpp', 'RegCloseKey(hKey);', True),
        ('manager/File.cpp', 'std::free(p);', True),
        ('manager/File.cpp', 'free (p);', True),
        ('manager/File.cpp', 'delete p;', True),
        ('manager/File.cpp', 'delete[] p;', True),
        ('manager/File.cpp', 'LocalFree(pDescriptor);', True),
        ('manager/File.cpp', 'HeapFree(GetProcessHeap(), 0, p);', True),
        ('manager/File.cpp', 'FreeSid(pSid);', True),
        ('manager/File.cpp', 'WinHttpCloseHandle(hRequest);', True),
        ('manager/File.cpp', 'std::unique_ptr<void, decltype(&CloseHandle)> h;', True),
        ('manager/File.cpp', '// CloseHandle(h) in a comment, and free() too', False),
        ('manager/File.cpp', '/* delete p; */ int n = 0;', False),
        ('manager/File.cpp', 'Trace(L"CloseHandle failed, free(%p)", p);', False),
        ('manager/File.cpp', 'CFile(const CFile&) = delete;', False),
        ('manager/File.cpp', 'CFile& operator=(const CFile&) =delete;', False),
        ('manager/File.cpp', 'bool bLockFree = true; CloseHandleLater(h); MyFreeSid(p);', False),
        ('manager/File.cpp', 'handle.reset();', False),
        ('common/Owner.h', 'static void Release(HANDLE h) { CloseHandle(h); }', False),
        ('common/Other.h', 'static void Release(HANDLE h) { CloseHandle(h); }', True),
        ('model/Table.cpp', 'std::free(pCall);', False),
    ]

    def run_release(self, files, *folders):
        return run_in_tree(release_check, dict(RELEASE_TREE, **files), '{root}/exceptions.txt', *folders)

    def test_cases(self):
        for path, code, flagged in self.CASES:
            with self.subTest(path=path, code=code):
                result, out = self.run_release({path: '// one line of code\n%s\n' % code}, 'common', 'model', 'manager')
                self.assertEqual(result, 1 if flagged else 0, out)
                if flagged:
                    self.assertIn('%s:2: releases by hand ' % path, out)

    def test_entry_naming_nothing_fails(self):
        exceptions = RELEASE_TREE['exceptions.txt'] + 'pbx/Gone.cpp converted after merge\n'
        result, out = self.run_release({'exceptions.txt': exceptions}, 'common', 'model', 'manager')
        self.assertEqual(result, 1, out)
        self.assertIn('pbx/Gone.cpp, which is not there', out)


class LinkCheck(unittest.TestCase):
    def test_cases(self):
        rules = layers_check.parse_rules(LAYERS)
        cases = [
            # (what, defined, undefined, expected)
            ('down only', {'log': {'TraceLog'}, 'model': {'g_PhoneLines'}, 'manager': {'g_Manager'}},
             {'model': {'TraceLog'}, 'manager': {'g_PhoneLines', 'TraceLog'}}, []),
            ('model needs the manager', {'log': {'TraceLog'}, 'manager': {'g_Manager'}},
             {'model': {'g_Manager', 'TraceLog'}}, [('model', 'g_Manager', 'manager')]),
            ('log needs the model', {'model': {'g_PhoneLines'}}, {'log': {'g_PhoneLines'}},
             [('log', 'g_PhoneLines', 'model')]),
            ('a system symbol', {'log': {'TraceLog'}}, {'common': {'__imp_CloseHandle'}}, []),
            ('defined below and above', {'common': {'X'}, 'manager': {'X'}}, {'log': {'X'}}, []),
            ('defined in its own library', {'model': {'Y'}}, {'model': {'Y'}}, []),
        ]
        for what, defined, undefined, expected in cases:
            with self.subTest(what):
                self.assertEqual(link_check.upward_references(defined, undefined, rules), expected)


if __name__ == '__main__':
    unittest.main()
