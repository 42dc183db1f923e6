// The exported C functions.  Every export goes through the same frame:
// handles are checked with POINTER, NULL texts count as "", and whatever is
// thrown below is caught, stored as the pending error, passed to the error
// callback at level 1, and turned into the export's error value.
#include "VOQ_API.h"

#include <mutex>
#include <string>
#include <vector>

#include "VOQ.h"

namespace {

// Process-wide state of the interface, guarded by one lock.  Returned texts
// and error texts live in rings of their own so that a pending error is not
// overwritten by later returned texts.
std::mutex gInterfaceLock;
const char* gVOQErrorString = nullptr;
VOQ_MessageCallback gVOQErrorHandler = nullptr;
const unsigned kRingSize = 32;
std::string gStrings[kRingSize];
unsigned gStringBufferCursor = 0;
std::string gErrorStrings[kRingSize];
unsigned gErrorBufferCursor = 0;

const char* VOQ_OutputString(const std::string& text) {
    std::lock_guard<std::mutex> guard(gInterfaceLock);
    std::string& slot = gStrings[gStringBufferCursor];
    gStringBufferCursor = (gStringBufferCursor + 1) % kRingSize;
    slot = text;
    return slot.c_str();
}

void VOQ_HandleError(const std::string& message) {
    VOQ_MessageCallback handler;
    {
        std::lock_guard<std::mutex> guard(gInterfaceLock);
        std::string& slot = gErrorStrings[gErrorBufferCursor];
        gErrorBufferCursor = (gErrorBufferCursor + 1) % kRingSize;
        slot = message;
        gVOQErrorString = slot.c_str();
        handler = gVOQErrorHandler;
    }
    if (handler) handler(message.c_str(), 1);
}

template <typename T>
T* POINTER(T* pointer, const char* typeName) {
    if (!pointer) throw VOQ::Error(std::string("NULL ") + typeName + " pointer");
    return pointer;
}

// Runs an export's body in the frame; returns `errorValue` after a failure.
template <typename R, typename Body>
R Frame(R errorValue, Body&& body) {
    try {
        return body();
    } catch (const std::exception& e) {
        VOQ_HandleError(e.what());
    } catch (const std::string& s) {
        VOQ_HandleError(s);
    } catch (...) {
        VOQ_HandleError("unknown failure inside the VOQ library");
    }
    return errorValue;
}

template <typename Body>
void FrameVoid(Body&& body) {
    Frame<int>(0, [&] {
        body();
        return 0;
    });
}

template <typename Body>
const char* FrameText(Body&& body) {
    return Frame<const char*>(nullptr, [&] { return VOQ_OutputString(body()); });
}

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

// Handles are opaque pointers to the object model's classes.
VOQ::Headset* H(VOQ_Headset h) { return POINTER(reinterpret_cast<VOQ::Headset*>(h), "Headset"); }
VOQ::Source* S(VOQ_Source s) { return POINTER(reinterpret_cast<VOQ::Source*>(s), "Source"); }
VOQ::Channel* C(VOQ_Channel c) { return POINTER(reinterpret_cast<VOQ::Channel*>(c), "Channel"); }
VOQ::ProcessingStage* P(VOQ_ProcessingStage p) {
    return POINTER(reinterpret_cast<VOQ::ProcessingStage*>(p), "ProcessingStage");
}
VOQ_Headset Handle(VOQ::Headset* h) { return reinterpret_cast<VOQ_Headset>(h); }
VOQ_Source Handle(VOQ::Source* s) { return reinterpret_cast<VOQ_Source>(s); }
VOQ_Channel Handle(VOQ::Channel* c) { return reinterpret_cast<VOQ_Channel>(c); }
VOQ_ProcessingStage Handle(VOQ::ProcessingStage* p) { return reinterpret_cast<VOQ_ProcessingStage>(p); }

}  // namespace

// ---------------------------------------------------------------------------
// Frame and general functions

