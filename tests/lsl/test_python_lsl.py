#!/usr/bin/env python3
"""The LSL outlet from Python (voq.lsl.Outlet and Headset.stream_lsl) against
the simulated headset, read by the tests' inlet in another process.

    LSLAPICFG=tests/lsl/loopback.cfg /usr/bin/python3 test_python_lsl.py INLET

The binding is imported from python/ of this repository; VOQ_LIBRARY,
VOQ_LSL_LIBRARY and VOQ_SIM name the build to use.  LSLAPICFG must name the
loopback configuration: the test refuses to run without it.
"""

import os
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "python"))

import voq  # noqa: E402
import voq.lsl  # noqa: E402

INLET = None


class PythonLsl(unittest.TestCase):
    def test_outlet_of_a_headset_read_elsewhere(self):
        with voq.Simulator(rate=600, trigger="0.25") as port, voq.Headset(port) as headset:
            headset.choose_channels("Fz Cz TRG", "A1/2+A2/2")
            with voq.lsl.Outlet(headset) as outlet:
                self.assertEqual((outlet.name, outlet.source_id, outlet.markers_name, outlet.channel_count),
                                 ("VOQ 2400117", "VOQ-2400117", "VOQ 2400117 markers", 3))
                inlet = subprocess.Popen([INLET, outlet.source_id, "--samples", "1200", "--seconds", "20"],
                                         stdout=subprocess.PIPE, text=True)
                lines = []
                while "ready\n" not in lines:
                    line = inlet.stdout.readline()
                    self.assertTrue(line, "the inlet ended before it was ready")
                    lines.append(line)
                deadline = time.monotonic() + 15
                while not outlet.has_consumers and time.monotonic() < deadline:
                    time.sleep(0.01)
                self.assertTrue(outlet.has_consumers)
                outlet.start(2.0)
                while outlet.step():
                    pass
                outlet.mark("from python")
                counts = outlet.stats()
            out, _ = inlet.communicate(timeout=30)
            lines += out.splitlines(keepends=True)
            self.assertEqual(inlet.returncode, 0)
            self.assertEqual(counts["samples"], 1200)
            self.assertIn("stream VOQ 2400117|EEG|3|600|VOQ-2400117\n", lines)
            self.assertEqual(sum(line.startswith("sample ") for line in lines), 1200)
            markers = [line.split(" ", 2)[2].strip() for line in lines if line.startswith("marker ")]
            self.assertIn("from python", markers)
            self.assertGreaterEqual(sum(m.startswith("trigger ") for m in markers), 7)
            self.assertEqual(headset.data_acquisition_mode, 0)   # left as it was found

            # The convenience method: a fixed time, nobody listening.
            self.assertEqual(headset.stream_lsl(0.5)["samples"], 300)


if __name__ == "__main__":
    if not os.environ.get("LSLAPICFG"):
        sys.exit("test_python_lsl.py: LSLAPICFG must name the loopback configuration")
    INLET = sys.argv.pop(1)
    unittest.main()
