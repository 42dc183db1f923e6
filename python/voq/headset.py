"""The object model: Headset, Source, Channel and ProcessingStage."""

from __future__ import annotations

import atexit
import contextlib
import logging
import math
import re
import threading
import time
import weakref
from typing import Any, Callable, Dict, Iterator, List, Optional, Tuple, Union

from . import _core, _library
from ._core import VOQError, call, decode, encode, text

lib = _library.lib

__all__ = ["Headset", "Source", "Channel", "ProcessingStage", "VOQError", "LOGGER"]

#: Library messages are passed to this logger (or to the one given to Headset).
LOGGER = logging.getLogger("voq")

# Library message levels (1 most important .. 7) as logging levels.
_LOG_LEVELS = {1: logging.ERROR, 2: logging.WARNING, 3: logging.INFO, 4: logging.DEBUG}


def logging_level(level: int) -> int:
    """The logging level of a library message level."""
    if level <= 1:
        return logging.ERROR
    return _LOG_LEVELS.get(level, max(1, logging.DEBUG - (level - 4)))


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


# ---------------------------------------------------------------------------

class Source(_Borrowed):
    """One raw signal of a headset: an electrode, a reference, an auxiliary
    input, the trigger, an accelerometer axis...

    Sources are owned by their headset and stay valid until it reconnects or
    is closed.
    """

    __slots__ = ()
    _what = "Source"
    _lost = "the headset has been closed or reconnected since (get it again)"

    @property
    def name(self) -> str:
        return text(lib.VOQ_Source_GetName, self._h())

    @name.setter
    def name(self, value: str) -> None:
        call(lib.VOQ_Source_SetName, self._h(), encode(value))

    @property
    def signal(self) -> float:
        """The last calibrated value (microvolts for sensors)."""
        return call(lib.VOQ_Source_GetSignal, self._h())

    @property
    def gain(self) -> float:
        return call(lib.VOQ_Source_GetGain, self._h())

    @property
    def impedance_eeg(self) -> float:
        """Impedance estimate in kOhm; -1 while the impedance driver is off."""
        return call(lib.VOQ_Source_GetImpedanceEEG, self._h())

    @property
    def impedance_cmf(self) -> float:
        return call(lib.VOQ_Source_GetImpedanceCMF, self._h())

    @property
    def dc_offset(self) -> float:
        return call(lib.VOQ_Source_GetDCOffset, self._h())

    @property
    def is_trigger(self) -> bool:
        return bool(call(lib.VOQ_Source_IsTrigger, self._h()))

    @property
    def is_sensor(self) -> bool:
        return bool(call(lib.VOQ_Source_IsSensor, self._h()))

    @property
    def is_referential_eeg(self) -> bool:
        return bool(call(lib.VOQ_Source_IsReferentialEEG, self._h()))

    @property
    def is_factory_reference(self) -> bool:
        return bool(call(lib.VOQ_Source_IsFactoryReference, self._h()))

    @property
    def is_common_mode_signal(self) -> bool:
        return bool(call(lib.VOQ_Source_IsCommonModeSignal, self._h()))

    def __repr__(self) -> str:
        if not self.valid:
            return "<voq.Source (no longer valid)>"
        return "<voq.Source %s>" % self.name


class Channel(_Borrowed):
    """One output signal: a weighted sum of sources (for example F3 minus the
    reference) with a buffer of its values.

    A channel stays valid until the montage or reference is chosen again (or
    its processing stage's channels are cleared, or the headset is closed).
    """

    __slots__ = ()
    _what = "Channel"
    _lost = "the montage or its processing stage has been changed since (get it again)"

    @property
    def name(self) -> str:
        return text(lib.VOQ_Channel_GetName, self._h())

    @name.setter
    def name(self, value: Optional[str]) -> None:
        call(lib.VOQ_Channel_SetName, self._h(), encode(value))

    @property
    def string(self) -> str:
        """The channel as a specification, e.g. ``F3-A1/2-A2/2``."""
        return text(lib.VOQ_Channel_GetString, self._h())

    @property
    def signal(self) -> float:
        """The newest unread value (0.0 when everything has been read)."""
        return call(lib.VOQ_Channel_GetSignal, self._h())

    def calculate_raw_signal(self) -> float:
        """The channel's value now, from its sources' current signals."""
        return call(lib.VOQ_Channel_CalculateRawSignal, self._h())

    def look_back(self, steps: int = 0) -> float:
        """The unread value `steps` samples before the newest (0.0 when fewer
        are unread)."""
        return call(lib.VOQ_Channel_LookBack, self._h(), steps)

    def read_buffered(self) -> float:
        """Takes the oldest unread value; VOQError "buffer underflow" when
        there is none."""
        return call(lib.VOQ_Channel_ReadBuffered, self._h())

    def read(self, count: int):
        """Takes the `count` oldest unread values, as a numpy array."""
        numpy = _numpy()
        out = numpy.empty(count)
        handle = self._h()
        read = lib.VOQ_Channel_ReadBuffered
        with _locked():
            _core.clear()
            for i in range(count):
                out[i] = read(handle)
                _core.check()
            _core.check(final=True)
        return out

    @property
    def buffered(self) -> int:
        return call(lib.VOQ_Channel_GetNumberOfBufferedSamples, self._h())

    @property
    def overflowed(self) -> int:
        return call(lib.VOQ_Channel_GetNumberOfOverflowedSamples, self._h())

    @property
    def capacity(self) -> int:
        return call(lib.VOQ_Channel_GetBufferCapacity, self._h())

    def flush(self) -> None:
        call(lib.VOQ_Channel_FlushOutputBuffer, self._h())

    @property
    def is_referential_eeg(self) -> bool:
        return bool(call(lib.VOQ_Channel_IsReferentialEEG, self._h()))

    @property
    def is_trigger(self) -> bool:
        return bool(call(lib.VOQ_Channel_IsTrigger, self._h()))

    def __repr__(self) -> str:
        if not self.valid:
            return "<voq.Channel (no longer valid)>"
        return "<voq.Channel %s = %s>" % (self.name, self.string)