int Load_VOQ_API(void) { return 0; }

const char* VOQ_Error(void) {
    std::lock_guard<std::mutex> guard(gInterfaceLock);
    return gVOQErrorString;
}

const char* VOQ_ClearError(void) {
    std::lock_guard<std::mutex> guard(gInterfaceLock);
    const char* error = gVOQErrorString;
    gVOQErrorString = nullptr;
    return error;
}

void VOQ_SetErrorCallback(VOQ_MessageCallback callback) {
    std::lock_guard<std::mutex> guard(gInterfaceLock);
    gVOQErrorHandler = callback;
}

void VOQ_SanityCheck(void) { FrameVoid([] { VOQ::SanityCheck(); }); }

const char* VOQ_GetAPIVersion(void) { return FrameText([] { return std::string(VOQ_VERSION_STRING); }); }

const char* VOQ_PythonString(const void* data, size_t length, int escapeEverything) {
    return FrameText([&] {
        if (!data && length) throw VOQ::Error("NULL data pointer");
        return VOQ::PythonString(data, length, escapeEverything != 0);
    });
}

void VOQ_Sleep(double seconds) { FrameVoid([&] { VOQ::Sleep(seconds); }); }

int VOQ_Console(const char* message, int level) {
    return Frame<int>(0, [&] { return VOQ::Console(Text(message), level); });
}

const char* VOQ_GetDefaultPort(void) { return FrameText([] { return VOQ::DefaultPort(); }); }

// ---------------------------------------------------------------------------
// Headset lifecycle and messages

VOQ_Headset VOQ_Headset_New(const char* portName) {
    return Frame<VOQ_Headset>(nullptr, [&] {
        std::string name = Text(portName);
        return Handle(new VOQ::Headset(name.empty() ? std::string("deferred") : name));
    });
}

void VOQ_Headset_Delete(VOQ_Headset h) {
    FrameVoid([&] {
        VOQ::Headset* headset = H(h);
        // Deleting waits for the reading thread, which a callback runs on.
        headset->RefuseInsideCallback("delete the headset");
        delete headset;
    });
}
void VOQ_Headset_Connect(VOQ_Headset h, const char* portName) {
    FrameVoid([&] { H(h)->Connect(Text(portName), true); });
}
void VOQ_Headset_Disconnect(VOQ_Headset h) { FrameVoid([&] { H(h)->Disconnect(); }); }
int VOQ_Headset_IsConnected(VOQ_Headset h) { return Frame<int>(0, [&] { return H(h)->IsConnected() ? 1 : 0; }); }
double VOQ_Headset_SecondsSinceConnection(VOQ_Headset h) {
    return Frame<double>(-1.0, [&] { return H(h)->SecondsSinceConnection(); });
}
const char* VOQ_Headset_GetPort(VOQ_Headset h) { return FrameText([&] { return H(h)->Port(); }); }
int VOQ_Headset_IsBlueToothInitialized(VOQ_Headset h) {
    return Frame<int>(0, [&] { return H(h)->IsBlueToothInitialized() ? 1 : 0; });
}
void VOQ_Headset_SetVerbosity(VOQ_Headset h, int level) { FrameVoid([&] { H(h)->SetVerbosity(level); }); }
void VOQ_Headset_SetMessageCallback(VOQ_Headset h, VOQ_MessageCallback callback) {
    FrameVoid([&] { H(h)->SetMessageCallback(callback); });
}
void VOQ_Headset_UseOptionalCommandPrefix(VOQ_Headset h, int use) {
    FrameVoid([&] { H(h)->UseOptionalCommandPrefix(use != 0); });
}
void VOQ_Headset_KillDataStream(VOQ_Headset h, int wait) { FrameVoid([&] { H(h)->KillDataStream(wait != 0); }); }

// ---------------------------------------------------------------------------
// Device commands and recorded settings

