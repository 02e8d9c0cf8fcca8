import pytest

import kelm
import loadscribe


@pytest.fixture(autouse=True)
def fresh_host():
    """Every test starts with an empty host, recording off, and leaves them so."""
    kelm.reset()
    loadscribe.macro = None
    yield
    kelm.reset()
    loadscribe.macro = None
