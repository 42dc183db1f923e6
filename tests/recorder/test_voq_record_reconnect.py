#!/usr/bin/env python3
"""`voq record` through lost links: the simulated headset drops its link on a
schedule and `voq record` goes on in numbered files.

    /usr/bin/python3 test_voq_record_reconnect.py PATH/TO/voq PATH/TO/voq-sim [--full]

The quick run drops once (2 s after acquisition starts, for 1.5 s) in a 6-s
recording; the full run is the one a user would try: drops at 6 s and 16 s
for 3 s each in a 30-s recording.  Checked: exit 0; one file per stretch
between losses, each read by MNE; "link lost" at the end of every file but
the last, "link restored, N samples missing" at the start of every file but
the first, and the same in each file's events table (trial_type "link",
the missing count in the value column); every trigger onset the headset sent while the link was up, in
order, none twice (from the simulator's truth file of their measurement
times); N within 2 % of the true gap (the truth's times against the samples
recorded between the onsets around it); and the recording resumed within
the start-up time plus 1 s after the headset came back.
"""

import csv
import os
import subprocess
import sys
import tempfile
import time
import unittest

import mne

RATE = 300.0
TRIGGER_PERIOD = 1.0   # the simulator's default: one onset a second, values 1, 2, 3, ... from each start


def onsets(raw):
    """(sample, value) of every trigger onset annotated in the file."""
    result = []
    for onset, text in zip(raw.annotations.onset, raw.annotations.description):
        if text.startswith("TRG ") and text != "TRG 0":
            result.append((int(round(onset * RATE)), int(text[4:])))
    return result


def link_rows(path):
    """(sample, annotation, value) of the "link" rows of a file's events table."""
    with open(os.path.splitext(path)[0] + "_events.tsv", newline="") as f:
        return [(int(r["sample"]), r["annotation"], r["value"])
                for r in csv.DictReader(f, delimiter="\t") if r["trial_type"] == "link"]


def recorded_samples(raw):
    """Samples recorded in the file, without the padding of its last record."""
    padding = sum(d for t, d in zip(raw.annotations.description, raw.annotations.duration)
                  if t == "Padding (not recorded)")
    return raw.n_times - int(round(padding * RATE))


class RecordThroughDrops(unittest.TestCase):
    voq = sim = None
    drops = [(2, 1.5)]
    seconds = 6

    def test_record_through_drops(self):
        with tempfile.TemporaryDirectory() as directory:
            link = os.path.join(directory, "headset")
            truth = os.path.join(directory, "truth.txt")
            arguments = [self.sim, "--link", link, "--truth", truth]
            for at, seconds in self.drops:
                arguments += ["--drop", "%g:%g" % (at, seconds)]
            sim = subprocess.Popen(arguments, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            try:
                sim.stdout.readline()   # the device path: the simulator is ready
                launched = time.monotonic()
                out = os.path.join(directory, "session.bdf")
                run = subprocess.run([self.voq, "--port", link, "record", "--seconds", str(self.seconds), out],
                                     capture_output=True, text=True, timeout=120 + 10 * self.seconds)
            finally:
                sim.terminate()
                sim.wait(timeout=10)
                sim.stdout.close()
            self.assertEqual(run.returncode, 0, run.stderr)
            files = run.stdout.split()
            self.assertEqual(len(files), len(self.drops) + 1, run.stdout + run.stderr)
            raws = [mne.io.read_raw_bdf(f, preload=False, verbose="error") for f in files]
            with open(truth) as f:
                sent = [(int(v), float(t)) for v, t in (line.split() for line in f if line.strip())]

            # Every onset once, in order, in the files (the truth goes on a
            # little after the recording ends).
            found = [(k, sample, value) for k, raw in enumerate(raws) for sample, value in onsets(raw)]
            self.assertGreaterEqual(len(found), self.seconds / TRIGGER_PERIOD - 2 * len(self.drops) - 1)
            self.assertEqual([v for _, _, v in found], [v for v, _ in sent[:len(found)]])
            self.assertEqual(sum(recorded_samples(raw) for raw in raws), self.seconds * RATE)

            first_start = sent[0][1] - TRIGGER_PERIOD   # acquisition first started
            startup = first_start - launched
            for k in range(len(self.drops)):
                texts = list(raws[k].annotations.description)
                self.assertIn("link lost", texts)
                restored = [(o, t) for o, t in zip(raws[k + 1].annotations.onset, raws[k + 1].annotations.description)
                            if t.startswith("link restored, ")]
                self.assertEqual(len(restored), 1)
                self.assertEqual(restored[0][0], 0.0)
                missing = int(restored[0][1].split()[2])
                # The events tables say the same.
                self.assertEqual(link_rows(files[k])[-1][1], "link lost")
                self.assertEqual(link_rows(files[k])[-1][0], recorded_samples(raws[k]) - 1)
                self.assertEqual(link_rows(files[k + 1])[0], (0, restored[0][1], str(missing)))
                # The onsets on either side of the gap.
                before = [(s, i) for i, (kk, s, _) in enumerate(found) if kk == k][-1]
                after = [(s, i) for i, (kk, s, _) in enumerate(found) if kk == k + 1][0]
                elapsed = (sent[after[1]][1] - sent[before[1]][1]) * RATE
                between = recorded_samples(raws[k]) - before[0] + after[0]
                true_missing = elapsed - between
                print("gap %d: %d samples missing, true %.1f" % (k + 1, missing, true_missing))
                self.assertLess(abs(missing - true_missing), max(2.0, 0.02 * true_missing))
                # Resumed within the start-up time plus 1 s of the headset's return.
                back = first_start + self.drops[k][0] + self.drops[k][1]
                resumed = sent[after[1]][1] - TRIGGER_PERIOD
                print("gap %d: resumed %.2f s after the headset came back (start-up %.2f s)"
                      % (k + 1, resumed - back, startup))
                self.assertLess(resumed - back, startup + 1.0)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit("usage: test_voq_record_reconnect.py PATH/TO/voq PATH/TO/voq-sim [--full]")
    RecordThroughDrops.voq = os.path.abspath(sys.argv.pop(1))
    RecordThroughDrops.sim = os.path.abspath(sys.argv.pop(1))
    if "--full" in sys.argv:
        sys.argv.remove("--full")
        RecordThroughDrops.drops = [(6, 3), (16, 3)]
        RecordThroughDrops.seconds = 30
    unittest.main()