void VOQ_Headset_ConfigureADC(VOQ_Headset h, int samplesPerSecond, int filterMode) {
    FrameVoid([&] {
        H(h)->ConfigureAcquisitionSettings(static_cast<unsigned short>(samplesPerSecond),
                                           static_cast<unsigned short>(filterMode));
    });
}
void VOQ_Headset_SetAccelerometerRate(VOQ_Headset h, unsigned int rate) {
    FrameVoid([&] { H(h)->SetAccelerometerRate(static_cast<unsigned short>(rate)); });
}
void VOQ_Headset_SendBatteryQuery(VOQ_Headset h) { FrameVoid([&] { H(h)->StartBatteryMonitor(); }); }
void VOQ_Headset_StartDataAcquisition(VOQ_Headset h) { FrameVoid([&] { H(h)->StartDataAcquisition(); }); }
void VOQ_Headset_StopDataAcquisition(VOQ_Headset h) { FrameVoid([&] { H(h)->StopDataAcquisition(); }); }
void VOQ_Headset_StartImpedanceDriver(VOQ_Headset h) { FrameVoid([&] { H(h)->StartImpedanceDriver(); }); }
void VOQ_Headset_StopImpedanceDriver(VOQ_Headset h) { FrameVoid([&] { H(h)->StopImpedanceDriver(); }); }
void VOQ_Headset_StartAnalogReset(VOQ_Headset h) { FrameVoid([&] { H(h)->StartAnalogReset(false); }); }
void VOQ_Headset_LockAnalogReset(VOQ_Headset h) { FrameVoid([&] { H(h)->LockAnalogReset(); }); }
void VOQ_Headset_ReleaseAnalogReset(VOQ_Headset h) { FrameVoid([&] { H(h)->ReleaseAnalogReset(); }); }
void VOQ_Headset_Shutdown(VOQ_Headset h) { FrameVoid([&] { H(h)->Shutdown(); }); }
void VOQ_Headset_ChangeLEDs(VOQ_Headset h, int value) {
    FrameVoid([&] { H(h)->ChangeLEDs(static_cast<unsigned short>(value)); });
}
const char* VOQ_Headset_GetHardwareModel(VOQ_Headset h) { return FrameText([&] { return H(h)->HardwareModel(); }); }
const char* VOQ_Headset_GetHardwareRevision(VOQ_Headset h) {
    return FrameText([&] { return H(h)->HardwareRevision(); });
}
unsigned int VOQ_Headset_GetSensorCount(VOQ_Headset h) {
    return Frame<unsigned int>(0, [&] { return H(h)->SensorCount(); });
}
unsigned int VOQ_Headset_GetSerialNumber(VOQ_Headset h) {
    return Frame<unsigned int>(0, [&] { return H(h)->SerialNumber(); });
}
double VOQ_Headset_GetSamplingRate(VOQ_Headset h) { return Frame<double>(-1.0, [&] { return H(h)->SamplingRate(); }); }
double VOQ_Headset_GetAccelerometerRate(VOQ_Headset h) {
    return Frame<double>(-1.0, [&] { return H(h)->AccelerometerRate(); });
}
int VOQ_Headset_GetFilterMode(VOQ_Headset h) { return Frame<int>(-1, [&] { return H(h)->FilterMode(); }); }
int VOQ_Headset_GetDataAcquisitionMode(VOQ_Headset h) {
    return Frame<int>(-1, [&] { return H(h)->DataAcquisitionMode(); });
}
int VOQ_Headset_GetImpedanceDriverMode(VOQ_Headset h) {
    return Frame<int>(-1, [&] { return H(h)->ImpedanceDriverMode(); });
}
int VOQ_Headset_GetAnalogResetMode(VOQ_Headset h) { return Frame<int>(-1, [&] { return H(h)->AnalogResetMode(); }); }

// ---------------------------------------------------------------------------
// Alarms

