"""The binding against the simulated headset: connection, information,
sources, montage, batches, errors, callbacks and messages."""

import logging
import re
import threading
import time

import numpy as np
import pytest

import voq
from voq import VOQError

MONTAGE = "Fz Cz O1 O2 T3 X1 TRG"
NAMES = ["Fz", "Cz", "O1", "O2", "T3", "X1", "TRG"]


def aligned(stream, block):
    """The column of `stream` (channels x samples) where `block` starts, or
    None: `block` must be a contiguous stretch of `stream`."""
    width = block.shape[1]
    for start in range(stream.shape[1] - width + 1):
        if np.allclose(stream[:, start], block[:, 0], rtol=1e-12, atol=1e-9):
            if np.allclose(stream[:, start:start + width], block, rtol=1e-12, atol=1e-9):
                return start
    return None


def test_connect(headset, simulator_port):
    assert headset.is_connected
    assert headset.port == simulator_port
    assert headset.seconds_since_connection > 0
    assert headset.sampling_rate == 300
    assert headset.batch_size == 18  # 0.06 s of samples


def test_info(headset):
    info = headset.info
    assert info["SerialNumber"] == headset.serial_number == 2400117
    assert info["SensorCount"] == headset.sensor_count == 24
    assert info["SamplingRate"] == headset.sampling_rate
    assert info["HardwareModel"] == headset.hardware_model
    assert info["HardwareModel"].startswith("VOQ24")
    assert info["FirmwareRevision"] == headset.firmware_revision
    assert info["FirmwareRevision"].startswith("1.18.0 (")
    assert info["BatteryLevel"] == list(headset.battery)
    modes = headset.modes
    assert modes["filter"] == info["FilterMode"] == headset.filter_mode
    assert modes["data_acquisition"] == info["DataAcquisitionMode"]
    assert set(modes) == {"filter", "data_acquisition", "impedance_driver", "analog_reset"}
    text = headset.info_string
    assert text.startswith("{\n") and text.endswith("\n}")
    assert "Fp1" in info["AllSourceNames"].split()


def test_sources(headset):
    headset.choose_channels(MONTAGE, "A1/2+A2/2")
    names = [source.name for source in headset.sources]
    assert names[:3] == ["Fz", "A1", "A2"]  # in order of first use
    assert sorted(names) == sorted(["Fz", "A1", "A2", "Cz", "O1", "O2", "T3", "X1", "TRG"])
    fz = headset.source(" fz ")
    assert fz == headset.sources[0] and fz.name == "Fz"
    assert fz.is_referential_eeg and fz.is_sensor and not fz.is_trigger
    x1 = headset.source("X1")
    assert x1.is_sensor and not x1.is_referential_eeg
    assert headset.source("TRG").is_trigger
    assert headset.source(1).name == "Fp1"  # one-based number
    assert {"Fp1", "TRG"} <= set(headset.source_names())
    assert headset.factory_reference == "Pz"


def test_montage(headset):
    headset.choose_channels(MONTAGE, "A1/2+A2/2")
    assert headset.channel_names == NAMES
    assert headset.reference == "A1/2+A2/2"
    assert headset.montage == ("Fz-A1/2-A2/2 Cz-A1/2-A2/2 O1-A1/2-A2/2 O2-A1/2-A2/2 "
                               "T3-A1/2-A2/2 X1 TRG")
    channels = headset.channels
    assert [c.is_trigger for c in channels] == [False] * 6 + [True]
    assert [c.is_referential_eeg for c in channels] == [True] * 5 + [False, False]
    assert channels[0].string == "Fz-A1/2-A2/2"
    assert headset.channel("cz") == channels[1]
    assert headset.channel(6).name == "TRG"
    assert [s.name for s in headset.processing_stages] == ["raw"]

    old = channels[0]
    headset.choose_channels("Fz Cz", "")  # "" keeps the reference
    assert headset.channel_names == ["Fz", "Cz"]
    assert headset.reference == "A1/2+A2/2"
    assert not old.valid
    with pytest.raises(VOQError, match="no longer valid"):
        old.name


def test_errors_carry_the_library_text(headset):
    with pytest.raises(VOQError) as caught:
        headset.choose_channels("Fz NOSUCH", "")
    message = str(caught.value)
    assert message.startswith('Failed to match desired source "NOSUCH" - known names are: "')
    assert voq.lib.VOQ_Error() is None  # the binding cleared it
    # The same call through the bare C interface stores exactly that text.
    with voq._core.LOCK:
        voq.lib.VOQ_Headset_ChooseChannels(headset._handle, b"Fz NOSUCH", b"", 1)
        raw = voq.lib.VOQ_ClearError()
    assert raw.decode() == message

    # Without the binding's error callback the stored error still reaches
    # the caller.
    voq.lib.VOQ_SetErrorCallback(voq.lib.VOQ_SetErrorCallback.argtypes[0]())
    try:
        with pytest.raises(VOQError) as caught:
            headset.choose_channels("Fz NOSUCH", "")
        assert str(caught.value) == message
    finally:
        voq.lib.VOQ_SetErrorCallback(voq._core._error_callback)
    assert voq.lib.VOQ_Error() is None

    headset.choose_channels(MONTAGE, "")
    assert headset.channel_names == NAMES  # later calls are unaffected
    with pytest.raises(VOQError) as caught:
        headset.channel("nothing")
    assert str(caught.value) == ('Could not match Channel "nothing" (known names are: '
                                 + ", ".join(NAMES) + ")")
    headset.flush_buffers()
    with pytest.raises(VOQError) as caught:
        headset.channels[0].read_buffered()
    assert str(caught.value) == "buffer underflow"


