"""Benchmarks of tavo.core._attributes (run with python3 -m bench)."""
