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
- a name without .bdf or .edf is a usage error;
- killed with SIGKILL 12 s into a 60-s recording: the events file holds
  every trigger change, `voq record` warns about the unclosed file, and after
  `voq repair` MNE reads every complete record and every event at its sample.
"""

import csv
import json

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


def events_of(path):
    """The rows of the events file beside `path`."""
    events = os.path.splitext(path)[0] + "_events.tsv"
    with open(events, newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def annotations_at_samples(raw):
    """(sample, text) of every annotation MNE read."""
    sfreq = raw.info["sfreq"]
    return sorted((round(onset * sfreq), text)
                  for onset, text in zip(raw.annotations.onset, raw.annotations.description))


def record_layout(data):
    """Header size, record size and the (offset, size) of each data (not
    annotation) signal within a record, from a file's header bytes."""
    header = int(data[184:192])
    count = int(data[252:256])
    bytes_per_sample = 3 if data[0] == 0xFF else 2
    labels = [data[256 + 16 * i:272 + 16 * i].decode().strip() for i in range(count)]
    samples = [int(data[256 + 216 * count + 8 * i:256 + 216 * count + 8 * i + 8]) for i in range(count)]
    parts, offset = [], 0
    for label, n in zip(labels, samples):
        if not label.endswith("Annotations"):
            parts.append((offset, n * bytes_per_sample))
        offset += n * bytes_per_sample
    return header, offset, parts


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
        for name, raw in zip(names, raws):
            # The montage gets the trigger added.
            self.assertEqual(raw.ch_names, ["Fz", "Cz", "Pz", "Trigger"])
            # Each segment's events file has a row for each of its
            # annotations, at the same sample.
            rows = [(int(row["sample"]), row["annotation"]) for row in events_of(name)]
            self.assertEqual(sorted(rows), annotations_at_samples(raw))
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

    def test_a_killed_recording_is_repaired_with_all_its_events(self):
        out = self.path("x.bdf")
        process = subprocess.Popen([self.voq, "--simulate", "record", "--seconds", "60", out],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                   cwd=self.dir)
        started = process.stderr.readline()
        self.assertIn("its events also to " + self.path("x_events.tsv"), started)
        time.sleep(12)
        process.kill()
        process.communicate(timeout=30)
        with open(out, "rb") as f:
            crashed = f.read()
        self.assertEqual(crashed[236:244], b"-1      ")   # never closed
        rows = events_of(out)
        with open(self.path("x_events.json")) as f:
            self.assertEqual(set(json.load(f)), set(rows[0]))   # the sidecar describes every column

        # Another recording of that name is refused, with a word about it.
        again = self.run_voq("record", "--seconds", "1", out)
        self.assertEqual(again.returncode, 1)
        self.assertIn("voq: warning: %s was not closed properly" % out, again.stderr)
        self.assertIn("'voq repair %s'" % out, again.stderr)

        repair = subprocess.run([self.voq, "repair", out], capture_output=True, text=True, timeout=60)
        self.assertEqual(repair.returncode, 0, repair.stderr)
        self.assertIn("repaired %s: kept " % out, repair.stdout)
        raw = read(out)
        # Every complete record, its data as written.
        header, record, parts = record_layout(crashed)
        complete = (len(crashed) - header) // record
        self.assertEqual(raw.n_times, complete * 30)
        self.assertGreater(raw.n_times, 6 * RATE)   # most of the 12 s, even in a slow sanitizer build
        with open(out, "rb") as f:
            repaired = f.read()
        self.assertEqual(len(repaired), header + complete * record)
        for r in range(complete):
            for offset, size in parts:
                at = header + r * record + offset
                self.assertEqual(repaired[at:at + size], crashed[at:at + size], "record %d" % r)

        # The events file held every trigger change that the trigger channel
        # shows, at its sample, and nothing more than a second after the end.
        trigger = raw.get_data(picks=["Trigger"])[0]
        changes = [(i, str(int(round(v)))) for i, v in enumerate(trigger)
                   if round(v) != (round(trigger[i - 1]) if i else 0)]
        self.assertGreaterEqual(len(changes), 20)
        inside = [row for row in rows if int(row["sample"]) < raw.n_times]
        self.assertEqual([(int(row["sample"]), row["value"]) for row in inside
                          if row["trial_type"] == "trigger"], changes)
        self.assertLess(max(int(row["sample"]) for row in rows), raw.n_times + RATE)
        # MNE reads every one of those events as an annotation at its sample.
        self.assertEqual(annotations_at_samples(raw),
                         sorted((int(row["sample"]), row["annotation"]) for row in inside))
        self.assertTrue(descriptions(raw, "Alarm "))

        # Repairing again changes nothing.
        again = subprocess.run([self.voq, "repair", out], capture_output=True, text=True, timeout=60)
        self.assertEqual(again.returncode, 0)
        self.assertEqual(again.stdout, "%s was closed properly: nothing to repair\n" % out)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), repaired)

    def test_a_name_without_a_format_is_refused(self):
        result = self.run_voq("record", "--seconds", "1", self.path("session.txt"))
        self.assertEqual(result.returncode, 2)
        self.assertIn("NAME.bdf", result.stderr)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: test_voq_record.py PATH/TO/voq")
    VoqRecord.voq = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
