"""The benchmark cases: what is timed, against what, and the output checks.

A case is one operation of one attribute class (a rendering, an assignment or
a construction) with its floor (the least the same operation can cost without
the attribute layer) and its pure-Python peer (bench/peers.py). Every timed
statement is compiled into a loop of its own (``timer`` below), so the case,
its floor and its peer pay the same loop overhead.

Nothing here needs pyperf: tests/test_bench_peers.py imports this module to
check that the peers stay equal to the native classes.
"""
import time
from dataclasses import dataclass, field

from tavo.core import _testsupport
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
from tavo.core._event import EventDispatcher
from tavo.core.properties import (
    BooleanProperty,
    BoundedNumericProperty,
    ListProperty,
    NumericProperty,
    Property,
    VariableListProperty,
)

from bench import peers
from tavo.html import Page as LivePage

# How many copies of the statement one loop iteration runs.
UNROLL = 20


def renderer(obj, name, prevent_default, event_args, event_js, dispatch):
    """An event renderer as an application would write one."""
    return f"tavo.send(this, '{name}')"


# ---- the three owner classes: native attributes, base properties, peers ----------

# One declaration table: property name -> (native class, base class, peer class,
# positional arguments, keywords). The base class gets the same arguments.
ALIGN = dict(options=["left", "center", "right"], values=["flex-start", "center", "flex-end"])
DECLARATIONS = {
    "label": (_Attribute, Property, peers.PyAttribute, ("Submit",), dict(attrtype="element")),
    "align": (_Attribute, Property, peers.PyAttribute, ("left",), dict(attrtype="style", **ALIGN)),
    "width": (_NumericAttribute, NumericProperty, peers.PyNumericAttribute, (100,),
              dict(units="px", attrtype="style", options=["auto", "inherit"])),
    "opacity": (_BoundedNumericAttribute, BoundedNumericProperty, peers.PyBoundedNumericAttribute, (1.0,),
                dict(min=0, max=1, attrtype="style", options=["auto", "inherit"])),
    "margin": (_VariableListAttribute, VariableListProperty, peers.PyVariableListAttribute, ([0, 0, 0, 0],),
               dict(attrtype="style", options=["inherit"])),
    "padding": (_VariableListAttribute, VariableListProperty, peers.PyVariableListAttribute, ([0, 0, 0, 0],),
                dict(attrtype="style")),
    "disabled": (_BooleanAttribute, BooleanProperty, peers.PyBooleanAttribute, (False,), dict(attrtype="element")),
    "hidden": (_BooleanAttribute, BooleanProperty, peers.PyBooleanAttribute, (False,), dict(attrtype="element")),
    "draggable": (_LogicalAttribute, BooleanProperty, peers.PyLogicalAttribute, (False,),
                  dict(attrtype="element")),
    "coords": (_ListAttribute, ListProperty, peers.PyListAttribute, ([0, 0, 0],),
               dict(attrtype="element", length=3)),
    "color": (_ColorAttribute, Property, peers.PyColorAttribute, ([0, 0, 0],),
              dict(attrtype="style", format="css", options=["inherit"])),
    "background": (_ColorAttribute, Property, peers.PyColorAttribute, ([0, 0, 0, 1.0],),
                   dict(attrtype="style", options=["inherit"])),
    "onclick": (_GenericEventAttribute, BooleanProperty, peers.PyGenericEventAttribute, (False,),
                dict(eventhandler="submit(this)")),
    "onchange": (_GenericEventAttribute, BooleanProperty, peers.PyGenericEventAttribute, (False,),
                 dict(eventhandler=renderer, eventargs={"value": "this.value"})),
}
# Floors of assignments the base property refuses (the numeric classes'
# option texts): the root Property alone.
ROOT_FLOORS = {"width_option": "width", "opacity_option": "opacity"}


def _owner_class(name, column):
    namespace = {}
    for prop, declaration in DECLARATIONS.items():
        cls = declaration[column]
        namespace[prop] = cls(*declaration[3], **declaration[4])
    if column == 1:
        for prop, source in ROOT_FLOORS.items():
            namespace[prop] = Property(*DECLARATIONS[source][3])
    return type(name, (EventDispatcher,), namespace)


Page = _owner_class("Page", 0)  # the native attribute classes
BasePage = _owner_class("BasePage", 1)  # their base property classes alone
PyPage = _owner_class("PyPage", 2)  # the pure-Python peers


# ---- timers ---------------------------------------------------------------------------

