#!/usr/bin/env python3
"""The link check names a library that needs a symbol of a layer above it,
and only that."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from layers_check import parse_rules  # noqa: E402
from link_check import upward_references  # noqa: E402

RULES = parse_rules(['common:', 'log: common', 'model: log common', 'manager: model log common'])


class UpwardReferences(unittest.TestCase):
    def test_cases(self):
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
                self.assertEqual(upward_references(defined, undefined, RULES), expected)


if __name__ == '__main__':
    unittest.main()
