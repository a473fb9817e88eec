"""Run the benchmark suite with pyperf and print its tables.

    python3 -m bench [--fast] [--cases TEXT] [--ratios] [--callgrind FILE] [pyperf options]

Every case, its floor and its pure-Python peer are separate pyperf
benchmarks (one worker process each, warm-ups, calibrated loops), run in the
same invocation; the first table compares their medians. Its verdicts come
from the instruction counts of bench/callgrind.md (bench/callgrind.py
--floor-ratio), which do not vary from run to run; the medians' ratios stand
beside them, and decide only for a case the file does not hold. The import
time of the module is measured last, in fresh interpreters that have already
imported the property system.

The second table is the page of components (bench/page.py): pages of 100,
1,000 and 10,000 cards made, given values and rendered, native against the
pure-Python peers, per card; and the cost of one component with 20
attributes against a plain object with 20 fields, in time and in bytes.

--cases TEXT runs the cases and page measures whose name contains TEXT
("page", "page 1000", "component", "render _Attribute"); a TEXT that no name
contains is an error.

--fast: one worker process per benchmark and shorter samples (about a
minute in all on two cores); the default takes a few minutes.
"""
import contextlib
import os
import statistics
import subprocess
import sys

# Defaults of the two modes: (processes, values, min_time in seconds).
FULL = (3, 3, 0.05)
FAST = (1, 3, 0.02)
IMPORT_RUNS = {False: 15, True: 5}

# Goals: the limit of the ratio to the floor and the least speed-up over the peer.
GOALS = {
    "read": (1.5, 3.0),  # rendering held to the read of the same value
    "share": (None, 1.0),  # rendering whose cost is formatting: see bench/callgrind.py
    "assign": (1.3, 3.0),
    "peer": (None, 1.0),
}
IMPORT_LIMIT = 2e-3
# The page of components: the least speed-up over the peer page at every size,
# the most the time per card may grow from 100 to 10,000 cards; a component's
# creation against a plain object's, and its bytes.
PAGE_SPEEDUP = 3.0
PAGE_GROWTH = 1.2
CREATION_LIMIT = 8.0
BYTES_LIMIT = 2000
CALLGRIND_TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "callgrind.md")

IMPORT_SCRIPT = """\
import time
import tavo.core.properties, tavo.core._event, tavo.core.utils
start = time.perf_counter()
import tavo.core._attributes
print(time.perf_counter() - start)
"""


def _mode_arguments(argv):
    """Replace --fast by explicit pyperf settings (pyperf's own --fast keeps
    at least three processes)."""
    fast = "--fast" in argv
    processes, values, min_time = FAST if fast else FULL
    argv = [arg for arg in argv if arg != "--fast"]
    if not {"-v", "--verbose", "-q", "--quiet"} & set(argv):
        argv.append("--quiet")
    return fast, argv, (processes, values, min_time)


def import_time(runs):
    """Median time of importing tavo.core._attributes with its siblings loaded."""
    times = []
    for _ in range(runs):
        output = subprocess.run([sys.executable, "-c", IMPORT_SCRIPT], check=True, capture_output=True, text=True,
                                env=dict(os.environ)).stdout
        times.append(float(output))
    return statistics.median(times)


def _format_time(seconds):
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.2f} ms"
    if seconds >= 1e-6:
        return f"{seconds * 1e6:.2f} us"
    return f"{seconds * 1e9:.1f} ns"


def _verdict(case, ratio, speedup):
    limit, least = GOALS[case.goal]
    misses = []
    if limit is not None and ratio > limit:
        misses.append(f"floor>{limit}")
    if speedup < least:
        misses.append(f"peer<{least:g}x")
    return "ok" if not misses else "MISS " + ",".join(misses)


def read_instructions(path):
    """Case name -> (x floor, speed-up) in instructions, from a table of
    bench/callgrind.py --floor-ratio; empty when there is no such file."""
    from bench.callgrind import read_ratio_table

    if not path or not os.path.exists(path):
        return {}
    with open(path, encoding="utf-8") as file:
        return read_ratio_table(file.read())


