// Every export of the public header called with NULL handles and NULL
// texts: each must fail (or succeed) without crashing, store the documented
// error text, call the error callback once at level 1 with it, and return
// its documented error value.  The test reads the header itself, so that an
// export added to it without a line in this table fails the test, and it
// checks the table's "-1" error values against the header's comments.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Simulator.h"
#include "VOQ.h"
#include "VOQ_API.h"

namespace {

const char* const kHeadset = "NULL Headset pointer";
const char* const kSource = "NULL Source pointer";
const char* const kChannel = "NULL Channel pointer";
const char* const kStage = "NULL ProcessingStage pointer";
const char* const kNone = nullptr;

// A returned value as text: "NULL", "non-NULL", a whole number, "void".
std::string Of(const void* p) { return p ? "non-NULL" : "NULL"; }
std::string Of(double v) { return v == double(long(v)) ? std::to_string(long(v)) : "other:" + std::to_string(v); }
std::string Of(int v) { return std::to_string(v); }
std::string Of(unsigned v) { return std::to_string(v); }
// size_t is unsigned long on 64-bit systems and unsigned int on 32-bit ones.
[[maybe_unused]] std::string Of(unsigned long v) { return std::to_string(v); }
std::string Void() { return "void"; }

struct Case {
    const char* name;
    const char* error;     // the stored error text, or kNone for success
    const char* value;     // the returned value as Of() writes it
    std::function<std::string()> call;
};

std::vector<Case> Cases() {
    return {
    // Frame and general functions (no handle).
    {"Load_VOQ_API", kNone, "0", [] { return Of(Load_VOQ_API()); }},
    {"VOQ_Error", kNone, "NULL", [] { return Of(VOQ_Error()); }},
    {"VOQ_ClearError", kNone, "NULL", [] { return Of(VOQ_ClearError()); }},
    {"VOQ_SetErrorCallback", kNone, "void", [] { VOQ_SetErrorCallback(nullptr); return Void(); }},
    {"VOQ_SanityCheck", kNone, "void", [] { VOQ_SanityCheck(); return Void(); }},
    {"VOQ_GetAPIVersion", kNone, "non-NULL", [] { return Of(VOQ_GetAPIVersion()); }},
    {"VOQ_PythonString", kNone, "non-NULL", [] { return Of(VOQ_PythonString(nullptr, 0, 0)); }},
    {"VOQ_PythonString", "NULL data pointer", "NULL", [] { return Of(VOQ_PythonString(nullptr, 4, 1)); }},
    {"VOQ_Sleep", kNone, "void", [] { VOQ_Sleep(0.0); return Void(); }},
    {"VOQ_Console", kNone, "5", [] { return Of(VOQ_Console(nullptr, 5)); }},
    {"VOQ_GetDefaultPort", kNone, "non-NULL", [] { return Of(VOQ_GetDefaultPort()); }},
    {"VOQ_Headset_New", kNone, "non-NULL", [] {
         VOQ_Headset h = VOQ_Headset_New(nullptr);   // NULL: deferred, not connected
         std::string value = Of(static_cast<const void*>(h));
         if (h && VOQ_Headset_IsConnected(h) != 0) value = "connected";
         VOQ_Headset_Delete(h);
         return value;
     }},
    // Everything that takes a handle, with a NULL handle.
    {"VOQ_Headset_Delete", kHeadset, "void", [] { VOQ_Headset_Delete(nullptr); return Void(); }},
    {"VOQ_Headset_Connect", kHeadset, "void", [] { VOQ_Headset_Connect(nullptr, nullptr); return Void(); }},
    {"VOQ_Headset_Disconnect", kHeadset, "void", [] { VOQ_Headset_Disconnect(nullptr); return Void(); }},
    {"VOQ_Headset_IsConnected", kHeadset, "0", [] { return Of(VOQ_Headset_IsConnected(nullptr)); }},
    {"VOQ_Headset_SecondsSinceConnection", kHeadset, "-1", [] { return Of(VOQ_Headset_SecondsSinceConnection(nullptr)); }},
    {"VOQ_Headset_GetPort", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetPort(nullptr)); }},
    {"VOQ_Headset_IsBlueToothInitialized", kHeadset, "0", [] { return Of(VOQ_Headset_IsBlueToothInitialized(nullptr)); }},
    {"VOQ_Headset_SetVerbosity", kHeadset, "void", [] { VOQ_Headset_SetVerbosity(nullptr, 0); return Void(); }},
    {"VOQ_Headset_SetMessageCallback", kHeadset, "void", [] { VOQ_Headset_SetMessageCallback(nullptr, nullptr); return Void(); }},
    {"VOQ_Headset_UseOptionalCommandPrefix", kHeadset, "void", [] { VOQ_Headset_UseOptionalCommandPrefix(nullptr, 0); return Void(); }},
    {"VOQ_Headset_KillDataStream", kHeadset, "void", [] { VOQ_Headset_KillDataStream(nullptr, 0); return Void(); }},
    {"VOQ_Headset_ConfigureADC", kHeadset, "void", [] { VOQ_Headset_ConfigureADC(nullptr, 0, 0); return Void(); }},
    {"VOQ_Headset_SetAccelerometerRate", kHeadset, "void", [] { VOQ_Headset_SetAccelerometerRate(nullptr, 0); return Void(); }},
    {"VOQ_Headset_SendBatteryQuery", kHeadset, "void", [] { VOQ_Headset_SendBatteryQuery(nullptr); return Void(); }},
    {"VOQ_Headset_StartDataAcquisition", kHeadset, "void", [] { VOQ_Headset_StartDataAcquisition(nullptr); return Void(); }},
    {"VOQ_Headset_StopDataAcquisition", kHeadset, "void", [] { VOQ_Headset_StopDataAcquisition(nullptr); return Void(); }},
    {"VOQ_Headset_StartImpedanceDriver", kHeadset, "void", [] { VOQ_Headset_StartImpedanceDriver(nullptr); return Void(); }},
    {"VOQ_Headset_StopImpedanceDriver", kHeadset, "void", [] { VOQ_Headset_StopImpedanceDriver(nullptr); return Void(); }},
    {"VOQ_Headset_StartAnalogReset", kHeadset, "void", [] { VOQ_Headset_StartAnalogReset(nullptr); return Void(); }},
    {"VOQ_Headset_LockAnalogReset", kHeadset, "void", [] { VOQ_Headset_LockAnalogReset(nullptr); return Void(); }},
    {"VOQ_Headset_ReleaseAnalogReset", kHeadset, "void", [] { VOQ_Headset_ReleaseAnalogReset(nullptr); return Void(); }},
    {"VOQ_Headset_Shutdown", kHeadset, "void", [] { VOQ_Headset_Shutdown(nullptr); return Void(); }},
    {"VOQ_Headset_ChangeLEDs", kHeadset, "void", [] { VOQ_Headset_ChangeLEDs(nullptr, 0); return Void(); }},
    {"VOQ_Headset_GetHardwareModel", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetHardwareModel(nullptr)); }},
    {"VOQ_Headset_GetHardwareRevision", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetHardwareRevision(nullptr)); }},
    {"VOQ_Headset_GetSensorCount", kHeadset, "0", [] { return Of(VOQ_Headset_GetSensorCount(nullptr)); }},
    {"VOQ_Headset_GetSerialNumber", kHeadset, "0", [] { return Of(VOQ_Headset_GetSerialNumber(nullptr)); }},
    {"VOQ_Headset_GetSamplingRate", kHeadset, "-1", [] { return Of(VOQ_Headset_GetSamplingRate(nullptr)); }},
    {"VOQ_Headset_GetAccelerometerRate", kHeadset, "-1", [] { return Of(VOQ_Headset_GetAccelerometerRate(nullptr)); }},
    {"VOQ_Headset_GetFilterMode", kHeadset, "-1", [] { return Of(VOQ_Headset_GetFilterMode(nullptr)); }},
    {"VOQ_Headset_GetDataAcquisitionMode", kHeadset, "-1", [] { return Of(VOQ_Headset_GetDataAcquisitionMode(nullptr)); }},
    {"VOQ_Headset_GetImpedanceDriverMode", kHeadset, "-1", [] { return Of(VOQ_Headset_GetImpedanceDriverMode(nullptr)); }},
    {"VOQ_Headset_GetAnalogResetMode", kHeadset, "-1", [] { return Of(VOQ_Headset_GetAnalogResetMode(nullptr)); }},
    {"VOQ_Headset_GetAlarm", kHeadset, "0", [] { return Of(VOQ_Headset_GetAlarm(nullptr, 0)); }},
    {"VOQ_Headset_GetNumberOfAlarms", kHeadset, "0", [] { return Of(VOQ_Headset_GetNumberOfAlarms(nullptr)); }},
    {"VOQ_Headset_ClearAlarms", kHeadset, "void", [] { VOQ_Headset_ClearAlarms(nullptr); return Void(); }},
    {"VOQ_Headset_GetBatteryLevel", kHeadset, "-1", [] { return Of(VOQ_Headset_GetBatteryLevel(nullptr, 0)); }},
    {"VOQ_Headset_GetBatteryLevelString", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetBatteryLevelString(nullptr)); }},
    {"VOQ_Headset_GetFirmwareRevision", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetFirmwareRevision(nullptr)); }},
    {"VOQ_Headset_GetInfoString", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetInfoString(nullptr)); }},
    {"VOQ_Headset_GetNumberOfSources", kHeadset, "0", [] { return Of(VOQ_Headset_GetNumberOfSources(nullptr)); }},
    {"VOQ_Headset_GetSourceByIndex", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetSourceByIndex(nullptr, 0)); }},
    {"VOQ_Headset_GetSourceByName", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetSourceByName(nullptr, nullptr)); }},
    {"VOQ_Headset_GetImpedanceCMF", kHeadset, "0", [] { return Of(VOQ_Headset_GetImpedanceCMF(nullptr)); }},
    {"VOQ_Source_IsTrigger", kSource, "0", [] { return Of(VOQ_Source_IsTrigger(nullptr)); }},
    {"VOQ_Source_IsSensor", kSource, "0", [] { return Of(VOQ_Source_IsSensor(nullptr)); }},
    {"VOQ_Source_IsReferentialEEG", kSource, "0", [] { return Of(VOQ_Source_IsReferentialEEG(nullptr)); }},
    {"VOQ_Source_IsFactoryReference", kSource, "0", [] { return Of(VOQ_Source_IsFactoryReference(nullptr)); }},
    {"VOQ_Source_IsCommonModeSignal", kSource, "0", [] { return Of(VOQ_Source_IsCommonModeSignal(nullptr)); }},
    {"VOQ_Source_SetName", kSource, "void", [] { VOQ_Source_SetName(nullptr, nullptr); return Void(); }},
    {"VOQ_Source_GetName", kSource, "NULL", [] { return Of(VOQ_Source_GetName(nullptr)); }},
    {"VOQ_Source_GetSignal", kSource, "0", [] { return Of(VOQ_Source_GetSignal(nullptr)); }},
    {"VOQ_Source_GetGain", kSource, "0", [] { return Of(VOQ_Source_GetGain(nullptr)); }},
    {"VOQ_Source_GetImpedanceEEG", kSource, "0", [] { return Of(VOQ_Source_GetImpedanceEEG(nullptr)); }},
    {"VOQ_Source_GetImpedanceCMF", kSource, "0", [] { return Of(VOQ_Source_GetImpedanceCMF(nullptr)); }},
    {"VOQ_Source_GetDCOffset", kSource, "0", [] { return Of(VOQ_Source_GetDCOffset(nullptr)); }},
    {"VOQ_Headset_UseNamingScheme", kHeadset, "void", [] { VOQ_Headset_UseNamingScheme(nullptr, nullptr); return Void(); }},
    {"VOQ_Headset_RenameSource", kHeadset, "0", [] { return Of(VOQ_Headset_RenameSource(nullptr, nullptr, nullptr)); }},
    {"VOQ_Headset_AddSourceAliases", kHeadset, "0", [] { return Of(VOQ_Headset_AddSourceAliases(nullptr, nullptr)); }},
    {"VOQ_Headset_GetSourceNames", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetSourceNames(nullptr, 0)); }},
    {"VOQ_Headset_ChooseChannels", kHeadset, "void", [] { VOQ_Headset_ChooseChannels(nullptr, nullptr, nullptr, 0); return Void(); }},
    {"VOQ_Headset_AddChannelToMontage_FromSource", kHeadset, "void", [] { VOQ_Headset_AddChannelToMontage_FromSource(nullptr, nullptr); return Void(); }},
    {"VOQ_Headset_AddChannelToMontage_FromString", kHeadset, "void", [] { VOQ_Headset_AddChannelToMontage_FromString(nullptr, nullptr, 0); return Void(); }},
    {"VOQ_Headset_SetTraditionalReference", kHeadset, "NULL", [] { return Of(VOQ_Headset_SetTraditionalReference(nullptr, 0)); }},
    {"VOQ_Headset_SetDefaultReference", kHeadset, "void", [] { VOQ_Headset_SetDefaultReference(nullptr, nullptr, 0); return Void(); }},
    {"VOQ_Headset_GetFactoryReferenceString", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetFactoryReferenceString(nullptr)); }},
    {"VOQ_Headset_GetReferenceString", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetReferenceString(nullptr)); }},
    {"VOQ_Headset_ForgetMontage", kHeadset, "void", [] { VOQ_Headset_ForgetMontage(nullptr); return Void(); }},
    {"VOQ_Headset_GetNumberOfChannels", kHeadset, "0", [] { return Of(VOQ_Headset_GetNumberOfChannels(nullptr)); }},
    {"VOQ_Headset_GetChannelByIndex", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetChannelByIndex(nullptr, 0)); }},
    {"VOQ_Headset_GetChannelByName", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetChannelByName(nullptr, nullptr)); }},
    {"VOQ_Headset_GetMontageString", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetMontageString(nullptr)); }},
    {"VOQ_Channel_LookBack", kChannel, "0", [] { return Of(VOQ_Channel_LookBack(nullptr, 0)); }},
    {"VOQ_Channel_ReadBuffered", kChannel, "0", [] { return Of(VOQ_Channel_ReadBuffered(nullptr)); }},
    {"VOQ_Channel_GetNumberOfBufferedSamples", kChannel, "0", [] { return Of(VOQ_Channel_GetNumberOfBufferedSamples(nullptr)); }},
    {"VOQ_Channel_GetNumberOfOverflowedSamples", kChannel, "0", [] { return Of(VOQ_Channel_GetNumberOfOverflowedSamples(nullptr)); }},
    {"VOQ_Channel_GetBufferCapacity", kChannel, "0", [] { return Of(VOQ_Channel_GetBufferCapacity(nullptr)); }},
    {"VOQ_Channel_FlushOutputBuffer", kChannel, "void", [] { VOQ_Channel_FlushOutputBuffer(nullptr); return Void(); }},
    {"VOQ_Channel_SetName", kChannel, "void", [] { VOQ_Channel_SetName(nullptr, nullptr); return Void(); }},
    {"VOQ_Channel_GetName", kChannel, "NULL", [] { return Of(VOQ_Channel_GetName(nullptr)); }},
    {"VOQ_Channel_GetString", kChannel, "NULL", [] { return Of(VOQ_Channel_GetString(nullptr)); }},
    {"VOQ_Channel_GetSignal", kChannel, "0", [] { return Of(VOQ_Channel_GetSignal(nullptr)); }},
    {"VOQ_Channel_CalculateRawSignal", kChannel, "0", [] { return Of(VOQ_Channel_CalculateRawSignal(nullptr)); }},
    {"VOQ_Channel_IsReferentialEEG", kChannel, "0", [] { return Of(VOQ_Channel_IsReferentialEEG(nullptr)); }},
    {"VOQ_Channel_IsTrigger", kChannel, "0", [] { return Of(VOQ_Channel_IsTrigger(nullptr)); }},
    {"VOQ_Headset_AddProcessingStage", kHeadset, "NULL", [] { return Of(VOQ_Headset_AddProcessingStage(nullptr, nullptr, nullptr, nullptr, nullptr)); }},
    {"VOQ_Headset_ReallocateStageBuffers", kHeadset, "void", [] { VOQ_Headset_ReallocateStageBuffers(nullptr, nullptr, 0); return Void(); }},
    {"VOQ_Headset_GetNumberOfProcessingStages", kHeadset, "0", [] { return Of(VOQ_Headset_GetNumberOfProcessingStages(nullptr)); }},
    {"VOQ_Headset_GetProcessingStageByIndex", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetProcessingStageByIndex(nullptr, 0)); }},
    {"VOQ_Headset_GetProcessingStageByName", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetProcessingStageByName(nullptr, nullptr)); }},
    {"VOQ_ProcessingStage_GetChannelByIndex", kStage, "NULL", [] { return Of(VOQ_ProcessingStage_GetChannelByIndex(nullptr, 0)); }},
    {"VOQ_ProcessingStage_GetChannelByName", kStage, "NULL", [] { return Of(VOQ_ProcessingStage_GetChannelByName(nullptr, nullptr)); }},
    {"VOQ_ProcessingStage_ClearChannels", kStage, "void", [] { VOQ_ProcessingStage_ClearChannels(nullptr); return Void(); }},
    {"VOQ_ProcessingStage_AddChannel", kStage, "NULL", [] { return Of(VOQ_ProcessingStage_AddChannel(nullptr, nullptr, 0)); }},
    {"VOQ_ProcessingStage_GetInput", kStage, "NULL", [] { return Of(VOQ_ProcessingStage_GetInput(nullptr)); }},
    {"VOQ_ProcessingStage_GetName", kStage, "NULL", [] { return Of(VOQ_ProcessingStage_GetName(nullptr)); }},
    {"VOQ_ProcessingStage_ParamData", kStage, "NULL", [] { return Of(VOQ_ProcessingStage_ParamData(nullptr)); }},
    {"VOQ_ProcessingStage_GetNumberOfChannels", kStage, "0", [] { return Of(VOQ_ProcessingStage_GetNumberOfChannels(nullptr)); }},
    {"VOQ_ProcessingStage_Read", kStage, "0", [] { return Of(VOQ_ProcessingStage_Read(nullptr, 0, 0)); }},
    {"VOQ_ProcessingStage_Write", kStage, "void", [] { VOQ_ProcessingStage_Write(nullptr, 0, 0); return Void(); }},
    {"VOQ_Headset_AddFilter", kHeadset, "NULL", [] { return Of(VOQ_Headset_AddFilter(nullptr, nullptr, nullptr, nullptr)); }},
    {"VOQ_Headset_GetPrefiltering", kHeadset, "NULL", [] { return Of(VOQ_Headset_GetPrefiltering(nullptr)); }},
    {"VOQ_Filter_Apply", "empty filter text: write for example \"bandpass 1 40; notch 50\"", "0", [] { return Of(VOQ_Filter_Apply(nullptr, 300, nullptr, 0, 0, nullptr)); }},
    {"VOQ_Headset_SetSampleCallback", kHeadset, "void", [] { VOQ_Headset_SetSampleCallback(nullptr, nullptr, nullptr); return Void(); }},
    {"VOQ_Headset_ReallocateBuffers", kHeadset, "void", [] { VOQ_Headset_ReallocateBuffers(nullptr, 0, 0); return Void(); }},
    {"VOQ_Headset_FlushBuffers", kHeadset, "void", [] { VOQ_Headset_FlushBuffers(nullptr); return Void(); }},
    {"VOQ_Headset_GetNumberOfBufferedSamples", kHeadset, "0", [] { return Of(VOQ_Headset_GetNumberOfBufferedSamples(nullptr)); }},
    {"VOQ_Headset_GetNumberOfOverflowedSamples", kHeadset, "0", [] { return Of(VOQ_Headset_GetNumberOfOverflowedSamples(nullptr)); }},
    {"VOQ_Headset_ConfigureBufferingController", kHeadset, "void", [] { VOQ_Headset_ConfigureBufferingController(nullptr, 0, 0, 0, 0, 0); return Void(); }},
    {"VOQ_Headset_ConfigureBatch", kHeadset, "void", [] { VOQ_Headset_ConfigureBatch(nullptr, 0, 0); return Void(); }},
    {"VOQ_Headset_StartBackgroundAcquisition", kHeadset, "0", [] { return Of(VOQ_Headset_StartBackgroundAcquisition(nullptr)); }},
    {"VOQ_Headset_StopBackgroundAcquisition", kHeadset, "void", [] { VOQ_Headset_StopBackgroundAcquisition(nullptr); return Void(); }},
    {"VOQ_Headset_WaitForBatch", kHeadset, "0", [] { return Of(VOQ_Headset_WaitForBatch(nullptr)); }},
    {"VOQ_Headset_WaitForSamples", kHeadset, "0", [] { return Of(VOQ_Headset_WaitForSamples(nullptr, 0)); }},
    {"VOQ_Headset_Idle", kHeadset, "void", [] { VOQ_Headset_Idle(nullptr, 0); return Void(); }},
    {"VOQ_Headset_Receive", kHeadset, "void", [] { VOQ_Headset_Receive(nullptr, 0, 0); return Void(); }},
    {"VOQ_HostClock", kNone, "later", [] { return VOQ_HostClock() > 0.0 ? std::string("later") : std::string("not"); }},
    {"VOQ_Headset_GetSampleTime", kHeadset, "-1", [] { return Of(VOQ_Headset_GetSampleTime(nullptr)); }},
    {"VOQ_Headset_GetSampleTimes", kHeadset, "0", [] { double t = 0; return Of(VOQ_Headset_GetSampleTimes(nullptr, &t, 1)); }},
    {"VOQ_Headset_GetCallbackSampleTime", kHeadset, "-1", [] { return Of(VOQ_Headset_GetCallbackSampleTime(nullptr)); }},
    {"VOQ_Headset_SetReconnect", kHeadset, "void", [] { VOQ_Headset_SetReconnect(nullptr, 1); return Void(); }},
    {"VOQ_Headset_GetReconnect", kHeadset, "-1", [] { return Of(VOQ_Headset_GetReconnect(nullptr)); }},
    {"VOQ_Headset_IsLinkUp", kHeadset, "0", [] { return Of(VOQ_Headset_IsLinkUp(nullptr)); }},
    {"VOQ_Headset_GetLinkEvent", kHeadset, "0", [] { return Of(VOQ_Headset_GetLinkEvent(nullptr, nullptr, nullptr, nullptr)); }},
    };
}

