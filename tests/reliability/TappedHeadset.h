// A test suite's shared headset: the simulated headset, the wire tap and one
// connected headset (started once per suite; start-up takes a few seconds),
// with the montage "SND Cz-Pz TRG ACCZ" and ten-second buffers.  A level-1
// or level-2 message that a test does not expect fails it (see
// voqtest::ExpectMessages).
#ifndef VOQ_RELIABILITY_TAPPED_HEADSET_H
#define VOQ_RELIABILITY_TAPPED_HEADSET_H

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "Simulator.h"
#include "Support.h"
#include "Tap.h"

namespace reliability {

// "" when equal, else where and how the two sequences first differ.
std::string FirstDifference(const std::vector<uint32_t>& got, const std::vector<uint32_t>& expected);

class TappedHeadset : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Streams with `options`, then lets the tap settle.  `before` holds the
    // simulator's counters from just before the run.
    TapRecord Stream(const StreamOptions& options, StreamResult& result, voqsim::StreamStats& stats);

    // Every sample of every intact block delivered exactly once, in arrival
    // order, to the sample callback and through the SND channel's buffer;
    // nothing counted as overflow; no wait longer than its bound.
    void ExpectExactDelivery(const TapRecord& record, const StreamResult& result);

    // Every break in the data packets' sequence numbers of intact blocks was
    // reported once, naming the packet and the number expected (for streams
    // without framing faults, after which the count starts afresh).
    void ExpectSequenceBreaksReported(const TapRecord& record);

    // The headset's message sink: the watch for unexpected messages, then the
    // message log.
    static int Watched(const char* message, int level);

    static voqsim::Simulator* sim;
    static Tap* tap;
    static VOQ_Headset handle;
    static VOQ::Headset* headset;
    static SampleLog* samples;
    static uint64_t corruptedBefore;
};

}  // namespace reliability

#endif
