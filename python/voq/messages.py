"""Library messages in Python's logging module.

The library issues numbered messages, level 1 (most important) to 7.  Like
the ``voq`` tool, a Headset shows level 1 by default: those messages reach
the logger (:data:`LOGGER`, or the one given to the Headset) and nothing
else does.  More on request, per headset: ``Headset(port, verbosity=3)`` or
``headset.verbosity = 4`` passes every message up to that level on.  Levels
become logging levels as 1 ERROR, 2 WARNING, 3 INFO, 4 and above DEBUG, and
each record carries the library's level as ``record.voq_level``.

The library always issues level 2 as well, whatever is shown, so that the
binding can count the reports it acts on (real-time violations, which a
recording annotates) through :attr:`MessageSink.listeners`.
"""

from __future__ import annotations

import logging
from typing import Callable, List, Optional

from ._core import decode

__all__ = ["LOGGER", "DEFAULT_VERBOSITY", "logging_level", "MessageSink"]

#: Library messages are passed to this logger (or to the one given to Headset).
LOGGER = logging.getLogger("voq")

#: The highest message level shown unless a Headset is told otherwise.
DEFAULT_VERBOSITY = 1

#: The library issues at least the levels up to this one (see above).
ISSUED_AT_LEAST = 2

# Library message levels (1 most important .. 7) as logging levels.
_LOG_LEVELS = {1: logging.ERROR, 2: logging.WARNING, 3: logging.INFO, 4: logging.DEBUG}


def logging_level(level: int) -> int:
    """The logging level of a library message level."""
    if level <= 1:
        return logging.ERROR
    return _LOG_LEVELS.get(level, max(1, logging.DEBUG - (level - 4)))


class MessageSink:
    """Receives one headset's library messages (on whichever thread issues
    them): gives every message to each of :attr:`listeners` as
    ``listener(level, text)``, then logs it when its level is at most
    :attr:`shown`.  Never raises."""

    __slots__ = ("logger", "shown", "listeners")

    def __init__(self, logger: Optional[logging.Logger] = None) -> None:
        self.logger = logger or LOGGER
        self.shown = DEFAULT_VERBOSITY
        self.listeners: List[Callable[[int, str], None]] = []

    def __call__(self, message: Optional[bytes], level: int) -> int:
        try:
            text = decode(message)
            for listener in tuple(self.listeners):
                listener(level, text)
            if level <= self.shown:
                self.logger.log(logging_level(level), "%s", text, extra={"voq_level": level})
        except BaseException:
            pass
        return level
