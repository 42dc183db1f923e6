#include <gtest/gtest.h>

#include <cmath>

#include "VOQ.h"

using namespace VOQ;

namespace {

const double kTwoPi = 6.283185307179586;

}  // namespace

TEST(Source, ShortLivedSourceHasInitialValues) {
    Source cm(SourceID::CM);
    EXPECT_EQ(cm.name, "CM");
    EXPECT_EQ(cm.code, SourceID::CM);
    EXPECT_EQ(cm.gain, 1.0);
    EXPECT_EQ(cm.rawOffset, 0.0);
    EXPECT_EQ(cm.impedanceEEG, -1.0);
    EXPECT_EQ(cm.impedanceCMF, -1.0);
    EXPECT_EQ(cm.dcOffset, 0.0);
    EXPECT_EQ(cm.signalHistory.Capacity(), 0u);
    EXPECT_EQ(cm.eegInPhase.Capacity(), 0u);
    EXPECT_FALSE(cm.IsSensor());
    EXPECT_FALSE(cm.IsReferentialEEG());
    EXPECT_TRUE(cm.IsCommonModeSignal());

    Source full(SourceID::Fz, "Fz", 7, 0.25, 3.0);
    EXPECT_EQ(full.name, "Fz");
    EXPECT_EQ(full.gain, 0.25);
    EXPECT_EQ(full.rawOffset, 3.0);
    for (const RingBuffer* b :
         {&full.eegInPhase, &full.eegQuadrature, &full.cmfInPhase, &full.cmfQuadrature, &full.signalHistory}) {
        EXPECT_EQ(b->Capacity(), 7u);
        EXPECT_TRUE(b->IsAllocated());
    }
}

TEST(Source, Classification) {
    for (int code : {256, 260, 261, 262, 263, 264, 265, 266, 267}) {
        EXPECT_TRUE(Source(SourceID::Code(code)).IsTrigger()) << code;
        EXPECT_FALSE(Source(SourceID::Code(code)).IsSensor()) << code;
    }
    for (int code : {257, 258, 259, 268, 0, 18, 33, 255}) EXPECT_FALSE(Source(SourceID::Code(code)).IsTrigger()) << code;
    for (int code : {268, 269, 270, 271}) {
        EXPECT_TRUE(Source(SourceID::Code(code)).IsAccelerometer()) << code;
        EXPECT_FALSE(Source(SourceID::Code(code)).IsSensor()) << code;
    }
    EXPECT_FALSE(Source(SourceID::TRG).IsAccelerometer());

    for (int code : {0, 18, 255, 257, 258, 259}) EXPECT_FALSE(Source(SourceID::Code(code)).IsSensor()) << code;
    for (int code : {SourceID::X1, SourceID::X2, SourceID::X3, SourceID::ECG, SourceID::EMG, SourceID::EOG}) {
        EXPECT_TRUE(Source(SourceID::Code(code)).IsSensor()) << code;
        EXPECT_FALSE(Source(SourceID::Code(code)).IsReferentialEEG()) << code;
    }
    for (int code : {SourceID::A1A2, SourceID::Pz, SourceID::A1, SourceID::M2, SourceID::M1M2, SourceID::S7,
                     SourceID::Fp1, SourceID::TP10, SourceID::U128}) {
        EXPECT_TRUE(Source(SourceID::Code(code)).IsSensor()) << code;
        EXPECT_TRUE(Source(SourceID::Code(code)).IsReferentialEEG()) << code;
    }
}

TEST(Source, CalibratedSignal) {
    Source s(SourceID::Cz, "Cz", 0, 0.5, 100.0);
    s.SetRawSignal(1100);
    EXPECT_EQ(s.rawSignal, 1100.0);
    EXPECT_EQ(s.signal, 500.0);
    Source zero(SourceID::Pz, "Pz", 0, 0.0, 0.0);
    zero.SetRawSignal(-4321);
    EXPECT_EQ(zero.signal, 0.0);
    EXPECT_TRUE(zero.IsFactoryReference());
}

TEST(Source, ImpedanceWithoutWindowOrDrive) {
    Source s(SourceID::Cz, "Cz", 0, 1.0, 0.0);
    s.SetRawSignal(40);
    s.ComputeImpedance(0.5, 0.5, 0.5, 0.5);
    EXPECT_EQ(s.impedanceEEG, 0.0);
    EXPECT_EQ(s.impedanceCMF, 0.0);
    EXPECT_EQ(s.dcOffset, 0.0);

    // Drive off: both estimates are "not measured", the mean still moves.
    Source t(SourceID::Cz, "Cz", 4, 1.0, 0.0);
    t.SetRawSignal(8);
    t.ComputeImpedance(0, 0, 0, 0);
    EXPECT_EQ(t.impedanceEEG, -1.0);
    EXPECT_EQ(t.impedanceCMF, -1.0);
    EXPECT_DOUBLE_EQ(t.dcOffset, 2.0);
    // Only one of the drives off.
    t.ComputeImpedance(1.0, 0.0, 0.0, 0.0);
    EXPECT_GE(t.impedanceEEG, 0.0);
    EXPECT_EQ(t.impedanceCMF, -1.0);
}

