// The simulator's features for proving host time stamps and link loss:
// block jitter, the trigger truth file, and the link that drops and comes
// back on a schedule.  Checked on the wire with the test's own decoder.
#include "HostLink.h"

#include "Simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <fstream>
#include <thread>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace simtest;

namespace {

const int kMaster = 1;
const int kHostTriggerDelay = 16;   // samples, while the filter is on at 300 or 600/s

struct Onset {
    int value = 0;
    double seconds = 0.0;
};

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<Onset> ReadTruth(const std::string& path) {
    std::vector<Onset> onsets;
    std::ifstream in(path);
    Onset o;
    while (in >> o.value >> o.seconds) onsets.push_back(o);
    return onsets;
}

}  // namespace

TEST(SimulatorTiming, JitteredBlocksStayInOrderAndTheTruthNamesEachHostOnset) {
    const std::string truthPath = testing::TempDir() + "voqsim_truth.txt";
    std::remove(truthPath.c_str());
    voqsim::Config config;
    config.samplingRate = 600;
    config.driftPpm = 500.0;
    config.jitterMilliseconds = 30.0;
    config.triggerPeriodSeconds = 0.1;   // every 60 samples
    config.truthPath = truthPath;
    const double rate = 600.0 * (1.0 + 500e-6);   // the device's true sample rate
    voqsim::Simulator sim(config);
    HostLink host(sim.Start());
    const double simOffset = Seconds() - sim.HostTime();   // host clock minus the simulator's time base

    sim.RecordBlockWrites(true);
    const double asked = Seconds();
    const int id = host.Send(kMaster, 33, U16Bytes(2));
    std::vector<Block> blocks;
    Block block;
    while (Seconds() < asked + 1.5 && host.NextBlock(block, 0.5)) blocks.push_back(block);
    const std::vector<voqsim::BlockWrite> writes = sim.TakeBlockWrites();
    sim.Stop();

    // In order and intact: consecutive block numbers, every CRC right, the
    // answer first, then every sample once with its stamp 3 ticks on.
    ASSERT_GT(blocks.size(), 40u);
    double answered = -1.0;
    struct Sample {
        int trigger;
        double arrival;
    };
    std::vector<Sample> samples;
    uint32_t lastStamp = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const Block& b = blocks[i];
        EXPECT_TRUE(b.crcOk && b.packetsFit) << "block " << b.number;
        if (i > 0) {
            EXPECT_EQ(b.number, uint16_t(blocks[i - 1].number + 1));
        }
        for (const Packet& p : b.packets) {
            if (p.species == 1 && p.Identifier() == id) answered = b.arrival;
            if (p.species != 3) continue;
            ASSERT_GE(answered, 0.0) << "a sample before the answer";
            EXPECT_EQ(p.bytes[6], samples.size() % 256);
            if (!samples.empty()) {
                EXPECT_EQ(p.stamp - lastStamp, 3u);
            }
            lastStamp = p.stamp;
            samples.push_back({p.bytes[7], b.arrival});
        }
    }
    ASSERT_GT(samples.size(), 600u);

    // The truth: one line per host onset (16 samples after the trigger), in
    // order, values as sent, times on the device's drifting sample clock.
    std::vector<std::pair<size_t, int>> expected;   // host onset sample, value
    for (size_t k = 0; k + kHostTriggerDelay < samples.size(); ++k)
        if (samples[k].trigger != 0) expected.emplace_back(k + kHostTriggerDelay, samples[k].trigger);
    ASSERT_GE(expected.size(), 9u);
    const std::vector<Onset> truth = ReadTruth(truthPath);
    ASSERT_GE(truth.size(), expected.size());
    const double t0 = truth[0].seconds - double(expected[0].first) / rate;
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(truth[i].value, expected[i].second) << "onset " << i;
        EXPECT_NEAR(truth[i].seconds, t0 + double(expected[i].first) / rate, 2e-6) << "onset " << i;
    }
    // Sample 0 was measured between the start command and its answer, and
    // no sample arrived before it was measured.
    EXPECT_GE(t0, asked - 1e-6);
    EXPECT_LE(t0, answered);
    for (size_t n = 0; n < samples.size(); ++n)
        ASSERT_LE(t0 + double(n) / rate, samples[n].arrival + 1e-6) << "sample " << n;

    // The jitter: blocks are written late by up to 30 ms after their last
    // sample was measured (without it, within a sample period).
    double latest = 0.0;
    for (const voqsim::BlockWrite& w : writes) {
        if (w.lastSample < 0) continue;
        const double late = w.hostTime + simOffset - (t0 + double(w.lastSample) / rate);
        EXPECT_GE(late, -1e-3) << "block " << w.number;
        latest = std::max(latest, late);
    }
    EXPECT_GT(latest, 0.015);
    std::remove(truthPath.c_str());
}

TEST(SimulatorLink, DropsOnScheduleWithAHangUpAndComesBackBehindItsLink) {
    const std::string link = testing::TempDir() + "voqsim_link_" + std::to_string(getpid());
    voqsim::Config config;
    config.serialNumber = 2400555;
    config.linkPath = link;
    config.drops = {{0.3, 0.4}};
    voqsim::Simulator sim(config);
    const std::string first = sim.Start();
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), first);

    HostLink host(link);
    ASSERT_TRUE(host.IsOpen());
    Packet r;
    ASSERT_TRUE(host.Ask(kMaster, 165, {0x58, 0x02, 0, 0}, r));   // 600/s, filter off: kept
    const double started = Seconds();
    ASSERT_TRUE(host.Ask(kMaster, 33, U16Bytes(2), r));
    // Streaming until the hang-up, which the host sees at once as an error.
    Block block;
    while (!host.hungUp && Seconds() < started + 3.0) host.NextBlock(block, 0.05);
    const double hungUp = Seconds();
    ASSERT_TRUE(host.hungUp);
    EXPECT_GE(hungUp, started + 0.3 - 0.01);
    EXPECT_LT(hungUp, started + 0.3 + 0.5);
    EXPECT_FALSE(Exists(link));   // nothing to open while the device is away
    EXPECT_FALSE(sim.State().linkUp);
    host.Close();

    while (!Exists(link) && Seconds() < started + 3.0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(Exists(link));
    EXPECT_GE(Seconds(), started + 0.7 - 0.01);
    // Back as after a reconnection: announced, same identity and settings,
    // streaming stopped.
    HostLink again(link);
    ASSERT_TRUE(again.IsOpen());
    std::vector<Packet> others;
    ASSERT_TRUE(again.Ask(kMaster, 40, {}, r, &others));
    EXPECT_EQ(U32(&r.Payload()[0]), 2400555u);
    bool announced = false;
    for (const Packet& p : others) announced |= p.species == 2 && p.bytes.size() > 6 && p.bytes[6] == 0x33;
    EXPECT_TRUE(announced);
    ASSERT_TRUE(again.Ask(kMaster, 33, U16Bytes(0), r));
    EXPECT_EQ(r.Payload(), (Bytes{0, 0, 0x58, 0x02}));
    again.Close();
    sim.Stop();
    EXPECT_FALSE(Exists(link));
}
