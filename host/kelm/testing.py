"""pytest fixtures for tests that run against the stand-in host (import them into a conftest.py:
`from kelm.testing import fresh_host, as_lists`)."""
import pytest

from . import reset


@pytest.fixture(autouse=True)
def fresh_host():
    """Every test starts and ends with a host without models, loads or call log."""
    reset()
    yield
    reset()


@pytest.fixture(params=["numpy", "lists"])
def as_lists(request):
    """Runs a test with the host delivering NumPy arrays, then plain lists and tuples."""
    return request.param == "lists"