std::vector<std::pair<std::string, int>> gCallbacks;
int RecordError(const char* message, int level) {
    gCallbacks.emplace_back(message ? message : "(null)", level);
    return 0;
}

std::string HeaderText() {
    std::ifstream file(VOQ_API_HEADER);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Export name -> the declaration (with its comment on the same line) and the
// comment block just before it.
std::map<std::string, std::string> HeaderExports() {
    const std::string header = "\n" + HeaderText();
    std::map<std::string, std::string> exports;
    const std::regex declaration(R"(\nVOQ_EXPORT\s[^;]*?\b(VOQ_\w+|Load_VOQ_API)\s*\([^;]*;[^\n]*)");
    size_t previousEnd = 0;
    for (std::sregex_iterator it(header.begin(), header.end(), declaration), end; it != end; ++it) {
        const size_t start = size_t(it->position(0));
        std::string before = header.substr(previousEnd, start - previousEnd);
        const size_t lastBlank = before.rfind("\n\n");
        if (lastBlank != std::string::npos) before = before.substr(lastBlank);
        exports[(*it)[1]] = before + it->str(0);
        previousEnd = start + size_t(it->length(0));
    }
    return exports;
}

}  // namespace

TEST(NullArguments, TableCoversEveryExportOfTheHeader) {
    const std::map<std::string, std::string> exports = HeaderExports();
    ASSERT_GT(exports.size(), 100u) << "could not read " << VOQ_API_HEADER;
    std::set<std::string> tested;
    for (const Case& c : Cases()) tested.insert(c.name);
    for (const auto& entry : exports) EXPECT_TRUE(tested.count(entry.first)) << "not in the table: " << entry.first;
    for (const std::string& name : tested) EXPECT_TRUE(exports.count(name)) << "not in the header: " << name;
}

