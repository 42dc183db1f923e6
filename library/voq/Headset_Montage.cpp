#include <algorithm>
#include <cmath>
#include <memory>

#include "voq/Headset.h"

namespace VOQ {

namespace {

// Separators of montage lists.
const char* const kMontageSeparators = " \t\r\n,";

Error BadTerm(const std::string& term) {
    return Error("could not interpret \"" + term + "\" as a valid channel specification");
}

const char* const kChangeMontage = "change the montage or reference";

// Reads a factor or divisor; only finite numbers make a usable weight.
bool ReadNumber(const std::string& text, double& value) { return String2Double(text, value) && std::isfinite(value); }

}  // namespace

Channel* Headset::ConstructChannel(std::string specification, bool autoSwap) {
    ReadLockGuard guard(*this);
    std::unique_ptr<Channel> channel(new Channel(std::string(), std::max<uint64_t>(SamplesFor(bufferDuration), 1)));

    specification = Trim(specification);
    double base = 1.0;
    bool referenceAdded = false;
    while (!specification.empty()) {
        // A term runs up to the next sign after its first character.
        const size_t end = specification.find_first_of("+-", 1);
        std::string term = Trim(specification.substr(0, end));
        specification = (end == std::string::npos) ? std::string() : specification.substr(end);

        const std::vector<std::string> quotient = Split(term, "/");
        if (quotient.empty() || quotient.size() > 2) throw BadTerm(term);
        const std::vector<std::string> product = Split(quotient[0], "*");
        if (product.empty() || product.size() > 2) throw BadTerm(term);

        std::string sourceName = product[0];
        Chomp(sourceName, "+");
        double weight = Chomp(sourceName, "-") ? -base : base;
        if (product.size() == 2) {
            double factor = 0.0;
            if (!ReadNumber(product[1], factor)) throw BadTerm(term);
            weight *= factor;
        }
        if (quotient.size() == 2) {
            double divisor = 0.0;
            if (!ReadNumber(quotient[1], divisor) || divisor == 0.0) throw BadTerm(term);
            weight /= divisor;
        }
        channel->Add(MatchSource(sourceName, true), weight);

        specification = Trim(specification);
        if (specification.empty() && !referenceAdded && channel->sources.size() == 1 &&
            channel->sources[0]->IsReferentialEEG()) {
            // A single referential electrode: subtract the reference, scaled
            // by the electrode's weight.
            specification = Trim(chosenDefaultReference.empty() ? factoryReferenceName : chosenDefaultReference);
            base = -weight;
            referenceAdded = true;
        }
    }

    if (autoSwap && referenceAdded) {
        // Without a factory-reference source the channel stays as it is.
        Source* factoryReference = MatchSource(cmfLocation);
        if (factoryReference) channel->AutoSwap(factoryReference);
    }
    return channel.release();
}

void Headset::ChooseChannels(const std::string& montageText, const std::string& reference, bool autoSwap) {
    RefuseChangeInsideCallback(kChangeMontage);
    ReadLockGuard guard(*this);
    std::string text = montageText;
    if (Similar(text, "FACTORY")) {
        text.clear();
        chosenMontage.clear();
    }
    if (sources.empty()) {
        chosenMontage = text;
        return;
    }
    const bool namesKnown = !Split(SourceNames(0x03), kMontageSeparators).empty();

    if (Similar(reference, "FACTORY")) {
        chosenDefaultReference.clear();
    } else if (!Trim(reference).empty()) {
        // A trial construction: a bad reference fails here, before the
        // montage is touched.
        delete ConstructChannel(reference, false);
        chosenDefaultReference = Trim(reference);
    }

    std::vector<std::string> items = Split(text, kMontageSeparators);
    if (items.empty()) items = Split(chosenMontage, kMontageSeparators);

    ForgetMontage();
    if (items.empty()) {
        if (!namesKnown) {
            for (Source* source : sources) AddChannelToMontage(source);
            if (WillShow(1)) Message(1, "Headset flash memory contains no information about source IDs.");
            return;
        }
        items = Split(SourceNames(0x13), kMontageSeparators);
    }

    std::string errors;
    for (const std::string& item : items) {
        try {
            AddChannelToMontage(ConstructChannel(item, autoSwap));
        } catch (const std::exception& e) {
            if (!errors.empty()) errors += "\n";
            errors += e.what();
        }
    }
    if (!errors.empty()) throw Error(errors);

    chosenMontage = Join(" ", items);
    for (Source* source : montageSources) source->FlushImpedanceBuffers();
    for (ProcessingStage* stage : cascade)
        for (Channel* channel : stage->channels)
            if (channel) channel->buffer.Flush();
    AddProcessingStage("raw", nullptr, nullptr, nullptr)->BorrowChannels(montage);
}

void Headset::SetDefaultReference(const std::string& reference, bool autoSwap) {
    RefuseChangeInsideCallback(kChangeMontage);
    ReadLockGuard guard(*this);
    ChooseChannels(std::string(), reference, autoSwap);
}

std::string Headset::SetTraditionalReference(bool autoSwap) {
    RefuseChangeInsideCallback(kChangeMontage);
    ReadLockGuard guard(*this);
    struct Candidate {
        const char* first;
        const char* second;
        const char* reference;
    };
    static const Candidate kCandidates[] = {
        {"A1A2", nullptr, "A1A2"},          {"LE", nullptr, "LE"}, {"A1", "A2", "A1/2+A2/2"},
        {"M1M2", nullptr, "M1M2"},          {"LM", nullptr, "LM"}, {"M1", "M2", "M1/2+M2/2"},
        {"TP9", "TP10", "TP9/2+TP10/2"},
    };
    for (const Candidate& candidate : kCandidates) {
        if (!MatchSource(candidate.first, false)) continue;
        if (candidate.second && !MatchSource(candidate.second, false)) continue;
        SetDefaultReference(candidate.reference, autoSwap);
        return ReferenceString();
    }
    return std::string();
}

void Headset::AddChannelToMontage(const std::string& specification, bool autoSwap) {
    RefuseChangeInsideCallback(kChangeMontage);
    ReadLockGuard guard(*this);
    AddChannelToMontage(ConstructChannel(specification, autoSwap));
    FitSampleTimes();
}

void Headset::AddChannelToMontage(Channel* channel) {
    if (!channel) return;
    std::unique_ptr<Channel> owned(channel);
    RefuseChangeInsideCallback(kChangeMontage);
    ReadLockGuard guard(*this);
    montageSources.reserve(montageSources.size() + channel->sources.size());
    montage.reserve(montage.size() + 1);
    for (Source* source : channel->sources) {
        if (!source) continue;
        bool listed = false;
        for (const Source* known : montageSources)
            if (known == source) listed = true;
        if (!listed) montageSources.push_back(source);
    }
    montage.push_back(owned.release());
}

void Headset::AddChannelToMontage(Source* source) {
    if (!source) return;
    RefuseChangeInsideCallback(kChangeMontage);
    ReadLockGuard guard(*this);
    AddChannelToMontage(new Channel(*source, std::max<uint64_t>(SamplesFor(bufferDuration), 1)));
    FitSampleTimes();
}

void Headset::ForgetMontage() {
    RefuseChangeInsideCallback(kChangeMontage);
    ReadLockGuard guard(*this);
    ForgetCascade();
    chosenMontage.clear();
    montageSources.clear();
    for (Channel* channel : montage) delete channel;
    montage.clear();
}

unsigned int Headset::NumberOfChannels() const { return static_cast<unsigned int>(montage.size()); }

const std::vector<Channel*>& Headset::OutputChannels() const {
    return cascade.empty() ? montage : cascade.back()->channels;
}

Channel* Headset::GetChannelByIndex(unsigned int index) {
    const std::vector<Channel*>& channels = OutputChannels();
    if (index >= channels.size())
        throw Error("Channel index " + std::to_string(index) + " is out of range (" + std::to_string(channels.size()) +
                    " channels available)");
    return channels[index];
}

Channel* Headset::GetChannelByName(const std::string& name, bool throwIfMissing) {
    return ::GetChannelByName(OutputChannels(), name, throwIfMissing);
}

std::string Headset::MontageString(bool full) const {
    std::string out;
    for (size_t i = 0; i < montage.size(); ++i) {
        if (i) out += " ";
        out += montage[i]->String(full);
    }
    return out;
}

std::string Headset::ReferenceString() const {
    return chosenDefaultReference.empty() ? factoryReferenceName : chosenDefaultReference;
}

}  // namespace VOQ