int VOQ_Headset_GetAlarm(VOQ_Headset h, int remove) { return Frame<int>(0, [&] { return H(h)->GetAlarm(remove != 0); }); }
int VOQ_Headset_GetNumberOfAlarms(VOQ_Headset h) { return Frame<int>(0, [&] { return H(h)->NumberOfAlarms(); }); }
void VOQ_Headset_ClearAlarms(VOQ_Headset h) { FrameVoid([&] { H(h)->ClearAlarms(); }); }

// ---------------------------------------------------------------------------
// Battery, firmware and information

double VOQ_Headset_GetBatteryLevel(VOQ_Headset h, unsigned int index) {
    return Frame<double>(-1.0, [&] { return H(h)->BatteryLevel(index); });
}
const char* VOQ_Headset_GetBatteryLevelString(VOQ_Headset h) {
    return FrameText([&] { return H(h)->BatteryLevel(); });
}
const char* VOQ_Headset_GetFirmwareRevision(VOQ_Headset h) {
    return FrameText([&] { return H(h)->FirmwareRevision(); });
}
const char* VOQ_Headset_GetInfoString(VOQ_Headset h) { return FrameText([&] { return H(h)->InfoString(); }); }

// ---------------------------------------------------------------------------
// Sources

unsigned int VOQ_Headset_GetNumberOfSources(VOQ_Headset h) {
    return Frame<unsigned int>(0, [&] { return H(h)->NumberOfMontageSources(); });
}
VOQ_Source VOQ_Headset_GetSourceByIndex(VOQ_Headset h, unsigned int index) {
    return Frame<VOQ_Source>(nullptr, [&] { return Handle(H(h)->GetSourceByIndex(index, false)); });
}
VOQ_Source VOQ_Headset_GetSourceByName(VOQ_Headset h, const char* name) {
    return Frame<VOQ_Source>(nullptr, [&] { return Handle(H(h)->MatchSource(Text(name), true)); });
}
double VOQ_Headset_GetImpedanceCMF(VOQ_Headset h) { return Frame<double>(0.0, [&] { return H(h)->ImpedanceCMF(); }); }
int VOQ_Source_IsTrigger(VOQ_Source s) { return Frame<int>(0, [&] { return S(s)->IsTrigger() ? 1 : 0; }); }
int VOQ_Source_IsSensor(VOQ_Source s) { return Frame<int>(0, [&] { return S(s)->IsSensor() ? 1 : 0; }); }
int VOQ_Source_IsReferentialEEG(VOQ_Source s) {
    return Frame<int>(0, [&] { return S(s)->IsReferentialEEG() ? 1 : 0; });
}
int VOQ_Source_IsFactoryReference(VOQ_Source s) {
    return Frame<int>(0, [&] { return S(s)->IsFactoryReference() ? 1 : 0; });
}
int VOQ_Source_IsCommonModeSignal(VOQ_Source s) {
    return Frame<int>(0, [&] { return S(s)->IsCommonModeSignal() ? 1 : 0; });
}
void VOQ_Source_SetName(VOQ_Source s, const char* name) { FrameVoid([&] { S(s)->name = Text(name); }); }
const char* VOQ_Source_GetName(VOQ_Source s) { return FrameText([&] { return S(s)->name; }); }
double VOQ_Source_GetSignal(VOQ_Source s) { return Frame<double>(0.0, [&] { return S(s)->signal.load(); }); }
double VOQ_Source_GetGain(VOQ_Source s) { return Frame<double>(0.0, [&] { return S(s)->gain; }); }
double VOQ_Source_GetImpedanceEEG(VOQ_Source s) {
    return Frame<double>(0.0, [&] { return S(s)->impedanceEEG.load(); });
}
double VOQ_Source_GetImpedanceCMF(VOQ_Source s) {
    return Frame<double>(0.0, [&] { return S(s)->impedanceCMF.load(); });
}
double VOQ_Source_GetDCOffset(VOQ_Source s) { return Frame<double>(0.0, [&] { return S(s)->dcOffset.load(); }); }