TEST(NullArguments, ErrorValuesMatchTheHeader) {
    // An export whose comment names -1 as its error value returns -1; every
    // other one returns NULL, 0 or nothing.
    const std::map<std::string, std::string> exports = HeaderExports();
    for (const Case& c : Cases()) {
        if (!c.error || !exports.count(c.name)) continue;
        const std::string& text = exports.at(c.name);
        const bool minusOne = std::regex_search(text, std::regex(R"(-1(\.0)? on error)"));
        EXPECT_EQ(std::string(c.value) == "-1", minusOne) << c.name << ":\n" << text;
    }
}

TEST(NullArguments, EveryExportFailsCleanly) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        VOQ_ClearError();
        gCallbacks.clear();
        VOQ_SetErrorCallback(&RecordError);
        const std::string value = c.call();
        VOQ_SetErrorCallback(&RecordError);
        const char* stored = VOQ_Error();
        EXPECT_EQ(value, c.value);
        if (c.error) {
            ASSERT_NE(stored, nullptr);
            EXPECT_STREQ(stored, c.error);
            ASSERT_EQ(gCallbacks.size(), 1u);
            EXPECT_EQ(gCallbacks[0].first, c.error);
            EXPECT_EQ(gCallbacks[0].second, 1);
        } else {
            EXPECT_EQ(stored, nullptr) << stored;
            EXPECT_TRUE(gCallbacks.empty());
        }
    }
    VOQ_SetErrorCallback(nullptr);
    VOQ_ClearError();
}