class ProcessingStage(_Borrowed):
    """One stage of the headset's processing cascade.

    The montage is the stage "raw"; stages added with
    :meth:`Headset.add_processing_stage` follow it.  A stage's callback runs
    once per sample, on the thread that reads the headset, as
    ``callback(stage, sample_time)``; it typically reads its input stage's
    newest values with ``stage.input.read(i)`` and writes one value per output
    channel with ``stage.write(j, value)``.
    """

    __slots__ = ("_channels_token", "_written", "_callback")
    _what = "ProcessingStage"
    _lost = "the montage has been changed since (stages are rebuilt with it)"

    def __init__(self, headset: "Headset", handle: Any, tokens: Tuple[_Token, ...],
                 callback: Optional[Callable[["ProcessingStage", float], Any]] = None) -> None:
        super().__init__(headset, handle, tokens)
        self._channels_token = _Token()
        self._written: Optional[set] = None
        self._callback = callback

    @property
    def name(self) -> str:
        return text(lib.VOQ_ProcessingStage_GetName, self._h())

    @property
    def input(self) -> Optional["ProcessingStage"]:
        """The stage whose channels this one reads (None for "raw")."""
        handle = call(lib.VOQ_ProcessingStage_GetInput, self._h())
        return self._headset._stage(handle) if handle.value else None

    @property
    def number_of_channels(self) -> int:
        return call(lib.VOQ_ProcessingStage_GetNumberOfChannels, self._h())

    def __len__(self) -> int:
        return self.number_of_channels

    @property
    def channels(self) -> List[Channel]:
        h = self._h()
        with _locked():
            count = call(lib.VOQ_ProcessingStage_GetNumberOfChannels, h)
            return [self._channel(call(lib.VOQ_ProcessingStage_GetChannelByIndex, h, i))
                    for i in range(count)]

    def channel(self, key: Union[int, str]) -> Channel:
        """A channel by zero-based index or by name."""
        if isinstance(key, int):
            return self._channel(call(lib.VOQ_ProcessingStage_GetChannelByIndex, self._h(), key))
        return self._channel(call(lib.VOQ_ProcessingStage_GetChannelByName, self._h(), encode(key)))

    def _channel(self, handle: Any) -> Channel:
        return Channel(self._headset, handle, self._tokens + (self._channels_token,))

    def add_channel(self, name: str, capacity: int = 0) -> Channel:
        """Adds an output channel with a buffer of `capacity` values (0: one
        second of samples)."""
        if capacity <= 0:
            rate = self._headset.sampling_rate
            capacity = int(rate + 0.5) if rate > 0 else 1
        handle = call(lib.VOQ_ProcessingStage_AddChannel, self._h(), encode(name), capacity)
        self._headset._layout_changed()
        return self._channel(handle)

    def clear_channels(self) -> None:
        h = self._h()
        self._channels_token.valid = False
        self._channels_token = _Token()
        self._headset._layout_changed()
        call(lib.VOQ_ProcessingStage_ClearChannels, h)

    def read(self, channel: int, samples_back: int = 0) -> float:
        """The value `samples_back` samples before the newest of one of this
        stage's channels, without consuming it (0.0 when not available)."""
        return call(lib.VOQ_ProcessingStage_Read, self._h(), channel, samples_back)

    def write(self, channel: int, value: float) -> None:
        """Appends a value to one of this stage's channels."""
        call(lib.VOQ_ProcessingStage_Write, self._h(), channel, value)
        written = self._written
        if written is not None:
            written.add(channel)

    def _fill_unwritten(self, handle: int, written: set) -> None:
        # After a failed or skipped callback: one NaN per channel that got no
        # value for this sample, so the stage keeps pace with the montage and
        # the waiting call that will report the failure does not stall.
        count = lib.VOQ_ProcessingStage_GetNumberOfChannels(handle)
        for index in range(count):
            if index not in written:
                lib.VOQ_ProcessingStage_Write(handle, index, math.nan)

    def __repr__(self) -> str:
        if not self.valid:
            return "<voq.ProcessingStage (no longer valid)>"
        return "<voq.ProcessingStage %r, %d channels>" % (self.name, self.number_of_channels)


