#include "SignalModel.h"

#include <voq/Protocol.h>

#include <cmath>

namespace voqsim {

namespace {

const double kTwoPi = 6.283185307179586;
const double kBlinkSeconds = 0.3;
// Corner frequencies and weights of the three low-passed noise sources whose
// sum makes the 1/f-like background.
const double kCorners[3] = {1.0, 6.0, 30.0};
const double kWeights[3] = {0.75, 0.5, 0.3};

uint64_t Mix(uint64_t a, uint64_t b) {
    uint64_t z = a + 0x9E3779B97F4A7C15ull * (b + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double AlphaWeight(int code) {
    using namespace VOQ::SourceID;
    switch (code) {
    case O1: case O2: case Oz: case Iz: case POz: case PO3: case PO4: case PO7: case PO8:
        return 1.0;
    case P3: case P4: case Pz: case T5: case T6: case P1: case P2: case P5: case P6:
    case P7: case P8: case P9: case P10:
        return 0.7;
    default:
        return 0.15;
    }
}

double BlinkWeight(int code) {
    using namespace VOQ::SourceID;
    switch (code) {
    case Fp1: case Fpz: case Fp2: case Nz:
        return 1.0;
    case AFz: case AF3: case AF4: case AF7: case AF8:
        return 0.7;
    case F7: case F3: case Fz: case F4: case F8: case F1: case F2: case F5: case F6:
    case F9: case F10:
        return 0.45;
    default:
        return 0.0;
    }
}

}  // namespace

uint64_t Random::Next() {
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Random::Uniform() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); }

double Random::Gaussian() {
    if (haveSpare_) {
        haveSpare_ = false;
        return spare_;
    }
    double u = 0.0;
    while (u <= 1e-300) u = Uniform();
    const double v = Uniform();
    const double r = std::sqrt(-2.0 * std::log(u));
    spare_ = r * std::sin(kTwoPi * v);
    haveSpare_ = true;
    return r * std::cos(kTwoPi * v);
}

void SignalModel::Reset(uint64_t seed, const std::vector<Slot>& slots, int samplingRate) {
    rate_ = samplingRate > 0 ? samplingRate : 300;
    for (int i = 0; i < 3; ++i) {
        coefficient_[i] = std::exp(-kTwoPi * kCorners[i] / rate_);
        // Unit output variance for unit input variance.
        inputScale_[i] = std::sqrt((1.0 + coefficient_[i]) / (1.0 - coefficient_[i]));
    }
    Random setup(Mix(seed, 1000));
    envelopePhase_ = kTwoPi * setup.Uniform();
    const double commonAlphaPhase = kTwoPi * setup.Uniform();
    channels_.assign(24, Channel());
    for (size_t k = 0; k < channels_.size(); ++k) {
        Channel& c = channels_[k];
        const Slot* slot = k < slots.size() ? &slots[k] : nullptr;
        c.kind = slot ? slot->kind : SlotKind::Unused;
        const bool scalp = c.kind == SlotKind::Electrode;
        c.alphaWeight = scalp ? AlphaWeight(slot->code) : 0.0;
        c.blinkWeight = scalp ? BlinkWeight(slot->code) : 0.0;
        c.random = Random(Mix(seed, k));
        c.alphaPhase = commonAlphaPhase + 0.6 * (c.random.Uniform() - 0.5);
        c.phase110 = kTwoPi * c.random.Uniform();
        c.phase130 = kTwoPi * c.random.Uniform();
        for (double& y : c.lowpass) y = c.random.Gaussian();   // start in steady state
    }
    blinkRandom_ = Random(Mix(seed, 2000));
    nextBlink_ = 1.0;
    blinkStart_ = -10.0;
    accelerometerRandom_ = Random(Mix(seed, 3000));
}

void SignalModel::Next(int64_t n, double packetSeconds, const SignalInputs& inputs,
                       std::array<double, 24>& microvolts) {
    const double t = double(n) / rate_;
    if (t >= nextBlink_) {
        blinkStart_ = nextBlink_;
        nextBlink_ += 2.0 + 3.0 * blinkRandom_.Uniform();
    }
    double blink = 0.0;
    const double sinceBlink = t - blinkStart_;
    if (sinceBlink >= 0.0 && sinceBlink < kBlinkSeconds)
        blink = 0.5 * (1.0 - std::cos(kTwoPi * sinceBlink / kBlinkSeconds));
    const double envelope = 0.8 + 0.2 * std::sin(kTwoPi * 0.1 * t + envelopePhase_);
    const double w110 = kTwoPi * 110.0 * packetSeconds;
    const double w130 = kTwoPi * 130.0 * packetSeconds;
    const double a130 = 2.0 * inputs.cmfImpedanceKOhm / 0.0239163282228;

    for (size_t k = 0; k < channels_.size(); ++k) {
        Channel& c = channels_[k];
        double background = 0.0;
        for (int i = 0; i < 3; ++i) {
            c.lowpass[i] = coefficient_[i] * c.lowpass[i] +
                           (1.0 - coefficient_[i]) * inputScale_[i] * c.random.Gaussian();
            background += kWeights[i] * c.lowpass[i];
        }
        double v = 0.0;
        switch (c.kind) {
        case SlotKind::Unused:
            v = 0.2 * inputs.backgroundMicrovolts * background;
            break;
        case SlotKind::Auxiliary:
            v = 0.5 * inputs.backgroundMicrovolts * background;
            break;
        case SlotKind::CommonMode:
            v = 1500.0 * std::sin(kTwoPi * 0.3 * t) + 20.0 * inputs.backgroundMicrovolts * background;
            break;
        case SlotKind::Reference:
            v = 0.6 * inputs.backgroundMicrovolts * background;
            break;
        case SlotKind::Electrode:
            v = inputs.backgroundMicrovolts * background +
                c.alphaWeight * inputs.alphaMicrovolts * envelope *
                    std::cos(kTwoPi * 10.0 * t + c.alphaPhase) +
                c.blinkWeight * inputs.blinkMicrovolts * blink;
            break;
        }
        if (inputs.impedanceDriverOn &&
            (c.kind == SlotKind::Electrode || c.kind == SlotKind::Reference)) {
            const double a110 = 2.0 * inputs.impedanceKOhm[k] / 0.01950289701;
            v += a110 * std::cos(w110 + c.phase110) + a130 * std::cos(w130 + c.phase130);
        }
        microvolts[k] = v;
    }
}

void SignalModel::Accelerometer(double seconds, int16_t xyz[3]) {
    const double x = 40.0 * std::sin(kTwoPi * 0.25 * seconds) + 3.0 * accelerometerRandom_.Gaussian();
    const double y = 25.0 * std::cos(kTwoPi * 0.17 * seconds) + 3.0 * accelerometerRandom_.Gaussian();
    const double z = 1000.0 + 3.0 * accelerometerRandom_.Gaussian();
    xyz[0] = int16_t(std::lround(x));
    xyz[1] = int16_t(std::lround(y));
    xyz[2] = int16_t(std::lround(z));
}

}  // namespace voqsim
