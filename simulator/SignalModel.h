// The simulated headset's signals: what each slot measures, sample by sample,
// in microvolts, and the accelerometer.  Internal to the simulator.
#ifndef VOQSIM_SIGNAL_MODEL_H
#define VOQSIM_SIGNAL_MODEL_H

#include "Simulator.h"

#include <array>
#include <cstdint>
#include <vector>

namespace voqsim {

// A small, fast generator with the same sequence on every platform.
class Random {
public:
    explicit Random(uint64_t seed = 1) : state_(seed) {}
    uint64_t Next();
    double Uniform();                 // [0, 1)
    double Gaussian();                // mean 0, deviation 1

private:
    uint64_t state_;
    bool haveSpare_ = false;
    double spare_ = 0.0;
};

struct SignalInputs {
    double backgroundMicrovolts = 10.0;
    double alphaMicrovolts = 20.0;
    double blinkMicrovolts = 100.0;
    bool impedanceDriverOn = false;
    std::array<double, 24> impedanceKOhm{};   // per slot
    double cmfImpedanceKOhm = 0.0;
};

class SignalModel {
public:
    // Starts a new run: the same seed and slots give the same samples.
    void Reset(uint64_t seed, const std::vector<Slot>& slots, int samplingRate);
    // Sample n (the next one; samples are made in order), at packet time
    // `packetSeconds` (the packet time stamp / 1800): microvolts per slot.
    void Next(int64_t n, double packetSeconds, const SignalInputs& inputs,
              std::array<double, 24>& microvolts);

    // Accelerometer sample m (counts) at `seconds` of device time.
    void Accelerometer(double seconds, int16_t xyz[3]);

private:
    struct Channel {
        SlotKind kind = SlotKind::Unused;
        double alphaWeight = 0.0;
        double blinkWeight = 0.0;
        double alphaPhase = 0.0;
        double phase110 = 0.0;
        double phase130 = 0.0;
        double lowpass[3] = {0.0, 0.0, 0.0};
        Random random;
    };
    std::vector<Channel> channels_;
    int rate_ = 300;
    double coefficient_[3] = {0.0, 0.0, 0.0};
    double inputScale_[3] = {0.0, 0.0, 0.0};
    Random blinkRandom_;
    double nextBlink_ = 1.0;          // seconds of the next blink's start
    double blinkStart_ = -10.0;       // seconds of the current blink's start
    double envelopePhase_ = 0.0;
    Random accelerometerRandom_;
};

}  // namespace voqsim

#endif
