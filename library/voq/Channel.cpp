#include "voq/Channel.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "voq/Error.h"
#include "voq/Source.h"
#include "voq/Text.h"

namespace VOQ {

namespace {

// A positive finite number in plain decimal notation (never an exponent),
// with the fewest significant digits that read back to the same double.
std::string PlainDecimal(double value) {
    char text[64];
    for (int precision = 0; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*e", precision, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    // text is "d.ddde[+-]xx": collect the digits and the decimal exponent.
    std::string digits;
    const char* p = text;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits.push_back(*p);
    const int exponent = (*p == 'e') ? std::atoi(p + 1) : 0;
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out;
    if (exponent < 0) {
        out = "0." + std::string(size_t(-exponent - 1), '0') + digits;
    } else {
        const size_t integerDigits = size_t(exponent) + 1;
        if (digits.size() <= integerDigits) {
            out = digits + std::string(integerDigits - digits.size(), '0');
        } else {
            out = digits.substr(0, integerDigits) + "." + digits.substr(integerDigits);
        }
    }
    return out;
}

}  // namespace

Channel::Channel(Source& source, uint64_t capacity) : buffer(capacity ? capacity : 1) { Add(&source, 1.0); }

Channel::Channel(const std::string& n, uint64_t capacity) : name(n), buffer(capacity ? capacity : 1) {}

void Channel::Add(Source* source, double weight) {
    sources.push_back(source);
    weights.push_back(weight);
}

void Channel::Copy(const Channel& other) {
    const uint64_t capacity = other.buffer.Capacity();
    if (&other != this) {
        sources = other.sources;
        weights = other.weights;
        name = other.name;
    }
    buffer.Allocate(capacity);
}

std::string Channel::Name() const {
    if (!name.empty()) return name;
    const Source* source = MaxPositiveSource();
    return source ? source->name : std::string();
}

Source* Channel::MaxPositiveSource() const {
    Source* best = nullptr;
    double bestWeight = 0.0;
    for (size_t i = 0; i < sources.size(); ++i) {
        if (!sources[i]) continue;
        if (weights[i] > bestWeight) {
            bestWeight = weights[i];
            best = sources[i];
        }
    }
    return best;
}

// Terms whose source is null (none is ever stored by the montage) are left
// out of the text altogether.
std::string Channel::String(bool full) const {
    std::string out;
    for (size_t i = 0; i < sources.size(); ++i) {
        double w = weights[i];
        if (w == 0.0 || !sources[i]) continue;
        if (w < 0.0) {
            out += "-";
            w = -w;
        } else if (i > 0) {
            out += "+";
        }
        out += sources[i]->name;
        bool fraction = false;
        for (int n = 1; n <= 24 && !fraction; ++n) {
            for (int d = 1; d <= 24; ++d) {
                if (std::fabs(w * d - n) < 1e-10) {
                    if (n != 1) out += "*" + std::to_string(n);
                    if (d != 1) out += "/" + std::to_string(d);
                    fraction = true;
                    break;
                }
            }
        }
        if (!fraction) {
            // Written as a factor, so that the text reads back as the same
            // channel.
            out += "*" + (std::isfinite(w) ? PlainDecimal(w) : NumberString(w));
        } else if (!full) {
            break;
        }
    }
    return out;
}

bool Channel::AutoSwap(Source* replacement) {
    // Without a replacement there is nothing to put in place: keep the term.
    if (!replacement) return false;
    int positives = 0, negatives = 0;
    size_t firstPositive = 0, firstNegative = 0;
    for (size_t i = 0; i < weights.size(); ++i) {
        if (weights[i] > 0.0) {
            if (positives++ == 0) firstPositive = i;
        } else if (weights[i] < 0.0) {
            if (negatives++ == 0) firstNegative = i;
        }
    }
    if (positives != 1 || negatives < 1) return false;
    if (sources[firstPositive] != sources[firstNegative]) return false;
    sources[firstPositive] = replacement;
    return true;
}

// Null term sources are ignored: the channel is referential EEG when it has
// at least one real source and every real source is referential EEG.
bool Channel::IsReferentialEEG() const {
    bool any = false;
    for (const Source* source : sources) {
        if (!source) continue;
        if (!source->IsReferentialEEG()) return false;
        any = true;
    }
    return any;
}

bool Channel::IsTrigger() const {
    for (const Source* source : sources)
        if (source && source->IsTrigger()) return true;
    return false;
}

double Channel::LookBack(uint64_t n, bool strict) const {
    const uint64_t capacity = buffer.Capacity();
    if (n >= capacity)
        throw Error("cannot look back " + std::to_string(n) + " steps: buffer size is " + std::to_string(capacity));
    const uint64_t available = buffer.Buffered();
    if (n >= available) {
        if (strict)
            throw Error("cannot look back " + std::to_string(n) + " steps: " + std::to_string(available) +
                        " samples available");
        return 0.0;
    }
    if (!buffer.IsAllocated()) return 0.0;
    return buffer.LookBack(n);
}

}  // namespace VOQ

VOQ::Channel* GetChannelByName(const std::vector<VOQ::Channel*>& channels, const std::string& name,
                               bool throwIfMissing) {
    const std::string trimmed = Trim(name);
    const std::string key = Upper(trimmed);
    VOQ::Channel* found = nullptr;
    for (int pass = 1; pass <= 3 && !found; ++pass) {
        for (VOQ::Channel* channel : channels) {
            if (!channel) continue;
            bool match;
            if (pass < 3) {
                const VOQ::Source* source = channel->MaxPositiveSource();
                match = source && source->NameMatches(key, pass == 2);
            } else {
                match = Upper(Trim(channel->String(true))) == key;
            }
            if (match) found = channel;
        }
    }
    if (found || !throwIfMissing) return found;

    std::vector<const VOQ::Channel*> listed;
    for (const VOQ::Channel* channel : channels)
        if (channel) listed.push_back(channel);
    std::string known;
    for (size_t i = 0; i < listed.size(); ++i) {
        known += listed[i]->Name();
        if (!known.empty() && i + 1 < listed.size()) known += ", ";
    }
    throw VOQ::Error("Could not match Channel \"" + trimmed + "\" (known names are: " + known + ")");
}
