"""Pictures of a headset's state: an impedance head map and stacked traces.

Both use matplotlib's Agg backend (no display needed) and write image files.
"""

from __future__ import annotations

from typing import Any, Dict, List, Optional, Sequence, Tuple

__all__ = ["IMPEDANCE_BANDS", "impedance_band", "plot_impedances", "plot_traces"]

#: Impedance bands of the head map: (upper limit in kOhm, label, colour).
IMPEDANCE_BANDS: List[Tuple[float, str, str]] = [
    (10.0, "< 10 k\u03a9", "#2ca02c"),
    (50.0, "10 \u2013 50 k\u03a9", "#bcbd22"),
    (200.0, "50 \u2013 200 k\u03a9", "#ff7f0e"),
    (float("inf"), "\u2265 200 k\u03a9", "#d62728"),
]
NOT_MEASURED = ("not measured", "#7f7f7f")


def impedance_band(kohm: float) -> Tuple[str, str]:
    """(label, colour) of an impedance value; negative values (the driver was
    off) and NaN are "not measured"."""
    if not kohm >= 0:
        return NOT_MEASURED
    for limit, label, colour in IMPEDANCE_BANDS:
        if kohm < limit:
            return label, colour
    return IMPEDANCE_BANDS[-1][1], IMPEDANCE_BANDS[-1][2]


def _pyplot():
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as pyplot
    return pyplot


def plot_impedances(impedances: Dict[str, float], path: str, title: Optional[str] = None,
                    montage: str = "standard_1020") -> List[str]:
    """Draws a head map of electrode impedances (kOhm) at the standard
    positions of MNE's `montage` and writes it to `path`.  Each electrode is
    coloured by its impedance band, labelled with its name and value, and the
    bands are explained in a legend.  Electrodes without a standard position
    are listed beside the head.  Returns the names that were placed."""
    import mne
    from matplotlib.lines import Line2D

    pyplot = _pyplot()
    standard = mne.channels.make_standard_montage(montage)
    known = set(standard.ch_names)
    placed = [name for name in impedances if name in known]
    unplaced = [name for name in impedances if name not in known]

    figure, axes = pyplot.subplots(figsize=(7.5, 6.5))
    if placed:
        info = mne.create_info(placed, 1000.0, "eeg", verbose=False)
        info.set_montage(standard, verbose=False)
        # MNE draws the head outline and the sensors at its topographic
        # projection of the montage; the sensors are then coloured here.
        mne.viz.plot_sensors(info, kind="topomap", show_names=False, axes=axes, show=False,
                             verbose=False)
        dots = axes.collections[-1]
        positions = dots.get_offsets()
        colours = [impedance_band(impedances[name])[1] for name in placed]
        dots.set_facecolor(colours)
        dots.set_edgecolor("black")
        dots.set_sizes([260.0] * len(placed))
        dots.set_zorder(3)
        for (x, y), name in zip(positions, placed):
            value = impedances[name]
            label = "%s\n%s" % (name, "%.1f" % value if value >= 0 else "\u2013")
            axes.annotate(label, (x, y), xytext=(0, -17), textcoords="offset points",
                          ha="center", va="top", fontsize=7.5, zorder=4)
    else:
        axes.text(0.5, 0.5, "no electrode has a standard position", ha="center",
                  va="center", transform=axes.transAxes)
        axes.set_axis_off()

    used = {impedance_band(value)[0] for value in impedances.values()}
    handles = [Line2D([], [], marker="o", linestyle="", markersize=11, markerfacecolor=colour,
                      markeredgecolor="black", label=label)
               for label, colour in [(b[1], b[2]) for b in IMPEDANCE_BANDS] + [NOT_MEASURED]
               if label in used or label != NOT_MEASURED[0]]
    axes.legend(handles=handles, title="impedance", loc="upper left",
                bbox_to_anchor=(1.0, 1.0), frameon=False)
    if unplaced:
        lines = ["%s: %s" % (name, "%.1f k\u03a9" % impedances[name]
                             if impedances[name] >= 0 else "not measured")
                 for name in unplaced]
        axes.text(1.02, 0.02, "no standard position:\n" + "\n".join(lines),
                  transform=axes.transAxes, fontsize=8, va="bottom")
    axes.set_title(title or "Electrode impedances (k\u03a9)")
    figure.savefig(path, dpi=100, bbox_inches="tight")
    pyplot.close(figure)
    return placed


def plot_traces(data: Any, names: Sequence[str], sampling_rate: float, path: str,
                kinds: Optional[Sequence[str]] = None, title: Optional[str] = None,
                start_time: float = 0.0) -> int:
    """Draws stacked traces of `data` (channels x samples, as read from a
    headset) and writes them to `path`.  Stimulus channels (kind "stim") are
    not drawn as traces: each change of the trigger to a non-zero value is a
    dashed vertical marker labelled with its value.  Each trace is scaled to
    its lane; its label gives the channel name and its peak-to-peak range.
    Returns the number of trigger markers drawn."""
    import numpy
    from .mne_export import trigger_events

    pyplot = _pyplot()
    data = numpy.asarray(data, dtype=float)
    kinds = list(kinds) if kinds is not None else ["eeg"] * len(names)
    samples = data.shape[1] if data.ndim == 2 else 0
    times = start_time + numpy.arange(samples) / float(sampling_rate)
    traces = [i for i, kind in enumerate(kinds) if kind != "stim"]
    stims = [i for i, kind in enumerate(kinds) if kind == "stim"]

    height = max(3.0, 0.32 * len(traces) + 1.2)
    figure, axes = pyplot.subplots(figsize=(11, height))
    for lane, index in enumerate(traces):
        row = data[index]
        finite = row[numpy.isfinite(row)]
        centre = float(numpy.median(finite)) if finite.size else 0.0
        span = float(numpy.ptp(finite)) if finite.size else 0.0
        scale = 0.9 / span if span > 0 else 1.0
        offset = len(traces) - 1 - lane
        axes.plot(times, (row - centre) * scale + offset, linewidth=0.6, color="#1f3b73")
        unit = " \u00b5V" if kinds[index] == "eeg" else ""
        axes.annotate(" %.3g%s p-p" % (span, unit), (1.0, offset),
                      xycoords=("axes fraction", "data"), fontsize=6.5, va="center", ha="left",
                      color="#555555", annotation_clip=False)
    axes.set_yticks([len(traces) - 1 - lane for lane in range(len(traces))])
    axes.set_yticklabels([names[i] for i in traces], fontsize=7)

    markers = 0
    if stims and samples:
        named = [i for i in stims if str(names[i]).upper() == "TRG"]
        for sample, value in trigger_events(data[(named or stims)[0]]):
            x = times[sample]
            axes.axvline(x, color="#d62728", linestyle="--", linewidth=0.9)
            axes.text(x, len(traces) - 0.35, " %d" % value if float(value).is_integer()
                      else " %g" % value, color="#d62728", fontsize=8, va="bottom")
            markers += 1
    axes.set_ylim(-0.8, max(len(traces), 1) + 0.2)
    if samples:
        axes.set_xlim(times[0], times[-1])
    axes.set_xlabel("time (s)")
    axes.set_title(title or "Signals (each trace scaled to its lane; dashed: triggers)")
    figure.savefig(path, dpi=100, bbox_inches="tight")
    pyplot.close(figure)
    return markers
