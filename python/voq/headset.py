"""Headset: one connection to one headset.

The class is assembled from one module per concern: device commands and
reported settings (``_device``), sources, montage and stages (``_montage``), filter stages
(``filters``), Python callbacks (``_callbacks``), buffering, batches and reads
(``_acquisition``); this module holds its life cycle, connection state and
the exports to MNE and files.  The objects a headset lends are in
``objects``, the library's messages in ``messages``.
"""

from __future__ import annotations

import atexit
import ctypes
import logging
import re
import threading
import weakref
from typing import Any, Callable, Dict, List, NamedTuple, Optional, Tuple

from . import _core, _library
from ._acquisition import _Acquisition
from ._callbacks import _Callbacks
from ._core import VOQError, call, encode, text
from ._device import _Device
from .filters import _Filters
from ._handles import _locked, _Token
from ._montage import _Montage
from .messages import DEFAULT_VERBOSITY, ISSUED_AT_LEAST, LOGGER, MessageSink, logging_level
from .objects import Channel, ProcessingStage, Source

lib = _library.lib

__all__ = ["Headset", "LinkEvent", "Source", "Channel", "ProcessingStage", "VOQError", "LOGGER",
           "logging_level"]

# ---------------------------------------------------------------------------


class LinkEvent(NamedTuple):
    """A loss of the link or its end (:meth:`Headset.link_events`)."""

    kind: str       # "lost", "restored" or "gave up"
    seconds: float  # when, in seconds since connection
    missing: int    # samples missing across the loss ("restored")
    sample: int     # samples given by batches() and read() before the gap


_LINK_EVENT_KINDS = {1: "lost", 2: "restored", 3: "gave up"}

_open_headsets: "weakref.WeakSet[Headset]" = weakref.WeakSet()


@atexit.register
def _close_all() -> None:
    # Library threads must not call into an interpreter that is going away.
    for headset in list(_open_headsets):
        try:
            headset.close()
        except Exception:
            pass


def _delete_later(handle: Any, keep: List[Any]) -> None:
    # `keep` holds the callback objects until the library has let them go.
    call(lib.VOQ_Headset_Delete, handle)
    del keep[:]



