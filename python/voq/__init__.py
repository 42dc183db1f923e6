"""Python binding of the VOQ headset SDK.

A pure-Python package over the library's C interface (ctypes).  Importing it
needs nothing but Python; numpy is needed by the functions that return
arrays (:meth:`Headset.batches`, :meth:`Headset.read`, :func:`filter`), MNE by
:meth:`Headset.to_mne`, matplotlib by the plots.

    import voq
    with voq.Simulator() as port, voq.Headset(port) as headset:
        print(headset.info["HardwareModel"])
        headset.choose_channels("Fz Cz C3 C4 O1 O2 TRG", "A1/2+A2/2")
        for timestamp, batch in headset.batches(5):
            print(timestamp, batch.shape)
"""

from . import _library
from ._core import VOQError
from ._library import library_file_name, library_path
from .filters import filter
from .headset import LOGGER, Channel, Headset, ProcessingStage, Source
from .mne_export import to_mne
from .simulator import Simulator, find_simulator

__all__ = [
    "VOQError",
    "Headset",
    "Source",
    "Channel",
    "ProcessingStage",
    "Simulator",
    "find_simulator",
    "to_mne",
    "filter",
    "api_version",
    "host_clock",
    "host_to_calendar",
    "default_port",
    "sanity_check",
    "library_path",
    "library_file_name",
    "lib",
    "LOGGER",
]

#: The loaded library (ctypes.CDLL) with every export declared, for direct use.
lib = _library.lib


def api_version() -> str:
    """The library's version, e.g. "1.18.2"."""
    from ._core import text
    return text(lib.VOQ_GetAPIVersion)


def default_port() -> str:
    """The value of the environment variable VOQSerialPort, or ""."""
    from ._core import text
    return text(lib.VOQ_GetDefaultPort)


def host_clock() -> float:
    """Now, in seconds of the host's steady monotonic clock: the clock of
    every sample time (on Linux the clock of ``time.monotonic()``)."""
    from ._core import call
    return call(lib.VOQ_HostClock)


def host_to_calendar(host_time: float) -> float:
    """A host time (:func:`host_clock` seconds) as calendar time, seconds
    since the epoch as ``time.time()`` counts them: the two clocks read
    together, the tightest of several tries."""
    import time
    best = None
    for _ in range(9):
        before = host_clock()
        calendar = time.time()
        after = host_clock()
        if best is None or after - before < best[0]:
            best = (after - before, calendar - 0.5 * (before + after))
    return host_time + best[1]


def sanity_check() -> None:
    """Runs the library's self-check; raises VOQError on failure."""
    from ._core import call
    call(lib.VOQ_SanityCheck)


__version__ = "1.18.2"