def table(cases, medians, noop, import_seconds, ratios_only=False, instructions=None):
    """The rows of the per-call table: case, time, floor, ratios (instructions
    and medians), peer speed-up, goal.

    The verdict judges the instruction ratios of `instructions` (case name ->
    (x floor, speed-up)); a case without them is judged on its medians, and
    its verdict says so. With `ratios_only`, a Markdown table without absolute
    times (for the README).
    """
    instructions = instructions or {}
    header = ("case", "time", "floor", "x floor Ir", "x floor time", "x noop", "peer", "speed-up Ir",
              "speed-up time", "goal")
    rows = []
    for case in cases:
        native, floor, peer = (medians.get(f"{case.name} | {part}") for part in ("native", "floor", "peer"))
        if native is None:
            continue
        ratio, speedup = native / floor, peer / native
        counted = instructions.get(case.name)
        verdict = _verdict(case, *counted) if counted else _verdict(case, ratio, speedup) + " (time)"
        rows.append((
            case.name,
            _format_time(native),
            f"{case.floor.label} {_format_time(floor)}",
            f"{counted[0]:.2f}" if counted else "",
            f"{ratio:.2f}",
            f"{native / noop:.1f}" if case.kind == "render" and noop else "",
            _format_time(peer),
            f"{counted[1]:.1f}x" if counted else "",
            f"{speedup:.1f}x",
            verdict,
        ))
    if noop:
        rows.append(("call support.noop(owner)", _format_time(noop), "", "", "", "1.0", "", "", "", ""))
    if import_seconds is not None:
        verdict = "ok" if import_seconds < IMPORT_LIMIT else f"MISS >{_format_time(IMPORT_LIMIT)}"
        rows.append(("import tavo.core._attributes", _format_time(import_seconds), "", "", "", "", "", "", "",
                     verdict))
    if ratios_only:
        keep = (0, 2, 3, 4, 5, 7, 8, 9)
        lines = ["| " + " | ".join(header[i] for i in keep) + " |", "|" + "---|" * len(keep)]
        for row in rows:
            cells = list(row)
            cells[2] = cells[2].rsplit(" ", 2)[0] if cells[2] else ""  # the floor's name, not its time
            if row[0].startswith("import"):
                cells[2] = f"< {_format_time(IMPORT_LIMIT)}"
            lines.append("| " + " | ".join(str(cells[i]) for i in keep) + " |")
        return "\n".join(lines)
    return _aligned(header, rows)


def _aligned(header, rows):
    widths = [max(len(str(row[i])) for row in [header] + rows) for i in range(len(header))]
    lines = []
    for index, row in enumerate([header] + rows):
        cells = [str(cell).ljust(width) if column == 0 else str(cell).rjust(width)
                 for column, (cell, width) in enumerate(zip(row, widths))]
        lines.append("  ".join(cells).rstrip())
        if index == 0:
            lines.append("  ".join("-" * width for width in widths))
    return "\n".join(lines)


def page_table(medians, sizes, component_bytes=None, markdown=False):
    """The page of components: time per card of each page size, native and
    peer, with the speed-up; the growth of the native time per card from the
    smallest page to the largest; a component's creation against a plain
    object's, and the bytes of each (`component_bytes`: (component, plain))."""
    header = ("measure", "native", "peer / plain", "ratio", "goal")
    rows = []
    per_card = {}
    for size in sizes:
        native, peer = medians.get(f"page {size} | native"), medians.get(f"page {size} | peer")
        if native is None or peer is None:
            continue
        per_card[size] = native
        speedup = peer / native
        rows.append((f"page of {size:,} cards, per card", _format_time(native), _format_time(peer),
                     f"{speedup:.2f}x", "ok" if speedup >= PAGE_SPEEDUP else f"MISS <{PAGE_SPEEDUP:g}x"))
    if len(per_card) > 1:
        smallest, largest = min(per_card), max(per_card)
        growth = per_card[largest] / per_card[smallest]
        rows.append((f"growth per card, {largest:,} / {smallest:,} cards", "", "", f"{growth:.2f}",
                     "ok" if growth <= PAGE_GROWTH else f"MISS >{PAGE_GROWTH:g}"))
    created, plain = medians.get("create component | native"), medians.get("create component | plain")
    if created is not None and plain is not None:
        ratio = created / plain
        rows.append(("create a component of 20 attributes", _format_time(created), _format_time(plain),
                     f"{ratio:.1f}", "ok" if ratio <= CREATION_LIMIT else f"MISS >{CREATION_LIMIT:g}"))
    if component_bytes is not None:
        component, plain_bytes = component_bytes
        rows.append(("bytes per component (tracemalloc)", f"{component:.0f}", f"{plain_bytes:.0f}",
                     f"{component / plain_bytes:.1f}",
                     "ok" if component <= BYTES_LIMIT else f"MISS >{BYTES_LIMIT}"))
    if not rows:
        return ""
    if markdown:
        lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
        lines += ["| " + " | ".join(row) + " |" for row in rows]
        return "\n".join(lines)
    return _aligned(header, rows)


