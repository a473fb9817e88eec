"""The page benchmark: both sides give the same tags, and its timed functions run."""
import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))

from bench import page  # noqa: E402


def test_card_declares_the_twenty_attribute_mix():
    kinds = [type(attr).__name__ for _, attr in page.declared(page.Card, page.ATTRIBUTE_CLASSES)]
    assert len(kinds) == 20
    assert {kind: kinds.count(kind) for kind in set(kinds)} == {
        "_Attribute": 8, "_NumericAttribute": 4, "_VariableListAttribute": 1, "_ColorAttribute": 1,
        "_BooleanAttribute": 4, "_GenericEventAttribute": 1, "_LogicalAttribute": 1,
    }


def test_native_and_peer_pages_give_the_same_tags():
    page.check_page(60)


@pytest.mark.parametrize("native", [True, False])
def test_page_timer_runs(native):
    run, arguments, per_loop = page.page_timer(native, 3)
    assert per_loop == 3 and run(2, *arguments) >= 0.0


@pytest.mark.parametrize("cls", [page.Component20, page.Plain20])
def test_component_cost_measures_run(cls):
    run, arguments, per_loop = page.creation_timer(cls)
    assert per_loop == page.CREATE_UNROLL and run(1, *arguments) >= 0.0
    assert page.bytes_per_instance(cls, count=50) > 0
