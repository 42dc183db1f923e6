#!/usr/bin/env python3
"""`voq view` at 600 samples/s with pages open in headless Chromium.

usage: bench_view.py --voq PATH --sim PATH [--seconds 20] [--pages 2] [--warmup 3]

voq-sim runs as a process of its own, so that the CPU time of the voq
process (all its threads: the library's reading thread, the tool's reading
loop and the web server) is the viewer's alone.  Each page runs in a
browser of its own (a background tab would be throttled).  Every page
records, for each data event, how long after its newest sample arrived at
the tool (the tool's sample callback, wall clock) that sample was drawn,
and counts the frames that changed the picture.

Prints key=value lines; scripts/bench keeps them for bench/view_report.py.
"""
import argparse
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def machine_time():
    with open("/proc/stat") as f:
        values = [int(v) for v in f.readline().split()[1:9]]
    return sum(values), values[3] + values[4]


def browser(url, profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile, "--window-size=1280,900"]:
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.get(url)
    return driver


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(p / 100 * len(ordered)))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--voq", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--pages", type=int, default=2)
    parser.add_argument("--warmup", type=float, default=3)
    a = parser.parse_args()

    sim = subprocess.Popen([a.sim, "--rate", "600"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    tool = None
    drivers = []
    profiles = []
    try:
        port = sim.stdout.readline().strip()
        tool = subprocess.Popen([a.voq, "--port", port, "view", "--http", "127.0.0.1:0"],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        url = tool.stdout.readline().strip()
        if not url.startswith("http://"):
            sys.exit("bench_view: voq view did not start")
        for _ in range(a.pages):
            profiles.append(tempfile.TemporaryDirectory(prefix="voq-bench-view-"))
            drivers.append(browser(url, profiles[-1].name))
        time.sleep(a.warmup)

        def page_state():
            return [d.execute_script("return [window.voqView.frames(), window.voqView.latencies().length]")
                    for d in drivers]

        before = page_state()
        machine0, cpu0, wall0 = machine_time(), cpu_seconds(tool.pid), time.monotonic()
        time.sleep(a.seconds)
        machine1, cpu1, wall1 = machine_time(), cpu_seconds(tool.pid), time.monotonic()
        after = page_state()
        wall = wall1 - wall0
        latencies = []
        frames = []
        for d, b, e in zip(drivers, before, after):
            all_latencies = d.execute_script("return window.voqView.latencies()")
            # The page keeps the newest few thousand; take those of the run.
            new = e[1] - b[1]
            latencies += all_latencies[-new:] if new > 0 else []
            frames.append((e[0] - b[0]) / wall)
        total, idle = machine1[0] - machine0[0], machine1[1] - machine0[1]
        print(f"seconds={wall:.3f}")
        print(f"pages={a.pages}")
        print(f"cpu_share={(cpu1 - cpu0) / wall:.6f}")
        for i, f in enumerate(frames):
            print(f"frames_per_second_{i + 1}={f:.2f}")
        print(f"latency_count={len(latencies)}")
        if latencies:
            print(f"latency_median_ms={statistics.median(latencies):.2f}")
            for p in (90, 99):
                print(f"latency_p{p}_ms={percentile(latencies, p):.2f}")
            print(f"latency_max_ms={max(latencies):.2f}")
            print(f"latency_within_100ms={sum(1 for v in latencies if v <= 100) / len(latencies):.4f}")
        print(f"machine_busy_share={1 - idle / total if total else -1:.4f}")
        with open("/proc/loadavg") as f:
            print("load_average=" + " ".join(f.read().split()[:3]))
    finally:
        for d in drivers:
            d.quit()
        for p in profiles:
            p.cleanup()
        for process in (tool, sim):
            if process and process.poll() is None:
                process.send_signal(signal.SIGINT)
                process.wait(timeout=15)


if __name__ == "__main__":
    main()
