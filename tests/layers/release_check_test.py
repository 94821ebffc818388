#!/usr/bin/env python3
"""The release check itself: it fails, naming file and line, where a handle is
closed or memory freed by hand outside the owners and the listed exceptions,
and passes everything else (build.release runs it on the product)."""

import io
import os
import shutil
import tempfile
import unittest
from contextlib import redirect_stdout

import release_check


def run_check(root, exceptions_path, folders):
    out = io.StringIO()
    with redirect_stdout(out):
        result = release_check.main(['release_check.py', root, exceptions_path] + list(folders))
    return result, out.getvalue()


class CaseTableTest(unittest.TestCase):
    """One file per case in a tree of its own, with a small exception list."""

    EXCEPTIONS = 'common/Owner.h the owner\nmodel/ converted after merge\n'
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

    def make_tree(self, tmp):
        for name in ('common', 'model', 'manager'):
            os.mkdir(os.path.join(tmp, name))
        with open(os.path.join(tmp, 'common', 'Owner.h'), 'w', encoding='utf-8') as f:
            f.write('// the owner\n')
        exceptions = os.path.join(tmp, 'exceptions.txt')
        with open(exceptions, 'w', encoding='utf-8') as f:
            f.write(self.EXCEPTIONS)
        return exceptions

    def test_cases(self):
        for path, code, flagged in self.CASES:
            with self.subTest(path=path, code=code):
                tmp = tempfile.mkdtemp(prefix='release_')
                try:
                    exceptions = self.make_tree(tmp)
                    with open(os.path.join(tmp, path), 'w', encoding='utf-8') as f:
                        f.write('// one line of code\n%s\n' % code)
                    result, out = run_check(tmp, exceptions, ['common', 'model', 'manager'])
                    if flagged:
                        self.assertEqual(result, 1, out)
                        self.assertIn('%s:2: releases by hand ' % path, out)
                    else:
                        self.assertEqual(result, 0, out)
                finally:
                    shutil.rmtree(tmp)

    def test_block_comment_keeps_line_numbers(self):
        tmp = tempfile.mkdtemp(prefix='release_')
        try:
            exceptions = self.make_tree(tmp)
            with open(os.path.join(tmp, 'manager', 'File.cpp'), 'w', encoding='utf-8') as f:
                f.write('/* one\n   two\n   three */\nLocalFree(p);\n')
            result, out = run_check(tmp, exceptions, ['manager'])
            self.assertEqual(result, 1, out)
            self.assertIn('manager/File.cpp:4: releases by hand (LocalFree)', out)
        finally:
            shutil.rmtree(tmp)

    def test_entry_naming_nothing_fails(self):
        tmp = tempfile.mkdtemp(prefix='release_')
        try:
            exceptions = self.make_tree(tmp)
            with open(exceptions, 'a', encoding='utf-8') as f:
                f.write('pbx/Gone.cpp converted after merge\n')
            result, out = run_check(tmp, exceptions, ['common', 'model', 'manager'])
            self.assertEqual(result, 1, out)
            self.assertIn('pbx/Gone.cpp, which is not there', out)
        finally:
            shutil.rmtree(tmp)

    def test_entry_without_reason_is_refused(self):
        with self.assertRaises(ValueError):
            release_check.parse_exceptions('model/\n')
        self.assertEqual({'model/': 'converted after merge'},
                         release_check.parse_exceptions('# comment\n\nmodel/ converted after merge\n'))


if __name__ == '__main__':
    unittest.main()
