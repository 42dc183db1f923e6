"""Shared by the binding's objects: the lock for a sequence of raw calls,
numpy on demand, and the validity tokens of borrowed handles."""

from __future__ import annotations

import contextlib
from typing import TYPE_CHECKING, Any, Tuple

from . import _core
from ._core import VOQError

if TYPE_CHECKING:  # pragma: no cover
    from .headset import Headset

__all__ = ["_locked", "_numpy", "_Token", "_Borrowed"]


def _locked():
    """The lock for a sequence of raw calls, unless this thread runs a library
    callback (which runs on behalf of the call that is reading)."""
    return contextlib.nullcontext() if _core.in_callback() else _core.LOCK


def _numpy():
    try:
        import numpy
    except ImportError as e:  # pragma: no cover - depends on the installation
        raise ImportError("this function needs numpy (Debian: python3-numpy); the rest of voq "
                          "works without it") from e
    return numpy


class _Token:
    """Validity of borrowed handles: cleared when the library frees what they
    point at."""

    __slots__ = ("valid",)

    def __init__(self) -> None:
        self.valid = True


class _Borrowed:
    """Base of the wrappers of borrowed handles (sources, channels, stages)."""

    __slots__ = ("_headset", "_handle", "_tokens", "__weakref__")
    _what = "object"
    _lost = "it belonged to a headset that has been closed"

    def __init__(self, headset: "Headset", handle: Any, tokens: Tuple[_Token, ...]) -> None:
        self._headset = headset
        self._handle = handle
        self._tokens = tokens

    def _h(self) -> Any:
        for token in self._tokens:
            if not token.valid:
                raise VOQError("this %s is no longer valid: %s" % (self._what, self._lost))
        return self._handle

    @property
    def valid(self) -> bool:
        """False once the library has freed what this object refers to."""
        return all(token.valid for token in self._tokens)

    @property
    def headset(self) -> "Headset":
        return self._headset

    def __eq__(self, other: object) -> bool:
        return (type(other) is type(self) and other._handle.value == self._handle.value
                and other._headset is self._headset)

    def __hash__(self) -> int:
        return hash((type(self), self._handle.value))