// ---------------------------------------------------------------------------
// Source naming

void VOQ_Headset_UseNamingScheme(VOQ_Headset h, const char* scheme) {
    FrameVoid([&] { H(h)->UseNamingScheme(Text(scheme)); });
}
int VOQ_Headset_RenameSource(VOQ_Headset h, const char* from, const char* to) {
    return Frame<int>(0, [&] { return H(h)->RenameSource(Text(from), Text(to)) ? 1 : 0; });
}
int VOQ_Headset_AddSourceAliases(VOQ_Headset h, const char* aliases) {
    return Frame<int>(0, [&] { return H(h)->AddSourceAliases(Text(aliases)) ? 1 : 0; });
}
const char* VOQ_Headset_GetSourceNames(VOQ_Headset h, int flags) {
    return FrameText([&] { return H(h)->SourceNames(static_cast<uint16_t>(flags)); });
}

// ---------------------------------------------------------------------------
// Montage and references

void VOQ_Headset_ChooseChannels(VOQ_Headset h, const char* montage, const char* reference, int autoSwap) {
    FrameVoid([&] { H(h)->ChooseChannels(Text(montage), Text(reference), autoSwap != 0); });
}
void VOQ_Headset_AddChannelToMontage_FromSource(VOQ_Headset h, VOQ_Source source) {
    FrameVoid([&] {
        VOQ::Headset* headset = H(h);
        headset->AddChannelToMontage(S(source));
    });
}
void VOQ_Headset_AddChannelToMontage_FromString(VOQ_Headset h, const char* specification, int autoSwap) {
    FrameVoid([&] { H(h)->AddChannelToMontage(Text(specification), autoSwap != 0); });
}
const char* VOQ_Headset_SetTraditionalReference(VOQ_Headset h, int autoSwap) {
    return FrameText([&] { return H(h)->SetTraditionalReference(autoSwap != 0); });
}
void VOQ_Headset_SetDefaultReference(VOQ_Headset h, const char* reference, int autoSwap) {
    FrameVoid([&] { H(h)->SetDefaultReference(Text(reference), autoSwap != 0); });
}
const char* VOQ_Headset_GetFactoryReferenceString(VOQ_Headset h) {
    return FrameText([&] { return H(h)->FactoryReferenceString(); });
}
const char* VOQ_Headset_GetReferenceString(VOQ_Headset h) {
    return FrameText([&] { return H(h)->ReferenceString(); });
}
void VOQ_Headset_ForgetMontage(VOQ_Headset h) { FrameVoid([&] { H(h)->ForgetMontage(); }); }
unsigned int VOQ_Headset_GetNumberOfChannels(VOQ_Headset h) {
    return Frame<unsigned int>(0, [&] { return H(h)->NumberOfChannels(); });
}
VOQ_Channel VOQ_Headset_GetChannelByIndex(VOQ_Headset h, unsigned int index) {
    return Frame<VOQ_Channel>(nullptr, [&] { return Handle(H(h)->GetChannelByIndex(index)); });
}
VOQ_Channel VOQ_Headset_GetChannelByName(VOQ_Headset h, const char* name) {
    return Frame<VOQ_Channel>(nullptr, [&] { return Handle(H(h)->GetChannelByName(Text(name), true)); });
}
const char* VOQ_Headset_GetMontageString(VOQ_Headset h) {
    return FrameText([&] { return H(h)->MontageString(true); });
}

// ---------------------------------------------------------------------------
// Channels

