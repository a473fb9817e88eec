"""Settings shared by the suite: hypothesis profiles, and the torture mode (tests/torture.py).

The leak run repeats every test and must see the same examples each time, so it
uses a small, derandomized profile without an example database. The torture mode
makes every example slow (a collection at almost every allocation), so it uses
fewer examples unless a profile is asked for.
"""
import os

from hypothesis import settings

from torture import ENV as _TORTURE_ENV
from torture import _torture, pytest_addoption, pytest_configure  # noqa: F401 - the mode's option, hooks and fixture

settings.register_profile("default", max_examples=100, deadline=None)
settings.register_profile("leak", max_examples=10, derandomize=True, database=None, deadline=None)
settings.register_profile("torture", max_examples=15, database=None, deadline=None)
_torture_on = os.environ.get(_TORTURE_ENV, "") not in ("", "0")
settings.load_profile(os.environ.get("TAVO_HYPOTHESIS_PROFILE", "torture" if _torture_on else "default"))