def page_benchmarks(selected):
    """(name, Timed-like (run, args, inner_loops)) of the page measures whose
    name contains `selected`."""
    from bench import page

    found = []
    for size in page.PAGE_SIZES:
        if selected in f"page {size}":
            for part, native in (("native", True), ("peer", False)):
                found.append((f"page {size} | {part}", page.page_timer(native, size)))
    if selected in "component cost":
        found.append(("create component | native", page.creation_timer(page.Component20)))
        found.append(("create component | plain", page.creation_timer(page.Plain20)))
    return found


def main(argv=None):
    import pyperf

    from bench import cases as case_module
    from bench import page

    fast, argv, (processes, values, min_time) = _mode_arguments(sys.argv[1:] if argv is None else argv)
    sys.argv[1:] = argv

    def pass_on(command, args):
        if args.cases:
            command.extend(("--cases", args.cases))

    runner = pyperf.Runner(processes=processes, values=values, min_time=min_time,
                           program_args=("-m", "bench"), add_cmdline_args=pass_on)
    runner.argparser.add_argument("--cases", default="",
                                  help="run only the cases and page measures whose name contains this text")
    runner.argparser.add_argument("--ratios", action="store_true",
                                  help="print the tables as Markdown, per-call ratios only (for the README)")
    runner.argparser.add_argument("--callgrind", default=CALLGRIND_TABLE,
                                  help="instruction ratios of bench/callgrind.py --floor-ratio (default: %(default)s)")
    args = runner.parse_args()

    cases = [case for case in case_module.all_cases() if args.cases in case.name]
    pages = page_benchmarks(args.cases)
    if not cases and not pages:
        runner.argparser.error(f"--cases {args.cases!r}: no case or page measure has that in its name")
    if not args.worker:
        for case in cases:
            case.check()  # the peers give the same outputs before anything is timed
        if pages:
            page.check_page()
    benchmarks = [(f"{case.name} | {part}", getattr(case, part)) for case in cases
                  for part in ("native", "floor", "peer")]
    if any(case.kind == "render" for case in cases):
        benchmarks.append(("noop", case_module.noop_floor()))
    benchmarks += [(name, case_module.Timed(name, run, arguments, inner_loops))
                   for name, (run, arguments, inner_loops) in pages]

    medians = {}
    # pyperf reports each benchmark on stdout: progress, sent to stderr so
    # that stdout holds the tables alone.
    with contextlib.redirect_stdout(sys.stderr):
        for index, (name, timed) in enumerate(benchmarks, 1):
            if not args.worker:
                print(f"[{index}/{len(benchmarks)}] ", end="", flush=True)
            result = runner.bench_time_func(name, timed.run, *timed.args, inner_loops=timed.inner_loops)
            if result is not None and not args.worker:
                medians[name] = result.median()
    if args.worker:
        return
    import_seconds = import_time(IMPORT_RUNS[fast]) if not args.cases else None
    instructions = read_instructions(args.callgrind)
    component_bytes = None
    if any(name.startswith("create component") for name, _ in pages):
        component_bytes = (page.bytes_per_instance(page.Component20), page.bytes_per_instance(page.Plain20))
    print()
    if cases:
        print(table(cases, medians, medians.get("noop"), import_seconds, instructions=instructions))
        print()
    if pages:
        print(page_table(medians, page.PAGE_SIZES, component_bytes))
    if args.ratios:
        if cases:
            print()
            print(table(cases, medians, medians.get("noop"), import_seconds, ratios_only=True,
                        instructions=instructions))
        if pages:
            print()
            print(page_table(medians, page.PAGE_SIZES, component_bytes, markdown=True))


if __name__ == "__main__":
    main()