double VOQ_Channel_LookBack(VOQ_Channel c, size_t steps) {
    return Frame<double>(0.0, [&] { return C(c)->LookBack(steps, false); });
}
double VOQ_Channel_ReadBuffered(VOQ_Channel c) { return Frame<double>(0.0, [&] { return C(c)->buffer.Read(); }); }
size_t VOQ_Channel_GetNumberOfBufferedSamples(VOQ_Channel c) {
    return Frame<size_t>(0, [&] { return size_t(C(c)->buffer.Buffered()); });
}
size_t VOQ_Channel_GetNumberOfOverflowedSamples(VOQ_Channel c) {
    return Frame<size_t>(0, [&] { return size_t(C(c)->buffer.Overflowed()); });
}
size_t VOQ_Channel_GetBufferCapacity(VOQ_Channel c) {
    return Frame<size_t>(0, [&] { return size_t(C(c)->buffer.Capacity()); });
}
void VOQ_Channel_FlushOutputBuffer(VOQ_Channel c) { FrameVoid([&] { C(c)->buffer.Flush(); }); }
void VOQ_Channel_SetName(VOQ_Channel c, const char* name) { FrameVoid([&] { C(c)->name = Text(name); }); }
const char* VOQ_Channel_GetName(VOQ_Channel c) { return FrameText([&] { return C(c)->Name(); }); }
const char* VOQ_Channel_GetString(VOQ_Channel c) { return FrameText([&] { return C(c)->String(true); }); }
double VOQ_Channel_GetSignal(VOQ_Channel c) { return Frame<double>(0.0, [&] { return C(c)->LookBack(0, false); }); }
double VOQ_Channel_CalculateRawSignal(VOQ_Channel c) {
    return Frame<double>(0.0, [&] { return C(c)->CalculateRawSignal(); });
}
int VOQ_Channel_IsReferentialEEG(VOQ_Channel c) {
    return Frame<int>(0, [&] { return C(c)->IsReferentialEEG() ? 1 : 0; });
}
int VOQ_Channel_IsTrigger(VOQ_Channel c) { return Frame<int>(0, [&] { return C(c)->IsTrigger() ? 1 : 0; }); }

// ---------------------------------------------------------------------------
// Processing stages

VOQ_ProcessingStage VOQ_Headset_AddProcessingStage(VOQ_Headset h, const char* name,
                                                   VOQ_ProcessingStageCallback callback, void* paramData,
                                                   VOQ_ProcessingStage input) {
    return Frame<VOQ_ProcessingStage>(nullptr, [&] {
        return Handle(H(h)->AddProcessingStage(Text(name), callback, paramData,
                                               reinterpret_cast<VOQ::ProcessingStage*>(input)));
    });
}
void VOQ_Headset_ReallocateStageBuffers(VOQ_Headset h, VOQ_ProcessingStage stage, double seconds) {
    FrameVoid([&] { H(h)->ReallocateStageBuffers(reinterpret_cast<VOQ::ProcessingStage*>(stage), seconds); });
}
unsigned int VOQ_Headset_GetNumberOfProcessingStages(VOQ_Headset h) {
    return Frame<unsigned int>(0, [&] { return H(h)->NumberOfProcessingStages(); });
}
VOQ_ProcessingStage VOQ_Headset_GetProcessingStageByIndex(VOQ_Headset h, unsigned int index) {
    return Frame<VOQ_ProcessingStage>(nullptr, [&] { return Handle(H(h)->GetProcessingStageByIndex(index)); });
}
VOQ_ProcessingStage VOQ_Headset_GetProcessingStageByName(VOQ_Headset h, const char* name) {
    return Frame<VOQ_ProcessingStage>(nullptr, [&] { return Handle(H(h)->MatchProcessingStage(Text(name), true)); });
}
VOQ_Channel VOQ_ProcessingStage_GetChannelByIndex(VOQ_ProcessingStage s, unsigned int index) {
    return Frame<VOQ_Channel>(nullptr, [&] { return Handle(P(s)->GetChannelByIndex(index)); });
}
VOQ_Channel VOQ_ProcessingStage_GetChannelByName(VOQ_ProcessingStage s, const char* name) {
    return Frame<VOQ_Channel>(nullptr, [&] { return Handle(P(s)->GetChannelByName(Text(name), true)); });
}
// A stage's channel edits go through its headset, which makes them under its
// read lock (and refuses them inside callbacks).
void VOQ_ProcessingStage_ClearChannels(VOQ_ProcessingStage s) {
    FrameVoid([&] {
        VOQ::ProcessingStage* stage = P(s);
        if (stage->owner)
            stage->owner->ClearStageChannels(stage);
        else
            stage->ClearChannels();
    });
}
VOQ_Channel VOQ_ProcessingStage_AddChannel(VOQ_ProcessingStage s, const char* name, size_t capacity) {
    return Frame<VOQ_Channel>(nullptr, [&] {
        VOQ::ProcessingStage* stage = P(s);
        return Handle(stage->owner ? stage->owner->AddStageChannel(stage, Text(name), capacity)
                                   : stage->AddChannel(Text(name), capacity));
    });
}
VOQ_ProcessingStage VOQ_ProcessingStage_GetInput(VOQ_ProcessingStage s) {
    return Frame<VOQ_ProcessingStage>(nullptr, [&] { return Handle(P(s)->input); });
}
const char* VOQ_ProcessingStage_GetName(VOQ_ProcessingStage s) { return FrameText([&] { return P(s)->name; }); }
void* VOQ_ProcessingStage_ParamData(VOQ_ProcessingStage s) {
    return Frame<void*>(nullptr, [&] { return P(s)->paramData; });
}
unsigned int VOQ_ProcessingStage_GetNumberOfChannels(VOQ_ProcessingStage s) {
    return Frame<unsigned int>(0, [&] { return static_cast<unsigned int>(P(s)->channels.size()); });
}
double VOQ_ProcessingStage_Read(VOQ_ProcessingStage s, unsigned int channelIndex, size_t samplesBack) {
    return Frame<double>(0.0, [&] { return P(s)->GetChannelByIndex(channelIndex)->LookBack(samplesBack, false); });
}
void VOQ_ProcessingStage_Write(VOQ_ProcessingStage s, unsigned int channelIndex, double value) {
    FrameVoid([&] { P(s)->GetChannelByIndex(channelIndex)->buffer.Write(value); });
}

