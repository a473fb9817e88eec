"""What a live page costs: recording, collecting and keeping its components.

A page of cards (bench/page.py's card, its element attributes synced) is shown
on a `tavo.html.Page`; one card changes one attribute and the page's updates
are collected. Counted by `python3 -m bench.callgrind --live`:

- one change collected, in a page of 100 and of 10,000 live cards (the cost
  must not grow with the page);
- that change's assignment alone, and the card's whole start tag, to compare
  the update with rendering the card again;
- the bytes a component of 20 attributes holds off a page and on one after a
  collection, everything the page keeps for it included (tracemalloc).
"""
import gc
import time
import tracemalloc

from bench import page as page_bench
from tavo.html import Page, start_tag

LIVE_SIZES = (100, 10_000)
UNROLL = 20


def _synced(cls):
    def make(*args, **keywords):
        if keywords.get("attrtype") == "element":
            keywords["sync"] = 1
        return cls(*args, **keywords)

    return make


LiveCard = page_bench._card_class(
    "LiveCard", *(_synced(cls) for cls in (
        page_bench._Attribute, page_bench._NumericAttribute, page_bench._VariableListAttribute,
        page_bench._ColorAttribute, page_bench._BooleanAttribute, page_bench._GenericEventAttribute,
        page_bench._LogicalAttribute)))


def live_page(size):
    """A page of `size` cards with their values, every start tag rendered."""
    live = Page()
    cards = []
    for id, title, width, margin, color, disabled, onclick in page_bench.card_values(size):
        card = LiveCard()
        card.id, card.title, card.width, card.margin = id, title, width, margin
        card.color, card.disabled, card.onclick = color, disabled, onclick
        live.start_tag(card, "div")
        cards.append(card)
    assert live.updates() == []
    return live, cards


# The timed statements, each on the card in the middle of the page.
STATEMENTS = {
    "change": "card.width = 300; page.updates(); card.width = 200; page.updates()",
    "assign": "card.width = 300; card.width = 200",
    "start_tag": "start_tag(card, 'div'); start_tag(card, 'div')",
}


def live_timer(size, what):
    """(function, arguments, operations per loop): two operations per line."""
    live, cards = live_page(size)
    card = cards[size // 2]
    body = "".join(f"        {STATEMENTS[what]}\n" for _ in range(UNROLL))
    namespace = {"_clock": time.perf_counter, "_range": range}
    exec(compile("def run(loops, page, card, start_tag):\n"
                 "    start = _clock()\n"
                 f"    for _ in _range(loops):\n{body}"
                 "    return _clock() - start\n", f"<live {what}>", "exec"), namespace)
    return namespace["run"], (live, card, start_tag), 2 * UNROLL


def check_change(size=10):
    """The timed change gives one update of the card's style each time."""
    live, cards = live_page(size)
    card = cards[size // 2]
    card.width = 300
    (update,) = live.updates()
    assert update.set == {"style": start_tag(card, "div").split('style="')[1].split('"')[0]}, update
    assert update.remove == ()


def bytes_on_page(cls, count=2_000):
    """Bytes per live instance of `cls` shown on a page after one collection,
    the page's own share included; the class's preparation left out."""
    live = Page()
    live.start_tag(cls(), "div")
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        keep = [cls() for _ in range(count)]
        for component in keep:
            live.start_tag(component, "div")
        for component in keep:
            component.size_0 = 11  # one change each, collected
        live.updates()
        after = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
    return (after - before) / count - 8


def memory_report():
    off = page_bench.bytes_per_instance(page_bench.Component20)
    on = bytes_on_page(page_bench.Component20)
    return off, on
