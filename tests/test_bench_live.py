"""bench/live.py: the live page's timed change is what it claims, and its memory goal."""
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))

from bench import live  # noqa: E402
from bench import page as page_bench  # noqa: E402


def test_the_timed_change_gives_one_style_update():
    live.check_change()


def test_the_timed_statements_run():
    for what in live.STATEMENTS:
        run, arguments, operations = live.live_timer(20, what)
        assert run(2, *arguments) > 0 and operations == 2 * live.UNROLL
    live_page, cards = live.live_page(5)
    assert len(live_page) == 5 and live_page.updates() == []


def test_a_component_on_a_page_holds_under_3000_bytes():
    assert page_bench.bytes_per_instance(page_bench.Component20) < live.bytes_on_page(page_bench.Component20) < 3000
