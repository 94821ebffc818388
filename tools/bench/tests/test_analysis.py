"""The bench's reading of TAPI events: what counts as lost, duplicated or out
of order, and its percentiles. A miscount here would report a faulty
provider as sound."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

import bench  # noqa: E402

N, O, C, D, I = bench.NEWCALL, bench.OFFERING, bench.CONNECTED, bench.DISCONNECTED, bench.IDLE


def events(*states):
    return [[3, 65537, state, 1700000000.0 + index] for index, state in enumerate(states)]


class JudgeCallTest(unittest.TestCase):
    def test_lost_duplicated_and_order_of_one_answered_call(self):
        cases = [
            ("whole", (N, O, C, D, I), (0, 0, True)),
            ("nothing arrived", (), (5, 0, True)),
            ("connected lost", (N, O, D, I), (1, 0, True)),
            ("offering twice", (N, O, O, C, D, I), (0, 1, True)),
            ("a second call announced", (N, O, C, D, I, N), (0, 1, True)),
            ("idle before disconnected", (N, O, C, I, D), (0, 0, False)),
            ("connected after idle, connected lost before", (N, O, D, I, C), (0, 0, False)),
            ("a state it should not have", (N, O, C, D, I, bench.CONNECTED << 1), (0, 1, True)),
            ("lost and duplicated", (N, O, O, D, I), (1, 1, True)),
            ("offering again after connected: a duplicate", (N, O, C, O, D, I), (0, 1, True)),
        ]
        for label, states, expected in cases:
            with self.subTest(label):
                self.assertEqual(bench.judge_call(events(*states), bench.ANSWERED_CALL), expected)

    def test_unanswered_call_and_first_times(self):
        self.assertEqual(bench.judge_call(events(N, O, D, I), bench.UNANSWERED_CALL), (0, 0, True))
        firsts = bench.first_of_each(events(N, O, O, I))
        self.assertEqual((firsts[O], firsts[I]), (1700000001.0, 1700000003.0))


class FiguresTest(unittest.TestCase):
    def test_nearest_rank_percentiles(self):
        values = [float(v) for v in range(100, 0, -1)]
        self.assertEqual((bench.percentile(values, 50), bench.percentile(values, 99)), (50.0, 99.0))
        self.assertEqual(bench.percentile([7.0], 99), 7.0)
        self.assertEqual(bench.percentile([1.0, 2.0, 3.0], 50), 2.0)
        self.assertIsNone(bench.percentile([], 50))


if __name__ == "__main__":
    unittest.main()
