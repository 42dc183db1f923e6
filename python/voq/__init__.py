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


def sanity_check() -> None:
    """Runs the library's self-check; raises VOQError on failure."""
    from ._core import call
    call(lib.VOQ_SanityCheck)


__version__ = "1.18.2"
