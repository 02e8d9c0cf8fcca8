"""Property-based robustness suite: every operation driven with generated inputs, well-formed and
then broken one thing at a time. A case passes when the operation succeeds with a result that
passes structural checks or raises a Python exception; a crash, abort or hang fails the run.

Profiles (environment variable KELM_FUZZ): "ci" (default, bounded, part of `make test`) and
"long" (`make fuzz`: at least 10,000 cases per module). The session ends with a count of cases
per module.
"""
import os

import pytest
from hypothesis import HealthCheck, settings

import kelm

settings.register_profile("ci", max_examples=150, deadline=None, derandomize=True,
                          suppress_health_check=list(HealthCheck))
settings.register_profile("long", max_examples=2500, deadline=None,
                          suppress_health_check=list(HealthCheck))
settings.load_profile(os.environ.get("KELM_FUZZ", "ci"))

from fuzzcase import CASES, RAISED, STOPPED


@pytest.fixture(autouse=True)
def fresh_host():
    kelm.reset()
    yield


def pytest_terminal_summary(terminalreporter):
    if CASES:
        terminalreporter.write_line("fuzz cases per module (cases / of which raised):")
        for module in sorted(CASES):
            terminalreporter.write_line(f"  {module:12s} {CASES[module]:7d} / {RAISED[module]}")
    if STOPPED:
        terminalreporter.write_line("damaged files, how each refused reading ended:")
        for outcome in sorted(STOPPED):
            terminalreporter.write_line(f"  {outcome:32s} {STOPPED[outcome]:7d}")
