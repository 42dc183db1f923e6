"""Ready-made filters: as a headset's processing stage, and offline.

A filter is a short text, a ``;``-separated chain applied in order::

    bandpass 1 40 order 4; notch 50; car

``highpass F``, ``lowpass F``, ``bandpass LO HI`` and ``bandstop LO HI``
(each with an optional ``order N``, 1 to 8, default 4) are Butterworth
filters as ``scipy.signal.butter(N, ..., fs=rate, output="sos")`` designs
them, run as cascaded second-order sections from a zero state (as
``scipy.signal.sosfilt``); ``notch F`` (optional ``q Q``, default 30, and
``harmonics K``, default 1) is the cascade of
``scipy.signal.iirnotch(k * F, Q, fs=rate)`` for k = 1..K below half the
rate; ``car`` subtracts the mean of the EEG channels from each of them.
Only EEG electrode channels are filtered; trigger and other channels pass
unchanged.

Live::

    headset.choose_channels("Fz Cz Pz O1 TRG", "A1/2+A2/2")
    headset.add_filter("bandpass 1 40; notch 50")   # the output channels are now filtered

Offline, with the same code (``data`` is channels x samples)::

    filtered = voq.filter("bandpass 1 40; notch 50", 300, data)
"""

from __future__ import annotations

import ctypes
from typing import Any, Optional, Sequence

from . import _library
from ._core import call, encode, text
from ._handles import _numpy
from .objects import ProcessingStage

lib = _library.lib

__all__ = ["filter"]


def filter(text: str, rate: float, array: Any, eeg: Optional[Sequence[bool]] = None) -> Any:
    """Returns `array` (channels x samples, or one channel's samples) filtered
    by the filter `text` at `rate` samples per second, as a new float64 numpy
    array of the same shape.

    `eeg` flags the channels the filter works on (one entry per channel;
    by default all): the others come back unchanged.  A headset's channel
    is an EEG channel when :attr:`Channel.is_referential_eeg` is true.
    Raises :class:`VOQError` for a bad text, naming the offending word."""
    numpy = _numpy()
    data = numpy.array(array, dtype=numpy.float64, order="C", copy=True)
    if data.ndim not in (1, 2):
        raise ValueError("filter takes a channels x samples array or one channel's samples, not %d dimensions"
                         % data.ndim)
    rows = data.reshape(1, -1) if data.ndim == 1 else data
    channels, count = rows.shape
    flags = None
    if eeg is not None:
        if len(eeg) != channels:
            raise ValueError("eeg has %d entries for %d channels" % (len(eeg), channels))
        flags = (ctypes.c_int * channels)(*[1 if e else 0 for e in eeg])
    call(lib.VOQ_Filter_Apply, encode(text), float(rate),
         rows.ctypes.data_as(ctypes.POINTER(ctypes.c_double)), channels, count, flags)
    return data


class _Filters:
    """Filter stages; mixed into Headset."""

    __slots__ = ()

    def add_filter(self, text: str, name: str = "",
                   input: Optional[ProcessingStage] = None) -> ProcessingStage:
        """Adds a stage that filters its input's EEG channels by the filter
        `text` (see :mod:`voq.filters`) and passes the others on, after the
        last stage (or reading `input`); its channels become the output
        channels.  `name` defaults to "filter" ("filter 2", ... when taken).

        Safe while background acquisition runs: filtering starts with the
        next sample, from a zero state.  Like every stage it lasts until the
        next montage or reference choice; a change of sampling rate redesigns
        it.  Raises :class:`VOQError` for a bad text (naming the offending
        word) or a frequency at or above half the sampling rate."""
        input_handle = input._h() if input is not None else None
        handle = call(lib.VOQ_Headset_AddFilter, self._h(), encode(name), encode(text), input_handle)
        stage = self._stage(handle)
        self._layout_changed()
        return stage

    @property
    def prefiltering(self) -> str:
        """The filtering of the filter stages on the way to the output
        channels in the EDF header convention, e.g. "HP:1Hz LP:40Hz N:50Hz";
        "" when there is none."""
        return text(lib.VOQ_Headset_GetPrefiltering, self._h())