// ---------------------------------------------------------------------------
// Ready-made filters

VOQ_ProcessingStage VOQ_Headset_AddFilter(VOQ_Headset h, const char* name, const char* filterText,
                                          VOQ_ProcessingStage input) {
    return Frame<VOQ_ProcessingStage>(nullptr, [&] {
        return Handle(H(h)->AddFilterStage(Text(name), Text(filterText), reinterpret_cast<VOQ::ProcessingStage*>(input)));
    });
}
const char* VOQ_Headset_GetPrefiltering(VOQ_Headset h) { return FrameText([&] { return H(h)->PrefilteringText(); }); }
int VOQ_Filter_Apply(const char* filterText, double samplingRate, double* samples, size_t channels, size_t count,
                     const int* eeg) {
    return Frame<int>(0, [&] {
        if (!samples && channels > 0 && count > 0) throw VOQ::Error("NULL samples pointer");
        std::vector<bool> flags(channels, true);
        if (eeg)
            for (size_t c = 0; c < channels; ++c) flags[c] = eeg[c] != 0;
        VOQ::Filter filter(Text(filterText), samplingRate, flags);
        if (samples) filter.Apply(samples, count);
        return 1;
    });
}

// ---------------------------------------------------------------------------
// Samples, buffering and acquisition

void VOQ_Headset_SetSampleCallback(VOQ_Headset h, VOQ_SampleCallback callback, void* userData) {
    FrameVoid([&] { H(h)->SetSampleCallback(callback, userData); });
}
void VOQ_Headset_ReallocateBuffers(VOQ_Headset h, double bufferSeconds, double impedanceSeconds) {
    FrameVoid([&] { H(h)->ReallocateBuffers(bufferSeconds, impedanceSeconds); });
}
void VOQ_Headset_FlushBuffers(VOQ_Headset h) { FrameVoid([&] { H(h)->FlushBuffers(); }); }
size_t VOQ_Headset_GetNumberOfBufferedSamples(VOQ_Headset h) {
    return Frame<size_t>(0, [&] { return size_t(H(h)->Buffered()); });
}
size_t VOQ_Headset_GetNumberOfOverflowedSamples(VOQ_Headset h) {
    return Frame<size_t>(0, [&] { return size_t(H(h)->BufferOverflow()); });
}
void VOQ_Headset_ConfigureBufferingController(VOQ_Headset h, double updateInterval, double levelSmoothing,
                                              double gainP, double gainI, double gainD) {
    FrameVoid([&] { H(h)->ConfigureBufferingController(updateInterval, levelSmoothing, gainP, gainI, gainD); });
}
void VOQ_Headset_ConfigureBatch(VOQ_Headset h, unsigned int batchSize, double batchLatency) {
    FrameVoid([&] { H(h)->ConfigureBatch(batchSize, batchLatency); });
}
int VOQ_Headset_StartBackgroundAcquisition(VOQ_Headset h) {
    return Frame<int>(0, [&] { return H(h)->StartBackgroundAcquisition() ? 1 : 0; });
}
void VOQ_Headset_StopBackgroundAcquisition(VOQ_Headset h) {
    FrameVoid([&] { H(h)->StopBackgroundAcquisition(); });
}
void VOQ_Headset_SetReconnect(VOQ_Headset h, double seconds) {
    FrameVoid([&] { H(h)->SetReconnect(seconds); });
}
double VOQ_Headset_GetReconnect(VOQ_Headset h) {
    return Frame<double>(-1.0, [&] { return H(h)->ReconnectSeconds(); });
}
int VOQ_Headset_IsLinkUp(VOQ_Headset h) { return Frame<int>(0, [&] { return H(h)->IsLinkUp() ? 1 : 0; }); }
int VOQ_Headset_GetLinkEvent(VOQ_Headset h, double* seconds, size_t* missing, size_t* before) {
    return Frame<int>(0, [&] {
        VOQ::LinkEvent event;
        uint64_t buffered = 0;
        if (!H(h)->TakeLinkEvent(event, buffered)) return 0;
        if (seconds) *seconds = event.seconds;
        if (missing) *missing = size_t(event.missing);
        if (before) *before = size_t(buffered);
        return event.kind;
    });
}
double VOQ_Headset_WaitForBatch(VOQ_Headset h) { return Frame<double>(0.0, [&] { return H(h)->WaitForBatch(); }); }
size_t VOQ_Headset_WaitForSamples(VOQ_Headset h, size_t n) {
    return Frame<size_t>(0, [&] { return size_t(H(h)->WaitForSamples(n)); });
}
void VOQ_Headset_Idle(VOQ_Headset h, double seconds) { FrameVoid([&] { H(h)->Idle(seconds); }); }
void VOQ_Headset_Receive(VOQ_Headset h, double duration, double idleTime) {
    FrameVoid([&] { H(h)->Receive(duration, idleTime); });
}

// ---------------------------------------------------------------------------
// Sample times

double VOQ_HostClock(void) { return Frame<double>(-1.0, [] { return VOQ::HostClock(); }); }
double VOQ_Headset_GetSampleTime(VOQ_Headset h) { return Frame<double>(-1.0, [&] { return H(h)->SampleTime(); }); }
unsigned int VOQ_Headset_GetSampleTimes(VOQ_Headset h, double* times, unsigned int count) {
    return Frame<unsigned int>(0, [&] {
        VOQ::Headset* headset = H(h);
        if (count == 0) return 0u;
        return headset->SampleTimes(POINTER(times, "times"), count);
    });
}
double VOQ_Headset_GetCallbackSampleTime(VOQ_Headset h) {
    return Frame<double>(-1.0, [&] { return H(h)->CallbackSampleTime(); });
}