TEST(NullArguments, AStoredErrorOutlivesSuccessfulCalls) {
    VOQ_ClearError();
    VOQ_Headset_GetPort(nullptr);
    const char* stored = VOQ_Error();
    ASSERT_NE(stored, nullptr);
    // Successful calls, including 40 returned texts, leave it alone.
    VOQ_Headset h = VOQ_Headset_New(nullptr);
    for (int k = 0; k < 40; ++k) VOQ_Headset_GetInfoString(h);
    VOQ_Headset_Delete(h);
    EXPECT_EQ(VOQ_Error(), stored);
    EXPECT_STREQ(VOQ_Error(), kHeadset);
    EXPECT_STREQ(VOQ_ClearError(), kHeadset);
    EXPECT_EQ(VOQ_Error(), nullptr);
}

// ---------------------------------------------------------------------------
// NULL texts with good handles: the same as "" in every way that shows.

namespace {

// A headset on the fake-data hook with the simulator's standard calibration
// image: sources, the factory montage with its "raw" stage, and a stage of
// the caller's.
struct Subject {
    Subject() : headset(new VOQ::Headset("deferred")) {
        headset->SetMessageCallback(nullptr);
        headset->AttachFakeData();
        const voqsim::Image image = voqsim::LayoutImage("standard24");
        headset->InterpretCalibrationMemory(image.data());
        headset->ChooseChannels("FACTORY", "FACTORY", false);
        h = reinterpret_cast<VOQ_Headset>(headset.get());
        source = reinterpret_cast<VOQ_Source>(headset->Sources()[3]);
        channel = VOQ_Headset_GetChannelByIndex(h, 0);
        // A stage of the caller's (it owns its channels; "raw" borrows the
        // montage's).
        stage = VOQ_Headset_AddProcessingStage(h, "mine", nullptr, nullptr, nullptr);
    }
    std::unique_ptr<VOQ::Headset> headset;
    VOQ_Headset h = nullptr;
    VOQ_Source source = nullptr;
    VOQ_Channel channel = nullptr;
    VOQ_ProcessingStage stage = nullptr;
};

struct TextCase {
    const char* name;
    // Calls the export with `text` as every text argument; returns the value.
    std::function<std::string(Subject&, const char* text)> call;
};

std::string Stored() {
    const char* error = VOQ_ClearError();
    return error ? error : "(none)";
}

}  // namespace