def timer(body, values, unroll=UNROLL):
    """A pyperf time function running `body` `unroll` times per loop.

    `values` names the locals the body uses; returns (function, arguments).
    """
    names = sorted(values)
    lines = "".join(f"        {body}\n" for _ in range(unroll))
    source = (
        f"def run(loops, {', '.join(names)}):\n"
        f"    start = _clock()\n"
        f"    for _ in _range(loops):\n{lines}"
        f"    return _clock() - start\n"
    )
    namespace = {"_clock": time.perf_counter, "_range": range}
    exec(compile(source, f"<bench {body}>", "exec"), namespace)
    return namespace["run"], tuple(values[name] for name in names)


@dataclass
class Timed:
    """One timed statement: its loop function, arguments and operations per loop."""

    label: str
    run: object
    args: tuple
    inner_loops: int

    def once(self, loops=1):
        return self.run(loops, *self.args)


def timed_statement(label, body, values, per_line=1):
    run, args = timer(body, values)
    return Timed(label, run, args, UNROLL * per_line)


@dataclass
class Case:
    kind: str  # "render", "assign" or "construct"
    cls: str
    label: str
    native: Timed
    floor: Timed
    peer: Timed
    check: object  # raises AssertionError when the peer's outputs differ
    goal: str = ""  # the goal this case is held to (see run.py)
    extra: dict = field(default_factory=dict)

    @property
    def name(self):
        return f"{self.kind} {self.cls} {self.label}"


# ---- renderings ------------------------------------------------------------------------

# (class, label, property, value assigned before rendering, goal)
RENDERINGS = [
    ("_Attribute", "text", "label", "Submit", "read"),
    ("_Attribute", "option -> value", "align", "right", "read"),
    ("_NumericAttribute", "'10px'", "width", "10px", "share"),
    ("_BoundedNumericAttribute", "0.5", "opacity", 0.5, "share"),
    ("_VariableListAttribute", "'10px 20px'", "margin", "10px 20px", "share"),
    ("_VariableListAttribute", "[10, 20]", "padding", [10, 20], "share"),
    ("_BooleanAttribute", "True", "disabled", True, "share"),
    ("_BooleanAttribute", "False", "hidden", False, "read"),
    ("_LogicalAttribute", "True", "draggable", True, "read"),
    ("_ListAttribute", "[1, 2, 3]", "coords", [1, 2, 3], "share"),
    ("_ColorAttribute", "css '#ff8000'", "color", "#ff8000", "share"),
    ("_ColorAttribute", "plain rgba", "background", [255, 128, 0, 0.5], "share"),
    ("_GenericEventAttribute", "text handler", "onclick", True, "read"),
    ("_GenericEventAttribute", "renderer", "onchange", True, "share"),
]


def render_case(cls, label, prop, value, goal):
    owner, peer_owner = Page(), PyPage()
    setattr(owner, prop, value)
    setattr(peer_owner, prop, value)
    attr, peer_attr = getattr(Page, prop), getattr(PyPage, prop)

    def check():
        expected = attr.attrvalue(owner)
        got = peer_attr.attrvalue(peer_owner)
        assert got == expected and type(got) is type(expected), (label, expected, got)

    return Case(
        "render", cls, label,
        native=timed_statement("attrvalue", "attr.attrvalue(owner)", dict(attr=attr, owner=owner)),
        floor=timed_statement("owner.prop", f"owner.{prop}", dict(owner=owner)),
        peer=timed_statement("peer", "attr.attrvalue(owner)", dict(attr=peer_attr, owner=peer_owner)),
        check=check,
        goal=goal,
    )


def noop_floor():
    """The least a native call of the rendering's shape costs."""
    return timed_statement("noop", "support.noop(owner)", dict(support=_testsupport, owner=Page()))


# ---- assignments -----------------------------------------------------------------------

