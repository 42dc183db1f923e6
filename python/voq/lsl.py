"""A headset on the Lab Streaming Layer, through the LSL outlet library's own C
interface (``libVOQLSL-<system>-<processor>``, the ``VOQLSL_*`` functions;
it carries its own copy of liblsl, so pylsl in the same process is no
conflict).

:meth:`voq.Headset.stream_lsl` is the usual way in::

    with voq.Simulator() as port, voq.Headset(port) as headset:
        headset.stream_lsl(60)                 # seconds; None: until Ctrl-C

and :class:`Outlet` serves an application's own loop::

    with voq.lsl.Outlet(headset) as outlet:    # both streams appear
        outlet.start()
        while running:
            outlet.step()                      # pushes what has arrived
            outlet.mark("stimulus 3")          # a marker of the application

The streams: "VOQ <serial number>" (type EEG, source_id
"VOQ-<serial number>"), the output channels as float32 samples, each stamped
with its own time on the clock of ``pylsl.local_clock()``; and
"VOQ <serial number> markers" (type Markers, source_id
"VOQ-<serial number>-markers") with "trigger <value>" at every change of the
trigger channel to a value other than 0 (the very sample's time stamp),
"alarm <name>" for the headset's alarms, "overflow, <N> samples lost",
"link lost" and "link restored, <N> samples missing" when the headset
reconnects by itself (:attr:`voq.Headset.reconnect`; the streams stay open),
and the application's own markers.

The library is looked up when first used (see :mod:`voq._companions`), first
as the file named by the environment variable ``VOQ_LSL_LIBRARY``.  liblsl
reads its configuration from the file named by ``LSLAPICFG`` (or its usual
places) when the first outlet opens.
"""

from __future__ import annotations

import ctypes
from typing import Any, Callable, Dict, Optional

from . import _core, _library
from ._companions import Companion

__all__ = ["Outlet", "stream", "lsl_library_file_name"]

_O = ctypes.c_void_p
_PROTOTYPES = {
    "VOQLSL_Error": (ctypes.c_char_p, []),
    "VOQLSL_ClearError": (None, []),
    "VOQLSL_GetVersion": (ctypes.c_char_p, []),
    "VOQLSL_Open": (_O, [_library.HeadsetHandle]),
    "VOQLSL_Start": (ctypes.c_int, [_O, ctypes.c_double]),
    "VOQLSL_Step": (ctypes.c_int, [_O]),
    "VOQLSL_Mark": (ctypes.c_int, [_O, ctypes.c_char_p, ctypes.c_double]),
    "VOQLSL_HasConsumers": (ctypes.c_int, [_O]),
    "VOQLSL_Close": (ctypes.c_int, [_O]),
    "VOQLSL_Delete": (None, [_O]),
    "VOQLSL_GetStreamName": (ctypes.c_char_p, [_O]),
    "VOQLSL_GetSourceId": (ctypes.c_char_p, [_O]),
    "VOQLSL_GetMarkersName": (ctypes.c_char_p, [_O]),
    "VOQLSL_GetMarkersSourceId": (ctypes.c_char_p, [_O]),
    "VOQLSL_GetNumberOfChannels": (ctypes.c_uint, [_O]),
    "VOQLSL_GetSamplingRate": (ctypes.c_double, [_O]),
    "VOQLSL_GetSamplesPushed": (ctypes.c_ulonglong, [_O]),
    "VOQLSL_GetMarkersPushed": (ctypes.c_ulonglong, [_O]),
    "VOQLSL_GetTriggerMarkers": (ctypes.c_ulonglong, [_O]),
    "VOQLSL_GetOverflowedSamples": (ctypes.c_ulonglong, [_O]),
}

_LSL = Companion("VOQLSL", "VOQLSL_", "VOQ_LSL_LIBRARY", _PROTOTYPES)


def lsl_library_file_name() -> str:
    """The outlet library's platform name, e.g. ``libVOQLSL-Linux-x86_64.so``."""
    return _LSL.file_name()


