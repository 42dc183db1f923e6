#include "Description.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "voq/Text.h"

namespace voqlsl {

namespace {

std::string Text(const char* text) { return text ? std::string(text) : std::string(); }

// Takes the library's stored error; throws it, prefixed with `what`.
void CheckLibrary(const std::string& what) {
    const char* error = VOQ_ClearError();
    if (error) throw LslError(what + ": " + error);
}

// The name of the first source in a channel's text form: "-Fz+Pz*0.25"
// gives "Fz", "A1/2+A2/2" gives "A1".
std::string FirstSourceName(const std::string& text) {
    size_t begin = text.find_first_not_of("+-");
    if (begin == std::string::npos) return std::string();
    return text.substr(begin, text.find_first_of("+-*/", begin) - begin);
}

// The idealised 10-20 system on a sphere: the circle through Fpz, T3, Oz and
// T4 is the equator, Cz the pole; the 10 % and 20 % steps of the midline and
// of the coronal line are 22.5 and 45 degrees (Fpz to Oz spans 80 % of
// nasion to inion), those of the equator 18 and 36 degrees (5 % and 10 % of
// the circumference).  F3, F4, P3 and P4 lie midway between their
// neighbours on the equator and on the midline; the ear lobes level with
// the preauricular points, 22.5 degrees below the equator.
const double kHeadRadiusMm = 90.0;

struct Spherical {
    const char* names;   // the name and its 10-10 alias, separated by '/'
    double polar;        // degrees from the vertex
    double azimuth;      // degrees from the right ear towards the nose
};

const Spherical kElectrodes[] = {
    {"FPZ", 90, 90},  {"FP1", 90, 108}, {"FP2", 90, 72},   {"F7", 90, 144},  {"F8", 90, 36},
    {"T3/T7", 90, 180}, {"T4/T8", 90, 0}, {"T5/P7", 90, 216}, {"T6/P8", 90, 324}, {"O1", 90, 252},
    {"O2", 90, 288},  {"OZ", 90, 270},  {"FZ", 45, 90},    {"CZ", 0, 0},     {"PZ", 45, 270},
    {"C3", 45, 180},  {"C4", 45, 0},    {"A1", 112.5, 180}, {"A2", 112.5, 0},
};

struct Midway {
    const char* name;
    const char* a;
    const char* b;
};

const Midway kBetween[] = {{"F3", "F7", "FZ"}, {"F4", "F8", "FZ"}, {"P3", "T5", "PZ"}, {"P4", "T6", "PZ"}};

bool NameMatches(const char* names, const std::string& wanted) {
    const std::string all(names);
    const size_t slash = all.find('/');
    return all.substr(0, slash) == wanted || (slash != std::string::npos && all.substr(slash + 1) == wanted);
}

bool OnSphere(const std::string& upper, Position& p) {
    const double degree = std::acos(-1.0) / 180.0;
    for (const Spherical& e : kElectrodes) {
        if (!NameMatches(e.names, upper)) continue;
        const double polar = e.polar * degree, azimuth = e.azimuth * degree;
        p.x = kHeadRadiusMm * std::sin(polar) * std::cos(azimuth);
        p.y = kHeadRadiusMm * std::sin(polar) * std::sin(azimuth);
        p.z = kHeadRadiusMm * std::cos(polar);
        return true;
    }
    return false;
}

}  // namespace

bool ElectrodePosition(const std::string& name, Position& position) {
    const std::string upper = Upper(name);
    if (OnSphere(upper, position)) return true;
    for (const Midway& m : kBetween) {
        if (upper != m.name) continue;
        Position a, b;
        OnSphere(m.a, a);
        OnSphere(m.b, b);
        const double x = a.x + b.x, y = a.y + b.y, z = a.z + b.z;
        const double scale = kHeadRadiusMm / std::sqrt(x * x + y * y + z * z);
        position.x = x * scale;
        position.y = y * scale;
        position.z = z * scale;
        return true;
    }
    return false;
}

std::string ChannelReference(const std::string& text, const std::string& name,
                             const std::string& factoryReference) {
    if (name.empty() || text.compare(0, name.size(), name) != 0) return std::string();
    const std::string rest = text.substr(name.size());
    if (rest.empty()) return factoryReference;
    if (rest[0] != '-' && rest[0] != '+') return std::string();   // a weight: not a plain difference
    // Subtracting "-A1/2-A2/2" is adding "A1/2+A2/2": every sign between
    // terms turns (a sign inside a number such as 1e-3 stays).
    std::string reference;
    for (size_t i = 0; i < rest.size(); ++i) {
        char c = rest[i];
        const bool exponent = i >= 2 && (rest[i - 1] == 'e' || rest[i - 1] == 'E') &&
                              std::isdigit(static_cast<unsigned char>(rest[i - 2]));
        if ((c == '-' || c == '+') && !exponent) c = c == '-' ? '+' : '-';
        reference += c;
    }
    if (reference[0] == '+') reference.erase(0, 1);
    return reference;
}

StreamDescription DescribeHeadset(VOQ_Headset headset) {
    const std::string what = "cannot describe the headset for LSL";
    if (!headset) throw LslError(what + ": no headset");
    StreamDescription d;
    VOQ_ClearError();
    const int connected = VOQ_Headset_IsConnected(headset);
    CheckLibrary(what);
    if (!connected) throw LslError(what + ": the headset is not connected");
    d.serialNumber = VOQ_Headset_GetSerialNumber(headset);
    d.rate = VOQ_Headset_GetSamplingRate(headset);
    d.model = Text(VOQ_Headset_GetHardwareModel(headset));
    const std::string revision = Text(VOQ_Headset_GetHardwareRevision(headset));
    d.reference = Text(VOQ_Headset_GetReferenceString(headset));
    d.filtering = Text(VOQ_Headset_GetPrefiltering(headset));
    const std::string factoryReference = Text(VOQ_Headset_GetFactoryReferenceString(headset));
    const std::vector<std::string> axes = Split(Text(VOQ_Headset_GetSourceNames(headset, 0x03)));
    const unsigned count = VOQ_Headset_GetNumberOfChannels(headset);
    const unsigned stages = VOQ_Headset_GetNumberOfProcessingStages(headset);
    const unsigned outputs =
        stages > 0 ? VOQ_ProcessingStage_GetNumberOfChannels(VOQ_Headset_GetProcessingStageByIndex(headset, stages - 1))
                   : count;
    CheckLibrary(what);
    if (d.serialNumber == 0 || d.serialNumber == 0xFFFFFFFFu)
        throw LslError(what + ": the headset has not reported its serial number");
    if (!(d.rate > 0.0)) throw LslError(what + ": the headset has not reported its sampling rate");
    if (outputs == 0) throw LslError(what + ": the headset has no output channels (choose a montage)");
    if (!revision.empty() && revision != "???") d.model += " " + revision;

    const std::string serial = std::to_string(d.serialNumber);
    d.name = "VOQ " + serial;
    d.sourceId = "VOQ-" + serial;
    d.markersName = "VOQ " + serial + " markers";
    d.markersSourceId = "VOQ-" + serial + "-markers";

    std::string triggerName;
    const std::vector<std::string> all = Split(Text(VOQ_Headset_GetSourceNames(headset, 0x1FF)));
    if (std::find(all.begin(), all.end(), "TRG") != all.end()) {
        triggerName = Text(VOQ_Source_GetName(VOQ_Headset_GetSourceByName(headset, "TRG")));
        CheckLibrary(what);
    }

    for (unsigned i = 0; i < outputs; ++i) {
        VOQ_Channel channel = VOQ_Headset_GetChannelByIndex(headset, i);
        CheckLibrary(what);
        ChannelDescription c;
        c.label = Text(VOQ_Channel_GetName(channel));
        const std::string text = Text(VOQ_Channel_GetString(channel));
        const bool trigger = VOQ_Channel_IsTrigger(channel) != 0;
        const bool eeg = VOQ_Channel_IsReferentialEEG(channel) != 0;
        CheckLibrary(what);
        // The channel's first source tells what it carries, also for the
        // channels of a processing stage, which have no sources of their own
        // (a name that is no source's finds none).
        const std::string first = FirstSourceName(text.empty() ? c.label : text);
        VOQ_Source source = nullptr;
        if (std::find(all.begin(), all.end(), first) != all.end()) source = VOQ_Headset_GetSourceByName(headset, first.c_str());
        const bool sourceTrigger = source && VOQ_Source_IsTrigger(source);
        const bool sourceEEG = source && VOQ_Source_IsReferentialEEG(source);
        const bool sensor = source && VOQ_Source_IsSensor(source);
        CheckLibrary(what);
        if (trigger || sourceTrigger) {
            c.type = "TRG";
            c.unit = "none";
            if (d.triggerChannel < 0 && !triggerName.empty() && (text.empty() ? c.label : text) == triggerName)
                d.triggerChannel = static_cast<int>(i);
        } else if (eeg || sourceEEG) {
            c.type = "EEG";
            c.unit = "microvolts";
            c.reference = ChannelReference(text, c.label, factoryReference);
        } else if (sensor) {
            c.type = "AUX";
            c.unit = "microvolts";
        } else if (source && std::find(axes.begin(), axes.end(), first) != axes.end()) {
            // The accelerometer's own units: its time channel in seconds,
            // its axes in the sensor's counts.
            c.type = "ACC";
            c.unit = Upper(first) == "ACCT" ? "seconds" : "counts";
        } else {
            c.type = "AUX";
            c.unit = "none";
        }
        c.hasPosition = c.type == "EEG" && ElectrodePosition(c.label, c.position);
        d.channels.push_back(c);
    }
    return d;
}

}  // namespace voqlsl