TEST(NullArguments, NullTextsCountAsEmptyTexts) {
    const std::vector<TextCase> cases = {
        {"VOQ_Console", [](Subject&, const char* t) { return Of(VOQ_Console(t, 6)); }},
        {"VOQ_Headset_Connect", [](Subject& s, const char* t) { VOQ_Headset_Connect(s.h, t); return Void(); }},
        {"VOQ_Source_SetName",
         [](Subject& s, const char* t) {
             VOQ_Source_SetName(s.source, t);
             return std::string(VOQ_Source_GetName(s.source));
         }},
        {"VOQ_Headset_GetSourceByName", [](Subject& s, const char* t) { return Of(VOQ_Headset_GetSourceByName(s.h, t)); }},
        {"VOQ_Headset_UseNamingScheme", [](Subject& s, const char* t) { VOQ_Headset_UseNamingScheme(s.h, t); return Void(); }},
        {"VOQ_Headset_RenameSource", [](Subject& s, const char* t) { return Of(VOQ_Headset_RenameSource(s.h, t, t)); }},
        {"VOQ_Headset_RenameSource(F3, text)",
         [](Subject& s, const char* t) {
             const int renamed = VOQ_Headset_RenameSource(s.h, "F3", t);
             return Of(renamed) + " " + VOQ_Headset_GetSourceNames(s.h, 0x13);
         }},
        {"VOQ_Headset_AddSourceAliases", [](Subject& s, const char* t) { return Of(VOQ_Headset_AddSourceAliases(s.h, t)); }},
        {"VOQ_Headset_ChooseChannels",
         [](Subject& s, const char* t) {
             VOQ_Headset_ChooseChannels(s.h, t, t, 1);
             return std::string(VOQ_Headset_GetMontageString(s.h)) + " / " + VOQ_Headset_GetReferenceString(s.h);
         }},
        {"VOQ_Headset_AddChannelToMontage_FromString",
         [](Subject& s, const char* t) {
             VOQ_Headset_AddChannelToMontage_FromString(s.h, t, 0);
             return Of(VOQ_Headset_GetNumberOfChannels(s.h));
         }},
        {"VOQ_Headset_SetDefaultReference",
         [](Subject& s, const char* t) {
             VOQ_Headset_SetDefaultReference(s.h, t, 0);
             return std::string(VOQ_Headset_GetReferenceString(s.h));
         }},
        {"VOQ_Headset_GetChannelByName", [](Subject& s, const char* t) { return Of(VOQ_Headset_GetChannelByName(s.h, t)); }},
        {"VOQ_Channel_SetName",
         [](Subject& s, const char* t) {
             VOQ_Channel_SetName(s.channel, t);
             return std::string(VOQ_Channel_GetName(s.channel));
         }},
        {"VOQ_Headset_AddProcessingStage",
         [](Subject& s, const char* t) {
             VOQ_ProcessingStage stage = VOQ_Headset_AddProcessingStage(s.h, t, nullptr, nullptr, nullptr);
             return Of(static_cast<const void*>(stage)) + " " +
                    (stage ? std::string(VOQ_ProcessingStage_GetName(stage)) : std::string());
         }},
        {"VOQ_Headset_GetProcessingStageByName",
         [](Subject& s, const char* t) { return Of(VOQ_Headset_GetProcessingStageByName(s.h, t)); }},
        {"VOQ_ProcessingStage_GetChannelByName",
         [](Subject& s, const char* t) { return Of(VOQ_ProcessingStage_GetChannelByName(s.stage, t)); }},
        {"VOQ_ProcessingStage_AddChannel",
         [](Subject& s, const char* t) {
             VOQ_Channel added = VOQ_ProcessingStage_AddChannel(s.stage, t, 10);
             return Of(static_cast<const void*>(added)) + " " + (added ? VOQ_Channel_GetName(added) : "");
         }},
    };
    const std::map<std::string, std::string> exports = HeaderExports();
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = std::string(c.name).substr(0, std::string(c.name).find('('));
        EXPECT_TRUE(exports.count(name)) << "not in the header";
        Subject withNull, withEmpty;
        VOQ_ClearError();
        const std::string nullValue = c.call(withNull, nullptr);
        const std::string nullError = Stored();
        const std::string emptyValue = c.call(withEmpty, "");
        const std::string emptyError = Stored();
        EXPECT_EQ(nullValue, emptyValue);
        EXPECT_EQ(nullError, emptyError);
    }
}
