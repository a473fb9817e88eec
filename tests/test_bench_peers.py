"""The benchmark's pure-Python peers stay equal to the native classes.

The benchmark compares each attribute class with a peer written in Python
(bench/peers.py); a speed-up only means something while the peer stores,
renders and refuses exactly what the native class does. The suite itself
(pyperf) is not run here.
"""
import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))

from bench import cases  # noqa: E402

CASES = cases.all_cases()


@pytest.mark.parametrize("case", CASES, ids=[case.name for case in CASES])
def test_case_outputs_match_before_timing(case):
    case.check()


@pytest.mark.parametrize("case", CASES, ids=[case.name for case in CASES])
def test_timed_statements_run(case):
    for timed in (case.native, case.floor, case.peer):
        assert timed.once(2) >= 0.0
        assert timed.inner_loops >= cases.UNROLL


def outcome(owner_class, prop, value):
    """Stored value (with its type) and rendering after assigning `value`, or
    the refusal's type and message."""
    owner = owner_class()
    try:
        setattr(owner, prop, value)
    except (ValueError, TypeError) as error:
        return type(error), str(error)
    stored = getattr(owner, prop)
    items = [(type(item), item) for item in stored] if isinstance(stored, list) else None
    return type(stored), stored, items, getattr(owner_class, prop).attrvalue(owner)


def same_outcome(prop, value):
    native = outcome(cases.Page, prop, value)
    peer = outcome(cases.PyPage, prop, value)
    # The owner classes have different names; messages name them.
    if isinstance(native[1], str) and native[0] in (ValueError, TypeError):
        peer = (peer[0], peer[1].replace("PyPage.", "Page.") if isinstance(peer[1], str) else peer[1])
    assert peer == native


@pytest.mark.parametrize(
    "prop, value",
    [
        ("label", "Cancel"), ("label", None), ("label", 5), ("label", ["a"]),
        ("align", "center"), ("align", "middle"), ("align", None), ("align", 1.5),
    ],
)
def test_text_peer(prop, value):
    same_outcome(prop, value)


@pytest.mark.parametrize("prop", ["width", "opacity"])
@pytest.mark.parametrize(
    "value",
    [
        0, 1, 0.5, 0.1, "0.5", "1px", "0.1px", "50%", "1em", (1, "px"), [0.5, "%"], ("0.25", "mm"),
        "auto", "inherit", None, True, {}, "wide", "1xx", (1, "zz"), (1, 2, 3), [1], 2, -1, "2px",
        float("nan"), float("-inf"), "nanpx", "1e400px", "1e39px", ("inf", "%"), (float("nan"), "px"),
    ],
)
def test_numeric_peers(prop, value):
    same_outcome(prop, value)


@pytest.mark.parametrize("prop", ["margin", "padding"])
@pytest.mark.parametrize(
    "value",
    [
        10, 1.5, "10px", "50%", "10", "auto", "", " 10px", "10px ", "10px 20px", "1px 2px 3px 4px",
        "1px 2px 3px", [5], (1, 2), [1, 2, 3, 4], [], [1, 2, 3], [None], [{}], True, None, "inherit",
        ["1em", 2.5], "10px foo", "10 20", float("nan"), [1, float("inf")], (1, 2, 3, float("-inf")),
    ],
)
def test_variable_list_peer(prop, value):
    same_outcome(prop, value)


@pytest.mark.parametrize("prop", ["disabled", "hidden", "draggable", "onclick", "onchange"])
@pytest.mark.parametrize("value", [True, False, None, 0, 1, "", "x", [], [0]])
def test_flag_and_event_peers(prop, value):
    same_outcome(prop, value)


@pytest.mark.parametrize(
    "value", [[1, 2, 3], [1.5, "a", None], [], [1, 2], (1, 2, 3), None, [[1], 2, 3]]
)
def test_list_peer(value):
    same_outcome("coords", value)


@pytest.mark.parametrize("prop", ["color", "background"])
@pytest.mark.parametrize(
    "value",
    [
        "#ff8000", "#f80", "#ff800080", "ff8000", "#zzzzzz", "red", "inherit", [255, 0, 0], (255, 128, 0, 0.5),
        [1, 2], [1, 2, 3, 4, 5], 7, None,
    ],
)
def test_color_peer(prop, value):
    same_outcome(prop, value)


@pytest.mark.parametrize("prop", ["width", "opacity"])
@pytest.mark.parametrize("units", ["pxx", "PX", "%%"])
def test_numeric_peers_refuse_unknown_units(prop, units):
    native_class, _, peer_class, args, keywords = cases.DECLARATIONS[prop]
    keywords = dict(keywords, units=units)
    with pytest.raises(ValueError) as native:
        native_class(*args, **keywords)
    with pytest.raises(ValueError) as peer:
        peer_class(*args, **keywords)
    assert str(peer.value).replace(peer_class.__name__, native_class.__name__, 1) == str(native.value)
