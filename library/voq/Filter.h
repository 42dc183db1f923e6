// Ready-made filters written as a short text, for example
//
//     bandpass 1 40 order 4; notch 50; car
//
// A `;`-separated chain, applied in order to every EEG electrode channel of
// a frame (one value per channel); every other channel (trigger,
// accelerometer, timing, auxiliary sensors) passes unchanged:
//
//   highpass F [order N]        Butterworth designs, order N from 1 to 8
//   lowpass F [order N]         (default 4); a band of order N has 2N poles.
//   bandpass LO HI [order N]    Designed as zeros, poles and gain, moved to
//   bandstop LO HI [order N]    the digital domain by the bilinear transform
//                               with pre-warped edges, and paired into
//                               second-order sections nearest first, the
//                               sections closest to the unit circle last.
//   notch F [q Q] [harmonics K] second-order notches at F, 2F, ... KF
//                               (quality Q, default 30; K default 1), those
//                               at or above half the rate left out.
//   car                         common average reference: the mean of the
//                               EEG channels subtracted from each of them.
//
// Words are compared without regard to case.  The sections run in direct
// form II transposed, from a zero state.  Design and running are separate:
// a Filter designs once for a rate and then runs frames without allocating;
// a new rate redesigns in place, still without allocating.
#ifndef VOQ_FILTER_H
#define VOQ_FILTER_H

#include <cstddef>
#include <string>
#include <vector>

namespace VOQ {

// One element of a chain as written.
struct FilterElement {
    enum Kind { HighPass, LowPass, BandPass, BandStop, Notch, CommonAverage };
    Kind kind = HighPass;
    double low = 0.0;       // the frequency of highpass, lowpass and notch; a band's low edge (Hz)
    double high = 0.0;      // a band's high edge (Hz)
    int order = 4;          // Butterworth order
    double q = 30.0;        // notch quality
    int harmonics = 1;      // notches at low, 2 low, ...
    std::string text;       // the element as written, trimmed (for messages)
};

// One second-order section; the leading denominator coefficient is 1.
struct Section {
    double b0, b1, b2, a1, a2;
};

const int kMaxFilterOrder = 8;
const int kMaxNotchHarmonics = 20;

// Parses a chain.  Throws Error naming the offending word: an unknown
// filter or option, a missing or malformed number, an order or harmonic
// count out of range, a frequency or quality not above 0, a band whose low
// edge is not below its high edge, an empty text.
std::vector<FilterElement> ParseFilterText(const std::string& text);

// The most sections an element can need at any rate.
size_t MaxSections(const FilterElement& element);

// Designs an element for `rate` samples per second into `out` (room for
// MaxSections) and returns the number of sections (0 for car).  Allocates
// nothing.  Throws Error when a frequency is not below half the rate.
size_t DesignSections(const FilterElement& element, double rate, Section* out);

// The chain in the prefiltering convention of EDF headers, for example
// "HP:1Hz LP:40Hz N:50Hz": the highest high-pass edge, the lowest low-pass
// edge, then notches (N:50,100Hz), band-stops (BS:45-55Hz) and CAR, in
// order; "" for an empty chain.
std::string PrefilteringText(const std::vector<FilterElement>& chain);

class Filter {
public:
    // `eeg` has one entry per channel: true for the channels filtered (and
    // averaged by car).  Throws Error for a text that does not parse or a
    // design that does not fit the rate.
    Filter(const std::string& text, double rate, const std::vector<bool>& eeg);

    // Designs for another rate, in place and without allocating, and starts
    // again from a zero state.  Throws Error (and keeps the old design) when
    // the chain cannot run at that rate.
    void SetRate(double rate);
    // Throws the Error that SetRate(rate) would throw; changes nothing.
    void CheckRate(double rate) const;
    // Back to the zero state.
    void Reset();

    // Filters one frame (one value per channel) in place.
    void Step(double* frame);
    // Filters `count` samples of every channel in place: `samples` holds the
    // channels one after the other, `count` values each.
    void Apply(double* samples, size_t count);

    // A frame's worth of scratch space, for callers that gather a frame.
    double* Frame() { return frame.data(); }
    size_t Channels() const { return frame.size(); }
    double Rate() const { return rate; }
    // Sections in use at the current rate, per EEG channel.
    size_t SectionCount() const;
    const std::string& Text() const { return text; }
    const std::vector<FilterElement>& Chain() const { return chain; }

private:
    // The sections of one element: sections[first, first + count).
    struct Block {
        size_t first;
        size_t count;
        bool commonAverage;
    };
    void Design(double newRate, std::vector<Section>& into, std::vector<Block>& layout) const;

    std::string text;
    std::vector<FilterElement> chain;
    double rate = 0.0;
    std::vector<Block> blocks;
    std::vector<Section> sections;     // room for every element's most
    std::vector<Section> spare;        // the same room, for redesigning
    std::vector<Block> spareBlocks;
    std::vector<size_t> eegChannels;   // indices into a frame
    std::vector<double> state;         // per EEG channel, per section room: 2 values
    std::vector<double> frame;
};

}  // namespace VOQ

#endif
