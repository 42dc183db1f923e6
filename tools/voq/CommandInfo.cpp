// `voq info`: the headset's identity, sources, montage and reference.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "Commands.h"
#include "Format.h"
#include "Session.h"
#include "voq/Text.h"

namespace voqtool {

namespace {

// The library's text, copied, or a ToolError with its message.
std::string Text(const char* text) {
    ThrowIfLibraryFailed("");
    return text != nullptr ? text : "";
}

// `sensorOrAxis`: listed among the sensors and accelerometer axes.
const char* Role(VOQ_Source s, bool sensorOrAxis) {
    if (VOQ_Source_IsFactoryReference(s)) return "factory reference (no signal of its own)";
    if (VOQ_Source_IsCommonModeSignal(s)) return "common-mode signal";
    if (VOQ_Source_IsTrigger(s)) return "trigger";
    if (VOQ_Source_IsReferentialEEG(s)) return "EEG electrode";
    if (VOQ_Source_IsSensor(s)) return "auxiliary sensor";
    if (sensorOrAxis) return "accelerometer";
    return "other";
}

// Sources listed: the sensors, the factory reference, the trigger byte and
// the common-mode signal.
const int kSensorsAndAxes = 0x03;
const int kListedSources = kSensorsAndAxes | 0x08 | 0x10 | 0x40;

}  // namespace

int RunInfo(const Options& options, Session& session) {
    session.Connect();
    VOQ_Headset h = session.Headset();
    Style style(UseColour(options.common.colour, STDOUT_FILENO));

    VOQ_ClearError();
    std::string info = Text(VOQ_Headset_GetInfoString(h));
    std::string names = Text(VOQ_Headset_GetSourceNames(h, kListedSources));
    std::vector<std::string> sensorsAndAxes = Split(Text(VOQ_Headset_GetSourceNames(h, kSensorsAndAxes)));
    std::string reference = Text(VOQ_Headset_GetReferenceString(h));
    std::string factoryReference = Text(VOQ_Headset_GetFactoryReferenceString(h));

    std::set<VOQ_Source> inMontage;
    unsigned int montageSources = VOQ_Headset_GetNumberOfSources(h);
    for (unsigned int i = 0; i < montageSources; ++i) inMontage.insert(VOQ_Headset_GetSourceByIndex(h, i));
    ThrowIfLibraryFailed("");

    std::string out;
    out += style.Bold("Headset on " + session.Port() + (session.Simulated() ? " (simulated)" : "")) + "\n";
    out += info + "\n\n";

    out += style.Bold("Sources") + "\n";
    out += Format("  %-8s %-40s %9s  %s\n", "name", "role", "gain", "in montage");
    for (const std::string& name : Split(names)) {
        VOQ_ClearError();
        VOQ_Source s = VOQ_Headset_GetSourceByName(h, name.c_str());
        ThrowIfLibraryFailed("");
        bool sensorOrAxis =
            std::find(sensorsAndAxes.begin(), sensorsAndAxes.end(), name) != sensorsAndAxes.end();
        out += Format("  %-8s %-40s %9.4g  %s\n", name.c_str(), Role(s, sensorOrAxis), VOQ_Source_GetGain(s),
                      inMontage.count(s) != 0 ? "yes" : "no");
    }

    unsigned int channels = VOQ_Headset_GetNumberOfChannels(h);
    out += "\n" + style.Bold("Montage") + Format(" (%u channels)\n", channels);
    for (unsigned int i = 0; i < channels; ++i) {
        VOQ_ClearError();
        VOQ_Channel c = VOQ_Headset_GetChannelByIndex(h, i);
        ThrowIfLibraryFailed("");
        std::string name = Text(VOQ_Channel_GetName(c));
        std::string spec = Text(VOQ_Channel_GetString(c));
        out += Format("  %-8s %s\n", name.c_str(), spec.c_str());
    }
    out += "\n" + style.Bold("Reference") + " " + reference;
    if (reference != factoryReference) out += " (factory reference: " + factoryReference + ")";
    out += "\n";

    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
    return kExitOK;
}

}  // namespace voqtool