# (class, label, property, first value, second value, floor property)
ASSIGNMENTS = [
    ("_Attribute", "option", "align", "left", "right", "align"),
    ("_Attribute", "text", "label", "Submit", "Cancel", "label"),
    ("_NumericAttribute", "number", "width", 10, 20, "width"),
    ("_NumericAttribute", "unit text", "width", "10px", "20px", "width"),
    ("_NumericAttribute", "pair", "width", (10, "px"), (20, "px"), "width"),
    ("_NumericAttribute", "option", "width", "auto", "inherit", "width_option"),
    ("_BoundedNumericAttribute", "number", "opacity", 0.25, 0.75, "opacity"),
    ("_BoundedNumericAttribute", "option", "opacity", "auto", "inherit", "opacity_option"),
    ("_VariableListAttribute", "number", "margin", 10, 20, "margin"),
    ("_VariableListAttribute", "unit text", "margin", "10px", "20px", "margin"),
    ("_VariableListAttribute", "space text", "margin", "10px 20px", "5px 15px", "margin"),
    ("_VariableListAttribute", "pair", "margin", (10, 20), (5, 15), "margin"),
    ("_VariableListAttribute", "list of 4", "margin", [1, 2, 3, 4], [5, 6, 7, 8], "margin"),
    ("_BooleanAttribute", "bool", "disabled", True, False, "disabled"),
    ("_LogicalAttribute", "bool", "draggable", True, False, "draggable"),
    ("_ListAttribute", "list", "coords", [1, 2, 3], [4, 5, 6], "coords"),
    ("_ColorAttribute", "hex text", "color", "#ff8000", "#0080ff", "color"),
    ("_ColorAttribute", "list", "color", [255, 128, 0], [0, 128, 255], "color"),
    ("_GenericEventAttribute", "bool", "onclick", True, False, "onclick"),
]


def _stored(owner, prop):
    value = getattr(owner, prop)
    return type(value), list(value) if isinstance(value, list) else value


def assign_case(cls, label, prop, first, second, floor_prop):
    owner, base_owner, peer_owner = Page(), BasePage(), PyPage()
    # The same assignment on a component shown on a live page: every change is
    # recorded for the page's next updates (never collected here).
    shown, live_page = Page(), LivePage()
    live_page.start_tag(shown, "div")
    attr, peer_attr = getattr(Page, prop), getattr(PyPage, prop)

    def check():
        for value in (first, second):
            setattr(owner, prop, value)
            setattr(peer_owner, prop, value)
            setattr(base_owner, floor_prop, value)
            expected, got = _stored(owner, prop), _stored(peer_owner, prop)
            assert got == expected, (label, value, expected, got)
            rendered, peer_rendered = attr.attrvalue(owner), peer_attr.attrvalue(peer_owner)
            assert rendered == peer_rendered, (label, value, rendered, peer_rendered)

    body = "owner.{0} = first; owner.{0} = second"
    values = dict(first=first, second=second)
    return Case(
        "assign", cls, label,
        native=timed_statement("assign", body.format(prop), dict(owner=owner, **values), 2),
        floor=timed_statement(type(getattr(BasePage, floor_prop)).__name__, body.format(floor_prop),
                              dict(owner=base_owner, **values), 2),
        peer=timed_statement("peer", body.format(prop), dict(owner=peer_owner, **values), 2),
        check=check,
        goal="assign",
        extra={"on page": timed_statement("assign on a page", body.format(prop),
                                          dict(owner=shown, page=live_page, **values), 2)},
    )


# ---- constructions ---------------------------------------------------------------------

# (class, property whose declaration is constructed)
CONSTRUCTIONS = [
    ("_Attribute", "align"),
    ("_NumericAttribute", "width"),
    ("_BoundedNumericAttribute", "opacity"),
    ("_VariableListAttribute", "margin"),
    ("_BooleanAttribute", "disabled"),
    ("_LogicalAttribute", "draggable"),
    ("_ListAttribute", "coords"),
    ("_ColorAttribute", "color"),
    ("_GenericEventAttribute", "onchange"),
]

_FIELDS = ("attrtype", "sync", "options", "values")


def construct_case(cls, prop):
    native, base, peer, args, keywords = DECLARATIONS[prop]

    def check():
        made, peer_made = native(*args, **keywords), peer(*args, **keywords)
        for name in _FIELDS:
            if hasattr(native, name):
                assert getattr(made, name) == getattr(peer_made, name), (cls, name)

    body = "cls(*args, **keywords)"
    label = f"{prop} declaration"
    return Case(
        "construct", cls, label,
        native=timed_statement(cls, body, dict(cls=native, args=args, keywords=keywords)),
        floor=timed_statement(base.__name__, body, dict(cls=base, args=args, keywords=keywords)),
        peer=timed_statement("peer", body, dict(cls=peer, args=args, keywords=keywords)),
        check=check,
        goal="peer",
    )


def all_cases():
    cases = [render_case(*spec) for spec in RENDERINGS]
    cases += [assign_case(*spec) for spec in ASSIGNMENTS]
    cases += [construct_case(*spec) for spec in CONSTRUCTIONS]
    return cases
