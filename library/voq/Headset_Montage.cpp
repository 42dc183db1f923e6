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

// The specification parsers report a bad term or source in `error` rather
// than throwing: a montage of many channels over a headset with ambiguous
// names would otherwise throw once per channel.
bool Headset::ParseTerm(const std::string& term, Term& parsed, std::string& error) {
    auto bad = [&] {
        error = BadTerm(term).what();
        return false;
    };
    const std::vector<std::string> quotient = Split(term, "/");
    if (quotient.empty() || quotient.size() > 2) return bad();
    const std::vector<std::string> product = Split(quotient[0], "*");
    if (product.empty() || product.size() > 2) return bad();

    std::string sourceName = product[0];
    Chomp(sourceName, "+");
    parsed.negative = Chomp(sourceName, "-");
    if (product.size() == 2) {
        parsed.scaled = true;
        if (!ReadNumber(product[1], parsed.factor)) return bad();
    }
    if (quotient.size() == 2) {
        parsed.divided = true;
        if (!ReadNumber(quotient[1], parsed.divisor) || parsed.divisor == 0.0) return bad();
    }
    parsed.source = FindSource(sourceName, true, error);
    return parsed.source != nullptr;
}

double Headset::Term::Weight(double base) const {
    double weight = negative ? -base : base;
    if (scaled) weight *= factor;
    if (divided) weight /= divisor;
    return weight;
}

bool Headset::ParseTerms(std::string specification, std::vector<Term>& terms, std::string& error) {
    specification = Trim(specification);
    while (!specification.empty()) {
        // A term runs up to the next sign after its first character.
        const size_t end = specification.find_first_of("+-", 1);
        terms.emplace_back();
        if (!ParseTerm(Trim(specification.substr(0, end)), terms.back(), error)) return false;
        specification = (end == std::string::npos) ? std::string() : Trim(specification.substr(end));
    }
    return true;
}

Channel* Headset::ConstructChannel(std::string specification, bool autoSwap) {
    ParsedReference reference;
    std::string error;
    Channel* channel = ConstructChannel(specification, autoSwap, reference, error);
    if (!channel) throw Error(error);
    return channel;
}

Channel* Headset::ConstructChannel(const std::string& specification, bool autoSwap, ParsedReference& reference,
                                   std::string& error) {
    ReadLockGuard guard(*this);
    std::unique_ptr<Channel> channel(new Channel(std::string(), std::max<uint64_t>(SamplesFor(bufferDuration), 1)));
    std::vector<Term> terms;
    if (!ParseTerms(specification, terms, error)) return nullptr;
    for (const Term& term : terms) channel->Add(term.source, term.Weight(1.0));
    if (channel->sources.size() != 1 || !channel->sources[0]->IsReferentialEEG()) return channel.release();

    // A single referential electrode: subtract the reference, scaled by the
    // electrode's weight.  (A montage of many channels parses it once.)
    if (!reference.parsed) {
        reference.failed = !ParseTerms(chosenDefaultReference.empty() ? factoryReferenceName : chosenDefaultReference,
                                       reference.terms, reference.error);
        reference.parsed = true;
    }
    if (reference.failed) {
        error = reference.error;
        return nullptr;
    }
    const double base = -channel->weights[0];
    for (const Term& term : reference.terms) channel->Add(term.source, term.Weight(base));

    if (autoSwap) {
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
    const bool namesKnown = NamesKnown();

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
    auto fail = [&errors](const char* message) {
        if (!errors.empty()) errors += "\n";
        errors += message;
    };
    ParsedReference defaultReference;
    for (const std::string& item : items) {
        try {
            std::string error;
            if (Channel* channel = ConstructChannel(item, autoSwap, defaultReference, error))
                AddChannelToMontage(channel);
            else
                fail(error.c_str());
        } catch (const std::exception& e) {
            fail(e.what());
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
