"""The benchmark tables: ratios, speed-ups and goal verdicts from medians and instruction counts."""
import os
import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT))

from bench import callgrind, cases, run  # noqa: E402

BY_NAME = {case.name: case for case in cases.all_cases()}
READ = BY_NAME["render _Attribute text"]
ASSIGN = BY_NAME["assign _NumericAttribute number"]


def medians(case, native, floor, peer):
    return {f"{case.name} | native": native, f"{case.name} | floor": floor, f"{case.name} | peer": peer}


@pytest.mark.parametrize(
    "case, times, verdict",
    [
        (READ, (30e-9, 20e-9, 90e-9), "ok (time)"),
        (READ, (31e-9, 20e-9, 93e-9), "MISS floor>1.5 (time)"),
        (READ, (30e-9, 20e-9, 60e-9), "MISS peer<3x (time)"),
        (ASSIGN, (60e-9, 40e-9, 100e-9), "MISS floor>1.3,peer<3x (time)"),
        (ASSIGN, (52e-9, 40e-9, 200e-9), "ok (time)"),
    ],
)
def test_rows_without_instruction_counts_are_judged_on_medians(case, times, verdict):
    native, floor, peer = times
    text = run.table([case], medians(case, *times), 10e-9, 1e-3)
    row = next(line for line in text.splitlines() if line.startswith(case.name))
    assert row.endswith(verdict)
    assert f"{native / floor:.2f}" in row and f"{peer / native:.1f}x" in row


@pytest.mark.parametrize(
    "counted, verdict",
    [((1.4, 3.2), "ok"), ((1.6, 3.2), "MISS floor>1.5"), ((1.2, 2.5), "MISS peer<3x")],
)
def test_instruction_counts_decide_the_verdict(counted, verdict):
    # The medians alone would miss both goals.
    text = run.table([READ], medians(READ, 40e-9, 20e-9, 60e-9), 10e-9, None, instructions={READ.name: counted})
    row = next(line for line in text.splitlines() if line.startswith(READ.name))
    assert row.endswith(verdict)
    assert f"{counted[0]:.2f}" in row and "2.00" in row and "1.5x" in row


def test_markdown_table_has_ratios_but_no_times():
    text = run.table([READ, ASSIGN], {**medians(READ, 25e-9, 20e-9, 80e-9), **medians(ASSIGN, 50e-9, 40e-9, 300e-9)},
                     10e-9, 3e-3, ratios_only=True, instructions={READ.name: (1.36, 2.56)})
    lines = text.splitlines()
    assert lines[0] == ("| case | floor | x floor Ir | x floor time | x noop | speed-up Ir | speed-up time "
                        "| goal |")
    assert lines[2] == "| render _Attribute text | owner.prop | 1.36 | 1.25 | 2.5 | 2.6x | 3.2x | MISS peer<3x |"
    assert lines[3] == "| assign _NumericAttribute number | NumericProperty |  | 1.25 |  |  | 6.0x | ok (time) |"
    assert lines[-1] == "| import tavo.core._attributes | < 2.00 ms |  |  |  |  |  | MISS >2.00 ms |"
    assert " ns" not in text and " us" not in text


def test_cases_without_medians_are_left_out():
    text = run.table([READ, ASSIGN], medians(ASSIGN, 50e-9, 40e-9, 300e-9), None, None)
    assert READ.name not in text and ASSIGN.name in text


def test_instruction_table_reads_back():
    rows = {READ.name: {"native": 564, "floor": 414, "peer": 1445},
            ASSIGN.name: {"native": 1000, "floor": 800, "peer": 6000}}
    text = callgrind.ratio_table(rows)
    assert text.splitlines()[2] == "| render _Attribute text | 564 | 414 | 1445 | 1.36 | 2.56x |"
    assert callgrind.read_ratio_table(text) == {READ.name: (1.36, 2.56), ASSIGN.name: (1.25, 6.0)}


def test_committed_instruction_table_covers_every_case():
    ratios = run.read_instructions(run.CALLGRIND_TABLE)
    assert set(ratios) == set(BY_NAME)


PAGE = {
    "page 100 | native": 10e-6, "page 100 | peer": 35e-6,
    "page 1000 | native": 11e-6, "page 1000 | peer": 30e-6,
    "page 10000 | native": 12.5e-6, "page 10000 | peer": 40e-6,
    "create component | native": 4e-6, "create component | plain": 0.4e-6,
}


def test_page_table_verdicts():
    lines = run.page_table(PAGE, (100, 1000, 10000), (1500, 300), markdown=True).splitlines()
    assert lines[2] == "| page of 100 cards, per card | 10.00 us | 35.00 us | 3.50x | ok |"
    assert lines[3] == "| page of 1,000 cards, per card | 11.00 us | 30.00 us | 2.73x | MISS <3x |"
    assert lines[5] == "| growth per card, 10,000 / 100 cards |  |  | 1.25 | MISS >1.2 |"
    assert lines[6] == "| create a component of 20 attributes | 4.00 us | 400.0 ns | 10.0 | MISS >8 |"
    assert lines[7] == "| bytes per component (tracemalloc) | 1500 | 300 | 5.0 | ok |"


@pytest.mark.no_leakcheck
def test_cases_that_match_nothing_are_an_error():
    pytest.importorskip("pyperf")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(ROOT), *sys.path]))
    done = subprocess.run([sys.executable, "-m", "bench", "--cases", "no such case"], capture_output=True, text=True,
                          cwd=ROOT, env=env, timeout=120)
    assert done.returncode == 2
    assert "no case or page measure" in done.stderr and done.stdout == ""
