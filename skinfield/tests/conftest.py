import pathlib
import sys

import pytest

import kelm

# The tiny bodies are shared with the fieldgraft tests.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "fieldgraft" / "tests"))


@pytest.fixture(autouse=True)
def fresh_host():
    kelm.reset()
    yield
