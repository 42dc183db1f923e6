#!/usr/bin/env python3
"""Writes docs/PERFORMANCE.md from the results that scripts/bench collected.

usage: make_report.py RESULTS_DIR OUTPUT.md [--quick]
"""
import glob
import json
import os
import platform
import re
import statistics
import subprocess
import sys
from types import SimpleNamespace


def kv(path):
    d = {}
    with open(path) as f:
        for line in f:
            if "=" in line:
                k, v = line.rstrip("\n").split("=", 1)
                d[k] = v
    return d


def num(d, k):
    return float(d[k])


def fmt(x, digits=2):
    return f"{x:,.{digits}f}"


def pct(x, digits=2):
    return f"{x * 100:.{digits}f}%"


def machine():
    model = "?"
    try:
        for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
            if line.startswith("Model name:"):
                model = line.split(":", 1)[1].strip()
    except OSError:
        pass
    try:
        compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()[0]
    except (OSError, IndexError):
        compiler = "?"
    return model, str(os.cpu_count()), platform.release(), compiler


med = statistics.median


def verdict(ok):
    return "met" if ok else "**not met**"


def load(results):
    """Everything the sections report, read from the results directory."""

    # ---- ingest
    data = json.load(open(os.path.join(results, "ingest.json")))
    runs = {"BM_Ingest": [], "BM_Floor": [], "BM_FilterSections": []}
    for b in data["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        for name in runs:
            if b["name"].startswith(name + "/"):
                runs[name].append(b)

    def col(name, key):
        return [b[key] for b in runs[name]]

    ing_mean = med(col("BM_Ingest", "items_per_second"))
    ing_median_lap = med(col("BM_Ingest", "median_lap_samples_per_second"))
    ing_best = max(col("BM_Ingest", "best_lap_samples_per_second"))
    flo_mean = med(col("BM_Floor", "items_per_second"))
    flo_median_lap = med(col("BM_Floor", "median_lap_samples_per_second"))
    flo_best = max(col("BM_Floor", "best_lap_samples_per_second"))
    first = runs["BM_Ingest"][0]
    channels = int(first["channels"])
    montage_sources = int(first["montage_sources"])
    lap_samples = int(first["samples_per_lap"])
    bytes_per_sample = first["bytes_per_sample"]
    reps = len(runs["BM_Ingest"])

    def callgrind(path):
        try:
            text = open(os.path.join(results, f"callgrind.{path}.txt")).read()
            samples = int(re.search(r"samples=(\d+)", text).group(1))
            with open(os.path.join(results, f"callgrind.{path}.out")) as f:
                summary = next(line for line in f if line.startswith("summary:"))
            return int(summary.split()[1]) / samples
        except (OSError, AttributeError, StopIteration):
            return None

    ir_ingest, ir_floor = callgrind("ingest"), callgrind("floor")

    # ---- allocations
    alloc = {}
    with open(os.path.join(results, "allocations.txt")) as f:
        for line in f:
            m = re.search(r"verbosity=(\d+) samples=(\d+) allocations=(\d+) per_sample=([\d.]+)", line)
            if m:
                alloc[int(m.group(1))] = (int(m.group(2)), int(m.group(3)), float(m.group(4)))
    alloc_low = max(alloc[v][2] for v in range(0, 5))
    filtered = None
    with open(os.path.join(results, "allocations.txt")) as f:
        for line in f:
            m = re.search(r"filtered_allocations channels=(\d+) samples=(\d+) allocations=(\d+) per_sample=([\d.]+)",
                          line)
            if m:
                filtered = (int(m.group(1)), int(m.group(2)), int(m.group(3)), float(m.group(4)))

    # ---- live runs
    stream = {rate: [kv(f) for f in sorted(glob.glob(os.path.join(results, f"stream_{rate}_*.txt")))]
              for rate in (300, 600)}
    drift = [kv(f) for f in sorted(glob.glob(os.path.join(results, "drift_*.txt")))]
    st = kv(os.path.join(results, "startup.txt"))
    lsl = [kv(f) for f in sorted(glob.glob(os.path.join(results, "lsl_*.txt")))]

    def smed(rate, key):
        return med([num(d, key) for d in stream[rate]])

    def dmed(key):
        return med([num(d, key) for d in drift])

    lat_med, lat_p99 = dmed("latency_median_ms"), dmed("latency_p99_ms")
    sd_runs = [num(d, "interval_sd_ms") for d in stream[300]] + [num(d, "interval_sd_ms") for d in drift]
    sd_med, sd_best = med(sd_runs), min(sd_runs)
    rate_err = dmed("rate_error_percent")
    cpu300, cpu600 = smed(300, "cpu_share_besides_spin"), smed(600, "cpu_share_besides_spin")
    startup = num(st, "startup_median_s")
    view = [kv(f) for f in sorted(glob.glob(os.path.join(results, "view_*.txt")))]
    stamps_path = os.path.join(results, "timestamps.txt")
    stamps = kv(stamps_path) if os.path.exists(stamps_path) else None
    onsets = []
    if stamps:
        with open(stamps_path) as f:
            for line in f:
                if line.startswith("onset="):
                    at, error = line.split("=", 1)[1].split()
                    onsets.append((float(at), float(error)))
    return SimpleNamespace(
        filter_ns=med(col("BM_FilterSections", "ns_per_channel_sample_section")),
        filter_best=min(col("BM_FilterSections", "best_ns_per_channel_sample_section")),
        filter_sections=int(runs["BM_FilterSections"][0]["sections"]),
        filter_channels=int(runs["BM_FilterSections"][0]["channels"]),
        filter_reps=len(runs["BM_FilterSections"]),
        filtered=filtered,
        ing_mean=ing_mean,
        ing_median_lap=ing_median_lap,
        ing_best=ing_best,
        flo_mean=flo_mean,
        flo_median_lap=flo_median_lap,
        flo_best=flo_best,
        channels=channels,
        montage_sources=montage_sources,
        lap_samples=lap_samples,
        bytes_per_sample=bytes_per_sample,
        reps=reps,
        ir_ingest=ir_ingest,
        ir_floor=ir_floor,
        alloc=alloc,
        alloc_low=alloc_low,
        stream=stream,
        drift=drift,
        st=st,
        smed=smed,
        lat_med=lat_med,
        lat_p99=lat_p99,
        sd_runs=sd_runs,
        sd_med=sd_med,
        sd_best=sd_best,
        rate_err=rate_err,
        cpu300=cpu300,
        cpu600=cpu600,
        startup=startup,
        lsl=lsl,
        view=view,
        stamps=stamps,
        onsets=onsets,
    )


def begin(title, holds):
    """A section's first lines, its title and what holds, and the function
    that adds a line."""
    lines = [f"## {title}", "", f"**Holds.**  {holds}", ""]
    return lines, lines.append


# Each section is a function of the results that returns the rows it adds to
# the table of targets and the lines of its own part of the document: a new
# measure is a new function in SECTIONS.  A section's text says what holds,
# how the figure is taken and which program takes it.

def section_ingest(r):
    ing_median_lap, ing_best, flo_median_lap = r.ing_median_lap, r.ing_best, r.flo_median_lap
    ing_mean, flo_mean, flo_best = r.ing_mean, r.flo_mean, r.flo_best
    channels, montage_sources, lap_samples = r.channels, r.montage_sources, r.lap_samples
    bytes_per_sample, reps, ir_ingest, ir_floor = r.bytes_per_sample, r.reps, r.ir_ingest, r.ir_floor
    rows = [
        f"| Ingest: samples per second on one core (median lap) | ≥ 1,000,000 | {fmt(ing_median_lap, 0)} "
        f"(fastest lap {fmt(ing_best, 0)}) | {verdict(ing_median_lap >= 1e6)} |",
        f"| Ingest against the floor (CRC of the same bytes + one double per channel per sample) | (reported) | "
        f"{fmt(ing_median_lap / flo_median_lap, 3)} of the floor's rate |  |",
    ]
    L, w = begin("Ingest", "One core turns more than a million samples a second of the headset's stream into channel "
      "values, about a tenth of the rate of the least any reader must do with the same bytes.  Program: "
      "`bench/bench_ingest` (Google Benchmark `BM_Ingest`, `BM_Floor`; `--callgrind=ingest|floor` for the "
      "instruction counts).")
    w("A stream recorded from the simulated headset (24 electrodes and the trigger, 300 samples/s, impedance "
      "driver on, accelerometer at 100 Hz) is read back through the headset's fake-data input (`AttachFakeData`, "
      "`FeedFakeData`, then `TryToReadBlock` once per block) into block reading and sample processing, with the "
      "factory montage and the traditional reference chosen as start-up chooses them "
      f"({channels} channels over {montage_sources} sources) and a sample callback set.  The recorder opens the "
      "simulator's pseudo-terminal as a host and sends the commands itself; the recorded lap "
      f"({lap_samples} samples, {fmt(bytes_per_sample, 1)} bytes per sample on the wire) is replayed with its "
      "block numbers, packet numbers and time stamps moved on by one lap each time, so that the stream stays in "
      "sequence and in time.  Only the reading is timed, in the reading thread's CPU time (time spent waiting "
      "for a core while other work runs is not the library's); making and feeding each lap is not.  The floor "
      "does the least any reader must do with the same bytes: the CRC of every block and one double stored per "
      "channel per sample.")
    w("")
    w(f"Google Benchmark, {reps} repetitions.  Per repetition: the mean over all laps, the median lap and the "
      "fastest lap; the table gives the median of the repetitions (the fastest lap: the fastest of all).  The "
      "median lap is the headline figure: the mean is pulled down by the laps that other work disturbed, the "
      "fastest lap shows the core undisturbed.")
    w("")
    w("| Path | Mean of laps | Median lap | Fastest lap |")
    w("|---|---|---|---|")
    w(f"| Library | {fmt(ing_mean, 0)} samples/s | {fmt(ing_median_lap, 0)} samples/s | {fmt(ing_best, 0)} samples/s |")
    w(f"| Floor | {fmt(flo_mean, 0)} samples/s | {fmt(flo_median_lap, 0)} samples/s | {fmt(flo_best, 0)} samples/s |")
    w(f"| Library ÷ floor | {fmt(ing_mean / flo_mean, 3)} | {fmt(ing_median_lap / flo_median_lap, 3)} | "
      f"{fmt(ing_best / flo_best, 3)} |")
    w("")
    if ir_ingest:
        w(f"Instructions per sample (valgrind `--tool=callgrind`, collected only inside the timed laps, independent "
          f"of the machine's load): library {fmt(ir_ingest, 0)}, floor {fmt(ir_floor, 0)} "
          f"({fmt(ir_ingest / ir_floor, 1)} ×).")
        w("")
    w(f"Per sample the library sets 41 sources, updates the five impedance windows of each of the montage's "
      f"referential sources (with the sines and cosines of both drive frequencies), writes {channels} channel "
      "sums into their ring buffers under the writer/reader protocol (one locked instruction each), runs the "
      "trigger delay line and the accelerometer interleaving and calls the callback; the floor does none of "
      "that, so the ratio measures that work rather than overhead.")
    w("")
    if ing_median_lap < 1e6:
        w(f"**Gap.**  The median lap is {pct(1 - ing_median_lap / 1e6, 1)} short of 1,000,000 samples/s while the "
          f"fastest lap reaches {fmt(ing_best, 0)}: the same code runs slower when the core and its caches are "
          "shared with the other work on this machine.  The instruction count above does not move with the load.")
        w("")
    w("What keeps the rate: ring buffers whose writer/reader entry takes the turn with one atomic exchange and "
      "leaves with a release store, indices that wrap without a division and inline writes and channel sums; "
      "impedance windows written only by the reading thread, in step, with their sums in registers and one "
      "division for the five means; a block's clock record converted only when it differs from the previous "
      "one; a CRC-16 that takes four bytes a step with tables computed at compile time.")
    w("")
    return rows, L


def section_allocations(r):
    alloc, alloc_low = r.alloc, r.alloc_low
    rows = [f"| Heap allocations per sample in steady state, verbosity 0 to 4 | 0 | {fmt(alloc_low, 3)} | "
            f"{verdict(alloc_low == 0)} |"]
    L, w = begin("Allocations", "Reading and processing the stream allocates nothing in steady state at verbosity 0 to 5.  "
      "Program: `bench/bench_ingest --allocations`.")
    w("The benchmark program replaces the global `operator new` and counts the calls made while blocks are read "
      f"and processed (two laps to warm up, then {alloc[0][0]} samples), with a message sink that takes every "
      "message the verbosity lets through.")
    w("")
    w("| Verbosity | Allocations | Per sample |")
    w("|---|---|---|")
    for v in sorted(alloc):
        w(f"| {v} | {alloc[v][1]} | {fmt(alloc[v][2], 3)} |")
    w("")
    w("Verbosity 3 to 5 issue per-accelerometer-sample, per-block and per-sample messages while streaming; they "
      "are composed on the stack.  Verbosity 6 writes out every block as text and allocates for it.  In the live "
      "runs below the whole process (library and application loop, verbosity 2) allocates about once in "
      "several thousand samples, for messages that are not per sample.")
    w("")
    return rows, L


def section_cpu(r):
    stream, cpu300, cpu600, smed = r.stream, r.cpu300, r.cpu600, r.smed
    rows = [
        f"| CPU besides the final spin, 300 samples/s | ≤ 2% of one core | {pct(cpu300)} | {verdict(cpu300 <= 0.02)} |",
        f"| CPU besides the final spin, 600 samples/s | ≤ 2% of one core | {pct(cpu600)} | {verdict(cpu600 <= 0.02)} |",
        f"| The final-2-ms spin itself, 300 / 600 samples/s | (reported) | {pct(smed(300, 'spin_share'))} / "
        f"{pct(smed(600, 'spin_share'))} |  |",
    ]
    L, w = begin("CPU share", "Acquisition with paced batches costs well under 2% of a core at either rate, besides the "
      "short spin that makes each batch due on time.  Program: `bench/bench_live stream --rate=RATE`.")
    w("`voq-sim` runs as a separate process, so that `getrusage(RUSAGE_SELF)` of the benchmark process is the "
      "library's and the application loop's alone.  The application connects through the C interface, starts "
      "the impedance driver and background acquisition and loops on `VOQ_Headset_WaitForBatch`, reading every "
      "channel's batch with `VOQ_Channel_ReadBuffered`.  After 3 s of warm-up "
      f"{int(num(stream[300][0], 'seconds') + 0.5)} s are measured; {len(stream[300])} runs per rate, medians "
      "shown.  The spin is accounted by the batch wait itself (`Headset::SpinSeconds`: the calling thread's CPU "
      "clock from the moment the wait stops sleeping until the deadline).  The caller's thread is the "
      "application loop (batch wait, spin and reads); the other threads are the acquisition worker.")
    w("")
    w("| Rate | Whole process | Final spin | Besides the spin | Caller's thread | Worker | Allocations per sample |")
    w("|---|---|---|---|---|---|---|")
    for rate in (300, 600):
        w(f"| {rate}/s | {pct(smed(rate, 'cpu_share'))} | {pct(smed(rate, 'spin_share'))} | "
          f"{pct(smed(rate, 'cpu_share_besides_spin'))} | {pct(smed(rate, 'caller_thread_share'))} | "
          f"{pct(smed(rate, 'other_threads_share'))} | {fmt(smed(rate, 'allocations_per_sample'), 5)} |")
    w("")
    for rate in (300, 600):
        w(f"Runs at {rate}/s, besides the spin: "
          + ", ".join(pct(num(d, "cpu_share_besides_spin")) for d in stream[rate])
          + "; the simulator process used " + ", ".join(pct(num(d, "simulator_cpu_share")) for d in stream[rate])
          + ".")
        w("")
    w("The batch wait sleeps until 1.5 ms before each deadline and spins from there; at 16.7 batches per second "
      "(batches of 0.06 s at either rate) that is about 2.5% of a core at most "
      f"(a full 2 ms per batch would be {pct(smed(300, 'spin_bound_share'))}).  The serial port waits on its "
      "descriptor for input, so the background worker wakes once per block; while it reads, the batch wait "
      "sleeps in steps of up to 10 ms that end 1.5 ms before the deadline, then spins (in caller-thread mode "
      "it keeps 1-ms steps and reads the port itself).")
    w("")
    return rows, L


def section_latency(r):
    drift, lat_med, lat_p99 = r.drift, r.lat_med, r.lat_p99
    rows = [
        f"| Latency, block written by the simulator to the callback of its last sample: median | ≤ 1.5 ms | "
        f"{fmt(lat_med, 3)} ms | {verdict(lat_med <= 1.5)} |",
        f"| The same: 99th percentile | ≤ 3 ms | {fmt(lat_p99, 3)} ms | {verdict(lat_p99 <= 3.0)} |",
    ]
    L, w = begin("Latency", "A sample reaches the sample callback a fraction of a millisecond after its block was "
      "written to the line.  Program: `bench/bench_live drift` (the runs of the pacing section).")
    w("An in-process simulator records, for every block, the host's monotonic clock just before the `write()` "
      "that hands the block's last byte to the pseudo-terminal (`Simulator::RecordBlockWrites`), with the time "
      "stamp of the block's last data packet; the sample callback reads the same clock and gets the sample's "
      "time stamp; the two are matched by time stamp.  Background acquisition and the WaitForBatch loop run as "
      "in the CPU-share runs, with the impedance driver on, at verbosity 3 (the drift runs of the pacing "
      "section).")
    w("")
    w("| Run | Blocks | Median | 99th percentile | Maximum | Machine busy | Load average |")
    w("|---|---|---|---|---|---|---|")
    for i, d in enumerate(drift, 1):
        w(f"| {i} | {d['latency_blocks']} | {fmt(num(d, 'latency_median_ms'), 3)} ms | "
          f"{fmt(num(d, 'latency_p99_ms'), 3)} ms | {fmt(num(d, 'latency_max_ms'), 3)} ms | "
          f"{pct(num(d, 'machine_busy_share'), 0)} | {d['load_average']} |")
    w("")
    if lat_p99 > 3.0:
        w("**Gap.**  The median shows that the reader takes a block as soon as it is written (the worker waits on "
          "the port's descriptor); the tail is the time the reading thread waits for a core on a machine that "
          "other work keeps busy (the busy share and load average of each run above).")
        w("")
    return rows, L


def section_pacing(r):
    stream, drift, sd_runs, sd_med, sd_best, rate_err = r.stream, r.drift, r.sd_runs, r.sd_med, r.sd_best, r.rate_err
    rows = [
        f"| Standard deviation of the intervals between WaitForBatch returns, 300 samples/s | ≤ 0.5 ms | "
        f"{fmt(sd_med, 3)} ms (median of {len(sd_runs)} runs; best {fmt(sd_best, 3)} ms) | {verdict(sd_med <= 0.5)} |",
        f"| Estimated sample rate against a +500 ppm headset: error of the mean of the last 30 s of 60 s | "
        f"≤ 0.02% | {fmt(rate_err, 4)}% | {verdict(abs(rate_err) <= 0.02)} |",
    ]
    L, w = begin("Pacing", "Paced batches come at the headset's own rate, evenly spaced, and the pace follows a "
      "headset whose clock runs fast or slow.  Programs: `bench/bench_live stream` (nominal clock) and "
      "`bench/bench_live drift --drift=500`.")
    w("Intervals between successive `WaitForBatch` returns at 300 samples/s (batches of 18 samples, due every "
      "60 ms): the CPU-share runs (nominal clock) and the drift runs below (+500 ppm, the first 5 s left "
      "out).")
    w("")
    w("| Run | Standard deviation | Shortest | Longest | Machine busy | Load average |")
    w("|---|---|---|---|---|---|")
    for i, d in enumerate(stream[300], 1):
        w(f"| nominal clock, run {i} | {fmt(num(d, 'interval_sd_ms'), 3)} ms | {fmt(num(d, 'interval_min_ms'), 2)} ms | "
          f"{fmt(num(d, 'interval_max_ms'), 2)} ms | {pct(num(d, 'machine_busy_share'), 0)} | {d['load_average']} |")
    for i, d in enumerate(drift, 1):
        w(f"| drift run {i} | {fmt(num(d, 'interval_sd_ms'), 3)} ms | {fmt(num(d, 'interval_min_ms'), 2)} ms | "
          f"{fmt(num(d, 'interval_max_ms'), 2)} ms | {pct(num(d, 'machine_busy_share'), 0)} | {d['load_average']} |")
    w("")
    if sd_med > 0.5:
        w("**Gap.**  Each batch is handed over from a spin that ends at its deadline, so an interval deviates from "
          "60 ms only when the waiting thread does not get a core in time: the longest intervals are late "
          "wake-ups, each followed by a short one (the pace is kept on the deadlines, not on the returns).  The "
          "deviation follows the machine's load (the busy share and load average of each run above).")
        w("")
    d0 = drift[0]
    w(f"Estimated sample rate against a simulated headset whose clock runs 500 ppm fast (true rate "
      f"{fmt(num(d0, 'true_rate'), 3)}/s), {int(num(d0, 'seconds') + 0.5)} s per run: the level-3 \"Estimated "
      f"sample rate updated to\" values issued in the last {int(num(d0, 'rate_window_s'))} s.")
    w("")
    w("| Run | Estimates | Mean | Error of the mean | Standard deviation | Range |")
    w("|---|---|---|---|---|---|")
    for i, d in enumerate(drift, 1):
        w(f"| {i} | {d['rate_estimates']} | {fmt(num(d, 'rate_mean'), 4)}/s | {fmt(num(d, 'rate_error_percent'), 4)}% | "
          f"{fmt(num(d, 'rate_sd'), 4)}/s | {fmt(num(d, 'rate_min'), 3)} to {fmt(num(d, 'rate_max'), 3)}/s |")
    w("")
    w(f"A controller that kept the nominal rate would be {fmt(num(d0, 'nominal_error_percent'), 4)}% off.  The "
      "individual estimates spread widely because each corrects the pace for the reserve measured since the "
      "last update; their mean is what follows the headset's clock.")
    w("")
    return rows, L


def section_startup(r):
    st, startup = r.st, r.startup
    rows = [f"| Start-up, VOQ_Headset_New to a ready headset (median) | the 2-s battery wait, no other avoidable "
            f"wait | {fmt(startup, 3)} s | {verdict(startup < 2.1)} |"]
    L, w = begin("Start-up", "Connecting takes the 2-s battery wait and nothing else that could be avoided.  Program: "
      "`bench/bench_live startup`.")
    w(f"`VOQ_Headset_New` against an in-process simulator until it returns a ready headset, {st['repeats']} "
      f"connections: shortest {fmt(num(st, 'startup_min_s'), 3)} s, median {fmt(startup, 3)} s, longest "
      f"{fmt(num(st, 'startup_max_s'), 3)} s.  Start-up waits 2 s after starting the battery monitor, as it must; "
      "everything else is the command round trips.  The commands of the first connection as the simulator "
      "received them, from the call:")
    w("")
    w("| Command | Family | Arrived | Since the previous one |")
    w("|---|---|---|---|")
    for k, v in st.items():
        m = re.match(r"family (\d+) at ([\d.]+) ms \(\+([\d.]+) ms\)", v) if k.startswith("command_") else None
        if m:
            w(f"| {int(k.split('_')[1])} | {m.group(1)} | {m.group(2)} ms | {m.group(3)} ms |")
    w("")
    w(f"From the last command to the ready headset: {st.get('last_command_to_ready_ms', '?')} ms.  The only "
      "gap is the battery wait between family 186 (battery monitor) and family 218; discarding stale input at "
      "the start and after stopping the stream, and waiting for the ready echo, take no time when the headset "
      "has nothing stale to send, because the port is read as soon as bytes arrive.")
    w("")

    return rows, L


def section_filters(r):
    filtered = r.filtered
    rows = [
        f"| Filters: cost per channel-sample per second-order section (median lap) | ≤ 10 ns | "
        f"{fmt(r.filter_ns, 2)} ns (fastest lap {fmt(r.filter_best, 2)} ns) | {verdict(r.filter_ns <= 10)} |",
        f"| Heap allocations per sample with a filter stage, verbosity 2 | 0 | {fmt(filtered[3], 3)} | "
        f"{verdict(filtered[3] == 0)} |",
    ]
    L, w = begin("Filters", "A ready-made filter costs a small fraction of the 10 ns per channel-sample per "
      "second-order section allowed, and a filter stage allocates nothing per sample.  Program: "
      "`bench/bench_ingest` (Google Benchmark `BM_FilterSections`; `--allocations` for the stage).")
    w(f"`BM_FilterSections` runs the ready-made filter \"bandpass 1 40 order 4; notch 50\" ({r.filter_sections} "
      f"second-order sections) frame by frame, as a filter stage does, over {r.filter_channels} EEG channels of "
      "noise at 300 samples/s (3,000 frames per lap, fresh input every lap, the reading thread's CPU time), and "
      f"divides each lap's time by frames × channels × sections; {r.filter_reps} repetitions, the median of their "
      "median laps shown, and the fastest lap of all.  Each section is five multiplications and four additions "
      "in direct form II transposed, its two state values per channel kept together.")
    w("")
    w(f"Allocations with filters on: the replayed stream of the Ingest section with a filter stage of the same "
      f"text on its {filtered[0]} channels, counted as in the Allocations section at verbosity 2: {filtered[2]} "
      f"allocations in {filtered[1]} samples ({fmt(filtered[3], 3)} per sample).  The stage's design, state and "
      "frame are made when it is added; a change of sampling rate redesigns into storage made then.")
    w("")
    return rows, L


def section_view(r):
    runs = r.view
    if not runs:
        return [], []
    med = statistics.median
    cpu = med(num(v, "cpu_share") for v in runs)
    median, p99 = med(num(v, "latency_median_ms") for v in runs), med(num(v, "latency_p99_ms") for v in runs)
    rows = [f"| `voq view` at 600 samples/s with two pages open: CPU of the tool (it has no batch wait, so no "
            f"spin) | ≤ 5% of one core | {pct(cpu)} | {verdict(cpu <= 0.05)} |",
            f"| `voq view`: newest sample of each event drawn after its arrival, median / 99th percentile | "
            f"≤ 100 ms | {fmt(median, 1)} ms / {fmt(p99, 1)} ms | {verdict(p99 <= 100)} |"]
    L, w = begin("The live view in the browser",
                 "`voq view` itself takes at most 5% of a core at 600 samples/s with two pages open, and a page "
                 "draws the newest sample within 100 ms of its arrival.  Program: `bench/bench_view.py`.")
    w("`bench/bench_view.py` runs `voq-sim --rate 600` as a process of its own and `voq --port PTY view` against "
      "it, and opens the traces page in two headless Chromium browsers (one page each, 1280 x 900, software "
      "drawing).  After a warm-up it measures, over the run: the CPU time of the voq process (user and system, "
      "every thread: the library's reading thread, the tool's reading loop and the web server's threads), the "
      "frames per second each page drew (frames that changed the picture), and for every data event how long "
      "after the tool's sample callback saw its newest sample the page had that sample drawn (the end of the "
      "drawing frame; the browser shows it at its next screen refresh).  The page keeps its head about one "
      "event gap (20 to 60 ms) behind the newest point so that the traces scroll smoothly, which is part of the "
      "latency.  The two browsers run on the same two cores as the tool: their load shows in the machine's busy "
      "share, and on a busy machine the latency's tail is the browsers waiting for a core.")
    w("")
    w("| Run | Seconds | Tool CPU | Frames/s (pages) | Latency median | 90th | 99th | Max | Within 100 ms "
      "| Machine busy | Load average |")
    w("|---|---|---|---|---|---|---|---|---|---|---|")
    for i, v in enumerate(runs, 1):
        fps = " / ".join(v[k] for k in sorted(v) if k.startswith("frames_per_second_"))
        w(f"| {i} | {num(v, 'seconds'):.0f} | {pct(num(v, 'cpu_share'))} | {fps} | {v['latency_median_ms']} ms | "
          f"{v['latency_p90_ms']} ms | {v['latency_p99_ms']} ms | {v['latency_max_ms']} ms | "
          f"{pct(num(v, 'latency_within_100ms'), 1)} | {pct(num(v, 'machine_busy_share'), 0)} | "
          f"{v['load_average']} |")
    w("")
    return rows, L


def section_timestamps(r):
    ts = r.stamps
    if not ts:
        return [], []
    ts_max, ts_mean, ts_sd = num(ts, "stamp_error_max_ms"), num(ts, "stamp_error_mean_ms"), num(ts, "stamp_error_sd_ms")
    ts_back, ts_int = int(num(ts, "stamp_backwards")), num(ts, "stamp_interval_worst_pct")
    rows = [f"| Sample times at the trigger onsets after the first 10 s (+500 ppm, 0-30 ms link jitter): worst "
            f"error | ≤ 2 ms | {fmt(ts_max, 3)} ms | {verdict(ts_max <= 2.0)} |",
            f"| The same: mean error / standard deviation | ≤ 1 ms / ≤ 0.5 ms | {fmt(ts_mean, 3)} ms / "
            f"{fmt(ts_sd, 3)} ms | {verdict(abs(ts_mean) <= 1.0 and ts_sd <= 0.5)} |",
            f"| Sample times: stamps earlier than their predecessor's; worst interval against the true period "
            f"(after 10 s) | none; within 1% | {ts_back}; {fmt(ts_int, 3)}% | "
            f"{verdict(ts_back == 0 and ts_int <= 1.0)} |"]
    L, w = begin("Sample times",
                 "After the first 10 s the time of every trigger onset lies within 2 ms of when the headset "
                 "measured it, their mean within 1 ms and their standard deviation at most 0.5 ms; no stamp is "
                 "earlier than its predecessor's and every interval lies within 1% of the true sample period.  "
                 "Program: `bench/bench_timestamps`.")
    w(f"An in-process simulated headset whose clock runs {ts['drift_ppm']} ppm fast, behind a link that holds "
      f"every block back by a random 0 to {ts['jitter_ms']} ms before writing it (never out of order, so that "
      "blocks arrive in bursts), with a trigger every second and the simulator's truth file (the true "
      f"measurement time of every sample where the host's trigger channel changes), for {ts['seconds']} s.  "
      "The application loop reads batches of 18 samples of `Fz TRG` and their times with "
      "`VOQ_Headset_GetSampleTimes`, as `voq stream --timestamps host` does; the time of every onset in the "
      "trigger channel is compared with the truth.  For comparison the sample callback notes `VOQ_HostClock()` "
      "for every sample as it is processed: plain arrival stamping.  Errors are the stamp minus the truth, over "
      "the onsets after the first 10 s.  The least delay any block had (the simulator's and the reading "
      "thread's wake-ups on a busy machine) is part of every stamp and of the mean error.")
    w("")
    w("| Stamps | Onsets | Mean error | Standard deviation | Worst |")
    w("|---|---|---|---|---|")
    for name, key in (("The library's sample times", "stamp"), ("Arrival of the sample's block", "arrival")):
        w(f"| {name} | {ts[key + '_onsets']} | {fmt(num(ts, key + '_error_mean_ms'), 3)} ms | "
          f"{fmt(num(ts, key + '_error_sd_ms'), 3)} ms | {fmt(num(ts, key + '_error_max_ms'), 3)} ms |")
    w("")
    w(f"Every onset's error stays within 1 ms from {ts['stamp_within_1ms_after_s']} s after the first sample on "
      f"({ts['matched_onsets']} of {ts['stamped_onsets']} onsets matched a truth line).  No stamp was earlier "
      f"than its predecessor's ({ts_back}); after the first 10 s the worst interval between consecutive stamps "
      f"was {fmt(ts_int, 3)}% off the true sample period.  The error of each onset, by seconds from the first "
      "sample:")
    w("")
    w("| Onset at | Error |")
    w("|---|---|")
    for at, error in r.onsets:
        w(f"| {at:.1f} s | {error:+.3f} ms |")
    w("")
    return rows, L


def section_lsl(r):
    lsl = r.lsl
    if not lsl:
        return [], []
    cpu = med([num(d, "cpu_share") for d in lsl])
    block = num(lsl[0], "block_period_ms")
    age_med = med([num(d, "age_median_ms") for d in lsl])
    age_p99 = med([num(d, "age_p99_ms") for d in lsl])
    rows = [
        f"| `voq lsl` at 600 samples/s: CPU of the whole process besides the final spin (there is none) | "
        f"≤ 3% of one core | {pct(cpu)} | {verdict(cpu <= 0.03)} |",
        f"| Age of the newest sample when an inlet receives it: median | ≤ {fmt(block + 10, 0)} ms (10 ms beyond "
        f"the {fmt(block, 0)}-ms block period) | {fmt(age_med, 1)} ms | {verdict(age_med <= block + 10)} |",
        f"| The same: 99th percentile | ≤ {fmt(block + 25, 0)} ms (25 ms beyond the block period) | "
        f"{fmt(age_p99, 1)} ms | {verdict(age_p99 <= block + 25)} |",
    ]
    L, w = begin("LSL outlet", "`voq lsl` puts a 600-samples/s headset on the Lab Streaming Layer for a few percent "
      "of a core at most, and an inlet in another process has each block within milliseconds of its last "
      "sample.  Program: `bench/bench_live lsl`.")
    w("`voq --port PATH lsl` streams the factory montage (28 channels) of a `voq-sim` process at 600 samples/s; "
      "the tests' inlet (`voq-lsl-inlet`, a C program linked to the same liblsl) reads it in a third process, "
      "every exchange on the loopback interface (the tests' configuration).  The tool's CPU time is its whole "
      "process, every thread (the outlet loop, the acquisition worker, liblsl's threads), from `/proc`, over "
      "the time the inlet is connected after 3 s of warm-up.  The outlet does not use the batch wait: it waits "
      "for samples with `VOQ_Headset_WaitForSamples` and sleeps between the headset's blocks, so there is no "
      "final spin to leave out.  The age of a sample is the inlet's `lsl_local_clock()` when a pull returns "
      "minus the time stamp of the newest sample it received; the simulated headset sends a block every "
      f"{fmt(block, 0)} ms, and the time stamp of a sample is when the headset measured it (the library's "
      "sample clock), so the age is the way from the headset to the inlet: the link, the reading, the outlet's "
      "wait for the block and liblsl's transport.  The tail is the processes waiting for a core on a busy "
      f"machine (the busy share and load average of each run).  {len(lsl)} runs, medians in the table of "
      "targets.")
    w("")
    w("| Run | Whole process | Samples | Pulls | Age: median | 99th percentile | Maximum | Machine busy | "
      "Load average |")
    w("|---|---|---|---|---|---|---|---|---|")
    for i, d in enumerate(lsl, 1):
        w(f"| {i} | {pct(num(d, 'cpu_share'))} | {d['samples']} | {d['chunks']} | "
          f"{fmt(num(d, 'age_median_ms'), 1)} ms | {fmt(num(d, 'age_p99_ms'), 1)} ms | "
          f"{fmt(num(d, 'age_max_ms'), 1)} ms | {pct(num(d, 'machine_busy_share'), 0)} | {d['load_average']} |")
    w("")
    return rows, L


SECTIONS = [section_ingest, section_allocations, section_cpu, section_latency, section_pacing, section_startup,
            section_view, section_filters, section_timestamps, section_lsl]


def main():
    results, out = sys.argv[1], sys.argv[2]
    quick = "--quick" in sys.argv[3:]
    model, cores, kernel, compiler = machine()
    load_start = open(os.path.join(results, "load_start.txt")).read().split()[:3]
    load_end = open(os.path.join(results, "load_end.txt")).read().split()[:3]
    r = load(results)
    # A section without figures (its benchmark was not run) returns nothing.
    parts = [part for part in (section(r) for section in SECTIONS) if part[1]]

    L = []
    w = L.append
    w("# Performance")
    w("")
    w("What the library's speed, memory and timing are, measured.  Written by `scripts/bench`, which builds "
      "the benchmarks in `build-bench/` (Release), runs them and rewrites this file; run it again to reproduce "
      "the figures.  The benchmarks are in `bench/`; this file's text is `bench/make_report.py`, one function "
      "per section.")
    if quick:
        w("")
        w("**Quick run (`VOQ_BENCH_QUICK=1`): short measurements, not the published figures.**")
    w("")
    w("## Machine")
    w("")
    w(f"- CPU: {model}, {cores} cores as seen by the system (a virtual machine)")
    w(f"- Kernel: Linux {kernel}")
    w(f"- Compiler: {compiler}; Release build (`-O3 -DNDEBUG`)")
    w(f"- Load average (1, 5, 15 min) when the run began: {', '.join(load_start)}; when it ended: "
      f"{', '.join(load_end)}")
    w("")
    w("Wall-clock and scheduling-dependent figures depend on what else the machine does meanwhile: the load")
    w("averages above and the busy share of each live run below say how busy it was.  Each section says how")
    w("its figure is taken.")
    w("")
    w("## Targets and figures")
    w("")
    w("| Section | Measure | Target | Measured | |")
    w("|---|---|---|---|---|")
    for rows, lines in parts:
        title = lines[0][3:]
        for row in rows:
            w(f"| {title} " + row)
    w("")
    for rows, lines in parts:
        L.extend(lines)

    w("## Methods in short")
    w("")
    w("- `bench/bench_ingest`: Google Benchmark (`BM_Ingest`, `BM_Floor`, `BM_FilterSections`), `--allocations`, "
      "`--callgrind=ingest|floor`.")
    w("- `bench/bench_live stream|drift|startup|lsl`: the live measurements (key=value output).")
    w("- `bench/bench_timestamps`: the sample times against the simulated headset's trigger truth (key=value output).")
    w("- `bench/bench_view.py`: `voq view` with pages in headless Chromium (key=value output).")
    w("- `scripts/bench`: builds, runs everything and writes this file; `VOQ_BENCH_QUICK=1` for a short trial run.")
    w("- The smoke test `bench.smoke` (labels `bench`, `quick`) only checks that the benchmarks build and run.")

    with open(out, "w") as f:
        f.write("\n".join(L) + "\n")


if __name__ == "__main__":
    main()
