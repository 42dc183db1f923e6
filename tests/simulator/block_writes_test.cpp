// The latency hook: every block written while the record is on is listed
// with its number, its last sample and the host time of its write, on the
// same monotonic clock as the host's arrival times.
#include "HostLink.h"

#include "Simulator.h"

#include <gtest/gtest.h>

#include <map>

using namespace simtest;

namespace {

const int kMaster = 1;

}  // namespace

TEST(SimulatorBlockWrites, RecordsEachWrittenBlockBeforeItArrives) {
    voqsim::Simulator sim;
    EXPECT_EQ(sim.HostTime(), 0.0);
    HostLink host(sim.Start());
    // The simulator's time base against the host's clock, within the time of
    // one call.
    const double before = Seconds();
    const double simNow = sim.HostTime();
    const double after = Seconds();
    EXPECT_GE(simNow, 0.0);
    const double offset = 0.5 * (before + after) - simNow;

    Packet r;
    ASSERT_TRUE(host.Ask(kMaster, 33, U16Bytes(2), r));
    EXPECT_TRUE(sim.TakeBlockWrites().empty());   // nothing recorded while off

    sim.RecordBlockWrites(true);
    std::vector<Block> blocks;
    Block block;
    const double end = Seconds() + 0.5;
    while (Seconds() < end && host.NextBlock(block, 0.5)) blocks.push_back(block);
    sim.RecordBlockWrites(false);
    const std::vector<voqsim::BlockWrite> writes = sim.TakeBlockWrites();
    EXPECT_TRUE(sim.TakeBlockWrites().empty());   // taking clears

    std::map<uint16_t, voqsim::BlockWrite> byNumber;
    for (const voqsim::BlockWrite& w : writes) byNumber[w.number] = w;
    ASSERT_GT(blocks.size(), 15u);
    size_t matched = 0;
    for (const Block& b : blocks) {
        auto it = byNumber.find(b.number);
        if (it == byNumber.end()) continue;   // written before the record began
        ++matched;
        const voqsim::BlockWrite& w = it->second;
        int data = 0;
        uint32_t lastStamp = 0;
        int lastSequence = -1;
        for (const Packet& p : b.packets)
            if (p.species == 3) {
                ++data;
                lastStamp = p.stamp;
                lastSequence = p.bytes[6];
            }
        EXPECT_EQ(w.dataPackets, data) << b.number;
        if (data > 0) {
            EXPECT_EQ(w.lastSampleStamp, lastStamp) << b.number;
            EXPECT_EQ(w.lastSample & 0xFF, lastSequence) << b.number;
        } else {
            EXPECT_EQ(w.lastSample, -1) << b.number;
        }
        // Written before it arrived, and not long before.
        const double written = w.hostTime + offset;
        EXPECT_LE(written, b.arrival + 0.002) << b.number;
        EXPECT_GT(written, b.arrival - 0.2) << b.number;
    }
    EXPECT_GE(matched + 2, blocks.size());
}
