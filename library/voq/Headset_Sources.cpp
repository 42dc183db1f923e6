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
    std::string error;
    Source* source = FindSource(name, mustMatch, error);
    if (!source && !error.empty()) throw Error(error);
    return source;
}

Source* Headset::FindSource(const std::string& name, bool mustMatch, std::string& error) {
    auto fail = [&error](std::string message) -> Source* {
        error = std::move(message);
        return nullptr;
    };
    const std::string trimmed = Trim(name);
    std::string key = Upper(trimmed);

    // Numbers, optionally after "CH" or "SRC", are one-based positions.  A
    // number too large for an int is still a number (and out of range): it
    // never wraps round to a small one and never falls through to names.
    // The key is trimmed: a number is digits from the first character after
    // the prefix and its whitespace to the end.
    auto numberAfter = [&key](size_t prefix) {
        const size_t start = key.find_first_not_of(VOQ_WHITESPACE, prefix);
        return start != std::string::npos && key.find_first_not_of("0123456789", start) == std::string::npos;
    };
    if (key.compare(0, 2, "CH") == 0 && numberAfter(2)) {
        key = Trim(key.substr(2));
    } else if (key.compare(0, 3, "SRC") == 0 && numberAfter(3)) {
        key = Trim(key.substr(3));
    }
    if (numberAfter(0)) {
        int number = 0;
        if (String2Integer(key, number) && number >= 1 && size_t(number) <= sources.size())
            return sources[size_t(number) - 1];
        const size_t first = key.find_first_not_of('0');
        return fail("Invalid source number " + (first == std::string::npos ? std::string("0") : key.substr(first)) +
                    " (use names, or numbers from 1 to " + std::to_string(sources.size()) + ").");
    }

    // Names first; aliases only when no name matches (so the second pass
    // need not compare the names again).  The key is trimmed and upper-cased
    // once here, not again for every name and alias; the comparison, which
    // rejects most sources, comes before the test of the source's kind.
    bool ambiguous = false;
    auto unique = [&](auto isKey) -> Source* {
        Source* candidate = nullptr;
        for (Source* source : sources) {
            if (!isKey(*source) || source->code == SourceID::NR || source->code == SourceID::NC) continue;
            if (candidate && candidate != source) {
                ambiguous = true;
                return nullptr;
            }
            candidate = source;
        }
        return candidate;
    };
    if (Source* byName = unique([&key](const Source& source) { return source.NameIsKey(key); })) return byName;
    if (!ambiguous)
        if (Source* byAlias = unique([&key](const Source& source) { return source.AliasIsKey(key); })) return byAlias;
    if (ambiguous) return fail("The name \"" + trimmed + "\" matches more than one source.");

    if (!mustMatch) return nullptr;
    if (!NamesKnown())
        return fail("Failed to match desired source \"" + trimmed +
                    "\". Unfortunately, the flash memory of this headset contains no information about source IDs"
                    " - but you can still use numbers or strings like \"SRC01\" instead of names.");
    return fail("Failed to match desired source \"" + trimmed + "\" - known names are: \"" + SourceNames(0x13B) +
                "\"");
}

Source* Headset::MatchSource(SourceID::Code code) {
    for (Source* source : sources)
        if (source->code == code) return source;
    return nullptr;
}

bool Headset::AddSourceAliases(const std::string& list) { return AddSourceAliases(list, Split(list, kListDelimiters)); }

bool Headset::AddSourceAliases(const std::string& list, const std::vector<std::string>& items) {
    ReadLockGuard guard(*this);
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

bool Headset::NamesKnown() const { return SourceNames(0x03).find_first_not_of(VOQ_WHITESPACE) != std::string::npos; }

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