class Headset(_Device, _Montage, _Filters, _Callbacks, _Acquisition):
    """One connection to one headset.

    ``Headset(port)`` connects at once (``"default"`` uses the environment
    variable VOQSerialPort); ``Headset()`` makes an unconnected headset to be
    connected with :meth:`connect`.  Use it as a context manager, or call
    :meth:`close`, to disconnect and free it::

        with voq.Headset("/dev/rfcomm0") as headset:
            for timestamp, batch in headset.batches(10):
                print(timestamp, batch.shape)

    Library messages go to the logging module (logger "voq", or `logger`)
    up to level `verbosity`: by default 1, the most important, as the voq
    tool shows them; more on request (see :mod:`voq.messages`).

    Exceptions raised by Python callbacks (processing stages, the sample
    callback) are kept and raised by the next waiting call of this headset
    (:meth:`batches`, :meth:`read`, :meth:`wait_for_batch`,
    :meth:`wait_for_samples`, :meth:`idle`, :meth:`receive`,
    :meth:`impedances`).  Until then the failing callback is not called again
    and its stage's channels get NaN, so the waiting call does not stall.
    """

    def __init__(self, port: Optional[str] = None, *, verbosity: Optional[int] = None,
                 logger: Optional[logging.Logger] = None) -> None:
        self._handle: Optional[_library.HeadsetHandle] = None
        self._closing = False
        self._alive = _Token()
        self._sources_token = _Token()
        self._montage_token = _Token()
        self._layout_version = 0
        self._outputs_cache: Optional[Tuple[Any, List[Channel]]] = None
        self._stages: Dict[int, ProcessingStage] = {}
        self._keepalive: List[Any] = []
        self._pending: Optional[BaseException] = None
        self._pending_thread = ""
        self._skipped = 0
        self._pending_lock = threading.Lock()
        self._batch_size = 0
        self._batch_latency = 0.05
        self._delivered = 0
        self._link_events: List[LinkEvent] = []
        self._custom_batch = False
        self._impedance_window = 1.0
        self._buffer_seconds = 1.0
        self._background = False
        self._sample_callback: Optional[Callable[["Headset", float], Any]] = None
        self._messages = MessageSink(logger)
        self._logger = self._messages.logger

        self._handle = call(lib.VOQ_Headset_New, None)
        _open_headsets.add(self)
        message_callback = _library.MessageCallback(self._messages)
        self._keepalive.append(message_callback)
        call(lib.VOQ_Headset_SetMessageCallback, self._handle, message_callback)
        self.verbosity = DEFAULT_VERBOSITY if verbosity is None else verbosity
        if port is not None:
            try:
                self.connect(port)
            except BaseException:
                self.close()
                raise

    # -- lifecycle -----------------------------------------------------------

    def _h(self) -> _library.HeadsetHandle:
        if self._handle is None:
            raise VOQError("this Headset has been closed")
        return self._handle

    def connect(self, port: Optional[str] = "default") -> None:
        """Opens the port and runs the start-up sequence (a few seconds).
        ``"default"`` (or None) uses the environment variable VOQSerialPort."""
        h = self._h()
        self._invalidate_sources()
        self._invalidate_montage()
        call(lib.VOQ_Headset_Connect, h, encode(port))
        if not self._custom_batch:
            self._configure_default_batch()
        else:
            self.configure_batch(self._batch_size, self._batch_latency)

    def disconnect(self) -> None:
        """Stops streaming if the device streams, and closes the port."""
        h = self._h()
        call(lib.VOQ_Headset_Disconnect, h)

    def close(self) -> None:
        """Disconnects and frees the headset (waits for its background
        acquisition to end).  Every Source, Channel and ProcessingStage of it
        becomes invalid."""
        handle = self._handle
        if handle is None or self._closing:
            return
        self._closing = True
        _open_headsets.discard(self)
        try:
            # Callbacks may still run until the library has stopped its
            # thread, so the objects they use stay valid until then.
            call(lib.VOQ_Headset_Delete, handle)
        finally:
            self._handle = None
            self._alive.valid = False
        # The library has silenced the callbacks and ended its thread: the
        # callback objects may go now.
        self._keepalive = []
        self._stages = {}
        self._outputs_cache = None
        pending, self._pending = self._pending, None
        if pending is not None:
            self._logger.error("a callback exception was never collected by a waiting call "
                               "before the headset was closed",
                               exc_info=(type(pending), pending, pending.__traceback__))

    def __enter__(self) -> "Headset":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            if self._handle is not None and _core.in_callback():
                # Collected on the library's reading thread: deleting here
                # would wait for this very thread.  Delete it from another.
                handle, keep = self._handle, self._keepalive
                self._handle = None
                self._alive.valid = False
                threading.Thread(target=_delete_later, args=(handle, keep),
                                 name="voq headset cleanup", daemon=True).start()
                return
            self.close()
        except Exception:
            pass

    @property
    def closed(self) -> bool:
        return self._handle is None

    @property
    def is_connected(self) -> bool:
        return bool(call(lib.VOQ_Headset_IsConnected, self._h()))

    # -- reconnection after a lost link --------------------------------------

    @property
    def reconnect(self) -> float:
        """Seconds to keep trying to reconnect after a lost link (0: off, the
        default).  While it tries, :attr:`link_up` is False, waits and
        :meth:`batches` wait for it, commands raise; the montage, stages and
        callbacks are kept.  See :meth:`link_events` for what was missed."""
        return call(lib.VOQ_Headset_GetReconnect, self._h())

    @reconnect.setter
    def reconnect(self, seconds: float) -> None:
        call(lib.VOQ_Headset_SetReconnect, self._h(), float(seconds))

    @property
    def link_up(self) -> bool:
        """True when connected and the link is not lost."""
        return bool(call(lib.VOQ_Headset_IsLinkUp, self._h()))

    def link_events(self) -> List[LinkEvent]:
        """Takes the link events not yet taken, oldest first: each loss gives
        a "lost" event and then a "restored" (with the samples ``missing``)
        or a "gave up" one.  ``sample`` places the gap: the number of
        samples that :meth:`batches`, :meth:`read` and :meth:`read_samples`
        have given (or will give) before it."""
        self._collect_link_events()
        events, self._link_events = self._link_events, []
        return events

    def _collect_link_events(self) -> None:
        # Between a wait and its read: the samples buffered now are the next
        # ones these functions give.
        seconds = ctypes.c_double()
        missing, before = ctypes.c_size_t(), ctypes.c_size_t()
        h = self._h()
        while True:
            kind = call(lib.VOQ_Headset_GetLinkEvent, h, ctypes.byref(seconds), ctypes.byref(missing),
                        ctypes.byref(before))
            if kind == 0:
                return
            self._link_events.append(LinkEvent(_LINK_EVENT_KINDS.get(kind, str(kind)), seconds.value,
                                               missing.value, self._delivered + before.value))

    @property
    def seconds_since_connection(self) -> float:
        return call(lib.VOQ_Headset_SecondsSinceConnection, self._h())

    @property
    def port(self) -> str:
        """The port name last opened."""
        return text(lib.VOQ_Headset_GetPort, self._h())

    @property
    def bluetooth_initialized(self) -> bool:
        return bool(call(lib.VOQ_Headset_IsBlueToothInitialized, self._h()))

    @property
    def verbosity(self) -> int:
        """The highest message level passed to the logger (default 1; 0
        passes none).  The library issues at least levels 1 and 2 whatever
        this is, so that the binding can count its reports."""
        return self._messages.shown

    @verbosity.setter
    def verbosity(self, level: int) -> None:
        level = int(level)
        call(lib.VOQ_Headset_SetVerbosity, self._h(), max(level, ISSUED_AT_LEAST))
        self._messages.shown = level

    def use_optional_command_prefix(self, use: bool = True) -> None:
        call(lib.VOQ_Headset_UseOptionalCommandPrefix, self._h(), int(bool(use)))

    def kill_data_stream(self, wait: bool = True) -> None:
        call(lib.VOQ_Headset_KillDataStream, self._h(), int(bool(wait)))

    # -- MNE -------------------------------------------------------------------

    def channel_kinds(self) -> List[str]:
        """MNE channel types of the output channels: "stim" for trigger
        channels, "eeg" for referential EEG, "misc" otherwise."""
        with _locked():
            kinds = []
            for channel in self._output_channels():
                if channel.is_trigger:
                    kinds.append("stim")
                elif channel.is_referential_eeg:
                    kinds.append("eeg")
                else:
                    kinds.append("misc")
            return kinds

    def _is_voltage(self, channel: Channel) -> bool:
        # A channel is in microvolts when every term's source is a sensor.
        names = [re.split(r"[*/]", term)[0].strip()
                 for term in re.split(r"[+-]", channel.string) if term.strip()]
        if not names:
            return False
        try:
            return all(self.source(name).is_sensor for name in names)
        except VOQError:
            return False

    def to_mne(self, seconds: Optional[float] = None, data: Any = None, *,
               montage: Optional[str] = "standard_1020", times: Any = None):
        """An ``mne.io.RawArray`` of `seconds` of new samples (or of `data`,
        an array read from this headset's output channels, with `times`, the
        host times of its samples when known): channel names, types (eeg,
        stim, misc), the sampling rate, data in volts, trigger changes as
        annotations, the standard 10-20 positions where the names fit, and
        the first sample's measurement time, as calendar time, as the
        recording's ``meas_date``."""
        from .mne_export import to_mne
        if data is None:
            if seconds is None:
                raise ValueError("give the seconds to read, or the data")
            data, times = self.read(seconds, timestamps=True)
        with _locked():
            channels = self._output_channels()
            names = [channel.name for channel in channels]
            strings = [channel.string for channel in channels]
            kinds = self.channel_kinds()
            volts = [kind == "eeg" or (kind == "misc" and self._is_voltage(channel))
                     for kind, channel in zip(kinds, channels)]
            rate = self.sampling_rate
        return to_mne(data, names, kinds, rate, microvolts=volts, alternative_names=strings,
                      montage=montage, times=times)

    def record(self, path: str, seconds: Optional[float] = None, *, segment_minutes: float = 0.0,
               overwrite: bool = False, impedance_first: bool = False,
               progress: Optional[Callable[[Dict[str, Any]], Any]] = None) -> List[str]:
        """Records the output channels to a BDF+ (``.bdf``, 24-bit) or EDF+
        (``.edf``, 16-bit) file for `seconds` (None: until Ctrl-C) and returns
        the files written.

        One signal per output channel (microvolts for electrodes), the
        trigger channel as the stimulus signal "Trigger", and annotations:
        "TRG <value>" at every trigger change, the headset's alarms (taken
        off its list, see :meth:`alarms`), lost samples, real-time
        violations, and the impedances measured first with
        `impedance_first`; each also as a row of the events file beside the
        file (``session_events.tsv``), written as the recording goes, from
        which :func:`voq.recording.repair` mends a file that a crash left
        unclosed.  `segment_minutes` > 0 continues in numbered files
        (``session-002.bdf``, ...) so that a crash leaves at most the open one
        to repair.  Existing files are refused unless
        `overwrite`.  Starts acquisition when the headset is not acquiring
        and stops it again; uses batches of 0.06 s meanwhile.  A
        KeyboardInterrupt ends the recording with a complete file and is
        raised again; a failure to write raises VOQError and keeps what was
        written readable.  `progress` is called after every batch with a dict
        of "seconds", "samples", "overflowed", "violations", "annotations"
        and "files"."""
        from .recording import record
        try:
            return record(self, path, seconds, segment_minutes=segment_minutes, overwrite=overwrite,
                          impedance_first=impedance_first, progress=progress)
        finally:
            if self._custom_batch and self._handle is not None:
                try:
                    call(lib.VOQ_Headset_ConfigureBatch, self._h(), self._batch_size,
                         self._batch_latency)
                except VOQError:
                    pass

    def stream_lsl(self, seconds: Optional[float] = None, *,
                   progress: Optional[Callable[[Dict[str, int]], Any]] = None,
                   reconnect: float = 60.0) -> Dict[str, int]:
        """Streams the output channels on the Lab Streaming Layer for
        `seconds` (None: until Ctrl-C) and returns the counts ("samples",
        "markers", "triggers", "overflowed").

        Two streams appear while it runs: "VOQ <serial number>" (type EEG,
        source_id "VOQ-<serial number>"; float32 samples, each with its own
        time stamp on the clock of ``pylsl.local_clock()``; the channels'
        labels, units, types, references and 10-20 positions in the
        metadata) and "VOQ <serial number> markers" ("trigger <value>" at
        every change of the trigger channel to a value other than 0,
        "alarm <name>" for the headset's alarms, taken off its list; see
        :meth:`alarms`).  Samples go out as soon as they arrive.  Starts
        acquisition when the headset is not acquiring and stops it again.  A
        KeyboardInterrupt closes the streams and is raised again.
        `progress` is called after every push with the counts so far.

        A lost link is reconnected for up to `reconnect` seconds (0: a lost
        link raises at once; :attr:`reconnect` is set to it while streaming
        and put back afterwards): the streams stay open, and the markers
        "link lost" and "link restored, <N> samples missing" say what is
        missing.  For an application's own loop, and markers of its own, use
        :class:`voq.lsl.Outlet`."""
        from .lsl import stream
        return stream(self, seconds, progress, reconnect)

    def __repr__(self) -> str:
        if self._handle is None:
            return "<voq.Headset (closed)>"
        try:
            if self.is_connected:
                return "<voq.Headset %s on %s>" % (self.hardware_model, self.port)
        except VOQError:
            pass
        return "<voq.Headset (not connected)>"
