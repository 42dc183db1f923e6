"""Reconnection after a lost link, from Python: the simulated headset drops
its link on a schedule and the batches go on, with the gap reported."""

import numpy as np

import voq


def test_batches_ride_through_a_drop(tmp_path):
    link = str(tmp_path / "headset")
    with voq.Simulator(drop=[(1, 0.5)], link=link) as port, voq.Headset(port) as headset:
        assert headset.reconnect == 0
        headset.reconnect = 10
        assert headset.reconnect == 10
        headset.choose_channels("SND Cz", "")
        headset.reallocate_buffers(10, 1)
        ticks, events = [], []
        for _timestamp, batch in headset.batches(60):  # 3.6 s
            ticks.extend(np.rint(batch[0] * 1800).astype(int))
            events += headset.link_events()
        assert headset.link_up
        assert [e.kind for e in events] == ["lost", "restored"]
        lost, restored = events
        # The time stamps start again exactly where the gap was reported.
        assert lost.sample == restored.sample
        assert list(np.flatnonzero(np.diff(ticks) != 6)) == [lost.sample - 1]
        assert restored.missing > 0.5 * 300  # at least the half second away
        assert restored.seconds > lost.seconds
