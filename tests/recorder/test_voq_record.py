#!/usr/bin/env python3
"""`voq record` as a user runs it, with the simulated headset, each file read
back with MNE.

    /usr/bin/python3 test_voq_record.py PATH/TO/voq

- a finite recording: exit 0, the file named on standard output, the right
  number of samples, the trigger as MNE's stimulus channel, trigger
  annotations;
- a filtered recording: MNE reads the filter's edges from the header;
- segments: numbered files that join without a gap;
- Ctrl-C: exit 130 and a complete file holding what was recorded;
- a write error (a file size limit, which fails writes as a full disk does):
  a clear message, exit 1, and what was written before readable;
- an existing file is not overwritten without --overwrite;
- a name without .bdf or .edf is a usage error.
"""

import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import mne

RATE = 300.0
HEADER_BYTES = 256


def read(path):
    reader = mne.io.read_raw_bdf if path.lower().endswith(".bdf") else mne.io.read_raw_edf
    return reader(path, preload=True, verbose="error")


def descriptions(raw, prefix):
    return [d for d in raw.annotations.description if d.startswith(prefix)]


class VoqRecord(unittest.TestCase):
    voq = None

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="voqrec-cli-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def run_voq(self, *args, preexec=None, timeout=120):
        return subprocess.run([self.voq, "--simulate", *args], capture_output=True, text=True,
                              timeout=timeout, cwd=self.dir, preexec_fn=preexec)

    def test_a_finite_recording(self):
        out = self.path("session.bdf")
        result = self.run_voq("record", "--seconds", "3", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines(), [out])
        self.assertIn("recorded 3.0 s (900 samples)", result.stderr)
        raw = read(out)
        self.assertEqual(raw.info["sfreq"], RATE)
        self.assertEqual(raw.n_times, 900)
        self.assertIn("Fp1", raw.ch_names)
        self.assertEqual(raw.get_channel_types(picks=["Trigger"]), ["stim"])
        # The simulated headset sends a trigger every second, for one sample.
        self.assertGreaterEqual(len(descriptions(raw, "TRG ")), 4)
        self.assertEqual(len(descriptions(raw, "TRG ")) % 2, 0)

        # The same name again: refused before connecting.
        again = self.run_voq("record", "--seconds", "1", out)
        self.assertEqual(again.returncode, 1)
        self.assertIn("will not overwrite " + out, again.stderr)
        self.assertIn("--overwrite", again.stderr)

    def test_a_filtered_recording_says_how_it_was_filtered(self):
        out = self.path("filtered.bdf")
        result = self.run_voq("record", "--seconds", "2", "--montage", "Fz Cz O1",
                              "--filter", "bandpass 1 40", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        raw = read(out)
        self.assertEqual(raw.info["highpass"], 1)
        self.assertEqual(raw.info["lowpass"], 40)
        self.assertEqual(raw.ch_names, ["Fz", "Cz", "O1", "Trigger"])
        self.assertEqual(raw.get_channel_types(picks=["Trigger"]), ["stim"])
        self.assertGreaterEqual(len(descriptions(raw, "TRG ")), 1)

        bad = self.run_voq("record", "--seconds", "1", "--filter", "lowpass 400", self.path("bad.bdf"))
        self.assertEqual(bad.returncode, 1)
        self.assertIn('bad filter "lowpass 400": 400 is not below half the sampling rate', bad.stderr)

    def test_segments(self):
        out = self.path("long.edf")
        result = self.run_voq("record", "--seconds", "2.5", "--segment-minutes", "0.02",
                              "--montage", "Fz Cz Pz", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        names = [out, self.path("long-002.edf"), self.path("long-003.edf")]
        self.assertEqual(result.stdout.splitlines(), names)
        raws = [read(name) for name in names]
        self.assertEqual([raw.n_times for raw in raws], [360, 360, 30])
        for raw in raws:
            # The montage gets the trigger added.
            self.assertEqual(raw.ch_names, ["Fz", "Cz", "Pz", "Trigger"])
        # Each segment starts where the previous one ended.
        for first, second in zip(raws, raws[1:]):
            gap = (second.info["meas_date"] - first.info["meas_date"]).total_seconds()
            self.assertAlmostEqual(gap, first.n_times / RATE, delta=1.0)

    def test_ctrl_c_leaves_a_complete_file(self):
        out = self.path("interrupted.edf")
        process = subprocess.Popen([self.voq, "--simulate", "record", "--seconds", "20", out],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                   cwd=self.dir)
        # Wait until data records reach the file, then interrupt.
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if os.path.exists(out) and os.path.getsize(out) > 64 * 1024:
                break
            time.sleep(0.05)
        time.sleep(0.3)
        process.send_signal(signal.SIGINT)
        stdout, stderr = process.communicate(timeout=60)
        self.assertEqual(process.returncode, 130, stderr)
        self.assertEqual(stdout.splitlines(), [out])
        raw = read(out)
        self.assertGreater(raw.n_times, 100)
        self.assertLess(raw.n_times, 20 * RATE)
        self.assertEqual(raw.n_times % 30, 0)   # whole data records of 0.1 s
        recorded = int(re.search(r"recorded [0-9.]+ s \(([0-9]+) samples\)", stderr).group(1))
        self.assertLessEqual(recorded, raw.n_times)
        if recorded < raw.n_times:
            # The samples that complete the last record are flagged.
            padding = [i for i, d in enumerate(raw.annotations.description)
                       if d == "Padding (not recorded)"]
            self.assertEqual(len(padding), 1)
            self.assertAlmostEqual(raw.annotations.onset[padding[0]], recorded / RATE, places=3)

    def test_a_write_error_stops_and_keeps_what_was_written(self):
        out = self.path("full.bdf")

        def limit_file_size():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (160 * 1024, resource.RLIM_INFINITY))

        result = self.run_voq("record", "--seconds", "20", out, preexec=limit_file_size)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("voq: error: cannot write " + out + ": File too large", result.stderr)
        self.assertIn("are kept, readable, in " + out, result.stderr)
        raw = read(out)
        self.assertGreater(raw.n_times, 300)
        self.assertLess(raw.n_times, 20 * RATE)
        kept = float(result.stderr.split("the first ")[1].split(" s are kept")[0])
        self.assertAlmostEqual(raw.n_times / RATE, kept, places=1)

    def test_a_name_without_a_format_is_refused(self):
        result = self.run_voq("record", "--seconds", "1", self.path("session.txt"))
        self.assertEqual(result.returncode, 2)
        self.assertIn("NAME.bdf", result.stderr)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: test_voq_record.py PATH/TO/voq")
    VoqRecord.voq = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
