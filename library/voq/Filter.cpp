// Ready-made filters: the text of a chain, and running it frame by frame.
#include "voq/Filter.h"

#include <cmath>
#include <utility>

#include "voq/Error.h"
#include "voq/Text.h"

namespace VOQ {

namespace {

struct KindWord {
    const char* word;
    FilterElement::Kind kind;
    int frequencies;
};

const KindWord kKinds[] = {
    {"highpass", FilterElement::HighPass, 1}, {"lowpass", FilterElement::LowPass, 1},
    {"bandpass", FilterElement::BandPass, 2}, {"bandstop", FilterElement::BandStop, 2},
    {"notch", FilterElement::Notch, 1},       {"car", FilterElement::CommonAverage, 0},
};

// Parses one element, `words` being its words (at least one).
class ElementParser {
public:
    ElementParser(const std::string& text, const std::vector<std::string>& words) : words(words) {
        element.text = text;
    }

    FilterElement Parse() {
        const KindWord* kind = nullptr;
        for (const KindWord& k : kKinds)
            if (Similar(words[0], k.word)) kind = &k;
        if (!kind)
            Fail("unknown filter \"" + words[0] + "\" (known: highpass, lowpass, bandpass, bandstop, notch, car)");
        element.kind = kind->kind;
        size_t next = 1;
        double* frequencies[2] = {&element.low, &element.high};
        for (int i = 0; i < kind->frequencies; ++i, ++next) {
            const std::string what = kind->frequencies == 2 ? "two frequencies" : "a frequency";
            if (next >= words.size()) Fail(std::string(kind->word) + " needs " + what);
            if (!Number(words[next], *frequencies[i])) Fail("\"" + words[next] + "\" is not a frequency");
            if (!(*frequencies[i] > 0)) Fail("the frequency " + words[next] + " is not above 0");
        }
        if (kind->frequencies == 2 && !(element.low < element.high))
            Fail("the low edge " + words[1] + " is not below the high edge " + words[2]);

        bool seen[3] = {false, false, false};
        for (; next < words.size(); next += 2) {
            const std::string& option = words[next];
            const bool butterworth = kind->frequencies > 0 && element.kind != FilterElement::Notch;
            const bool notch = element.kind == FilterElement::Notch;
            int slot = -1;
            if (butterworth && Similar(option, "order")) slot = 0;
            if (notch && Similar(option, "q")) slot = 1;
            if (notch && Similar(option, "harmonics")) slot = 2;
            if (slot < 0) Fail("unknown word \"" + words[next] + "\"");
            if (seen[slot]) Fail("\"" + words[next] + "\" is given twice");
            seen[slot] = true;
            if (next + 1 >= words.size()) Fail("\"" + words[next] + "\" needs a value");
            const std::string& value = words[next + 1];
            if (slot == 0 && !Whole(value, 1, kMaxFilterOrder, element.order))
                Fail("order \"" + value + "\" is not a whole number from 1 to " + std::to_string(kMaxFilterOrder));
            if (slot == 1 && !(Number(value, element.q) && element.q > 0))
                Fail("q \"" + value + "\" is not a number above 0");
            if (slot == 2 && !Whole(value, 1, kMaxNotchHarmonics, element.harmonics))
                Fail("harmonics \"" + value + "\" is not a whole number from 1 to " +
                     std::to_string(kMaxNotchHarmonics));
        }
        return element;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw Error("bad filter \"" + element.text + "\": " + what);
    }
    static bool Number(const std::string& word, double& out) {
        double value = 0.0;
        if (!String2Double(word, value) || !std::isfinite(value)) return false;
        out = value;
        return true;
    }
    static bool Whole(const std::string& word, int lowest, int highest, int& out) {
        int value = 0;
        if (!String2Integer(word, value) || value < lowest || value > highest) return false;
        out = value;
        return true;
    }

