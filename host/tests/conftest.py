import pytest

import kelm


@pytest.fixture(autouse=True)
def fresh_host():
    """Every test starts with no models, an empty call log and the default unit systems."""
    kelm.reset()
    yield
    kelm.reset()


@pytest.fixture(params=[False, True], ids=["numpy", "lists"])
def as_lists(request):
    return request.param
