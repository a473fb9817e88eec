"""Instruction counts of the benchmark cases under callgrind.

    python3 -m bench.callgrind [--part native|floor|peer] [--loops N] [--top K] TEXT...
    python3 -m bench.callgrind --floor-ratio [--output FILE] [--jobs J] [TEXT...]
    python3 -m bench.callgrind --page [--jobs J]
    python3 -m bench.callgrind --live [--jobs J]

For each case whose name contains one of the TEXTs, the timed statement runs
under ``valgrind --tool=callgrind`` twice, with N and 2N loops; the
difference of the two profiles, divided by the extra operations, is the cost
of one operation, free of start-up and import. The report gives the
instructions per operation, the share spent in the functions of
tavo.core._attributes itself (their own instructions, not those of what they
call), and the functions that cost the most.

--floor-ratio counts the native statement, its floor and its peer of every
selected case (all cases without TEXT) and prints a Markdown table of the
counts and of the two ratios the per-call goals judge: native against floor
and peer against native. Instruction counts do not vary from run to run, so
``python3 -m bench`` takes its per-call verdicts from this table
(bench/callgrind.md, made with ``--output bench/callgrind.md``; about an
hour on two cores) and shows the pyperf medians beside them.

--page counts the page benchmark (bench/page.py): instructions per card of a
page of 100, 1,000 and 10,000 cards, native and peer, the collector on (a
page made once and then twice; the difference divided by the cards).

--live counts a live page (bench/live.py): one card's change and the
collection of its update in pages of 100 and 10,000 cards, the assignment
alone and the card's whole start tag.
"""
import argparse
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile
from collections import defaultdict

MODULE_OBJECT = "_attributes."  # the shared object of tavo.core._attributes
PARTS = ("native", "floor", "peer")
ON_PAGE = "onpage"  # an assign case's native statement on a component shown on a page
TABLE_HEADER = ("case", "native Ir", "floor Ir", "peer Ir", "x floor", "speed-up")

# "1,234 (12.34%)  file:function [object]" as callgrind_annotate prints it.
LINE = re.compile(r"^\s*([\d,]+)\s+\([^)]*\)\s+(.*?)(?:\s+\[(.*)\])?\s*$")
TOTAL = re.compile(r"^\s*([\d,]+)\s+(?:\([^)]*\)\s+)?PROGRAM TOTALS")


def page_child(name, loops):
    from bench import page

    _, size, part = name.split(":")
    run, arguments, _ = page.page_timer(part == "native", int(size))
    warm_run, warm_arguments, _ = page.page_timer(part == "native", 20)
    warm_run(1, *warm_arguments)
    run(loops, *arguments)


def live_child(name, loops):
    from bench import live

    _, size, what = name.split(":")
    run, arguments, _ = live.live_timer(int(size), what)
    run(50, *arguments)  # warm
    run(loops, *arguments)


def child(name, part, loops):
    from bench import cases

    if name.startswith("page:"):
        page_child(name, loops)
        return
    if name.startswith("live:"):
        live_child(name, loops)
        return

    for case in cases.all_cases() + [None]:
        if case is None:
            raise SystemExit(f"no case named {name!r}")
        if case.name == name:
            break
    timed = timed_part(case, part)
    timed.once(50)  # warm: caches, specialisation, lazily built tables
    timed.once(loops)


def timed_part(case, part):
    return case.extra["on page"] if part == ON_PAGE else getattr(case, part)


def profile(name, part, loops):
    """Own instructions per function (keyed by (function, object)) of one run,
    and the run's total."""
    with tempfile.TemporaryDirectory() as directory:
        out = os.path.join(directory, "callgrind.out")
        subprocess.run(
            ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", sys.executable, "-m", "bench.callgrind",
             "--child", name, "--part", part, "--loops", str(loops)],
            check=True, capture_output=True,
            env=dict(os.environ, PYTHONHASHSEED="0"),  # the same dict layouts in every run
        )
        report = subprocess.run(["callgrind_annotate", "--threshold=100", "--inclusive=no", out],
                                check=True, capture_output=True, text=True).stdout
    costs = {}
    total = None
    for line in report.splitlines():
        found = TOTAL.match(line)
        if found:
            total = int(found.group(1).replace(",", ""))
            continue
        match = LINE.match(line)
        if match and ":" in match.group(2):
            costs[(match.group(2), match.group(3) or "")] = int(match.group(1).replace(",", ""))
    return costs, total


def per_operation(name, part, loops, inner_loops):
    """Own instructions per operation by function, and in all."""
    (first, first_total), (second, second_total) = profile(name, part, loops), profile(name, part, 2 * loops)
    operations = loops * inner_loops
    result = defaultdict(float)
    for key in set(first) | set(second):
        delta = (second.get(key, 0) - first.get(key, 0)) / operations
        if abs(delta) >= 0.05:
            result[key] = delta
    return result, (second_total - first_total) / operations


def report(case, part, loops, top):
    timed = timed_part(case, part)
    costs, total = per_operation(case.name, part, loops, timed.inner_loops)
    own = sum(cost for (_, obj), cost in costs.items() if MODULE_OBJECT in os.path.basename(obj))
    print(f"{case.name} [{part}]: {total:.0f} instructions per operation, "
          f"tavo.core._attributes {own:.0f} ({own / total:.1%})")
    for (function, obj), cost in sorted(costs.items(), key=lambda item: -item[1])[:top]:
        print(f"    {cost:8.1f}  {function.split(':', 1)[-1]}  [{os.path.basename(obj)}]")
    return total, own


def count(case, part, loops):
    """Instructions per operation of one part of a case."""
    return per_operation(case.name, part, loops, timed_part(case, part).inner_loops)[1]