class Outlet:
    """The LSL outlet of a connected headset: opening it makes both streams
    appear on the network, :meth:`close` (or leaving the ``with`` block)
    makes them disappear.  Used from one thread; the headset must keep its
    montage while the outlet is open."""

    def __init__(self, headset: Any) -> None:
        lsl = _LSL.load()
        self._lsl = lsl
        self._handle: Optional[int] = _LSL.call(lsl.VOQLSL_Open, headset._h(), failed=lambda r: not r)
        texts = [_LSL.call(f, self._handle, failed=lambda r: r is None).decode("utf-8", errors="replace")
                 for f in (lsl.VOQLSL_GetStreamName, lsl.VOQLSL_GetSourceId,
                           lsl.VOQLSL_GetMarkersName, lsl.VOQLSL_GetMarkersSourceId)]
        #: "VOQ <serial number>", "VOQ-<serial number>", and the markers' name and source_id.
        self.name, self.source_id, self.markers_name, self.markers_source_id = texts
        #: The number of channels and the nominal rate of the samples.
        self.channel_count = _LSL.call(lsl.VOQLSL_GetNumberOfChannels, self._handle)
        self.sampling_rate = _LSL.call(lsl.VOQLSL_GetSamplingRate, self._handle)

    def _o(self) -> int:
        if self._handle is None:
            raise _core.VOQError("the LSL outlet is closed")
        return self._handle

    def start(self, seconds: Optional[float] = None) -> None:
        """Starts acquisition when the headset is not acquiring (and
        :meth:`close` stops it again); streams `seconds` (None: until
        closed)."""
        if seconds is not None and seconds < 0:
            raise ValueError("seconds must not be negative (None streams until closed)")
        _LSL.call(self._lsl.VOQLSL_Start, self._o(), -1.0 if seconds is None else float(seconds),
                  failed=lambda r: r != 1)

    def step(self) -> bool:
        """Waits until samples have arrived (about one block of the headset)
        and pushes them, then the markers.  False once the requested time is
        streamed."""
        return _LSL.call(self._lsl.VOQLSL_Step, self._o(), failed=lambda r: r < 0) == 1

    def mark(self, text: str, stamp: Optional[float] = None) -> None:
        """Pushes a marker, stamped `stamp` (seconds of
        ``pylsl.local_clock()``) or now."""
        _LSL.call(self._lsl.VOQLSL_Mark, self._o(), text.encode("utf-8"),
                  -1.0 if stamp is None else float(stamp), failed=lambda r: r != 1)

    @property
    def has_consumers(self) -> bool:
        """True while an inlet is connected to the samples."""
        return _LSL.call(self._lsl.VOQLSL_HasConsumers, self._o(), failed=lambda r: r < 0) == 1

    def stats(self) -> Dict[str, int]:
        """Counts so far: "samples", "markers", "triggers", "overflowed"."""
        lsl, o = self._lsl, self._o()
        return {key: _LSL.call(function, o) for key, function in (
            ("samples", lsl.VOQLSL_GetSamplesPushed), ("markers", lsl.VOQLSL_GetMarkersPushed),
            ("triggers", lsl.VOQLSL_GetTriggerMarkers), ("overflowed", lsl.VOQLSL_GetOverflowedSamples))}

    def close(self) -> None:
        """Stops what :meth:`start` started and closes both streams; closing
        twice does nothing."""
        if self._handle is None:
            return
        handle, self._handle = self._handle, None
        try:
            _LSL.call(self._lsl.VOQLSL_Close, handle, failed=lambda r: r != 1)
        finally:
            with _core.LOCK:
                self._lsl.VOQLSL_Delete(handle)
                _library.lib.VOQ_ClearError()

    def __enter__(self) -> "Outlet":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        return "<voq.lsl.Outlet %r%s>" % (self.name, "" if self._handle is not None else " (closed)")


def stream(headset: Any, seconds: Optional[float],
           progress: Optional[Callable[[Dict[str, int]], Any]] = None,
           reconnect: float = 60.0) -> Dict[str, int]:
    """Streams the headset on LSL for `seconds` (None: until Ctrl-C, that is
    KeyboardInterrupt, which is raised again after the streams are closed),
    reconnecting a lost link for up to `reconnect` seconds.  See
    :meth:`voq.Headset.stream_lsl`.  Returns the final counts."""
    kept = headset.reconnect
    headset.reconnect = reconnect
    try:
        with Outlet(headset) as outlet:
            outlet.start(seconds)
            while True:
                more = outlet.step()
                if progress is not None:
                    progress(outlet.stats())
                if not more:
                    break
            counts = outlet.stats()
    finally:
        headset.reconnect = kept
    return counts
