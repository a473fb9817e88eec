"""Side-by-side comparison of two builds of the native modules.

    python3 -m bench.ab BEFORE_SITE AFTER_SITE [--cases TEXT] [--rounds N] [--part native]

BEFORE_SITE and AFTER_SITE are directories holding an importable ``tavo``
package (for example build/bench/site and a copy of it made before a
change). The rounds alternate between the two builds, each round a fresh
interpreter per build timing every selected case; the table gives each
case's best time over the samples and rounds for both builds (the least
disturbed by other work on the machine) and their ratio.
"""
import argparse
import json
import os
import pathlib
import subprocess
import sys

REPO = pathlib.Path(__file__).resolve().parents[1]

CHILD = """\
import json, sys
from bench import cases
selected = [c for c in cases.all_cases() if sys.argv[1] in c.name]
result = {}
for case in selected:
    timed = getattr(case, sys.argv[2])
    timed.once(200)  # warm-up
    loops = max(1, int(0.02 / max(timed.once(200) / 200, 1e-9)))
    samples = [timed.once(loops) / (loops * timed.inner_loops) for _ in range(7)]
    result[case.name] = min(samples)
print(json.dumps(result))
"""


def run_build(site, cases, part):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(site), str(REPO)]))
    output = subprocess.run([sys.executable, "-c", CHILD, cases, part], check=True, capture_output=True, text=True,
                            env=env, cwd=REPO).stdout
    return json.loads(output)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--cases", default="")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--part", default="native", choices=["native", "floor", "peer"])
    args = parser.parse_args(argv)
    samples = {"before": {}, "after": {}}
    for _ in range(args.rounds):
        for which in ("before", "after"):
            for name, value in run_build(getattr(args, which), args.cases, args.part).items():
                samples[which].setdefault(name, []).append(value)
    width = max(len(name) for name in samples["before"])
    print(f"{'case'.ljust(width)}  {'before':>9}  {'after':>9}  after/before")
    for name in samples["before"]:
        before = min(samples["before"][name])
        after = min(samples["after"][name])
        print(f"{name.ljust(width)}  {before * 1e9:7.1f}ns  {after * 1e9:7.1f}ns  {after / before:12.2f}")


if __name__ == "__main__":
    main()