    const std::vector<std::string>& words;
    FilterElement element;
};

}  // namespace

std::vector<FilterElement> ParseFilterText(const std::string& text) {
    std::vector<FilterElement> chain;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos) end = text.size();
        const std::string piece = Trim(text.substr(start, end - start));
        if (!piece.empty()) chain.push_back(ElementParser(piece, Split(piece)).Parse());
        start = end + 1;
    }
    if (chain.empty()) throw Error("empty filter text: write for example \"bandpass 1 40; notch 50\"");
    return chain;
}

Filter::Filter(const std::string& filterText, double samplingRate, const std::vector<bool>& eeg)
    : text(filterText), chain(ParseFilterText(filterText)) {
    if (!(samplingRate > 0) || !std::isfinite(samplingRate))
        throw Error("cannot run filter \"" + Trim(filterText) + "\": the sampling rate " + NumberString(samplingRate) +
                    " is not above 0");
    size_t room = 0;
    for (const FilterElement& e : chain) room += MaxSections(e);
    sections.assign(room, Section{0, 0, 0, 0, 0});
    spare = sections;
    blocks.reserve(chain.size());
    spareBlocks.reserve(chain.size());
    for (size_t c = 0; c < eeg.size(); ++c)
        if (eeg[c]) eegChannels.push_back(c);
    state.assign(eegChannels.size() * room * 2, 0.0);
    frame.assign(eeg.size(), 0.0);
    Design(samplingRate, sections, blocks);
    rate = samplingRate;
}

void Filter::Design(double newRate, std::vector<Section>& into, std::vector<Block>& layout) const {
    layout.clear();
    size_t first = 0;
    for (const FilterElement& e : chain) {
        const size_t count = DesignSections(e, newRate, into.data() + first);
        layout.push_back(Block{first, count, e.kind == FilterElement::CommonAverage});
        first += MaxSections(e);
    }
}

void Filter::SetRate(double newRate) {
    Design(newRate, spare, spareBlocks);
    std::swap(sections, spare);
    std::swap(blocks, spareBlocks);
    rate = newRate;
    Reset();
}

void Filter::CheckRate(double newRate) const {
    std::vector<Section> scratch(sections.size());
    std::vector<Block> layout;
    layout.reserve(chain.size());
    Design(newRate, scratch, layout);
}

void Filter::Reset() {
    for (double& z : state) z = 0.0;
}

size_t Filter::SectionCount() const {
    size_t count = 0;
    for (const Block& b : blocks) count += b.count;
    return count;
}

void Filter::Step(double* values) {
    const size_t room = sections.size();
    const size_t eegCount = eegChannels.size();
    if (eegCount == 0) return;
    for (const Block& block : blocks) {
        if (block.commonAverage) {
            double sum = 0.0;
            for (size_t j = 0; j < eegCount; ++j) sum += values[eegChannels[j]];
            const double mean = sum / double(eegCount);
            for (size_t j = 0; j < eegCount; ++j) values[eegChannels[j]] -= mean;
            continue;
        }
        const Section* const first = sections.data() + block.first;
        for (size_t j = 0; j < eegCount; ++j) {
            double x = values[eegChannels[j]];
            double* z = state.data() + (j * room + block.first) * 2;
            for (size_t k = 0; k < block.count; ++k, z += 2) {
                const Section& s = first[k];
                const double y = s.b0 * x + z[0];
                z[0] = s.b1 * x - s.a1 * y + z[1];
                z[1] = s.b2 * x - s.a2 * y;
                x = y;
            }
            values[eegChannels[j]] = x;
        }
    }
}

void Filter::Apply(double* samples, size_t count) {
    const size_t channels = frame.size();
    for (size_t t = 0; t < count; ++t) {
        for (size_t c = 0; c < channels; ++c) frame[c] = samples[c * count + t];
        Step(frame.data());
        for (size_t c = 0; c < channels; ++c) samples[c * count + t] = frame[c];
    }
}

}  // namespace VOQ
