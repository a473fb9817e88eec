"""Pytest plugin that hunts leaks by running every test several times in one process.

Each test's body is run in chunks of RUNS_PER_CHUNK runs: WARMUP chunks to fill
caches, then CHECKED chunks; after each chunk the collector runs and the live
memory blocks are counted with tracemalloc. A test whose block count grows by at
least one block per run in every checked chunk leaks (the runtime's own test
runner uses the same rule per run for its reference-leak hunt).

The interpreter's allocated-block count is checked first; only a test that
grows by it is measured again with tracemalloc, leaving out blocks allocated under
pytest's own frames (pytest keeps a little memory per `pytest.raises(match=...)`
call, which would pass for a leak of the test). The same holds for hypothesis, whose caches
grow for a while as examples are generated. Blocks allocated by native code count
against the Python line that called it, so the module's own leaks are seen.

Tests marked ``no_leakcheck`` (those that start subprocesses or re-import modules,
whose allocations belong to the interpreter's import machinery), tests marked
``slow`` and tests using an output-capturing fixture run once.

Enabled with ``-p pytest_leakcheck`` (tools/leakcheck does this).
"""
import gc
import os
import sys
import tracemalloc

import pytest

WARMUP = 2
CHECKED = 3
RUNS_PER_CHUNK = 10
CAPTURE_FIXTURES = {"capsys", "capsysbinary", "capfd", "capfdbinary", "caplog"}
TRACED_FRAMES = 10
STDLIB = os.path.dirname(os.__file__)
RUNNER_PARTS = tuple(
    os.sep + package + os.sep for package in ("_pytest", "pluggy", "hypothesis", "sortedcontainers", "attr")
)


def _allocated_blocks():
    gc.collect()
    gc.collect()
    return sys.getallocatedblocks()


def _allocating_file(traceback):
    """The file of the innermost frame outside the standard library."""
    for frame in reversed(traceback):
        name = frame.filename
        if name.startswith("<frozen") or (name.startswith(STDLIB) and "site-packages" not in name):
            continue
        return name
    return ""


def _traced_blocks():
    gc.collect()
    gc.collect()
    count = 0
    for trace in tracemalloc.take_snapshot().traces:
        name = _allocating_file(trace.traceback)
        if name != __file__ and not any(part in name for part in RUNNER_PARTS):
            count += 1
    return count


def _runs_per_chunk(item):
    # A generated-input test already runs its body once per example.
    return 2 if getattr(item.obj, "is_hypothesis_test", False) else RUNS_PER_CHUNK


def _growth(item, count):
    """Block growth of each checked chunk of runs, counted by `count`."""
    runs = _runs_per_chunk(item)
    for _ in range(WARMUP * runs):
        item.runtest()
    counts = [count()]
    for _ in range(CHECKED):
        for _ in range(runs):
            item.runtest()
        counts.append(count())
    return [after - before for before, after in zip(counts, counts[1:])]


def _leaks(item, deltas):
    return all(delta >= _runs_per_chunk(item) for delta in deltas)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_call(item):
    outcome = yield
    if outcome.excinfo is not None or any(item.get_closest_marker(m) for m in ("no_leakcheck", "slow")):
        return
    # A capture fixture is set up once and keeps what every repetition prints.
    if CAPTURE_FIXTURES & set(getattr(item, "fixturenames", ())):
        return
    if not _leaks(item, _growth(item, _allocated_blocks)):
        return
    tracemalloc.start(TRACED_FRAMES)
    try:
        deltas = _growth(item, _traced_blocks)
    finally:
        tracemalloc.stop()
    if _leaks(item, deltas):
        raise AssertionError(f"{item.nodeid} leaks: live blocks grew by {deltas} on repeated runs")