def test_batches_shape_pace_and_values(headset):
    headset.choose_channels(MONTAGE, "")
    channels = headset.channels
    computed = []

    def record(_headset, _time):
        # What the library computes for every sample, asked through the C
        # interface on the reading thread.
        computed.append([channel.calculate_raw_signal() for channel in channels])

    headset.set_sample_callback(record)
    try:
        stamps, batches, clock = [], [], []
        for stamp, batch in headset.batches(25):
            stamps.append(stamp)
            batches.append(batch)
            clock.append(time.monotonic())
    finally:
        headset.set_sample_callback(None)

    size = headset.batch_size
    assert all(batch.shape == (len(NAMES), size) for batch in batches)
    assert np.all(np.diff(stamps) > 0)
    period = size / headset.sampling_rate
    assert clock[-1] - clock[4] == pytest.approx(20 * period, rel=0.25)
    assert stamps[-1] - stamps[4] == pytest.approx(20 * period, rel=0.25)

    data = np.concatenate(batches, axis=1)
    assert aligned(np.array(computed).T, data) is not None
    eeg = data[:5]
    assert np.all(np.isfinite(eeg)) and np.all(np.abs(eeg) < 2000) and eeg.std() > 1
    assert set(np.unique(data[6])) <= set(range(256))


def test_batches_with_sample_times(headset):
    # Each batch's samples with the host times at which they were measured:
    # in order, a sample period apart, on the clock of voq.host_clock (the
    # monotonic clock) and a little before now; the callback sees the same
    # times as the reader.
    headset.choose_channels("Fz TRG", "")
    seen = []
    headset.set_sample_callback(lambda h, _t: seen.append(h.callback_sample_time))
    try:
        got = list(headset.batches(4, timestamps=True))
    finally:
        headset.set_sample_callback(None)
    size = headset.batch_size
    times = np.concatenate([batch_times for _, _, batch_times in got])
    assert all(data.shape == (2, size) and t.shape == (size,) for _, data, t in got)
    assert np.all(np.diff(times) > 0)
    assert np.median(np.diff(times)) == pytest.approx(1 / headset.sampling_rate, rel=0.01)
    assert 0 < voq.host_clock() - times[-1] < 1.0
    assert abs(voq.host_clock() - time.monotonic()) < 0.01
    assert headset.sample_time == times[-1]
    assert np.isin(times, seen).all()
    with pytest.raises(VOQError, match="only a sample or stage callback"):
        headset.callback_sample_time


def test_read_returns_the_requested_seconds(headset):
    headset.choose_channels(MONTAGE, "")
    data = headset.read(1.5)
    assert data.shape == (len(NAMES), 450)
    assert np.count_nonzero(data[6]) >= 1  # a trigger every second
    assert np.all(np.isfinite(data))


def test_processing_stage_runs_on_the_reading_thread(headset):
    headset.choose_channels("Fz Cz TRG", "")
    threads, inputs = [], []

    def double(stage, _time):
        threads.append(threading.get_ident())
        source = stage.input
        values = [source.read(index) for index in range(3)]
        inputs.append(values)
        stage.write(0, 2 * values[0])
        stage.write(1, 2 * values[1])
        stage.write(2, values[2])

    stage = headset.add_processing_stage("double", double)
    assert [s.name for s in headset.processing_stages] == ["raw", "double"]
    assert stage.input.name == "raw"
    assert [c.name for c in stage.channels] == ["Fz", "Cz", "TRG"]
    assert headset.channels == stage.channels  # the last stage gives the output

    data = np.concatenate([batch for _, batch in headset.batches(5)], axis=1)
    assert set(threads) == {threading.get_ident()}  # read by this thread
    expected = np.array(inputs).T * np.array([[2.0], [2.0], [1.0]])
    assert aligned(expected, data) is not None


def test_filter_stage_filters_the_eeg_output_channels(headset):
    headset.choose_channels(MONTAGE, "A1/2+A2/2")
    inputs = []

    def tap(stage, _time):
        values = [stage.input.read(index) for index in range(len(NAMES))]
        inputs.append(values)
        for index, value in enumerate(values):
            stage.write(index, value)

    headset.add_processing_stage("tap", tap)
    text = "bandpass 1 40; notch 50"
    stage = headset.add_filter(text)
    assert stage.name == "filter" and stage.input.name == "tap"
    assert headset.channels == stage.channels
    assert headset.prefiltering == "HP:1Hz LP:40Hz N:50Hz"
    data = headset.read(1.0)
    eeg = [channel.is_referential_eeg for channel in stage.channels]
    assert eeg == [True] * 5 + [False, False]  # X1 (auxiliary) and TRG pass unchanged
    expected = voq.filter(text, headset.sampling_rate, np.array(inputs).T, eeg=eeg)
    assert aligned(expected, data) is not None


