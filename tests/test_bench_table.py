"""The benchmark table: ratios, speed-ups and goal verdicts from medians."""
import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))

from bench import cases, run  # noqa: E402

BY_NAME = {case.name: case for case in cases.all_cases()}
READ = BY_NAME["render _Attribute text"]
ASSIGN = BY_NAME["assign _NumericAttribute number"]


def medians(case, native, floor, peer):
    return {f"{case.name} | native": native, f"{case.name} | floor": floor, f"{case.name} | peer": peer}


@pytest.mark.parametrize(
    "case, times, verdict",
    [
        (READ, (30e-9, 20e-9, 90e-9), "ok"),
        (READ, (31e-9, 20e-9, 93e-9), "MISS floor>1.5"),
        (READ, (30e-9, 20e-9, 60e-9), "MISS peer<3x"),
        (ASSIGN, (60e-9, 40e-9, 100e-9), "MISS floor>1.3,peer<3x"),
        (ASSIGN, (52e-9, 40e-9, 200e-9), "ok"),
    ],
)
def test_rows_hold_ratios_and_verdicts(case, times, verdict):
    native, floor, peer = times
    text = run.table([case], medians(case, *times), 10e-9, 1e-3)
    row = next(line for line in text.splitlines() if line.startswith(case.name))
    assert row.endswith(verdict)
    assert f"{native / floor:.2f}" in row and f"{peer / native:.1f}x" in row


def test_markdown_table_has_ratios_but_no_times():
    text = run.table([READ, ASSIGN], {**medians(READ, 25e-9, 20e-9, 80e-9), **medians(ASSIGN, 50e-9, 40e-9, 300e-9)},
                     10e-9, 3e-3, ratios_only=True)
    lines = text.splitlines()
    assert lines[0] == "| case | floor | x floor | x noop | speed-up | goal |"
    assert lines[2] == "| render _Attribute text | owner.prop | 1.25 | 2.5 | 3.2x | ok |"
    assert lines[3] == "| assign _NumericAttribute number | NumericProperty | 1.25 |  | 6.0x | ok |"
    assert lines[-1] == "| import tavo.core._attributes | < 2.00 ms |  |  |  | MISS >2.00 ms |"
    assert " ns" not in text and " us" not in text


def test_cases_without_medians_are_left_out():
    text = run.table([READ, ASSIGN], medians(ASSIGN, 50e-9, 40e-9, 300e-9), None, None)
    assert READ.name not in text and ASSIGN.name in text