def page_counts(jobs):
    """Instructions per card: {size: {"native": ..., "peer": ...}}."""
    from bench import page

    runs = [(size, part) for size in page.PAGE_SIZES for part in ("native", "peer")]

    def per_card(job):
        size, part = job
        name = f"page:{size}:{part}"
        return (profile(name, "native", 2)[1] - profile(name, "native", 1)[1]) / size

    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        counted = list(pool.map(per_card, runs))
    result = {}
    for (size, part), instructions in zip(runs, counted):
        result.setdefault(size, {})[part] = instructions
    return result


def live_counts(jobs, loops=200):
    """Instructions per operation of the live page's statements:
    {(size, what): ...}."""
    from bench import live

    runs = [(size, "change") for size in live.LIVE_SIZES] + [(live.LIVE_SIZES[0], "assign"),
                                                             (live.LIVE_SIZES[0], "start_tag")]

    def per_operation_of(job):
        size, what = job
        name = f"live:{size}:{what}"
        extra = (profile(name, "native", 2 * loops)[1] - profile(name, "native", loops)[1])
        return extra / (loops * 2 * live.UNROLL)

    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        return dict(zip(runs, pool.map(per_operation_of, runs)))


def live_count_table(counts):
    from bench import live

    small, large = live.LIVE_SIZES
    change_small, change_large = counts[(small, "change")], counts[(large, "change")]
    assign, tag = counts[(small, "assign")], counts[(small, "start_tag")]
    update = change_small - assign
    return "\n".join([
        "| measure | Ir | goal |",
        "|---|---|---|",
        f"| one change collected, page of {small:,} cards | {change_small:.0f} | |",
        f"| one change collected, page of {large:,} cards | {change_large:.0f} | "
        f"{change_large / change_small:.2f} x {small:,}: {'ok' if change_large <= 1.2 * change_small else 'MISS'} (<= 1.2) |",
        f"| its assignment alone | {assign:.0f} | |",
        f"| the update (collected change - assignment) | {update:.0f} | "
        f"{update / tag:.2f} x start tag: {'ok' if update < tag else 'MISS'} (< 1) |",
        f"| the card's whole start tag | {tag:.0f} | |",
    ])


def page_count_table(counts):
    lines = ["| cards | native Ir per card | peer Ir per card | speed-up |", "|---|---|---|---|"]
    for size, parts in counts.items():
        lines.append(f"| {size:,} | {parts['native']:.0f} | {parts['peer']:.0f} | "
                     f"{parts['peer'] / parts['native']:.2f}x |")
    return "\n".join(lines)


def ratio_table(rows):
    """The Markdown table of --floor-ratio; `rows` maps a case name to its
    counts by part."""
    lines = ["| " + " | ".join(TABLE_HEADER) + " |", "|" + "---|" * len(TABLE_HEADER)]
    for name, counts in rows.items():
        native, floor, peer = (counts[part] for part in PARTS)
        lines.append(f"| {name} | {native:.0f} | {floor:.0f} | {peer:.0f} | {native / floor:.2f} | "
                     f"{peer / native:.2f}x |")
    return "\n".join(lines)


def read_ratio_table(text):
    """Case name -> (x floor, speed-up) from a table made by ratio_table."""
    ratios = {}
    for line in text.splitlines():
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if len(cells) != len(TABLE_HEADER) or cells[0] == TABLE_HEADER[0] or set(cells[1]) <= {"-"}:
            continue
        ratios[cells[0]] = (float(cells[4]), float(cells[5].rstrip("x")))
    return ratios


def selected_cases(names):
    from bench import cases

    selected = [case for case in cases.all_cases() if any(text in case.name for text in names or [""])]
    if not selected:
        raise SystemExit(f"no case name contains any of {names!r}")
    return selected


def floor_ratios(selected, loops, jobs):
    jobs_list = [(case, part) for case in selected for part in PARTS]
    done = []

    def counted_job(job):
        instructions = count(job[0], job[1], loops)
        done.append(job)
        print(f"[{len(done)}/{len(jobs_list)}] {job[0].name} [{job[1]}]: {instructions:.0f}", file=sys.stderr,
              flush=True)
        return instructions

    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        counted = list(pool.map(counted_job, jobs_list))
    rows = {}
    for (case, part), instructions in zip(jobs_list, counted):
        rows.setdefault(case.name, {})[part] = instructions
    return rows


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("names", nargs="*", help="parts of case names")
    parser.add_argument("--part", default="native", choices=PARTS + (ON_PAGE,))
    parser.add_argument("--loops", type=int, default=500)
    parser.add_argument("--top", type=int, default=12)
    parser.add_argument("--floor-ratio", action="store_true",
                        help="count native, floor and peer of every selected case; print the ratios as Markdown")
    parser.add_argument("--output", help="with --floor-ratio: also write the table to this file")
    parser.add_argument("--page", action="store_true", help="instructions per card of the page benchmark")
    parser.add_argument("--live", action="store_true", help="instructions of a live page's change and update")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="valgrind runs at once")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        child(args.child, args.part, args.loops)
        return
    if args.page:
        print(page_count_table(page_counts(args.jobs)))
        return
    if args.live:
        print(live_count_table(live_counts(args.jobs)))
        return
    selected = selected_cases(args.names)
    if args.floor_ratio:
        table = ratio_table(floor_ratios(selected, args.loops, args.jobs))
        print(table)
        if args.output:
            with open(args.output, "w", encoding="utf-8") as file:
                file.write(table + "\n")
        return
    for case in selected:
        report(case, args.part, args.loops, args.top)


if __name__ == "__main__":
    main()
