"""Settings shared by the suite: hypothesis profiles.

The leak run repeats every test and must see the same examples each time, so it
uses a small, derandomized profile without an example database.
"""
import os

from hypothesis import settings

settings.register_profile("default", max_examples=100, deadline=None)
settings.register_profile("leak", max_examples=10, derandomize=True, database=None, deadline=None)
settings.load_profile(os.environ.get("TAVO_HYPOTHESIS_PROFILE", "default"))
