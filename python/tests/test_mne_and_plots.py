"""to_mne, the plots and the command line against the simulated headset."""

import struct
import subprocess
import sys

import numpy as np
import pytest

import voq
from voq.plots import plot_impedances, plot_traces
from conftest import subprocess_environment

MONTAGE = "Fz Cz O1 O2 T3 X1 TRG ACCZ"
NAMES = ["Fz", "Cz", "O1", "O2", "T3", "X1", "TRG", "ACCZ"]
KINDS = ["eeg"] * 5 + ["misc", "stim", "misc"]


def png_size(path):
    """(width, height) of a PNG file, from its header."""
    with open(path, "rb") as stream:
        header = stream.read(24)
    assert header[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG file"
    return struct.unpack(">II", header[16:24])


def test_to_mne(headset):
    headset.choose_channels(MONTAGE, "A1/2+A2/2")
    assert headset.channel_kinds() == KINDS
    data = headset.read(2.5)
    raw = headset.to_mne(data=data)
    assert raw.ch_names == NAMES
    assert raw.get_channel_types() == KINDS
    assert raw.info["sfreq"] == headset.sampling_rate == 300
    # Volts for electrodes and the auxiliary input, the trigger and the
    # accelerometer as they are.
    scale = np.array([1e-6] * 6 + [1.0, 1.0])[:, None]
    np.testing.assert_array_equal(raw.get_data(), data * scale)
    # Every change of the trigger to a non-zero value is an annotation.
    trigger = data[6]
    changes = [i for i in range(trigger.size)
               if trigger[i] != 0 and (i == 0 or trigger[i] != trigger[i - 1])]
    assert changes  # one trigger a second
    assert len(raw.annotations) == len(changes)
    assert list(np.round(raw.annotations.onset * 300.0).astype(int)) == changes
    assert list(raw.annotations.description) == [str(int(trigger[i])) for i in changes]
    # Standard 10-20 positions for the electrodes, none for the rest.
    positions = {ch["ch_name"]: ch["loc"][:3] for ch in raw.info["chs"]}
    for name in NAMES[:5]:
        assert np.all(np.isfinite(positions[name])) and np.any(positions[name] != 0), name
    assert not np.any(np.nan_to_num(positions["X1"]))


def test_to_mne_dates_the_recording_by_its_first_sample(headset):
    import datetime
    raw = headset.to_mne(seconds=0.5)
    measured = raw.info["meas_date"]
    assert measured is not None
    now = datetime.datetime.now(datetime.timezone.utc)
    assert datetime.timedelta(0) < now - measured < datetime.timedelta(seconds=5)


def test_to_mne_reads_when_given_seconds(headset):
    headset.choose_channels("Fz Cz", "")
    raw = headset.to_mne(1.0)
    assert raw.get_data().shape == (2, 300)
    assert raw.ch_names == ["Fz", "Cz"]


def test_to_mne_names_are_made_unique():
    raw = voq.to_mne(np.zeros((3, 10)), ["Fz", "Fz", "TRG"], ["eeg", "eeg", "stim"], 100.0,
                     alternative_names=["Fz-Cz", "Fz-Pz", "TRG"])
    assert raw.ch_names == ["Fz-Cz", "Fz-Pz", "TRG"]
    assert len(raw.annotations) == 0


def test_impedance_head_map(headset, tmp_path):
    headset.choose_channels("FACTORY", "A1/2+A2/2")
    values = headset.impedances()
    path = tmp_path / "head.png"
    placed = plot_impedances(values, str(path))
    assert set(placed) == set(values)  # every electrode of the headset is a 10-20 site
    width, height = png_size(path)
    assert 500 <= width <= 2000 and 400 <= height <= 2000
    assert path.stat().st_size > 20000


def test_traces_plot(headset, tmp_path):
    headset.choose_channels(MONTAGE, "")
    data = headset.read(2.0)
    path = tmp_path / "traces.png"
    markers = plot_traces(data, headset.channel_names, headset.sampling_rate, str(path),
                          kinds=headset.channel_kinds())
    assert markers >= 1
    width, height = png_size(path)
    assert 800 <= width <= 2500 and 250 <= height <= 2000
    assert path.stat().st_size > 20000


def run_cli(*arguments, cwd):
    return subprocess.run([sys.executable, "-m", "voq"] + list(arguments), cwd=str(cwd),
                          env=subprocess_environment(), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, timeout=120)


@pytest.mark.parametrize("command", [
    ["impedance", "--simulate", "--plot", "head.png"],
    ["plot", "--simulate", "--seconds", "2", "--filter", "bandpass 1 40; notch 50", "traces.png"],
])
def test_command_line_writes_the_pictures(command, tmp_path):
    result = run_cli(*command, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    picture = tmp_path / command[-1]
    width, height = png_size(picture)
    assert width >= 500 and height >= 250
    assert picture.stat().st_size > 20000
    if command[0] == "impedance":
        rows = dict(line.split() for line in result.stdout.splitlines()[1:21])
        assert rows["Fz"] == "5.0"
    else:
        assert "x 600 samples" in result.stdout


def test_command_line_reports_errors(tmp_path):
    result = run_cli("info", "--port", str(tmp_path / "no-such-port"), cwd=tmp_path)
    assert result.returncode == 1
    assert result.stderr.startswith("voq: ")
