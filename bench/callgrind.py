"""Instruction counts of the benchmark cases under callgrind.

    python3 -m bench.callgrind [--part native|floor|peer] [--loops N] [--top K] TEXT...
    python3 -m bench.callgrind --floor-ratio [--loops N] TEXT...

For each case whose name contains one of the TEXTs, the timed statement runs
under ``valgrind --tool=callgrind`` twice, with N and 2N loops; the
difference of the two profiles, divided by the extra operations, is the cost
of one operation, free of start-up and import. The report gives the
instructions per operation, the share spent in the functions of
tavo.core._attributes itself (their own instructions, not those of what they
call), and the functions that cost the most. With ``--floor-ratio`` it
counts each case and its floor instead and prints, as a Markdown table, the
instructions of both and their ratio: the deterministic form of the timing
table's "x floor" column, comparable between runs, machines and runtimes.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
from collections import defaultdict

MODULE_OBJECT = "_attributes."  # the shared object of tavo.core._attributes

# "1,234 (12.34%)  file:function [object]" as callgrind_annotate prints it.
LINE = re.compile(r"^\s*([\d,]+)\s+\([^)]*\)\s+(.*?)(?:\s+\[(.*)\])?\s*$")


def child(name, part, loops):
    from bench import cases

    for case in cases.all_cases() + [None]:
        if case is None:
            raise SystemExit(f"no case named {name!r}")
        if case.name == name:
            break
    timed = getattr(case, part)
    timed.once(50)  # warm: caches, specialisation, lazily built tables
    timed.once(loops)


def profile(name, part, loops):
    """Own instructions per function (keyed by (function, object)) of one run."""
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
    for line in report.splitlines():
        match = LINE.match(line)
        if match and ":" in match.group(2):
            costs[(match.group(2), match.group(3) or "")] = int(match.group(1).replace(",", ""))
    return costs


def per_operation(name, part, loops, inner_loops):
    first, second = profile(name, part, loops), profile(name, part, 2 * loops)
    operations = loops * inner_loops
    result = defaultdict(float)
    for key in set(first) | set(second):
        delta = (second.get(key, 0) - first.get(key, 0)) / operations
        if abs(delta) >= 0.05:
            result[key] = delta
    return result


def report(case, part, loops, top):
    timed = getattr(case, part)
    costs = per_operation(case.name, part, loops, timed.inner_loops)
    total = sum(costs.values())
    own = sum(cost for (_, obj), cost in costs.items() if MODULE_OBJECT in os.path.basename(obj))
    print(f"{case.name} [{part}]: {total:.0f} instructions per operation, "
          f"tavo.core._attributes {own:.0f} ({own / total:.1%})")
    for (function, obj), cost in sorted(costs.items(), key=lambda item: -item[1])[:top]:
        print(f"    {cost:8.1f}  {function.split(':', 1)[-1]}  [{os.path.basename(obj)}]")
    return total, own


def floor_ratios(selected, loops):
    import platform

    print(f"CPython {platform.python_version()}: instructions per operation under callgrind\n")
    print("| case | native | floor | x floor |")
    print("|---|---|---|---|")
    for case in selected:
        native = sum(per_operation(case.name, "native", loops, case.native.inner_loops).values())
        if case.floor is None:
            print(f"| {case.name} | {native:.0f} |  |  |")
            continue
        floor = sum(per_operation(case.name, "floor", loops, case.floor.inner_loops).values())
        print(f"| {case.name} | {native:.0f} | {floor:.0f} | {native / floor:.2f} |", flush=True)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("names", nargs="*", help="parts of case names")
    parser.add_argument("--part", default="native", choices=["native", "floor", "peer"])
    parser.add_argument("--loops", type=int, default=500)
    parser.add_argument("--top", type=int, default=12)
    parser.add_argument("--floor-ratio", action="store_true", help="each case against its floor, as a table")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.child:
        child(args.child, args.part, args.loops)
        return
    from bench import cases

    selected = [case for case in cases.all_cases() if any(text in case.name for text in args.names or [""])]
    if not selected:
        raise SystemExit(f"no case matches {args.names}")
    if args.floor_ratio:
        floor_ratios(selected, args.loops)
        return
    for case in selected:
        report(case, args.part, args.loops, args.top)


if __name__ == "__main__":
    main()
