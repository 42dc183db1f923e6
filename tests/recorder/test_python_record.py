#!/usr/bin/env python3
"""Headset.record of the Python binding, through the recorder library's C
interface, with the simulated headset; the files read back with MNE.

    /usr/bin/python3 test_python_record.py

The binding is imported from python/ of this repository; VOQ_LIBRARY (and
VOQ_RECORDER_LIBRARY, VOQ_SIM) name the build to use.
"""

import os
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "python"))

import mne  # noqa: E402
import voq  # noqa: E402
import voq.recording  # noqa: E402

RATE = 300.0


class PythonRecord(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.simulator = voq.Simulator()
        cls.port = cls.simulator.__enter__()
        cls.headset = voq.Headset(cls.port, verbosity=2)

    @classmethod
    def tearDownClass(cls):
        cls.headset.close()
        cls.simulator.__exit__(None, None, None)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="voqrec-py-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_records_a_file_mne_reads(self):
        path = os.path.join(self.dir, "session.bdf")
        seen = []
        files = self.headset.record(path, 2, progress=seen.append)
        self.assertEqual(files, [path])
        self.assertEqual(seen[-1]["samples"], 600)
        self.assertEqual(self.headset.data_acquisition_mode, 0)   # left as it was found
        raw = mne.io.read_raw_bdf(path, preload=True, verbose="error")
        self.assertEqual(raw.info["sfreq"], RATE)
        self.assertEqual(raw.n_times, 600)
        self.assertEqual(raw.ch_names, [c.name if not c.is_trigger else "Trigger"
                                        for c in self.headset.channels])
        self.assertEqual(raw.get_channel_types(picks=["Trigger"]), ["stim"])
        # The binding works on after the recording, and existing files are kept.
        self.assertEqual(self.headset.read(0.1).shape[1], 30)
        with self.assertRaises(voq.VOQError) as caught:
            self.headset.record(path, 1)
        self.assertIn("will not overwrite", str(caught.exception))
        self.assertEqual(self.headset.record(path, 0.5, overwrite=True), [path])

    def test_keyboard_interrupt_leaves_a_complete_file(self):
        path = os.path.join(self.dir, "interrupted.edf")

        def interrupt(stats):
            if stats["samples"] >= 200:
                raise KeyboardInterrupt

        with self.assertRaises(KeyboardInterrupt):
            self.headset.record(path, None, progress=interrupt)
        raw = mne.io.read_raw_edf(path, preload=True, verbose="error")
        self.assertGreaterEqual(raw.n_times, 200)
        self.assertEqual(raw.n_times % 30, 0)
        self.assertEqual(self.headset.data_acquisition_mode, 0)

    def test_a_cut_file_is_repaired_through_the_binding(self):
        path = os.path.join(self.dir, "cut.edf")
        self.headset.record(path, 1.5)
        self.assertFalse(voq.recording.needs_repair(path))
        self.assertIn("closed properly: nothing to repair", voq.recording.repair(path))
        # Cut in the middle of the ninth record, as a crash would leave it.
        with open(path, "rb") as f:
            header = int(f.read(256)[184:192])
        record = (os.path.getsize(path) - header) // 15
        os.truncate(path, header + 8 * record + record // 2)
        self.assertTrue(voq.recording.needs_repair(path))
        self.assertIn("kept 8 data records", voq.recording.repair(path))
        raw = mne.io.read_raw_edf(path, preload=True, verbose="error")
        self.assertEqual(raw.n_times, 240)
        with open(os.path.join(self.dir, "cut_events.tsv")) as f:
            rows = [line.rstrip("\n").split("\t") for line in f][1:]
        self.assertEqual(sorted((round(o * RATE), d) for o, d in zip(raw.annotations.onset,
                                                                   raw.annotations.description)),
                         sorted((int(r[4]), r[5]) for r in rows if int(r[4]) < 240))
        with self.assertRaises(voq.VOQError) as caught:
            voq.recording.repair(os.path.join(self.dir, "cut_events.tsv"))
        self.assertIn("not an EDF or BDF file", str(caught.exception))

    def test_a_bad_name_is_refused(self):
        with self.assertRaises(voq.VOQError) as caught:
            self.headset.record(os.path.join(self.dir, "session.csv"), 1)
        self.assertIn("NAME.bdf", str(caught.exception))


if __name__ == "__main__":
    unittest.main(verbosity=2)
