"""Recording a headset to BDF+ or EDF+ files, through the recorder library's
own C interface (``libVOQRecorder-<system>-<processor>``, the ``VOQRec_*``
functions; it writes with EDFlib).

:meth:`voq.Headset.record` is the usual way in::

    with voq.Simulator() as port, voq.Headset(port) as headset:
        files = headset.record("session.bdf", 10)

Beside every file, ``session_events.tsv`` (with its sidecar
``session_events.json``) gets a row for each of the file's annotations as
soon as it is known.  A file whose recording was cut short (a crash, a kill,
a power cut) lacks its length and its annotations until :func:`repair` makes
it whole again from its events file.

The recorder library is looked up when first used (see :mod:`voq._companions`),
first as the file named by the environment variable ``VOQ_RECORDER_LIBRARY``.
"""

from __future__ import annotations

import ctypes
import os
from typing import Any, Callable, Dict, List, Optional

from . import _core, _library
from ._companions import Companion

__all__ = ["record", "repair", "needs_repair", "recorder_library_file_name", "load_recorder"]

OVERWRITE = 1
IMPEDANCE_FIRST = 2

_PROTOTYPES = {
    "VOQRec_Error": (ctypes.c_char_p, []),
    "VOQRec_ClearError": (None, []),
    "VOQRec_GetVersion": (ctypes.c_char_p, []),
    "VOQRec_Open": (ctypes.c_void_p, [_library.HeadsetHandle, ctypes.c_char_p, ctypes.c_double, ctypes.c_int]),
    "VOQRec_Start": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_double]),
    "VOQRec_Step": (ctypes.c_int, [ctypes.c_void_p]),
    "VOQRec_Annotate": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_char_p]),
    "VOQRec_NoteRealTimeViolations": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_ulonglong]),
    "VOQRec_Close": (ctypes.c_int, [ctypes.c_void_p]),
    "VOQRec_Delete": (None, [ctypes.c_void_p]),
    "VOQRec_GetSamplingRate": (ctypes.c_double, [ctypes.c_void_p]),
    "VOQRec_GetSecondsWritten": (ctypes.c_double, [ctypes.c_void_p]),
    "VOQRec_GetSamplesWritten": (ctypes.c_ulonglong, [ctypes.c_void_p]),
    "VOQRec_GetOverflowedSamples": (ctypes.c_ulonglong, [ctypes.c_void_p]),
    "VOQRec_GetRealTimeViolations": (ctypes.c_ulonglong, [ctypes.c_void_p]),
    "VOQRec_GetTriggerChanges": (ctypes.c_ulonglong, [ctypes.c_void_p]),
    "VOQRec_GetAnnotations": (ctypes.c_ulonglong, [ctypes.c_void_p]),
    "VOQRec_GetClippedValues": (ctypes.c_ulonglong, [ctypes.c_void_p]),
    "VOQRec_HasTrigger": (ctypes.c_int, [ctypes.c_void_p]),
    "VOQRec_GetNumberOfFiles": (ctypes.c_uint, [ctypes.c_void_p]),
    "VOQRec_GetFileName": (ctypes.c_char_p, [ctypes.c_void_p, ctypes.c_uint]),
    "VOQRec_NeedsRepair": (ctypes.c_int, [ctypes.c_char_p]),
    "VOQRec_Repair": (ctypes.c_char_p, [ctypes.c_char_p]),
}

_RECORDER = Companion("VOQRecorder", "VOQRec_", "VOQ_RECORDER_LIBRARY", _PROTOTYPES)


def recorder_library_file_name() -> str:
    """The recorder library's platform name, e.g. ``libVOQRecorder-Linux-x86_64.so``."""
    return _RECORDER.file_name()


def load_recorder() -> ctypes.CDLL:
    """Loads the recorder library (once) and declares its functions."""
    return _RECORDER.load()


class _ViolationCounter:
    """Counts the library's "Real-time violation" reports (level 2, issued
    whatever the headset shows), which the recorder annotates."""

    def __init__(self) -> None:
        self.count = 0

    def __call__(self, level: int, text: str) -> None:
        if "Real-time violation" in text:
            self.count += 1


