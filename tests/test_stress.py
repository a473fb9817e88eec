"""Threads sharing components: assignments, renderings and declarations at once.

Several threads assign values to the attributes of shared components and
render them, while another declares the attributes again on new component
classes, replaces shared components with instances of them and changes the
attributes' option lists and value maps. The interpreter switches threads as
often as it can (sys.setswitchinterval(1e-6)).

The run passes when the process does not crash, every failure is one the
classes document for that operation and value, and every value read or
rendered is one that an assignment of some thread can have produced. The
allowed outcomes are collected first, on one thread, from the same
declarations in each state the option changes can put them in.

The run is a child process, so that a crash fails the test instead of ending
pytest; it lasts TAVO_STRESS_SECONDS seconds (default 3, at most 30).
"""
import itertools
import json
import os
import subprocess
import sys

import pytest

DEFAULT_SECONDS = 3.0
MAX_SECONDS = 30.0


def run_seconds():
    return min(float(os.environ.get("TAVO_STRESS_SECONDS", DEFAULT_SECONDS)), MAX_SECONDS)


@pytest.mark.no_leakcheck
def test_threads_assigning_rendering_and_declaring():
    seconds = run_seconds()
    env = dict(os.environ, TAVO_STRESS_SECONDS=str(seconds))
    try:
        done = subprocess.run(
            [sys.executable, __file__], capture_output=True, text=True, env=env, timeout=seconds + 240
        )
    except subprocess.TimeoutExpired as error:
        pytest.fail(f"the stress run did not end (deadlock?): {error.stderr!r:.2000}")
    assert done.returncode == 0, f"exit status {done.returncode}\n{done.stdout[-3000:]}\n{done.stderr[-6000:]}"
    report = json.loads(done.stdout.splitlines()[-1])
    assert report["problems"] == []
    # The run did what it is meant to: every kind of operation happened.
    assert report["assigned"] > 0 and report["refused"] > 0 and report["rendered"] > 0
    assert report["classes"] > 0 and report["option_changes"] > 0 and report["observed"] > 0


# ---- the child process -------------------------------------------------------

WORKERS = 4
POOL_SIZE = 6

# Values assigned by the threads, per attribute: accepted ones, options that
# come and go, and values every attribute refuses.
POOL = {
    "text": ["a", "b", "c", "d", "z", 5, None],
    "width": [10, 2.5, "10px", "50%", [3, "em"], (1, "pt"), "auto", "inherit", "wide", True, None, (1, 2, 3)],
    "opacity": [0.5, 1, 0, "0.25", "50%", 2, "auto", "inherit", "x", None, [0.5, "px"]],
    "margin": [5, "10px 2em", [1, "2px"], (1, 2, 3, 4), "inherit", "1 2 3", "10", None, [None, 1], {}],
    "disabled": [True, False, 0, 1, "yes", None],
    "checked": [True, False, None, "", [0]],
    "classes": [["a", "b"], ("c",), [], "ab", 5, None],
    "color": ["#ff8000", "#ff000080", [255, 0, 0], (0, 128, 255, 0.5), "inherit", [1, 2], 7, "nonsense", None],
    "css_color": ["#00ff00", [1, 2, 3], [9, 9, 9, 0.1], (1,), None],
    "onclick": [True, False, 0, "x", None],
    "onfocus": [True, False, None],
}

# The exceptions the classes document for an assignment or a rendering; which
# of them a value may raise is collected from the declarations themselves.
DOCUMENTED = (ValueError, TypeError, AttributeError, KeyError)
# Renderings that may fail whatever the value: _Attribute's, when the value map
# has lost the stored option (KeyError).
RENDER_ERRORS = {"text": (KeyError,)}


def declarations():
    """The attributes of a component class, made anew for every class."""
    from tavo.core._attributes import (
        _Attribute,
        _BooleanAttribute,
        _BoundedNumericAttribute,
        _ColorAttribute,
        _GenericEventAttribute,
        _ListAttribute,
        _LogicalAttribute,
        _NumericAttribute,
        _VariableListAttribute,
    )

    return {
        "text": _Attribute("a", options=["a", "b", "c"], values=["A", "B", "C"]),
        "width": _NumericAttribute(10, units="px", options=["inherit"], attrtype="style"),
        "opacity": _BoundedNumericAttribute(1.0, min=0, max=1, options=[]),
        "margin": _VariableListAttribute([0, 0, 0, 0], options=[]),
        "disabled": _BooleanAttribute(False),
        "checked": _LogicalAttribute(True),
        "classes": _ListAttribute(["x"]),
        "color": _ColorAttribute([0, 0, 0], options=["inherit"]),
        "css_color": _ColorAttribute([0, 0, 0], format="css"),
        "onclick": _GenericEventAttribute(False, "go()"),
        "onfocus": _GenericEventAttribute(True, lambda obj, name, **kw: f"{name}({kw['event_js']})"),
    }


# The option changes: each puts an attribute in one of two states.
def set_state(attrs, on):
    """Options and value maps of the attributes `attrs` in state `on`."""
    toggle(attrs["width"].options, "auto", on)
    toggle(attrs["opacity"].options, "inherit", on)
    toggle(attrs["margin"].options, "inherit", on)
    toggle(attrs["text"].options, "d", on)
    values = attrs["text"].values
    values["b"] = "B" if on else "BB"
    if on:
        values["c"] = "C"
        values["d"] = "D"
    else:
        values.pop("c", None)
        values.pop("d", None)


def toggle(options, item, on):
    try:
        if on and item not in options:
            options.append(item)
        elif not on:
            options.remove(item)
    except ValueError:  # another change came first
        pass


