"""Fixtures of the tamblo module's tests."""
import os

import pytest

from pulsesignal import missing


@pytest.fixture(scope="session")
def pulse_dir():
    """The shared server's folder; skips the test when it did not start."""
    folder = os.environ.get("TAMBLO_PULSE_DIR", "")
    why = missing(folder)
    if why:
        pytest.skip(why)
    return folder
