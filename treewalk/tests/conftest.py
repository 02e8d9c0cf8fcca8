import pytest

import kelm


@pytest.fixture(autouse=True)
def fresh_host():
    kelm.reset()
    yield
    kelm.reset()


@pytest.fixture(params=["numpy", "lists"])
def as_lists(request):
    """Runs a test with the host delivering NumPy arrays, then plain lists and tuples."""
    return request.param == "lists"
