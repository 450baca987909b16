import pytest

from zelvo import Emulator

pytest_plugins = ["pytester"]


def zi_picture(width: int = 16, height: int = 8) -> bytes:
    """A ZI picture with every pixel lit."""
    return b".zi" + bytes([width >> 4, (width & 15) << 4 | height >> 8, height & 255]) \
        + b"\xff" * ((width * height + 7) // 8)


@pytest.fixture
def emulator():
    with Emulator() as started:
        yield started
