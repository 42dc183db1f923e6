// Trigger onsets as the host stamps them, against the simulated headset's
// truth file ("VALUE SECONDS" per onset, SECONDS on the host's monotonic
// clock): for the sample-time test and benchmark.
#ifndef VOQTEST_TRIGGERONSETS_H
#define VOQTEST_TRIGGERONSETS_H

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace voqtest {

struct Onset {
    int value;
    double time;
};

// The onsets: every change of a trigger channel to a non-zero value.
class OnsetFinder {
public:
    void Add(double trigger, double time) {
        const int value = int(std::lround(trigger));
        if (value != last && value != 0) onsets.push_back({value, time});
        last = value;
    }
    std::vector<Onset> onsets;

private:
    int last = 0;
};

inline std::vector<Onset> ReadTruth(const std::string& path) {
    std::vector<Onset> truth;
    std::ifstream file(path);
    Onset onset{};
    while (file >> onset.value >> onset.time) truth.push_back(onset);
    return truth;
}

// For every onset the host saw, the true onset of the same value nearest in
// time (within half a second): (true time, host time - true time).
struct Matched {
    double truth;
    double error;
};
inline std::vector<Matched> Match(const std::vector<Onset>& seen, const std::vector<Onset>& truth) {
    std::vector<Matched> matched;
    for (const Onset& s : seen) {
        const Onset* best = nullptr;
        for (const Onset& t : truth)
            if (t.value == s.value && std::fabs(t.time - s.time) < 0.5 &&
                (!best || std::fabs(t.time - s.time) < std::fabs(best->time - s.time)))
                best = &t;
        if (best) matched.push_back({best->time, s.time - best->time});
    }
    return matched;
}

}  // namespace voqtest

#endif
