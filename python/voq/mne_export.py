"""Turning samples read from a headset into an MNE Raw object."""

from __future__ import annotations

from typing import Any, List, Optional, Sequence

__all__ = ["to_mne", "trigger_events", "unique_names"]


def unique_names(names: Sequence[str], alternatives: Optional[Sequence[str]] = None) -> List[str]:
    """Channel names made unique, as MNE needs them: a repeated name is
    replaced by its alternative (the channel's specification) when that is
    unique, else numbered."""
    names = [name or "ch%d" % (index + 1) for index, name in enumerate(names)]
    result = list(names)
    counts = {name: names.count(name) for name in names}
    taken = set(name for name in names if counts[name] == 1)
    for index, name in enumerate(names):
        if counts[name] == 1:
            continue
        candidate = alternatives[index] if alternatives is not None else ""
        if not candidate or candidate in taken:
            number = 1
            candidate = name
            while candidate in taken:
                number += 1
                candidate = "%s#%d" % (name, number)
        taken.add(candidate)
        result[index] = candidate
    return result


def trigger_events(trigger: Any) -> List[tuple]:
    """``(sample, value)`` for every change of a trigger signal to a non-zero
    value."""
    import numpy
    values = numpy.asarray(trigger)
    if values.size == 0:
        return []
    previous = numpy.concatenate(([0.0], values[:-1]))
    changes = numpy.flatnonzero((values != previous) & (values != 0))
    return [(int(index), values[index]) for index in changes]


def _describe(value: float) -> str:
    return str(int(value)) if float(value).is_integer() else repr(float(value))


def to_mne(data: Any, names: Sequence[str], kinds: Sequence[str], sampling_rate: float, *,
           microvolts: Optional[Sequence[bool]] = None,
           alternative_names: Optional[Sequence[str]] = None,
           montage: Optional[str] = "standard_1020", times: Any = None):
    """An ``mne.io.RawArray`` from samples as the library delivers them.

    `data` is channels x samples; `kinds` are MNE channel types ("eeg",
    "stim", "misc"); rows marked in `microvolts` (by default every "eeg" row)
    are converted to volts, MNE's unit.  Every change of the first stimulus
    channel (the one named TRG when there is one) to a non-zero value becomes
    an annotation whose description is the value.  Positions of the named
    standard `montage` are set for the EEG channels whose names it knows
    (None: no positions).  `times`, the host times of the samples
    (:func:`voq.host_clock` seconds, as :meth:`voq.Headset.sample_times`
    gives them), set ``meas_date`` to the first sample's measurement time as
    calendar time (UTC); without them it stays unset.
    """
    import mne
    import numpy

    data = numpy.asarray(data, dtype=float)
    if data.ndim != 2 or data.shape[0] != len(names) or len(kinds) != len(names):
        raise ValueError("data must be channels x samples with one name and kind per channel "
                         "(got shape %s, %d names, %d kinds)" % (data.shape, len(names), len(kinds)))
    if microvolts is None:
        microvolts = [kind == "eeg" for kind in kinds]
    scale = numpy.array([1e-6 if flag else 1.0 for flag in microvolts])
    ch_names = unique_names(names, alternative_names)
    info = mne.create_info(ch_names, float(sampling_rate), list(kinds), verbose=False)
    raw = mne.io.RawArray(data * scale[:, None], info, verbose=False)
    if times is not None and len(times):
        import datetime
        from . import host_to_calendar
        calendar = host_to_calendar(float(times[0]))
        raw.set_meas_date(datetime.datetime.fromtimestamp(calendar, datetime.timezone.utc))

    stim = [index for index, kind in enumerate(kinds) if kind == "stim"]
    if stim:
        named = [index for index in stim if ch_names[index].upper() == "TRG"]
        trigger = data[(named or stim)[0]]
        events = trigger_events(trigger)
        if events:
            raw.set_annotations(mne.Annotations(
                onset=[sample / float(sampling_rate) for sample, _ in events],
                duration=[0.0] * len(events),
                description=[_describe(value) for _, value in events]))

    if montage and "eeg" in kinds:
        standard = mne.channels.make_standard_montage(montage)
        known = set(standard.ch_names)
        if any(name in known for name, kind in zip(ch_names, kinds) if kind == "eeg"):
            raw.set_montage(standard, on_missing="ignore", verbose=False)
    return raw
