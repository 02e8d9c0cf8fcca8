import pytest

import kelm


@pytest.fixture(autouse=True)
def fresh_host():
    kelm.reset()
    yield
