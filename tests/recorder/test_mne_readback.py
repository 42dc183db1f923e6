#!/usr/bin/env python3
"""Reads the recorder's files back with MNE, an independent reader, and
compares them with what the library delivered.

    /usr/bin/python3 test_mne_readback.py PATH/TO/recorder_capture

recorder_capture records 10 s from the simulated headset to a BDF+ and then an
EDF+ file, and captures every sample the library computed for the output
channels, and its time, through the sample callback (NAME.csv beside each
file).  Checked: channel names, sampling rate, number of samples, the start
(header and first time-keeping annotation) at the first sample's measurement
time, every value within one digital step of the delivered one, the trigger
channel as MNE's stimulus channel with the delivered trigger values, and a
"TRG <value>" annotation at every sample where the trigger value changes.
"""

import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import mne
import numpy as np

SECONDS = 10
RATE = 300.0


def header_steps(path):
    """One digital step of each ordinary signal, in the signal's physical
    unit, from the file's own header (annotation signals left out)."""
    with open(path, "rb") as f:
        fixed = f.read(256)
        count = int(fixed[252:256].decode("ascii"))
        rest = f.read(256 * count)

    def column(offset, width):
        start = offset * count
        return [rest[start + width * i:start + width * (i + 1)].decode("latin-1").strip()
                for i in range(count)]

    labels = column(0, 16)
    physical_min = [float(v) for v in column(16 + 80 + 8, 8)]
    physical_max = [float(v) for v in column(16 + 80 + 8 + 8, 8)]
    digital_min = [int(v) for v in column(16 + 80 + 8 + 16, 8)]
    digital_max = [int(v) for v in column(16 + 80 + 8 + 24, 8)]
    steps = {}
    for i, label in enumerate(labels):
        if label.endswith("Annotations"):
            continue
        steps[label] = (physical_max[i] - physical_min[i]) / (digital_max[i] - digital_min[i])
    return steps


def load_capture(path):
    """The labels, the captured values (a row per sample) and each sample's
    measurement time (calendar seconds)."""
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    table = np.array([[float(v) for v in row] for row in rows[1:]])
    return rows[0][:-1], table[:, :-1], table[:, -1]


def file_start(path):
    """The calendar time of the file's first sample as the file gives it: the
    header's date and time (local time, whole seconds) plus the onset of the
    first data record's time-keeping annotation (its fraction of a second)."""
    with open(path, "rb") as f:
        data = f.read(65536)
    count = int(data[252:256])
    header = int(data[184:192])
    size = 3 if data[0] == 0xFF else 2
    labels = [data[256 + 16 * i:272 + 16 * i].decode("latin-1").strip() for i in range(count)]
    samples = [int(data[256 + 216 * count + 8 * i:264 + 216 * count + 8 * i]) for i in range(count)]
    at = header + size * sum(n for label, n in zip(labels, samples) if not label.endswith("Annotations"))
    onset = re.match(rb"\+([0-9.]+)\x14\x14", data[at:]).group(1)
    day, month, year = (int(v) for v in data[168:176].split(b"."))
    hour, minute, second = (int(v) for v in data[176:184].split(b"."))
    year += 1900 if year >= 85 else 2000
    return time.mktime((year, month, day, hour, minute, second, 0, 0, -1)) + float(onset)


def align(captured, recorded, steps, probe=20):
    """Index of the captured sample that is the file's first one."""
    for offset in range(captured.shape[0] - recorded.shape[1] + 1):
        window = captured[offset:offset + probe].T
        if np.all(np.abs(window - recorded[:, :probe]) <= steps[:, None]):
            return offset
    return -1


class MneReadBack(unittest.TestCase):
    helper = None

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="voqrec-mne-")
        subprocess.run([cls.helper, cls.dir, str(SECONDS), "session.bdf", "session.edf"],
                       check=True, timeout=180)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def check(self, name, reader):
        path = os.path.join(self.dir, name)
        labels, captured, measured = load_capture(path + ".csv")
        raw = reader(path, preload=True, verbose="error")

        self.assertEqual(raw.ch_names, labels)
        self.assertEqual(raw.info["sfreq"], RATE)
        self.assertEqual(raw.n_times, int(SECONDS * RATE))
        self.assertIn("Trigger", labels)
        trigger = labels.index("Trigger")
        self.assertEqual(raw.get_channel_types(picks=["Trigger"]), ["stim"])
        self.assertIsNotNone(raw.info["meas_date"])

        # MNE gives microvolt signals in volts (and writes their unit "µV").
        units = raw._orig_units
        microvolts = ("uV", "\u00b5V", "\u03bcV")
        scale = np.array([1e6 if units.get(label) in microvolts else 1.0 for label in labels])
        self.assertIn(units.get("Fp1"), microvolts)
        recorded = raw.get_data() * scale[:, None]
        steps_by_label = header_steps(path)
        steps = np.array([steps_by_label[label] for label in labels])
        self.assertEqual(steps[trigger], 1.0)

        offset = align(captured, recorded, steps)
        self.assertGreaterEqual(offset, 0, "the file's data is not among the delivered samples")
        delivered = captured[offset:offset + raw.n_times].T
        self.assertEqual(delivered.shape, recorded.shape)
        # The file starts when its first sample was measured, to the 0.1 ms
        # of its annotations.
        self.assertAlmostEqual(file_start(path), measured[offset], delta=2e-4)
        # Within one digital step (plus the float error of MNE's scaling).
        worst = np.max(np.abs(recorded - delivered) / steps[:, None])
        self.assertLessEqual(worst, 1.0 + 1e-6, "values differ by up to %.3f digital steps" % worst)
        np.testing.assert_array_equal(recorded[trigger], np.round(delivered[trigger]))

        # A "TRG <value>" annotation at every change of the trigger value.
        values = np.round(delivered[trigger]).astype(int)
        previous = np.concatenate([[0], values[:-1]])
        changes = np.nonzero(values != previous)[0]
        expected = [(int(n), "TRG %d" % values[n]) for n in changes]
        found = [(int(round(onset * RATE)), text)
                 for onset, text in zip(raw.annotations.onset, raw.annotations.description)
                 if text.startswith("TRG ")]
        self.assertGreaterEqual(len(expected), 2 * (SECONDS * 4 - 2))
        self.assertEqual(found, expected)

        # MNE's own event finder agrees with the annotations.
        events = mne.find_events(raw, stim_channel="Trigger", shortest_event=1, consecutive=True,
                                 verbose="error")
        onsets = [(int(n), "TRG %d" % values[n]) for n in changes if values[n] != 0]
        self.assertEqual([(int(e[0]), "TRG %d" % e[2]) for e in events], onsets)

    def test_bdf(self):
        self.check("session.bdf", mne.io.read_raw_bdf)

    def test_edf(self):
        self.check("session.edf", mne.io.read_raw_edf)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: test_mne_readback.py PATH/TO/recorder_capture")
    MneReadBack.helper = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
