"""Calling the library: the error check, the lock, and the callback context.

Every call goes through :func:`call`.  The library's error state is
process-wide and its interface is for one thread at a time, so:

- calls from Python threads are serialised by one process-wide lock
  (:data:`LOCK`, re-entrant);
- after every call the library's stored error is taken and cleared
  (``VOQ_ClearError``) and raised as :class:`VOQError` with the library's own
  text.  The binding also installs the library's error callback, which the
  library runs on the thread whose call failed: it records the text for that
  thread, so a failure is raised by the call that caused it and never by a
  call on another thread (such as a callback on the acquisition thread);
- calls made from inside a callback that the library runs (processing stages,
  the sample callback) do not take the lock: they run on behalf of the call
  that is reading the headset, possibly on the library's acquisition thread
  while another thread waits for samples.
"""

from __future__ import annotations

import threading
from typing import Any, Callable, Optional

from . import _library

lib = _library.lib

__all__ = ["VOQError", "LOCK", "call", "text", "in_callback", "callback_context"]


class VOQError(RuntimeError):
    """A failure reported by the VOQ library; ``str(error)`` is the library's
    own text."""


#: Serialises the calls of all Python threads into the library.
LOCK = threading.RLock()
# Held around the checks of the library's stored error, and around each call
# made from a library callback (never around anything that waits).
_ERROR_LOCK = threading.Lock()


class _ThreadState(threading.local):
    def __init__(self) -> None:
        self.error: Optional[str] = None
        self.callback_depth = 0


_state = _ThreadState()


def _decode(raw: Optional[bytes]) -> str:
    if raw is None:
        return ""
    return raw.decode("utf-8", errors="replace")


def _on_error(message: Optional[bytes], level: int) -> int:
    # Runs on the thread whose call failed, inside that call.  Must not raise.
    try:
        if _state.error is None:
            _state.error = _decode(message)
    except BaseException:  # pragma: no cover - nothing sensible to do here
        pass
    return level


# Kept alive for the life of the process: the library holds the pointer.
_error_callback = _library.MessageCallback(_on_error)
lib.VOQ_SetErrorCallback(_error_callback)


def in_callback() -> bool:
    """True while this thread runs a Python callback called by the library."""
    return _state.callback_depth > 0


class callback_context:
    """Marks the current thread as running a library callback.  The failure
    state of the call that is reading is put aside meanwhile, so nothing done
    in the callback can be reported by that call."""

    __slots__ = ("_saved",)

    def __enter__(self) -> None:
        self._saved = _state.error
        _state.error = None
        _state.callback_depth += 1

    def __exit__(self, *exc: Any) -> None:
        _state.callback_depth -= 1
        _state.error = self._saved


def _finish_locked_call() -> None:
    """After a call from a Python thread: takes the library's stored error
    (VOQ_ClearError returns it and clears it) and raises it.  The text comes
    from the error callback when it ran on this thread; the stored text is
    the fallback should the error callback have been replaced."""
    message = _state.error
    _state.error = None
    with _ERROR_LOCK:
        stored = lib.VOQ_ClearError()
    if message is None and stored is not None:
        message = _decode(stored)
    if message is not None:
        raise VOQError(message)


def call(function: Callable[..., Any], *args: Any) -> Any:
    """Calls one export; raises VOQError with the library's text when it
    failed."""
    if _state.callback_depth:
        # On the reading thread, inside a library callback: no LOCK (the
        # call that reads holds it, possibly on another thread).  The error
        # lock keeps this call's failure from being seen by a check on
        # another thread before it is cleared here.
        with _ERROR_LOCK:
            _state.error = None
            result = function(*args)
            message = _state.error
            if message is not None:
                _state.error = None
                lib.VOQ_ClearError()
        if message is not None:
            raise VOQError(message)
        return result
    with LOCK:
        _state.error = None
        result = function(*args)
        _finish_locked_call()
        return result


def check(final: bool = False) -> None:
    """Raises the failure of the raw calls made since :func:`clear`, if any.
    For loops that call exports directly while holding :data:`LOCK`; with
    `final` the library's stored error is taken as well."""
    if final and not _state.callback_depth:
        _finish_locked_call()
    elif _state.error is not None:
        message = _state.error
        _state.error = None
        if not _state.callback_depth:
            with _ERROR_LOCK:
                lib.VOQ_ClearError()
        raise VOQError(message)


def clear() -> None:
    _state.error = None


def text(function: Callable[..., Any], *args: Any) -> str:
    """Calls an export that returns a text and returns it as ``str``."""
    return _decode(call(function, *args))


def decode(raw: Optional[bytes]) -> str:
    return _decode(raw)


def encode(value: Optional[str]) -> Optional[bytes]:
    if value is None:
        return None
    if isinstance(value, bytes):
        return value
    return str(value).encode("utf-8")
