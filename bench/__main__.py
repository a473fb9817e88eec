"""python3 -m bench: run the benchmark suite and print its table (see bench/run.py)."""
from bench.run import main

main()