def test_callback_exception_is_raised_by_the_next_wait(headset):
    headset.choose_channels("Fz Cz", "")
    seen = []

    class Boom(Exception):
        pass

    def failing(stage, _time):
        seen.append(threading.get_ident())
        if len(seen) == 30:
            raise Boom("from the acquisition thread")
        stage.write(0, stage.input.read(0))
        stage.write(1, stage.input.read(1))

    headset.add_processing_stage("failing", failing)
    assert headset.start_background_acquisition()
    try:
        deadline = time.monotonic() + 5
        while headset.pending_callback_exception is None and time.monotonic() < deadline:
            time.sleep(0.01)
        assert isinstance(headset.pending_callback_exception, Boom)
        # Calls that do not wait for samples do not raise it ...
        assert headset.sampling_rate == 300
        assert headset.channel_names == ["Fz", "Cz"]
        assert headset.battery
        # ... the next waiting call does.
        with pytest.raises(Boom, match="from the acquisition thread") as caught:
            headset.wait_for_samples(1)
        assert any(entry.name == "failing" for entry in caught.traceback)
        assert headset.pending_callback_exception is None
        assert threading.get_ident() not in seen  # ran on the library's thread

        # While it was pending the callback was skipped and its channels got
        # NaN; now it runs again.
        calls = len(seen)
        channel = headset.channels[0]
        headset.wait_for_samples(5)
        assert np.isnan(channel.read(channel.buffered)).any()
        time.sleep(0.2)
        assert len(seen) > calls
        assert headset.pending_callback_exception is None
    finally:
        headset.stop_background_acquisition()
        time.sleep(0.05)
    headset.choose_channels(MONTAGE, "")
    assert len(list(headset.batches(2))) == 2


def test_library_messages_go_to_logging(headset, caplog):
    caplog.set_level(logging.DEBUG, logger="voq")
    assert headset.verbosity == 1  # as the voq tool: level 1 only unless asked
    headset.change_leds(3)
    assert not [record for record in caplog.records if record.name == "voq"]
    headset.verbosity = 3
    try:
        headset.change_leds(3)
    finally:
        headset.verbosity = 1
    records = [record for record in caplog.records if record.name == "voq"]
    assert records
    assert any(record.voq_level == 3 and record.levelno == logging.INFO for record in records)
    assert all(re.match(r"^\s*\d+\.\d{3}:  ", record.getMessage()) for record in records)


def test_impedances(headset):
    headset.choose_channels(MONTAGE, "A1/2+A2/2")
    values = headset.impedances()
    assert sorted(values) == sorted(["Fz", "A1", "A2", "Cz", "O1", "O2", "T3"])
    for name, value in values.items():
        assert value == pytest.approx(5.0, abs=0.5), name  # the simulator's default
    assert headset.impedance_driver_mode == 0  # switched off again


def test_unconnected_and_closed_headset():
    headset = voq.Headset()
    assert not headset.is_connected
    assert headset.sampling_rate == -1
    headset.close()
    assert headset.closed
    with pytest.raises(VOQError, match="closed"):
        headset.sampling_rate
    headset.close()  # twice is fine


def test_simulator_options():
    assert voq.simulator._options({"rate": 600, "impedance_all": 20, "impedance": {"Fz": 50},
                                   "trigger": "0.5:7", "seed": None, "drop": [(6, 3), (16, 2.5)]}) == [
        "--rate", "600", "--impedance-all", "20", "--impedance", "Fz=50", "--trigger", "0.5:7",
        "--drop", "6:3", "--drop", "16:2.5"]


def test_close_while_callbacks_run_on_the_acquisition_thread(headset, caplog):
    # Last test of the module: it closes the shared headset.
    headset.choose_channels("Fz Cz", "")
    calls = []

    def copy(stage, _time):
        calls.append(threading.get_ident())
        stage.write(0, stage.input.read(0))
        stage.write(1, stage.input.read(1))

    stage = headset.add_processing_stage("copy", copy)
    headset.set_sample_callback(lambda _headset, _time: calls.append(0))
    assert headset.start_background_acquisition()
    deadline = time.monotonic() + 5
    while len(calls) < 100 and time.monotonic() < deadline:
        time.sleep(0.01)
    assert len(calls) >= 100
    headset.close()
    # Nothing failed meanwhile (an uncollected callback exception is logged).
    assert not [r for r in caplog.records if "callback exception" in r.getMessage()]
    count = len(calls)
    time.sleep(0.1)
    assert len(calls) == count  # no callback after close
    assert not stage.valid
    with pytest.raises(VOQError, match="no longer valid"):
        stage.name