# ---------------------------------------------------------------------------

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


_INFO_LINE = re.compile(r"^\s*'([^']*)'\s*:\s*(.*?),?\s*$")


def _parse_info(info: str) -> Dict[str, Any]:
    """The information string as a dict: numbers as numbers, the battery
    levels as a list, everything else as text."""
    result: Dict[str, Any] = {}
    for line in info.splitlines():
        match = _INFO_LINE.match(line)
        if not match:
            continue
        key, value = match.group(1), match.group(2)
        if len(value) >= 2 and value[0] == "'" and value[-1] == "'":
            result[key] = value[1:-1]
            continue
        if value.startswith("[") and value.endswith("]"):
            items = [item.strip() for item in value[1:-1].split(",") if item.strip()]
            result[key] = [_number(item) for item in items]
            continue
        result[key] = _number(value)
    return result


def _number(value: str) -> Any:
    try:
        return int(value)
    except ValueError:
        pass
    try:
        return float(value)
    except ValueError:
        return value


class Headset:
    """One connection to one headset.

    ``Headset(port)`` connects at once (``"default"`` uses the environment
    variable VOQSerialPort); ``Headset()`` makes an unconnected headset to be
    connected with :meth:`connect`.  Use it as a context manager, or call
    :meth:`close`, to disconnect and free it::

        with voq.Headset("/dev/rfcomm0") as headset:
            for timestamp, batch in headset.batches(10):
                print(timestamp, batch.shape)

    Library messages go to the logging module (logger "voq", or `logger`):
    level 1 as ERROR, 2 WARNING, 3 INFO, 4 and above DEBUG.  `verbosity`
    (library default 2) decides which levels the library issues at all.

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
        self._custom_batch = False
        self._impedance_window = 1.0
        self._buffer_seconds = 1.0
        self._verbosity = 2
        self._background = False
        self._sample_callback: Optional[Callable[["Headset", float], Any]] = None
        self._logger = logger or LOGGER

        self._handle = call(lib.VOQ_Headset_New, None)
        _open_headsets.add(self)
        message_callback = _library.MessageCallback(self._make_message_sink())
        self._keepalive.append(message_callback)
        call(lib.VOQ_Headset_SetMessageCallback, self._handle, message_callback)
        if verbosity is not None:
            self.verbosity = verbosity
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

    def _make_message_sink(self) -> Callable[[Optional[bytes], int], int]:
        logger = self._logger

        def sink(message: Optional[bytes], level: int) -> int:
            try:
                logger.log(logging_level(level), "%s", decode(message),
                           extra={"voq_level": level})
            except BaseException:
                pass
            return level

        return sink

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
        """Messages of a level above this are not issued (0 silences)."""
        return self._verbosity

    @verbosity.setter
    def verbosity(self, level: int) -> None:
        call(lib.VOQ_Headset_SetVerbosity, self._h(), int(level))
        self._verbosity = int(level)

    def use_optional_command_prefix(self, use: bool = True) -> None:
        call(lib.VOQ_Headset_UseOptionalCommandPrefix, self._h(), int(bool(use)))

    def kill_data_stream(self, wait: bool = True) -> None:
        call(lib.VOQ_Headset_KillDataStream, self._h(), int(bool(wait)))

    # -- device commands -----------------------------------------------------

    def configure_adc(self, samples_per_second: int, filter_mode: int) -> None:
        """Sets the sampling rate (300 or 600) and the filter mode."""
        call(lib.VOQ_Headset_ConfigureADC, self._h(), int(samples_per_second), int(filter_mode))
        if not self._custom_batch:
            self._configure_default_batch()

    def set_accelerometer_rate(self, rate: int) -> None:
        call(lib.VOQ_Headset_SetAccelerometerRate, self._h(), int(rate))

    def send_battery_query(self) -> None:
        call(lib.VOQ_Headset_SendBatteryQuery, self._h())

    def start_data_acquisition(self) -> None:
        call(lib.VOQ_Headset_StartDataAcquisition, self._h())

    def stop_data_acquisition(self) -> None:
        call(lib.VOQ_Headset_StopDataAcquisition, self._h())

    def start_impedance_driver(self) -> None:
        call(lib.VOQ_Headset_StartImpedanceDriver, self._h())

    def stop_impedance_driver(self) -> None:
        call(lib.VOQ_Headset_StopImpedanceDriver, self._h())

    def start_analog_reset(self) -> None:
        call(lib.VOQ_Headset_StartAnalogReset, self._h())

    def lock_analog_reset(self) -> None:
        call(lib.VOQ_Headset_LockAnalogReset, self._h())

    def release_analog_reset(self) -> None:
        call(lib.VOQ_Headset_ReleaseAnalogReset, self._h())

    def shutdown(self) -> None:
        """Tells the headset to power down."""
        call(lib.VOQ_Headset_Shutdown, self._h())

    def change_leds(self, value: int) -> None:
        call(lib.VOQ_Headset_ChangeLEDs, self._h(), int(value))

    # -- recorded settings and information -----------------------------------

    @property
    def hardware_model(self) -> str:
        return text(lib.VOQ_Headset_GetHardwareModel, self._h())

    @property
    def hardware_revision(self) -> str:
        return text(lib.VOQ_Headset_GetHardwareRevision, self._h())

    @property
    def sensor_count(self) -> int:
        return call(lib.VOQ_Headset_GetSensorCount, self._h())

    @property
    def serial_number(self) -> int:
        return call(lib.VOQ_Headset_GetSerialNumber, self._h())

    @property
    def sampling_rate(self) -> float:
        """Samples per second; -1 until the headset has reported it."""
        return call(lib.VOQ_Headset_GetSamplingRate, self._h())

    @property
    def accelerometer_rate(self) -> float:
        return call(lib.VOQ_Headset_GetAccelerometerRate, self._h())

    @property
    def filter_mode(self) -> int:
        return call(lib.VOQ_Headset_GetFilterMode, self._h())

    @property
    def data_acquisition_mode(self) -> int:
        return call(lib.VOQ_Headset_GetDataAcquisitionMode, self._h())

    @property
    def impedance_driver_mode(self) -> int:
        return call(lib.VOQ_Headset_GetImpedanceDriverMode, self._h())

    @property
    def analog_reset_mode(self) -> int:
        return call(lib.VOQ_Headset_GetAnalogResetMode, self._h())

    @property
    def modes(self) -> Dict[str, int]:
        """The recorded modes: filter, data acquisition, impedance driver and
        analog reset (-1 until known)."""
        with _locked():
            return {
                "filter": self.filter_mode,
                "data_acquisition": self.data_acquisition_mode,
                "impedance_driver": self.impedance_driver_mode,
                "analog_reset": self.analog_reset_mode,
            }

    @property
    def firmware_revision(self) -> str:
        return text(lib.VOQ_Headset_GetFirmwareRevision, self._h())

    @property
    def info_string(self) -> str:
        """Everything known about the headset, as the library writes it."""
        return text(lib.VOQ_Headset_GetInfoString, self._h())

    @property
    def info(self) -> Dict[str, Any]:
        """The information string as a dict ('HardwareModel', 'SerialNumber',
        'SamplingRate', 'Montage', ...)."""
        return _parse_info(self.info_string)

    # -- alarms and battery --------------------------------------------------

    def alarms(self) -> List[int]:
        """Takes every alarm code (species * 256 + code byte) from the
        headset's list, oldest first."""
        h = self._h()
        with _locked():
            codes = []
            while call(lib.VOQ_Headset_GetNumberOfAlarms, h) > 0:
                codes.append(call(lib.VOQ_Headset_GetAlarm, h, 1))
            return codes

    def peek_alarm(self) -> int:
        """The oldest alarm code without removing it (0 when there is none)."""
        return call(lib.VOQ_Headset_GetAlarm, self._h(), 0)

    @property
    def number_of_alarms(self) -> int:
        return call(lib.VOQ_Headset_GetNumberOfAlarms, self._h())

    def clear_alarms(self) -> None:
        call(lib.VOQ_Headset_ClearAlarms, self._h())

    @property
    def battery(self) -> Tuple[float, float]:
        """The two battery levels in percent (-1 until measured)."""
        h = self._h()
        with _locked():
            return (call(lib.VOQ_Headset_GetBatteryLevel, h, 1),
                    call(lib.VOQ_Headset_GetBatteryLevel, h, 2))

    @property
    def battery_string(self) -> str:
        return text(lib.VOQ_Headset_GetBatteryLevelString, self._h())

    # -- sources -------------------------------------------------------------

    def _invalidate_sources(self) -> None:
        self._sources_token.valid = False
        self._sources_token = _Token()

    def _source(self, handle: Any) -> Source:
        return Source(self, handle, (self._alive, self._sources_token))

    @property
    def sources(self) -> List[Source]:
        """The sources used by the current montage."""
        h = self._h()
        with _locked():
            count = call(lib.VOQ_Headset_GetNumberOfSources, h)
            return [self._source(call(lib.VOQ_Headset_GetSourceByIndex, h, i))
                    for i in range(count)]

    def source(self, name: Union[str, int]) -> Source:
        """Any source by name, alias, one-based number, "CH<n>" or "SRC<n>"."""
        return self._source(call(lib.VOQ_Headset_GetSourceByName, self._h(), encode(str(name))))

    def source_names(self, flags: int = 0x13) -> List[str]:
        """Source names selected by the flag mask (0x13: connected sources and
        the trigger; 0x17: all slots)."""
        return text(lib.VOQ_Headset_GetSourceNames, self._h(), int(flags)).split()

    def use_naming_scheme(self, scheme: str) -> None:
        """"10-20" or "10-10"."""
        call(lib.VOQ_Headset_UseNamingScheme, self._h(), encode(scheme))

    def rename_source(self, old: str, new: str) -> bool:
        return bool(call(lib.VOQ_Headset_RenameSource, self._h(), encode(old), encode(new)))

    def add_source_aliases(self, aliases: str) -> bool:
        return bool(call(lib.VOQ_Headset_AddSourceAliases, self._h(), encode(aliases)))

    @property
    def impedance_cmf(self) -> float:
        """Mean common-mode impedance estimate over the montage's electrodes."""
        return call(lib.VOQ_Headset_GetImpedanceCMF, self._h())

    # -- montage and references ----------------------------------------------

    def _invalidate_montage(self) -> None:
        self._montage_token.valid = False
        self._montage_token = _Token()
        self._stages = {}
        self._layout_changed()

    def _layout_changed(self) -> None:
        self._layout_version += 1
        self._outputs_cache = None

    def choose_channels(self, montage: str = "FACTORY", reference: str = "",
                        auto_swap: bool = True) -> None:
        """Builds the montage from channel specifications such as
        ``"F3 C3-A1/2-A2/2 Cz*2"`` (``"FACTORY"``: the factory montage) and a
        reference such as ``"A1/2+A2/2"`` (``"FACTORY"``: the factory
        reference; ``""``: keep the current one).  Replaces the channels and
        the processing stages."""
        h = self._h()
        self._invalidate_montage()
        call(lib.VOQ_Headset_ChooseChannels, h, encode(montage), encode(reference),
             int(bool(auto_swap)))

    def add_channel(self, specification: Union[str, Source], auto_swap: bool = True) -> None:
        """Adds one channel to the montage, from a specification or a
        source."""
        h = self._h()
        self._layout_changed()
        if isinstance(specification, Source):
            call(lib.VOQ_Headset_AddChannelToMontage_FromSource, h, specification._h())
        else:
            call(lib.VOQ_Headset_AddChannelToMontage_FromString, h, encode(specification),
                 int(bool(auto_swap)))

    def set_traditional_reference(self, auto_swap: bool = True) -> str:
        """Applies the ear or mastoid reference the headset has; returns it
        ("" when there is none)."""
        h = self._h()
        self._invalidate_montage()
        return text(lib.VOQ_Headset_SetTraditionalReference, h, int(bool(auto_swap)))

    def set_default_reference(self, reference: str, auto_swap: bool = True) -> None:
        h = self._h()
        self._invalidate_montage()
        call(lib.VOQ_Headset_SetDefaultReference, h, encode(reference), int(bool(auto_swap)))

    @property
    def factory_reference(self) -> str:
        return text(lib.VOQ_Headset_GetFactoryReferenceString, self._h())

    @property
    def reference(self) -> str:
        """The reference in force."""
        return text(lib.VOQ_Headset_GetReferenceString, self._h())

    def forget_montage(self) -> None:
        h = self._h()
        self._invalidate_montage()
        call(lib.VOQ_Headset_ForgetMontage, h)

    @property
    def montage(self) -> str:
        """The montage as text, channels separated by blanks."""
        return text(lib.VOQ_Headset_GetMontageString, self._h())

    @property
    def number_of_montage_channels(self) -> int:
        return call(lib.VOQ_Headset_GetNumberOfChannels, self._h())

    def _channel(self, handle: Any, stage: Optional[ProcessingStage] = None) -> Channel:
        tokens = (self._alive, self._montage_token)
        if stage is not None:
            tokens = tokens + (stage._channels_token,)
        return Channel(self, handle, tokens)

    def _output_channels(self) -> List[Channel]:
        """The output channels: the last processing stage's, or the montage's
        when there is no stage."""
        cache = self._outputs_cache
        key = (self._layout_version, self._montage_token)
        if cache is not None and cache[0] == key and all(c.valid for c in cache[1]):
            return cache[1]
        h = self._h()
        with _locked():
            stages = call(lib.VOQ_Headset_GetNumberOfProcessingStages, h)
            if stages:
                stage = self._stage(call(lib.VOQ_Headset_GetProcessingStageByIndex, h, stages - 1))
                channels = stage.channels
            else:
                count = call(lib.VOQ_Headset_GetNumberOfChannels, h)
                channels = [self._channel(call(lib.VOQ_Headset_GetChannelByIndex, h, i))
                            for i in range(count)]
        self._outputs_cache = (key, channels)
        return channels

    @property
    def channels(self) -> List[Channel]:
        """The output channels, in order: those of the last processing stage
        (the montage itself when no stage was added)."""
        return list(self._output_channels())

    @property
    def channel_names(self) -> List[str]:
        with _locked():
            return [channel.name for channel in self._output_channels()]

    def channel(self, key: Union[int, str]) -> Channel:
        """An output channel by zero-based index or by name."""
        h = self._h()
        if isinstance(key, int):
            handle = call(lib.VOQ_Headset_GetChannelByIndex, h, key)
        else:
            handle = call(lib.VOQ_Headset_GetChannelByName, h, encode(key))
        for channel in self._output_channels():
            if channel._handle.value == handle.value:
                return channel
        return self._channel(handle)

    # -- processing stages ---------------------------------------------------

    def _stage(self, handle: Any) -> ProcessingStage:
        stage = self._stages.get(handle.value)
        if stage is None:
            stage = ProcessingStage(self, handle, (self._alive, self._montage_token))
            self._stages[handle.value] = stage
        return stage

    def add_processing_stage(self, name: str,
                             callback: Optional[Callable[[ProcessingStage, float], Any]] = None,
                             input: Optional[ProcessingStage] = None) -> ProcessingStage:
        """Adds a stage after the last one (reading `input`, by default the
        previous stage), starting with copies of its input's channels.

        `callback(stage, sample_time)` runs once per sample on the thread that
        reads the headset (the caller's, or the background acquisition
        thread); it must not change the montage or stages or send commands.
        The callback is kept alive as long as the headset."""
        h = self._h()
        input_handle = input._h() if input is not None else None
        stage = ProcessingStage(self, _library.ProcessingStageHandle(None),
                                (self._alive, self._montage_token), callback)
        c_callback = _library.ProcessingStageCallback(
            self._stage_trampoline(stage, callback)) if callback is not None \
            else _library.ProcessingStageCallback()
        if callback is not None:
            self._keepalive.append(c_callback)
        handle = call(lib.VOQ_Headset_AddProcessingStage, h, encode(name), c_callback, None,
                      input_handle)
        stage._handle = handle
        self._stages[handle.value] = stage
        self._layout_changed()
        return stage

    @property
    def processing_stages(self) -> List[ProcessingStage]:
        h = self._h()
        with _locked():
            count = call(lib.VOQ_Headset_GetNumberOfProcessingStages, h)
            return [self._stage(call(lib.VOQ_Headset_GetProcessingStageByIndex, h, i))
                    for i in range(count)]

    def processing_stage(self, key: Union[int, str]) -> ProcessingStage:
        if isinstance(key, int):
            return self._stage(call(lib.VOQ_Headset_GetProcessingStageByIndex, self._h(), key))
        return self._stage(call(lib.VOQ_Headset_GetProcessingStageByName, self._h(), encode(key)))

    def reallocate_stage_buffers(self, stage: ProcessingStage, seconds: float) -> None:
        call(lib.VOQ_Headset_ReallocateStageBuffers, self._h(), stage._h(), float(seconds))

    # -- callbacks -----------------------------------------------------------

    def _keep_exception(self, error: BaseException) -> None:
        with self._pending_lock:
            if self._pending is None:
                self._pending = error
                self._pending_thread = threading.current_thread().name
                self._skipped = 0
            else:
                self._skipped += 1

    def _raise_callback_exception(self) -> None:
        with self._pending_lock:
            error, self._pending = self._pending, None
            skipped, self._skipped = self._skipped, 0
            thread = self._pending_thread
        if error is None:
            return
        if hasattr(error, "add_note"):
            note = "raised by a VOQ callback on thread %s" % thread
            if skipped:
                note += "; the callbacks were then skipped for %d samples" % skipped
            error.add_note(note)
        raise error

    @property
    def pending_callback_exception(self) -> Optional[BaseException]:
        """The callback exception that the next waiting call will raise."""
        return self._pending

    def _stage_trampoline(self, stage: ProcessingStage,
                          callback: Callable[[ProcessingStage, float], Any]):
        ref = weakref.ref(self)

        def trampoline(headset_pointer: int, sample_time: float, stage_pointer: int) -> None:
            headset = ref()
            if headset is None:
                return
            with _core.callback_context():
                try:
                    if stage._handle.value is None:
                        stage._handle = _library.ProcessingStageHandle(stage_pointer)
                    if headset._pending is not None:
                        headset._skipped += 1
                        stage._fill_unwritten(stage_pointer, set())
                        return
                    written = stage._written = set()
                    try:
                        callback(stage, sample_time)
                    except BaseException as error:
                        headset._keep_exception(error)
                        stage._fill_unwritten(stage_pointer, written)
                    finally:
                        stage._written = None
                except BaseException as error:  # never let anything out into C
                    headset._keep_exception(error)

        return trampoline

    def set_sample_callback(self, callback: Optional[Callable[["Headset", float], Any]]) -> None:
        """`callback(headset, sample_time)` runs after every sample on the
        thread that reads the headset; None removes it.  It must not change
        the montage or stages, send commands or close the headset."""
        h = self._h()
        if callback is None:
            call(lib.VOQ_Headset_SetSampleCallback, h, _library.SampleCallback(), None)
            self._sample_callback = None
            return
        ref = weakref.ref(self)

        def trampoline(headset_pointer: int, sample_time: float, user_data: int) -> None:
            headset = ref()
            if headset is None:
                return
            with _core.callback_context():
                if headset._pending is not None:
                    headset._skipped += 1
                    return
                try:
                    callback(headset, sample_time)
                except BaseException as error:
                    headset._keep_exception(error)

        c_callback = _library.SampleCallback(trampoline)
        self._keepalive.append(c_callback)
        call(lib.VOQ_Headset_SetSampleCallback, h, c_callback, None)
        self._sample_callback = callback

    # -- buffering and acquisition -------------------------------------------

    def reallocate_buffers(self, buffer_seconds: float = 1.0, impedance_seconds: float = 1.0) -> None:
        """New buffer lengths in seconds for the montage channels and the
        impedance window."""
        call(lib.VOQ_Headset_ReallocateBuffers, self._h(), float(buffer_seconds),
             float(impedance_seconds))
        self._buffer_seconds = float(buffer_seconds)
        self._impedance_window = float(impedance_seconds)

    def flush_buffers(self) -> None:
        """Discards every unread sample."""
        call(lib.VOQ_Headset_FlushBuffers, self._h())

    @property
    def buffered(self) -> int:
        """Smallest number of unread samples among the output channels."""
        return call(lib.VOQ_Headset_GetNumberOfBufferedSamples, self._h())

    @property
    def overflowed(self) -> int:
        """Largest overflow count among the output channels."""
        return call(lib.VOQ_Headset_GetNumberOfOverflowedSamples, self._h())

    def configure_buffering_controller(self, update_interval: float = 0.25,
                                       level_smoothing: float = 0.998, gain_p: float = 0.005,
                                       gain_i: float = 2.5e-6, gain_d: float = 0.1) -> None:
        call(lib.VOQ_Headset_ConfigureBufferingController, self._h(), float(update_interval),
             float(level_smoothing), float(gain_p), float(gain_i), float(gain_d))

    def configure_batch(self, batch_size: int, batch_latency: float = 0.05) -> None:
        """Samples per batch, and the reserve in seconds that the pace
        controller keeps beyond one batch."""
        call(lib.VOQ_Headset_ConfigureBatch, self._h(), int(batch_size), float(batch_latency))
        self._batch_size = int(batch_size)
        self._batch_latency = float(batch_latency)
        self._custom_batch = True

    def _configure_default_batch(self) -> None:
        rate = self.sampling_rate
        if rate > 0:
            size = max(1, int(rate * 0.06 + 0.5))
            call(lib.VOQ_Headset_ConfigureBatch, self._h(), size, 0.05)
            self._batch_size, self._batch_latency = size, 0.05

    @property
    def batch_size(self) -> int:
        """Samples per batch of :meth:`batches` (0.06 s of samples unless
        configured)."""
        return self._batch_size

    def start_background_acquisition(self) -> bool:
        """Starts (or restarts) the library's own acquisition thread; callbacks
        then run on that thread."""
        started = bool(call(lib.VOQ_Headset_StartBackgroundAcquisition, self._h()))
        self._background = started
        return started

    def stop_background_acquisition(self) -> None:
        """Asks the acquisition thread to stop; returns at once."""
        call(lib.VOQ_Headset_StopBackgroundAcquisition, self._h())
        self._background = False

    def _waiting(self, function: Callable[..., Any], *args: Any) -> Any:
        self._raise_callback_exception()
        try:
            result = call(function, self._h(), *args)
        except VOQError:
            self._raise_callback_exception()
            raise
        self._raise_callback_exception()
        return result

    def wait_for_batch(self) -> float:
        """Waits until the next batch is due and ready; returns its time stamp
        (seconds since connection).  Then read :attr:`batch_size` values from
        every output channel."""
        return self._waiting(lib.VOQ_Headset_WaitForBatch)

    def wait_for_samples(self, count: int) -> int:
        """Waits until every output channel holds at least `count` unread
        samples; returns the number."""
        return self._waiting(lib.VOQ_Headset_WaitForSamples, int(count))

    def idle(self, seconds: float) -> None:
        """Reads and processes blocks for `seconds`."""
        self._waiting(lib.VOQ_Headset_Idle, float(seconds))

    def receive(self, duration: float, idle_time: float = 0.0) -> None:
        """Starts acquisition, reads for `duration` seconds, stops, then reads
        for `idle_time` more seconds."""
        self._waiting(lib.VOQ_Headset_Receive, float(duration), float(idle_time))

    def ensure_streaming(self) -> None:
        """Starts data acquisition on the headset unless it is running."""
        if self.data_acquisition_mode == 0:
            self.start_data_acquisition()

    def _read_block(self, channels: List[Channel], count: int):
        numpy = _numpy()
        out = numpy.empty((len(channels), count))
        read = lib.VOQ_Channel_ReadBuffered
        with _locked():
            handles = [channel._h() for channel in channels]
            _core.clear()
            for row, handle in enumerate(handles):
                target = out[row]
                for i in range(count):
                    target[i] = read(handle)
                _core.check(final=True)
        return out

    def batches(self, count: Optional[int] = None) -> Iterator[Tuple[float, Any]]:
        """Yields ``(timestamp, array)`` paced by the headset's real sample
        rate: the array holds :attr:`batch_size` values (microvolts for
        electrodes) of every output channel, shape channels x batch size.
        Starts data acquisition when needed; yields `count` batches, or
        forever."""
        self._h()
        _numpy()
        self.ensure_streaming()
        delivered = 0
        while count is None or delivered < count:
            timestamp = self.wait_for_batch()
            channels = self._output_channels()
            data = self._read_block(channels, self._batch_size)
            delivered += 1
            yield timestamp, data

    def read(self, seconds: float):
        """The next `seconds` of samples of every output channel as one array,
        channels x samples (starts data acquisition when needed)."""
        rate = self.sampling_rate
        if rate <= 0:
            raise VOQError("the sampling rate is not known: is the headset connected?")
        return self.read_samples(int(round(seconds * rate)))

    def read_samples(self, count: int):
        """The next `count` samples of every output channel, channels x
        samples."""
        numpy = _numpy()
        self.ensure_streaming()
        channels = self._output_channels()
        out = numpy.empty((len(channels), count))
        if not channels:
            raise VOQError("there are no output channels: choose a montage first")
        capacity = min(channel.capacity for channel in channels)
        chunk = max(1, capacity // 2)
        done = 0
        while done < count:
            step = min(chunk, count - done)
            self.wait_for_samples(step)
            channels = self._output_channels()
            out[:, done:done + step] = self._read_block(channels, step)
            done += step
        return out

    def impedances(self, seconds: Optional[float] = None) -> Dict[str, float]:
        """Measures the electrode impedances: runs the impedance driver (when
        it is off) for `seconds` (default: the impedance window plus a
        margin) and returns a dict electrode name -> kOhm for the montage's
        electrodes and references.  When this call started the driver, it
        stops it again and discards the samples taken meanwhile (they carry
        the driver's test tones)."""
        h = self._h()
        self._raise_callback_exception()
        started_driver = self.impedance_driver_mode != 1
        if started_driver:
            self.start_impedance_driver()
        try:
            self.ensure_streaming()
            wait = self._impedance_window + 0.3 if seconds is None else float(seconds)
            deadline = time.monotonic() + wait
            while True:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    break
                if self._background:
                    time.sleep(min(remaining, 0.05))
                else:
                    self.idle(min(remaining, 0.1))
            result: Dict[str, float] = {}
            with _locked():
                for source in self.sources:
                    if source.is_referential_eeg and not source.is_factory_reference:
                        result[source.name] = source.impedance_eeg
        finally:
            if started_driver and self._handle is h:
                self.stop_impedance_driver()
                self.flush_buffers()
        self._raise_callback_exception()
        return result

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
               montage: Optional[str] = "standard_1020"):
        """An ``mne.io.RawArray`` of `seconds` of new samples (or of `data`,
        an array read from this headset's output channels): channel names,
        types (eeg, stim, misc), the sampling rate, data in volts, trigger
        changes as annotations and the standard 10-20 positions where the
        names fit."""
        from .mne_export import to_mne
        if data is None:
            if seconds is None:
                raise ValueError("give the seconds to read, or the data")
            data = self.read(seconds)
        with _locked():
            channels = self._output_channels()
            names = [channel.name for channel in channels]
            strings = [channel.string for channel in channels]
            kinds = self.channel_kinds()
            volts = [kind == "eeg" or (kind == "misc" and self._is_voltage(channel))
                     for kind, channel in zip(kinds, channels)]
            rate = self.sampling_rate
        return to_mne(data, names, kinds, rate, microvolts=volts, alternative_names=strings,
                      montage=montage)

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

    def __repr__(self) -> str:
        if self._handle is None:
            return "<voq.Headset (closed)>"
        try:
            if self.is_connected:
                return "<voq.Headset %s on %s>" % (self.hardware_model, self.port)
        except VOQError:
            pass
        return "<voq.Headset (not connected)>"
