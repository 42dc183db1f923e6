"""The `voq view` part of docs/PERFORMANCE.md, from the runs of bench/bench_view.py
(each run's key=value lines as a dict)."""
import statistics


def _verdict(ok):
    return "met" if ok else "**not met**"


def targets(runs, number):
    """Rows of the targets table."""
    if not runs:
        return []
    cpu = statistics.median(float(r["cpu_share"]) for r in runs)
    p99 = statistics.median(float(r["latency_p99_ms"]) for r in runs)
    median = statistics.median(float(r["latency_median_ms"]) for r in runs)
    return [
        f"| {number} | `voq view` at 600 samples/s with two pages open: CPU of the tool (it has no batch wait, "
        f"so no spin) | ≤ 5% of one core | {cpu * 100:.2f}% | {_verdict(cpu <= 0.05)} |",
        f"| {number} | `voq view`: newest sample of each event drawn after its arrival, median / 99th percentile "
        f"| ≤ 100 ms | {median:.1f} ms / {p99:.1f} ms | {_verdict(p99 <= 100)} |",
    ]


def section(runs, number):
    """The section's lines."""
    if not runs:
        return []
    L = [f"## {number}. The live view in the browser", ""]
    L.append(
        "`bench/bench_view.py` runs `voq-sim --rate 600` as a process of its own and `voq --port PTY view` "
        "against it, and opens the traces page in two headless Chromium browsers (one page each, 1280 x 900, "
        "software drawing).  After a warm-up it measures, over the run: the CPU time of the voq process (user "
        "and system, every thread: the library's reading thread, the tool's reading loop and the web server's "
        "threads), the frames per second each page drew (frames that changed the picture), and for every data "
        "event how long after the tool's sample callback saw its newest sample the page had that sample drawn "
        "(the end of the drawing frame; the browser shows it at its next screen refresh).  The page keeps its "
        "head about one event gap (20 to 60 ms) behind the newest point so that the traces scroll smoothly, "
        "which is part of the latency.  The two browsers run on the same two cores as the tool, so their load "
        "shows in the machine's busy share.")
    L.append("")
    L.append("| Run | Seconds | Tool CPU | Frames/s (pages) | Latency median | 90th | 99th | Max | Within 100 ms "
             "| Machine busy | Load average |")
    L.append("|---|---|---|---|---|---|---|---|---|---|---|")
    for i, r in enumerate(runs, 1):
        fps = " / ".join(r[k] for k in sorted(r) if k.startswith("frames_per_second_"))
        L.append(f"| {i} | {float(r['seconds']):.0f} | {float(r['cpu_share']) * 100:.2f}% | {fps} | "
                 f"{r['latency_median_ms']} ms | {r['latency_p90_ms']} ms | {r['latency_p99_ms']} ms | "
                 f"{r['latency_max_ms']} ms | {float(r['latency_within_100ms']) * 100:.1f}% | "
                 f"{float(r['machine_busy_share']) * 100:.0f}% | {r['load_average']} |")
    L.append("")
    return L
