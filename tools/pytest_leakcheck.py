"""Pytest plugin that hunts leaks by running every test several times in one process.

Each test's body is run WARMUP times to fill caches, then CHECKED more times; after
each run the collector runs and the interpreter's allocated blocks are counted. A
test whose block count grows on every checked run leaks (the same rule the
runtime's own test runner uses for its reference-leak hunt).

Enabled with ``-p pytest_leakcheck`` (tools/leakcheck does this).
"""
import gc
import sys

import pytest

WARMUP = 3
CHECKED = 4


def _blocks():
    gc.collect()
    gc.collect()
    return sys.getallocatedblocks()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_call(item):
    outcome = yield
    if outcome.excinfo is not None:
        return
    for _ in range(WARMUP):
        item.runtest()
    counts = [_blocks()]
    for _ in range(CHECKED):
        item.runtest()
        counts.append(_blocks())
    deltas = [after - before for before, after in zip(counts, counts[1:])]
    if all(delta > 0 for delta in deltas):
        raise AssertionError(f"{item.nodeid} leaks: allocated blocks grew by {deltas} on repeated runs")