DEFAULT = object()  # no assignment: the declared default


def key(value):
    return type(value).__name__, repr(value)


def outcome(owner, name, value):
    try:
        setattr(owner, name, value)
    except Exception as error:  # noqa: BLE001 - collected as an allowed outcome
        return type(error)
    return None


def allowed_outcomes(event_dispatcher):
    """Per attribute: the exception types each value may raise, the stored values, the renderings."""
    errors = {name: {key(v): set() for v in values} for name, values in POOL.items()}
    stored = {name: set() for name in POOL}
    rendered = {name: set() for name in POOL}
    for on in (True, False):
        attrs = declarations()
        set_state(attrs, on)
        owner_class = type("Probe", (event_dispatcher,), attrs)
        for name, values in POOL.items():
            attr = attrs[name]
            numbers = []
            # Every value after every other: a value equal to the one stored
            # (10.0 after 10) leaves the stored one in place.
            for first, value in itertools.product([DEFAULT, *values], repeat=2):
                owner = owner_class()
                if first is not DEFAULT:
                    outcome(owner, name, first)
                if value is not DEFAULT:
                    errors[name][key(value)].add(outcome(owner, name, value))
                current = getattr(owner, name)
                stored[name].add(key(current))
                if type(current) in (int, float):
                    numbers.append(current)
                try:
                    rendered[name].add(attr.attrvalue(owner))
                except RENDER_ERRORS.get(name, ()):
                    pass
            # A number renders with whichever unit a text last recorded for the
            # owner, even one that another thread's refused assignment recorded.
            for unit_text in values if name in ("width", "opacity") else []:
                for number in numbers:
                    owner = owner_class()
                    outcome(owner, name, unit_text)
                    # another number first, so that one equal to the stored one is stored too
                    setattr(owner, name, 0.25 if number != 0.25 else 0.5)
                    setattr(owner, name, number)
                    rendered[name].add(attr.attrvalue(owner))
    return errors, stored, rendered


def child(seconds):
    import random
    import threading
    import time

    from tavo.core._event import EventDispatcher

    errors, stored, rendered = allowed_outcomes(EventDispatcher)
    undocumented = {
        (name, error.__name__)
        for name, by_value in errors.items()
        for outcomes in by_value.values()
        for error in outcomes
        if error is not None and not issubclass(error, DOCUMENTED)
    }
    if undocumented:
        print(json.dumps({"problems": [f"undocumented errors: {sorted(undocumented)}"]}))
        return 1

    panel_attrs = declarations()
    Panel = type("Panel", (EventDispatcher,), panel_attrs)

    problems = []
    counts = {"assigned": 0, "refused": 0, "rendered": 0, "classes": 0, "option_changes": 0, "observed": 0}

    def problem(text):
        if len(problems) < 50:
            problems.append(text)

    def check_read(owner, name):
        value = getattr(owner, name)
        if key(value) not in stored[name]:
            problem(f"{name}: read {value!r}, which no assignment stores")

    def check_render(owner, name):
        attr = getattr(type(owner), name)
        try:
            text = attr.attrvalue(owner)
        except RENDER_ERRORS.get(name, ()):
            return
        if text not in rendered[name]:
            problem(f"{name}: rendered {text!r}, which no assigned value renders")
        counts["rendered"] += 1

    def observer(owner, value):
        counts["observed"] += 1
        if key(value) not in stored["color"]:
            problem(f"color: observer got {value!r}, which no assignment stores")
        check_render(owner, "color")

    def new_owner(owner_class):
        owner = owner_class()
        for _ in range(2):  # the second is called after the first ran code
            owner.bind(color=observer)
        return owner

    pool = [new_owner(Panel) for _ in range(POOL_SIZE)]
    deadline = time.monotonic() + seconds
    names = list(POOL)

    def guarded(body):
        def run():
            try:
                body()
            except BaseException as error:  # noqa: BLE001 - reported, not swallowed
                problem(f"thread {threading.current_thread().name} died: {error!r}")

        return run

    def worker(seed):
        rng = random.Random(seed)
        while time.monotonic() < deadline:
            owner = pool[rng.randrange(POOL_SIZE)]
            name = rng.choice(names)
            value = rng.choice(POOL[name])
            error = outcome(owner, name, value)
            if error is None:
                counts["assigned"] += 1
            else:
                counts["refused"] += 1
            if error not in errors[name][key(value)]:
                problem(f"{name} = {value!r} raised {error!r}, allowed {errors[name][key(value)]}")
            check_read(owner, name)
            check_render(pool[rng.randrange(POOL_SIZE)], rng.choice(names))

    def declarer():
        rng = random.Random(0)
        serial = 0
        while time.monotonic() < deadline:
            serial += 1
            attrs = declarations()
            owner_class = type(f"Panel{serial}", (Panel,), attrs)
            counts["classes"] += 1
            pool[rng.randrange(POOL_SIZE)] = new_owner(owner_class)
            for _ in range(5):
                on = rng.random() < 0.5
                set_state(panel_attrs, on)
                set_state(attrs, not on)
                counts["option_changes"] += 1

    threads = [threading.Thread(target=guarded(lambda s=s: worker(s)), name=f"worker-{s}") for s in range(WORKERS)]
    threads.append(threading.Thread(target=guarded(declarer), name="declarer"))
    sys.setswitchinterval(1e-6)
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    sys.setswitchinterval(0.005)
    for owner in pool:
        for name in names:
            check_read(owner, name)
            check_render(owner, name)
    print(json.dumps({"problems": problems, **counts}))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(child(float(os.environ.get("TAVO_STRESS_SECONDS", DEFAULT_SECONDS))))