def record(headset: Any, path: str, seconds: Optional[float], *, segment_minutes: float = 0.0,
           overwrite: bool = False, impedance_first: bool = False,
           progress: Optional[Callable[[Dict[str, Any]], Any]] = None) -> List[str]:
    """Records the headset's output channels to `path` (``.bdf``: BDF+,
    24-bit; ``.edf``: EDF+, 16-bit) for `seconds` (None: until Ctrl-C, that
    is KeyboardInterrupt, which is raised again after the file is complete).
    See :meth:`voq.Headset.record`.  Returns the files written."""
    rec = load_recorder()
    if seconds is not None and seconds < 0:
        raise ValueError("seconds must not be negative (None records until interrupted)")
    flags = (OVERWRITE if overwrite else 0) | (IMPEDANCE_FIRST if impedance_first else 0)
    handle = _RECORDER.call(rec.VOQRec_Open, headset._h(), os.fsencode(os.fspath(path)),
                   float(segment_minutes) * 60.0, flags, failed=lambda r: not r)
    counter = _ViolationCounter()
    listeners = headset._messages.listeners
    listeners.append(counter)
    files: List[str] = []
    try:
        _RECORDER.call(rec.VOQRec_Start, handle, -1.0 if seconds is None else float(seconds),
              failed=lambda r: r != 1)
        noted = 0
        while True:
            more = _RECORDER.call(rec.VOQRec_Step, handle, failed=lambda r: r < 0)
            if counter.count > noted:
                _RECORDER.call(rec.VOQRec_NoteRealTimeViolations, handle, counter.count - noted)
                noted = counter.count
            if progress is not None:
                progress(_stats(rec, handle))
            if more != 1:
                break
        _RECORDER.call(rec.VOQRec_Close, handle, failed=lambda r: r != 1)
    finally:
        listeners.remove(counter)
        # Closes the file(s) if an error or KeyboardInterrupt left them open:
        # what was recorded stays complete and readable.
        with _core.LOCK:
            count = rec.VOQRec_GetNumberOfFiles(handle)
            files = [rec.VOQRec_GetFileName(handle, i).decode("utf-8", errors="replace")
                     for i in range(count)]
            rec.VOQRec_Delete(handle)
            _library.lib.VOQ_ClearError()
    return files


def needs_repair(path: str) -> bool:
    """Whether the recording file `path` was left unclosed (its recording was
    cut short) and :func:`repair` would mend it.  Raises VOQError when it
    cannot be read or is not an EDF or BDF file."""
    rec = load_recorder()
    return _RECORDER.call(rec.VOQRec_NeedsRepair, os.fsencode(os.fspath(path)),
                 failed=lambda r: r < 0) == 1


def repair(path: str) -> str:
    """Repairs the recording file `path` that was left unclosed: keeps its
    complete data records, sets its length and writes the rows of its events
    file into its annotations; the repaired file replaces it only once it is
    complete.  Returns the one-line report ("repaired ..." or "... was
    closed properly: nothing to repair").  Raises VOQError, with nothing
    changed, for a file that is not EDF or BDF, a truncated header, or an
    events file that does not belong to it."""
    rec = load_recorder()
    report = _RECORDER.call(rec.VOQRec_Repair, os.fsencode(os.fspath(path)), failed=lambda r: not r)
    return report.decode("utf-8", errors="replace")


def _stats(rec: ctypes.CDLL, handle: int) -> Dict[str, Any]:
    with _core.LOCK:
        return {
            "seconds": rec.VOQRec_GetSecondsWritten(handle),
            "samples": rec.VOQRec_GetSamplesWritten(handle),
            "overflowed": rec.VOQRec_GetOverflowedSamples(handle),
            "violations": rec.VOQRec_GetRealTimeViolations(handle),
            "annotations": rec.VOQRec_GetAnnotations(handle),
            "files": rec.VOQRec_GetNumberOfFiles(handle),
        }
