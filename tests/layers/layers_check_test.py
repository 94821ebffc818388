#!/usr/bin/env python3
"""The include check itself: it fails, naming file and line, on an include
that reaches up, and passes every other (build.layers runs it on the product)."""

import io
import os
import shutil
import tempfile
import unittest
from contextlib import redirect_stdout

import layers_check


def run_check(root, rule_texts):
    out = io.StringIO()
    with redirect_stdout(out):
        result = layers_check.main(['layers_check.py', root] + list(rule_texts))
    return result, out.getvalue()


class RuleTableTest(unittest.TestCase):
    """One file per case in a tree of its own, checked against a small table."""

    TABLE = ['common:', 'log: common', 'model: log common', 'manager: model log common']
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
                tmp = tempfile.mkdtemp(prefix='layers_')
                try:
                    for name in ('common', 'log', 'model', 'manager'):
                        os.mkdir(os.path.join(tmp, name))
                    with open(os.path.join(tmp, folder, 'File.cpp'), 'w', encoding='utf-8') as f:
                        f.write('// one include\n%s\n' % include)
                    result, out = run_check(tmp, self.TABLE)
                    if allowed:
                        self.assertEqual(result, 0, out)
                    else:
                        self.assertEqual(result, 1, out)
                        self.assertIn('%s/File.cpp:2: includes ' % folder, out)
                finally:
                    shutil.rmtree(tmp)

    def test_rule_using_a_folder_without_rule_is_refused(self):
        with self.assertRaises(ValueError):
            layers_check.parse_rules(['model: log'])
        with self.assertRaises(ValueError):
            layers_check.parse_rules(['model log'])


if __name__ == '__main__':
    unittest.main()
