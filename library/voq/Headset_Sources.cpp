#include "voq/Headset.h"

namespace VOQ {

namespace {

// Delimiters of source-name and alias lists.
const char* const kListDelimiters = " \t\r\n,";

}  // namespace

Source* Headset::GetSourceByIndex(unsigned int index, bool allSources) {
    const std::vector<Source*>& list = allSources ? sources : montageSources;
    if (index >= list.size())
        throw Error("Source index " + std::to_string(index) + " is out of range (" + std::to_string(list.size()) +
                    " sources available)");
    return list[index];
}

unsigned int Headset::NumberOfMontageSources() const { return static_cast<unsigned int>(montageSources.size()); }

double Headset::ImpedanceCMF() const {
    double sum = 0.0;
    int count = 0;
    for (const Source* source : montageSources) {
        if (!source || !source->IsReferentialEEG() || source->gain == 0.0) continue;
        sum += source->impedanceCMF;
        ++count;
    }
    return count ? sum / count : 0.0;
}

Source* Headset::MatchSource(const std::string& name, bool mustMatch) {
    const std::string trimmed = Trim(name);
    std::string key = Upper(trimmed);

    // Numbers, optionally after "CH" or "SRC", are one-based positions.  A
    // number too large for an int is still a number (and out of range): it
    // never wraps round to a small one and never falls through to names.
    auto isNumber = [](const std::string& text) {
        const std::string t = Trim(text);
        return !t.empty() && t.find_first_not_of("0123456789") == std::string::npos;
    };
    if (key.size() >= 2 && key.compare(0, 2, "CH") == 0 && isNumber(key.substr(2))) {
        key = key.substr(2);
    } else if (key.size() >= 3 && key.compare(0, 3, "SRC") == 0 && isNumber(key.substr(3))) {
        key = key.substr(3);
    }
    if (isNumber(key)) {
        int number = 0;
        if (String2Integer(key, number) && number >= 1 && size_t(number) <= sources.size())
            return sources[size_t(number) - 1];
        const std::string digits = Trim(key);
        const size_t first = digits.find_first_not_of('0');
        throw Error("Invalid source number " + (first == std::string::npos ? std::string("0") : digits.substr(first)) +
                    " (use names, or numbers from 1 to " + std::to_string(sources.size()) + ").");
    }

    // Names first; aliases only when no name matches (so the second pass
    // need not compare the names again).
    for (int pass = 0; pass < 2; ++pass) {
        Source* candidate = nullptr;
        for (Source* source : sources) {
            if (source->code == SourceID::NR || source->code == SourceID::NC) continue;
            if (!(pass == 0 ? source->NameMatches(key, false) : source->AliasMatches(key))) continue;
            if (candidate && candidate != source)
                throw Error("The name \"" + trimmed + "\" matches more than one source.");
            candidate = source;
        }
        if (candidate) return candidate;
    }

    if (!mustMatch) return nullptr;
    if (Split(SourceNames(0x03), kListDelimiters).empty())
        throw Error("Failed to match desired source \"" + trimmed +
                    "\". Unfortunately, the flash memory of this headset contains no information about source IDs"
                    " - but you can still use numbers or strings like \"SRC01\" instead of names.");
    throw Error("Failed to match desired source \"" + trimmed + "\" - known names are: \"" + SourceNames(0x13B) +
                "\"");
}

Source* Headset::MatchSource(SourceID::Code code) {
    for (Source* source : sources)
        if (source->code == code) return source;
    return nullptr;
}

bool Headset::AddSourceAliases(const std::string& list) {
    ReadLockGuard guard(*this);
    const std::vector<std::string> items = Split(list, kListDelimiters);
    Source* target = nullptr;
    for (const std::string& item : items) {
        Source* source = MatchSource(item, false);
        if (!source) continue;
        if (target && source != target)
            throw Error("\"" + list + "\" matches more than one Source, and hence cannot be set as a list of aliases ");
        target = source;
    }
    if (!target) return false;

    for (const std::string& item : items) {
        const std::string alias = Trim(item);
        bool known = false;
        for (const std::string& existing : target->aliases)
            if (Similar(existing, alias)) known = true;
        if (!known) target->aliases.push_back(alias);
    }
    return true;
}

bool Headset::RenameSource(const std::string& from, const std::string& to) {
    ReadLockGuard guard(*this);
    Source* source = MatchSource(from, false);
    if (!source) return false;
    Source* holder = MatchSource(to, false);
    if (holder && holder != source)
        throw Error("cannot rename Source " + from + " to " + to + " because there is another Source already called " +
                    to);
    source->name = to;
    return true;
}

void Headset::UseNamingScheme(const std::string& scheme) {
    ReadLockGuard guard(*this);
    static const char* const kNames1020[4] = {"T3", "T4", "T5", "T6"};
    static const char* const kNames1010[4] = {"T7", "T8", "P7", "P8"};
    if (scheme == "1010" || scheme == "10-10") {
        for (int i = 0; i < 4; ++i) RenameSource(kNames1020[i], kNames1010[i]);
    } else if (scheme == "1020" || scheme == "10-20") {
        for (int i = 0; i < 4; ++i) RenameSource(kNames1010[i], kNames1020[i]);
    } else {
        throw Error("Unrecognized electrode naming scheme \"" + scheme + "\"");
    }
}

std::string Headset::SourceNames(uint16_t flags) const {
    std::string out;
    for (const Source* source : sources) {
        const int code = source->code;
        if ((code == SourceID::NR || code == SourceID::NC) && !(flags & 0x04)) continue;
        if (code == cmfLocation && !(flags & 0x08)) continue;
        if (code == SourceID::TRG && !(flags & 0x10)) continue;
        if ((code == SourceID::SND || code == SourceID::RCV) && !(flags & 0x20)) continue;
        if (code == SourceID::CM && !(flags & 0x40)) continue;
        if (code == SourceID::NUL && !(flags & 0x80)) continue;
        if (code >= SourceID::TRG0 && code <= SourceID::TRG7 && !(flags & 0x100)) continue;
        if (!out.empty()) out += " ";
        out += source->name;
    }
    return out;
}

}  // namespace VOQ
