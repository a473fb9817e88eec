"""Run the benchmark suite with pyperf and print one table.

    python3 -m bench [--fast] [--cases TEXT] [--ratios] [pyperf options]

Every case, its floor and its pure-Python peer are separate pyperf
benchmarks (one worker process each, warm-ups, calibrated loops), run in the
same invocation; the table compares their medians. The import time of the
module is measured last, in fresh interpreters that have already imported
the property system.

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


def table(cases, medians, noop, import_seconds, ratios_only=False):
    """The rows of the one table: case, time, floor, ratios, peer speed-up, goal.

    With `ratios_only`, a Markdown table without absolute times (for the README).
    """
    header = ("case", "time", "floor", "x floor", "x noop", "peer", "speed-up", "goal")
    rows = []
    for case in cases:
        native, floor, peer = (medians.get(f"{case.name} | {part}") for part in ("native", "floor", "peer"))
        if native is None:
            continue
        ratio, speedup = native / floor, peer / native
        rows.append((
            case.name,
            _format_time(native),
            f"{case.floor.label} {_format_time(floor)}",
            f"{ratio:.2f}",
            f"{native / noop:.1f}" if case.kind == "render" and noop else "",
            _format_time(peer),
            f"{speedup:.1f}x",
            _verdict(case, ratio, speedup),
        ))
    if noop:
        rows.append(("call support.noop(owner)", _format_time(noop), "", "", "1.0", "", "", ""))
    if import_seconds is not None:
        verdict = "ok" if import_seconds < IMPORT_LIMIT else f"MISS >{_format_time(IMPORT_LIMIT)}"
        rows.append(("import tavo.core._attributes", _format_time(import_seconds), "", "", "", "", "", verdict))
    if ratios_only:
        keep = (0, 2, 3, 4, 6, 7)
        lines = ["| " + " | ".join(header[i] for i in keep) + " |", "|" + "---|" * len(keep)]
        for row in rows:
            cells = list(row)
            cells[2] = cells[2].rsplit(" ", 2)[0] if cells[2] else ""  # the floor's name, not its time
            if row[0].startswith("import"):
                cells[2] = f"< {_format_time(IMPORT_LIMIT)}"
            lines.append("| " + " | ".join(str(cells[i]) for i in keep) + " |")
        return "\n".join(lines)
    widths = [max(len(str(row[i])) for row in [header] + rows) for i in range(len(header))]
    lines = []
    for index, row in enumerate([header] + rows):
        cells = [str(cell).ljust(width) if column == 0 else str(cell).rjust(width)
                 for column, (cell, width) in enumerate(zip(row, widths))]
        lines.append("  ".join(cells).rstrip())
        if index == 0:
            lines.append("  ".join("-" * width for width in widths))
    return "\n".join(lines)


def main(argv=None):
    import pyperf

    from bench import cases as case_module

    fast, argv, (processes, values, min_time) = _mode_arguments(sys.argv[1:] if argv is None else argv)
    sys.argv[1:] = argv

    def pass_on(command, args):
        if args.cases:
            command.extend(("--cases", args.cases))

    runner = pyperf.Runner(processes=processes, values=values, min_time=min_time,
                           program_args=("-m", "bench"), add_cmdline_args=pass_on)
    runner.argparser.add_argument("--cases", default="", help="run only the cases whose name contains this text")
    runner.argparser.add_argument("--ratios", action="store_true",
                                  help="print the table as Markdown, ratios only (for the README)")
    args = runner.parse_args()

    cases = [case for case in case_module.all_cases() if args.cases in case.name]
    if not args.worker:
        for case in cases:
            case.check()  # the peers give the same outputs before anything is timed
    benchmarks = [(f"{case.name} | {part}", getattr(case, part)) for case in cases
                  for part in ("native", "floor", "peer")]
    if any(case.kind == "render" for case in cases):
        benchmarks.append(("noop", case_module.noop_floor()))

    medians = {}
    # pyperf reports each benchmark on stdout: progress, sent to stderr so
    # that stdout holds the table alone.
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
    print()
    print(table(cases, medians, medians.get("noop"), import_seconds))
    if args.ratios:
        print()
        print(table(cases, medians, medians.get("noop"), import_seconds, ratios_only=True))


if __name__ == "__main__":
    main()
