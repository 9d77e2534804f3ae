import pytest


@pytest.fixture
def sf():
    return pytest.importorskip("soundfile", reason="python3-soundfile is not installed")
