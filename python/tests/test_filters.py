"""Offline filters against SciPy's designs run by sosfilt, common average
reference over EEG channels only, and the errors of a bad text."""

import numpy as np
import pytest
from scipy import signal

import voq


def _notches(f, q, harmonics, rate):
    rows = []
    for k in range(1, harmonics + 1):
        if k * f < rate / 2:
            b, a = signal.iirnotch(k * f, q, fs=rate)
            rows.append(np.hstack([b, a]))
    return np.array(rows)


def _forms(rate):
    """(filter text, SciPy's second-order sections) for every form."""
    butter = lambda n, wn, kind: signal.butter(n, wn, kind, fs=rate, output="sos")  # noqa: E731
    forms = [("bandpass 1 40 order 4; notch 50",
              np.vstack([butter(4, [1, 40], "bandpass"), _notches(50, 30, 1, rate)])),
             ("highpass 0.5", butter(4, 0.5, "highpass")),
             ("lowpass 40", butter(4, 40, "lowpass")),
             ("bandpass 0.1 100", butter(4, [0.1, 100], "bandpass")),
             ("bandstop 45 55", butter(4, [45, 55], "bandstop")),
             ("notch 60", _notches(60, 30, 1, rate)),
             ("notch 50 q 20 harmonics 4", _notches(50, 20, 4, rate))]
    for n in (1, 2, 3, 5, 8):
        forms += [("highpass 1 order %d" % n, butter(n, 1, "highpass")),
                  ("lowpass 70 order %d" % n, butter(n, 70, "lowpass")),
                  ("bandpass 2 30 order %d" % n, butter(n, [2, 30], "bandpass")),
                  ("bandstop 48 52 order %d" % n, butter(n, [48, 52], "bandstop"))]
    return forms


@pytest.mark.parametrize("rate", [300, 600])
def test_every_form_agrees_with_scipy(rate):
    data = np.random.default_rng(rate).normal(0.0, 50.0, (4, 6000)) + 20.0
    tolerance = 1e-9 * np.max(np.abs(data))
    for text, sos in _forms(rate):
        expected = signal.sosfilt(sos, data, axis=1)
        got = voq.filter(text, rate, data)
        assert got.shape == data.shape
        assert np.max(np.abs(got - expected)) <= tolerance, text
    # One channel's samples as a 1-D array.
    assert np.array_equal(voq.filter("lowpass 40", rate, data[2]), voq.filter("lowpass 40", rate, data)[2])


def test_car_and_filters_work_on_eeg_channels_only():
    rate = 300
    data = np.random.default_rng(3).normal(0.0, 30.0, (5, 3000))
    data[3] = np.repeat(np.arange(30) % 4, 100)          # a trigger channel
    eeg = [True, True, False, False, True]               # and an auxiliary input
    got = voq.filter("car; highpass 1 order 2", rate, data, eeg=eeg)
    referenced = data[eeg] - data[eeg].mean(axis=0)
    expected = signal.sosfilt(signal.butter(2, 1, "highpass", fs=rate, output="sos"), referenced, axis=1)
    assert np.max(np.abs(got[eeg] - expected)) <= 1e-9 * np.max(np.abs(data))
    assert np.array_equal(got[[2, 3]], data[[2, 3]])
    assert np.max(np.abs(got[eeg].sum(axis=0))) < 1e-9


def test_a_bad_text_names_the_offending_word():
    data = np.ones((2, 10))
    with pytest.raises(voq.VOQError, match=r'bad filter "bandpass 1 40 ordr 4": unknown word "ordr"'):
        voq.filter("notch 50; bandpass 1 40 ordr 4", 300, data)
    with pytest.raises(voq.VOQError, match=r"200 is not below half the sampling rate \(150 Hz at 300"):
        voq.filter("lowpass 200", 300, data)
    with pytest.raises(ValueError):
        voq.filter("car", 300, data, eeg=[True])