TEST(Source, MovingMeanRampsUpOverTheWindow) {
    const unsigned N = 5;
    Source s(SourceID::Cz, "Cz", N, 1.0, 0.0);
    s.SetRawSignal(10.0);
    for (unsigned k = 1; k <= 8; ++k) {
        s.ComputeImpedance(0, 0, 0, 0);
        EXPECT_DOUBLE_EQ(s.dcOffset, 10.0 * std::min(k, N) / N) << k;
    }
    // Reallocation restarts the window.
    s.AllocateImpedanceBuffers(2);
    EXPECT_EQ(s.signalHistory.Capacity(), 2u);
    s.ComputeImpedance(0, 0, 0, 0);
    EXPECT_DOUBLE_EQ(s.dcOffset, 5.0);
}

TEST(Source, ImpedanceEstimateFromDriveTones) {
    // One second at 300 samples/s: the tone products average exactly over
    // the window, so the estimates give back the impedances put in.
    const double rate = 300, zEEG = 12.5, zCMF = 3.0;
    const double a110 = 2 * zEEG / 0.01950289701, a130 = 2 * zCMF / 0.0239163282228;
    Source s(SourceID::O1, "O1", 300, 1.0, 0.0);
    for (int n = 0; n < 300; ++n) {
        const double t = n / rate;
        const double w = kTwoPi * t;
        s.SetRawSignal(a110 * std::cos(110 * w + 0.3) + a130 * std::cos(130 * w - 1.1) + 7.0);
        s.ComputeImpedance(std::cos(110 * w), std::sin(110 * w), std::cos(130 * w), std::sin(130 * w));
    }
    EXPECT_NEAR(s.impedanceEEG, zEEG, 1e-6);
    EXPECT_NEAR(s.impedanceCMF, zCMF, 1e-6);
    EXPECT_NEAR(s.dcOffset, 7.0, 1e-6);
}

TEST(Source, FlushKeepsTheMovingMeans) {
    Source s(SourceID::Cz, "Cz", 4, 1.0, 0.0);
    s.SetRawSignal(4.0);
    for (int i = 0; i < 4; ++i) s.ComputeImpedance(0, 0, 0, 0);
    EXPECT_EQ(s.signalHistory.Buffered(), 4u);
    s.FlushImpedanceBuffers();
    EXPECT_EQ(s.signalHistory.Buffered(), 0u);
    EXPECT_EQ(s.eegInPhase.Buffered(), 0u);
    s.ComputeImpedance(0, 0, 0, 0);
    EXPECT_DOUBLE_EQ(s.dcOffset, 4.0);
}

TEST(Source, NameMatching) {
    Source fp1(SourceID::Fp1, "Fp1", 0, 1, 0);
    EXPECT_TRUE(fp1.NameMatches("  fp1 ", false));
    EXPECT_TRUE(fp1.NameMatches("FP1", false));
    EXPECT_FALSE(fp1.NameMatches("Fp2", true));

    Source t3(SourceID::T3, "T3", 0, 1, 0);
    t3.aliases = {"T3", "T7"};
    EXPECT_FALSE(t3.NameMatches("t7", false));
    EXPECT_TRUE(t3.NameMatches("t7", true));
    EXPECT_TRUE(t3.NameMatches("\tT3\n", false));
}

TEST(Source, NamingSchemeVotes) {
    StringCounter votes;
    EXPECT_EQ(ResolveRedundantSourceIDs(SourceID::Cz, votes), SourceID::Cz);
    EXPECT_EQ(votes.Count("10-10"), 1);
    EXPECT_EQ(votes.Count("10-20"), 1);

    StringCounter v1020;
    for (int code : {SourceID::T3, SourceID::T4, SourceID::T5, SourceID::T6})
        EXPECT_EQ(ResolveRedundantSourceIDs(SourceID::Code(code), v1020), code);
    EXPECT_EQ(v1020.Count("10-20"), 4);
    EXPECT_EQ(v1020.Count("10-10"), 0);

    StringCounter v1010;
    const int from[] = {SourceID::T7, SourceID::T8, SourceID::P7, SourceID::P8, SourceID::TP9, SourceID::TP10};
    const int to[] = {SourceID::T3, SourceID::T4, SourceID::T5, SourceID::T6, SourceID::M1, SourceID::M2};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(ResolveRedundantSourceIDs(SourceID::Code(from[i]), v1010), to[i]);
    EXPECT_EQ(v1010.Count("10-10"), 6);
    EXPECT_EQ(v1010.counts.count("10-20"), 0u);

    StringCounter v1010only;
    EXPECT_EQ(ResolveRedundantSourceIDs(SourceID::AF3, v1010only), SourceID::AF3);
    EXPECT_EQ(ResolveRedundantSourceIDs(SourceID::PO8, v1010only), SourceID::PO8);
    EXPECT_EQ(v1010only.Count("10-10"), 10);

    StringCounter none;
    for (int code : {0, 9, 15, 18, 33, 42, 23, 38, 255, 256, 271})
        EXPECT_EQ(ResolveRedundantSourceIDs(SourceID::Code(code), none), code);
    EXPECT_TRUE(none.counts.empty());
}
