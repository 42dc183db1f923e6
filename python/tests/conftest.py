"""Shared fixtures: the package from this source tree, a simulated headset
and one connected headset per test module (start-up takes seconds)."""

import os
import sys
from pathlib import Path

import pytest

PYTHON_DIR = Path(__file__).resolve().parent.parent
REPOSITORY = PYTHON_DIR.parent
sys.path.insert(0, str(PYTHON_DIR))

import voq  # noqa: E402  (after the path is set)


@pytest.fixture(scope="module")
def simulator_port():
    with voq.Simulator() as port:
        yield port


@pytest.fixture(scope="module")
def headset(simulator_port):
    with voq.Headset(simulator_port) as connected:
        yield connected


def header_path() -> Path:
    return REPOSITORY / "library" / "VOQ_API.h"


def subprocess_environment(**changes):
    """The environment for a child Python, with this source tree importable."""
    environment = dict(os.environ)
    environment["PYTHONPATH"] = str(PYTHON_DIR)
    for key, value in changes.items():
        if value is None:
            environment.pop(key, None)
        else:
            environment[key] = value
    return environment
