"""Headset: buffering, batches, waits, reading arrays and measuring
impedances."""

from __future__ import annotations

import ctypes
import time
from typing import Any, Callable, Dict, Iterator, List, Optional, Tuple

from . import _core, _library
from ._core import VOQError, call
from ._handles import _locked, _numpy
from .objects import Channel

lib = _library.lib


class _Acquisition:
    """Buffers, batches, waits and reads; mixed into Headset."""

    __slots__ = ()

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

    def sample_times(self, count: int):
        """The host times (:func:`voq.host_clock` seconds) at which the
        `count` samples most recently read from the output channels were
        measured, oldest first, as a numpy array (shorter when older times
        are no longer kept).  After reading a batch of B values from every
        output channel, ``sample_times(B)`` gives each sample's time."""
        numpy = _numpy()
        out = numpy.empty(int(count))
        if count <= 0:
            return out
        pointer = out.ctypes.data_as(ctypes.POINTER(ctypes.c_double))
        written = call(lib.VOQ_Headset_GetSampleTimes, self._h(), pointer, int(count))
        return out[:written]

    def _times_of_read(self, count: int):
        """The times of the `count` samples just read, every one of them."""
        times = self.sample_times(count)
        if len(times) < count:
            raise VOQError("the times of the samples read are no longer kept")
        return times

    @property
    def sample_time(self) -> float:
        """The host time at which the sample most recently read from the
        output channels was measured."""
        return call(lib.VOQ_Headset_GetSampleTime, self._h())

    @property
    def callback_sample_time(self) -> float:
        """Inside a sample or stage callback: the host time at which its
        sample was measured."""
        return call(lib.VOQ_Headset_GetCallbackSampleTime, self._h())

    def batches(self, count: Optional[int] = None, timestamps: bool = False) -> Iterator[Tuple[Any, ...]]:
        """Yields ``(timestamp, array)`` paced by the headset's real sample
        rate: the array holds :attr:`batch_size` values (microvolts for
        electrodes) of every output channel, shape channels x batch size.
        With `timestamps`, ``(timestamp, array, times)``: `times` holds the
        host time (:func:`voq.host_clock` seconds) at which each of the
        batch's samples was measured.  Starts data acquisition when needed;
        yields `count` batches, or forever."""
        self._h()
        _numpy()
        self.ensure_streaming()
        delivered = 0
        while count is None or delivered < count:
            timestamp = self.wait_for_batch()
            self._collect_link_events()
            channels = self._output_channels()
            data = self._read_block(channels, self._batch_size)
            self._delivered += self._batch_size
            delivered += 1
            if timestamps:
                yield timestamp, data, self._times_of_read(self._batch_size)
            else:
                yield timestamp, data

    def read(self, seconds: float, timestamps: bool = False):
        """The next `seconds` of samples of every output channel as one array,
        channels x samples (starts data acquisition when needed); with
        `timestamps`, ``(array, times)`` as :meth:`read_samples` gives."""
        rate = self.sampling_rate
        if rate <= 0:
            raise VOQError("the sampling rate is not known: is the headset connected?")
        return self.read_samples(int(round(seconds * rate)), timestamps)

    def read_samples(self, count: int, timestamps: bool = False):
        """The next `count` samples of every output channel, channels x
        samples; with `timestamps`, ``(array, times)``, `times` holding the
        host time (:func:`voq.host_clock` seconds) at which each sample was
        measured."""
        numpy = _numpy()
        self.ensure_streaming()
        channels = self._output_channels()
        out = numpy.empty((len(channels), count))
        times = numpy.empty(count) if timestamps else None
        if not channels:
            raise VOQError("there are no output channels: choose a montage first")
        capacity = min(channel.capacity for channel in channels)
        chunk = max(1, capacity // 2)
        done = 0
        while done < count:
            step = min(chunk, count - done)
            self.wait_for_samples(step)
            self._collect_link_events()
            channels = self._output_channels()
            out[:, done:done + step] = self._read_block(channels, step)
            if timestamps:
                times[done:done + step] = self._times_of_read(step)
            self._delivered += step
            done += step
        return (out, times) if timestamps else out

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
