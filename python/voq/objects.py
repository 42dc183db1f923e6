"""The objects a headset lends: Source, Channel and ProcessingStage.

They wrap handles owned by the library and become invalid (raising
VOQError on use) when the library frees what they point at.
"""

from __future__ import annotations

import math
from typing import TYPE_CHECKING, Any, Callable, List, Optional, Tuple, Union

from . import _core, _library
from ._core import call, encode, text
from ._handles import _Borrowed, _locked, _numpy, _Token

if TYPE_CHECKING:  # pragma: no cover
    from .headset import Headset

lib = _library.lib

__all__ = ["Source", "Channel", "ProcessingStage"]


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
