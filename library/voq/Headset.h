// One connection to one headset: its serial port, everything learned from
// the device, the signal model built from it, the caller's callbacks and the
// optional background acquisition thread.
//
// The implementation is split by concern:
//   Headset_Connection.cpp   construction, Init, Connect, Disconnect, CleanUp
//   Headset_Messages.cpp     message sink, verbosity, time stamps, IssueMessage
//   Headset_Blocks.cpp       block reading, packet dispatch, resync, flushing
//   Headset_Commands.cpp     command transactions and the device commands
//   Headset_Startup.cpp      the start-up sequence (Initialize)
//   Headset_Responses.cpp    response processing
//   Headset_Alarms.cpp       alarm processing and the alarm list
//   Headset_Calibration.cpp  calibration memory: interpretation, files, writing
//   Headset_Sources.cpp      source access, naming, aliases, matching
//   Headset_Montage.cpp      channel grammar, montage and references
//   Headset_Stages.cpp       the processing-stage cascade, filter stages
//   Headset_Samples.cpp      data and accelerometer packets, per-sample update
//   Headset_Buffering.cpp    buffers, batches, waiting, background acquisition
//   Headset_Times.cpp        sample times on the host's clock
//   Headset_Info.cpp         firmware, battery and information strings
//   Headset_Reconnect.cpp    a lost link: reconnection, restored settings,
//                            link events and the samples missing
//
// Threads and locks: the caller's thread, and at most one background
// acquisition thread.  `commandLock` is held for a whole command transaction;
// `readLock` while one block is read and processed, around each command
// write, and around every change of the sources, montage, references and
// cascade made from outside the reading thread (so that a background
// acquisition never sees them half-changed).  Order: command lock, then read
// lock.  ReadLockGuard takes the read lock unless the calling thread already
// holds it (packet processing may rebuild the sources while holding it).
#ifndef VOQ_HEADSET_H
#define VOQ_HEADSET_H

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "VOQ_API.h"
#include "voq/Atomic.h"
#include "voq/Channel.h"
#include "voq/Error.h"
#include "voq/ProcessingStage.h"
#include "voq/Protocol.h"
#include "voq/RingBuffer.h"
#include "voq/SampleClock.h"
#include "voq/SampleTimeRing.h"
#include "voq/SerialPort.h"
#include "voq/Source.h"
#include "voq/Text.h"
#include "voq/Thread.h"
#include "voq/Time.h"

namespace VOQ {

class Headset;

// The background worker: reads blocks until asked to stop.
class AcquisitionThread : public Thread {
public:
    explicit AcquisitionThread(Headset* owner) : headset(owner) {}
    void* Run() override;
    // True while the worker is in its reading loop, where it reads the
    // replies to everyone's commands.  Before it (its own start command) and
    // after it (its own stop command) the worker is in a transaction of its
    // own: a transaction of another thread then reads its reply itself.
    bool ReadsForOthers() const { return Alive() && streaming.load(); }
    Headset* headset;

private:
    std::atomic<bool> streaming{false};
};

// The reconnection worker: reopens the port after a lost link, runs the
// start-up again and restores what the caller had set (Headset_Reconnect.cpp).
class ReconnectThread : public Thread {
public:
    explicit ReconnectThread(Headset* owner) : headset(owner) {}
    void* Run() override;
    Headset* headset;
};

// One loss of the link, or its end (VOQ_LINK_LOST, VOQ_LINK_RESTORED,
// VOQ_LINK_GAVE_UP), as VOQ_Headset_GetLinkEvent reports it.
struct LinkEvent {
    int kind = 0;
    double seconds = 0.0;        // seconds since connection when it happened
    uint64_t missing = 0;        // samples missing across the loss (restored)
    uint64_t position = 0;       // samples processed before the gap
};

// Default message sink: the message and a newline on standard error.
int Console(const char* message, int level);
int Console(const std::string& message, int level);

const double kReplyTimeout = 0.513;   // seconds per attempt
const int kAttempts = 20;
const size_t kMaxAlarms = 1000;

class Headset {
public:
    // Connects at once unless `portName` is "deferred".
    explicit Headset(const std::string& portName);
    ~Headset();
    Headset(const Headset&) = delete;
    Headset& operator=(const Headset&) = delete;

    // ----- Connection ------------------------------------------------------
    void Init();
    void Connect(std::string portName, bool initialize);
    // Stops the background worker and waits for it, stops the stream if the
    // device streams, then closes the port.  A stop
    // that fails leaves the port open (the caller may try again), unless the
    // link itself failed (LinkError): the port is then closed all the same.
    void Disconnect();
    // Disconnects and forgets everything learned from the device, however
    // disconnecting ends; its failure is thrown afterwards.
    void CleanUp();
    bool IsConnected() const { return port.IsOpenOrFake(); }
    double SecondsSinceConnection() const;
    std::string Port() const { return port.PortName(); }
    bool IsBlueToothInitialized() const { return blueToothInitialized; }

    // ----- Messages --------------------------------------------------------
    void SetVerbosity(int level) { verbosity = level; }
    int Verbosity() const { return verbosity; }
    void SetMessageCallback(VOQ_MessageCallback callback) { messageCallback = callback; }
    // True when a message of this level would reach the sink; build message
    // texts only then.
    bool WillShow(int level) const { return messageCallback.load() != nullptr && verbosity >= level; }
    // Issues RelativeTimeStamp(-1) + ":  " + body at `level` when it shows.
    void Message(int level, const std::string& body) const;
    // The same, composed without allocating (for messages of the streaming
    // path; a body too long for its stack buffer takes the other way).
    void Message(int level, const char* body) const;
    // A message that may carry an alarm code (>= 0: listed, prefixed).
    void IssueMessage(const std::string& message, int level, int alarmCode);
    std::string RelativeTimeStamp(double seconds) const;

    // ----- Blocks ----------------------------------------------------------
    bool TryToReadBlock();
    int ReadBlock();
    // Throws "Cannot read from headset: ..." unless the port is open (or fed
    // with fake data): the first check of every reading call.
    void CheckReadable() const;
    // Dispatches one packet of `available` bytes (its length byte may claim
    // more); returns its length byte.
    int DecodePacket(const uint8_t* packet, size_t available, double receptionTime);
    bool Resynchronize();
    size_t FlushData(double seconds);
    int KillDataStream(bool wait);
    void FeedFakeData(const char* bytes, size_t count);
    // Testing hook: makes the port read from an internal fake-data queue.
    void AttachFakeData();
    // Seconds (PrecisionTime) when the last complete block arrived; -1 never.
    double LastBlockTime() const { return lastBlockTime; }

    // ----- Reconnection (Headset_Reconnect.cpp) ------------------------------
    // How long to keep trying after a lost link, in seconds; 0 (the default)
    // turns reconnection off and leaves every failure as it was.
    void SetReconnect(double seconds);
    double ReconnectSeconds() const { return reconnectSeconds; }
    // True when the port is open (or fed with fake data) and the link is not
    // lost.
    bool IsLinkUp() const { return IsConnected() && linkState.load() == kLinkUp && !linkFailed.load(); }
    // Takes the oldest link event not yet taken; false when there is none.
    // `before` is set to the number of samples still buffered in the output
    // channels that came before the event's gap.
    bool TakeLinkEvent(LinkEvent& event, uint64_t& before);

    // ----- Command transactions -------------------------------------------
    bool Send(Command& command, double timeout, int attempts);
    const uint8_t* Sign(Command& command);
    void ForgetPending(int identifier, bool succeeded, bool rejected);
    // Alarm path: stop waiting for the pending command without settling it.
    void ForgetPendingUnsettled();
    bool Echo(const std::string& message, double timeout = -1, int attempts = -1);
    void UseOptionalCommandPrefix(bool use);

    // ----- Device commands and start-up -------------------------------------
    int QueryDeviceID();
    int QuerySerialNumberAndSensorCount();
    int QueryFirmwareRevisions();
    int SetClock();
    int ReadClock();
    int StartBatteryMonitor();
    int QuerySensorInfo();
    int QueryImpedanceDriverMode();
    int StartImpedanceDriver();
    int StopImpedanceDriver();
    int QueryAnalogResetMode();
    int StartAnalogReset(bool wait);
    int LockAnalogReset();
    int ReleaseAnalogReset();
    int QueryDataAcquisitionMode();
    int StartDataAcquisition();
    int StopDataAcquisition();
    int QueryAcquisitionSettings();
    int ConfigureAcquisitionSettings(unsigned short samplesPerSecond, unsigned short filterMode);
    int QueryAccelerometerRate();
    int SetAccelerometerRate(unsigned short rate);
    int ChangeLEDs(unsigned short value);
    int Shutdown();
    int SelfTest();
    void Initialize();
    // The device part of the start-up (its steps up to the accelerometer
    // rate).  A reconnection runs it without the pause for the battery
    // report, keeps the sources when the calibration memory is unchanged,
    // and fails as soon as the serial number is not `expectedSerial`.
    void InitializeDevice(bool reconnecting, uint32_t expectedSerial);

    // Recorded identity and settings.
    std::string HardwareModel() const;
    std::string HardwareRevision() const;
    uint32_t SensorCount() const { return uint32_t(sensorCount.load()); }
    uint32_t SerialNumber() const { return serialNumber; }
    double SamplingRate() const { return samplingRate; }
    double AccelerometerRate() const { return accelerometerRate; }
    int FilterMode() const { return filterMode; }
    int DataAcquisitionMode() const { return dataAcquisitionMode; }
    int ImpedanceDriverMode() const { return impedanceDriverMode; }
    int AnalogResetMode() const { return analogResetMode; }
    bool Ready() const { return readyFlag; }

    // ----- Responses and alarms ---------------------------------------------
    void ProcessResponse(const uint8_t* packet, size_t length, double receptionTime, double packetTime);
    std::string NullTerminatedString(const char* data, size_t length) const;
    // Response processing of one calibration page: kept, or (while a
    // reconnection checks the headset) compared with the image read before.
    void TakeCalibrationPage(int page, const uint8_t* bytes);
    void ProcessAlarm(const uint8_t* packet, size_t length, double receptionTime, double packetTime);
    // The alarm's template filled with its parameters.
    static std::string AlarmText(int code, const std::vector<unsigned>& parameters);
    int GetAlarm(bool remove);
    int NumberOfAlarms() const;
    void ClearAlarms();

    // ----- Calibration memory -----------------------------------------------
    void InterpretCalibrationMemory(const uint8_t* bytes);
    void FlashNewCMFLocation(SourceID::Code code, signed char layoutVersion);
    void ForgetSources();
    void DumpCalibrationMemoryToFile(const std::string& fileName, const std::string& format);
    void ReadCalibrationMemoryFromFile(const std::string& fileName, const std::string& format);
    void WriteCalibrationMemory(unsigned int firstPage);
    bool WriteCalibrationMemoryPage(unsigned int page, const uint8_t* data);
    const uint8_t* CalibrationMemory() const { return calibrationMemory.data(); }
    int CalibrationLayoutVersion() const { return calibrationLayoutVersion; }

    // ----- Sources and naming -----------------------------------------------
    Source* GetSourceByIndex(unsigned int index, bool allSources);
    unsigned int NumberOfMontageSources() const;
    double ImpedanceCMF() const;
    Source* MatchSource(const std::string& name, bool mustMatch);
    Source* MatchSource(SourceID::Code code);
    bool AddSourceAliases(const std::string& list);
    bool RenameSource(const std::string& from, const std::string& to);
    void UseNamingScheme(const std::string& scheme);
    std::string SourceNames(uint16_t flags) const;
    // True when a source other than the references, triggers and other
    // fixed ones has a name (a headset whose memory names its electrodes).
    bool NamesKnown() const;
    const std::vector<Source*>& Sources() const { return sources; }

    // ----- Montage and references --------------------------------------------
    Channel* ConstructChannel(std::string specification, bool autoSwap);
    void ChooseChannels(const std::string& montageText, const std::string& reference, bool autoSwap);
    void SetDefaultReference(const std::string& reference, bool autoSwap);
    std::string SetTraditionalReference(bool autoSwap);
    void AddChannelToMontage(const std::string& specification, bool autoSwap);
    void AddChannelToMontage(Channel* channel);
    void AddChannelToMontage(Source* source);
    void ForgetMontage();
    unsigned int NumberOfChannels() const;
    // The output channels: the last stage's, else the montage.
    const std::vector<Channel*>& OutputChannels() const;
    Channel* GetChannelByIndex(unsigned int index);
    Channel* GetChannelByName(const std::string& name, bool throwIfMissing);
    std::string MontageString(bool full) const;
    std::string FactoryReferenceString() const { return factoryReferenceName; }
    std::string ReferenceString() const;

    // ----- Processing stages -------------------------------------------------
    ProcessingStage* AddProcessingStage(const std::string& name, VOQ_ProcessingStageCallback callback,
                                        void* paramData, ProcessingStage* input);
    // A stage that runs a ready-made filter (voq/Filter.h) on its input's
    // EEG channels and passes the others through; added like any stage.  An
    // empty name gives "filter" (or "filter 2", ... when taken).  Throws for
    // a bad filter text, an unknown sampling rate or an input without
    // channels.
    ProcessingStage* AddFilterStage(const std::string& name, const std::string& filterText, ProcessingStage* input);
    // The filtering of the filter stages on the way from the montage to the
    // output channels, in the prefiltering convention of EDF headers
    // ("HP:1Hz LP:40Hz N:50Hz"); "" when there are none.
    std::string PrefilteringText() const;
    // Throws when a filter stage could not run at `rate` samples per second.
    void CheckFiltersAt(double rate) const;
    ProcessingStage* MatchProcessingStage(const std::string& name, bool mustMatch);
    ProcessingStage* GetProcessingStageByIndex(unsigned int index);
    unsigned int NumberOfProcessingStages() const;
    void ReallocateStageBuffers(ProcessingStage* stage, double seconds);
    // A stage's own channel edits, made under the read lock like every other
    // cascade change, so that a background worker never runs a stage whose
    // channel list is half-changed.
    void ClearStageChannels(ProcessingStage* stage);
    // Throws when `stage` is a filter stage or the input of one.
    void RefuseFilterChannelEdit(const ProcessingStage* stage) const;
    Channel* AddStageChannel(ProcessingStage* stage, const std::string& channelName, uint64_t capacity);
    void ForgetCascade();

    // ----- Samples -----------------------------------------------------------
    void ProcessData(const uint8_t* packet, size_t length, double receptionTime, double packetTime);
    void ProcessExtendedData(const uint8_t* packet, size_t length, double receptionTime, double packetTime);
    void ProcessSample(const DataPacketStruct& packet, double receptionTime, double packetTime);
    void HandleAccelerometerSample(double time, double x, double y, double z);
    void SetSampleCallback(VOQ_SampleCallback callback, void* userData);

    // ----- Buffering and acquisition ------------------------------------------
    void ReallocateBuffers(double bufferSeconds, double impedanceSeconds);
    void FlushBuffers();
    uint64_t Buffered() const;
    uint64_t BufferOverflow() const;
    void ConfigureBufferingController(double updateInterval, double levelSmoothing, double gainP, double gainI,
                                      double gainD);
    void ConfigureBatch(unsigned int batchSize, double batchLatency);
    bool RebaseBufferingController(double rate, bool resetUpdates);
    // The waits never wait forever.  They throw an Error instead of waiting
    // when the headset is not connected (checked first, like every reading
    // call: Receive and Idle too), when there are no output channels, when the samples asked for cannot fit
    // in the output buffers, when the sampling rate or batch size is unknown
    // or 0 (WaitForBatch), when the background worker has ended by an error
    // (its message, reported once), and when no block has arrived for
    // VOQ_WAIT_SILENCE_LIMIT seconds, counted from the later of the call's
    // start and the last block (LastBlockTime()).  Without a live background
    // worker they read the port themselves; between batch deadlines only
    // when bytes are already waiting, so that no read overruns a deadline.
    double WaitForBatch();
    uint64_t WaitForSamples(uint64_t n);
    // Leaves at most n unread values in every output and montage channel.
    void WasteSamples(uint64_t n);
    // Receive and Idle read blocks themselves; while the background worker
    // runs they leave the reading to it and only wait.
    void Receive(double duration, double idleTime);
    void Idle(double seconds);
    // Stops a running worker (and waits for it), then starts a new one.  The
    // worker starts the data stream if it is stopped and stops it again on
    // its way out only if it started it; an error that ends it is issued at
    // level 1 and thrown by the next wait.
    bool StartBackgroundAcquisition();
    // Asks the worker to stop; returns at once.
    void StopBackgroundAcquisition();
    uint64_t BatchSize() const { return batchSize; }
    // CPU seconds (of the calling thread's clock) that WaitForBatch has spent
    // in the spin of the last 2 ms before its deadlines, since construction.
    double SpinSeconds() const { return spinSeconds; }
    double EstimatedSampleRate() const { return estimatedSampleRate; }
    // True from StartBackgroundAcquisition until the worker has ended.
    bool BackgroundAcquisitionAlive() const { return acquisitionThread.Alive(); }
    double UpdateInterval() const { return updateInterval; }

    // ----- Sample times (HostClock seconds) ----------------------------------
    // The time at which the sample most recently read from the output
    // channels was measured: the sample just before the oldest unread value
    // of the output channel with the fewest unread values.  Throws when no
    // sample has arrived, when there are no output channels, and when every
    // sample that arrived is still unread.
    double SampleTime();
    // The times of up to `count` samples ending with that one, oldest first,
    // into `times`; returns how many (fewer when older times are no longer
    // kept: as many as the longest channel buffer holds).  Throws like
    // SampleTime; nothing for a count of 0.
    unsigned int SampleTimes(double* times, unsigned int count);
    // Inside a sample or stage callback, the time of the sample it runs for;
    // throws anywhere else.
    double CallbackSampleTime() const;

    // ----- Information --------------------------------------------------------
    std::string FirmwareRevision() const;
    std::string BatteryLevel() const;
    double BatteryLevel(unsigned int index) const;
    std::string InfoString() const;

    // ----- What callbacks must not do -----------------------------------------
    // Throws "cannot <action> inside a sample or stage callback" on the
    // thread that holds the read lock (callbacks run there): for what would
    // wait for the reading thread itself (commands, waits, reads, connecting,
    // disconnecting, deleting the headset).
    void RefuseInsideCallback(const char* action) const;
    // The same message on the thread that is running a sample or stage
    // callback: for changes of the montage, references, cascade and buffer
    // lengths, which the per-sample path is using.  (Packet processing itself
    // may rebuild the sources, and with them the montage.)
    void RefuseChangeInsideCallback(const char* action) const;

    // Takes the read lock unless this thread holds it already.
    class ReadLockGuard {
    public:
        explicit ReadLockGuard(const Headset& headset);
        ~ReadLockGuard();
        ReadLockGuard(const ReadLockGuard&) = delete;
        ReadLockGuard& operator=(const ReadLockGuard&) = delete;

    private:
        const Headset& owner;
        bool locked;
    };

private:
    friend class AcquisitionThread;
    friend class ReconnectThread;
    friend class ReadLockGuard;

    // Link state: up, lost (a reconnection is trying), given up.
    static const int kLinkUp = 0;
    static const int kLinkLost = 1;
    static const int kLinkGaveUp = 2;
    // What the caller had set on the device when the link was lost.
    struct DeviceSettings {
        double samplingRate = -1.0;
        int filterMode = -1;
        double accelerometerRate = -1.0;
        int impedanceDriverMode = -1;
        int analogResetMode = -1;
        int dataAcquisitionMode = -1;
        uint32_t serialNumber = 0xFFFFFFFFu;
    };
    // Called with the read lock held by the thread that found the link gone;
    // true when a reconnection has taken over (the failure is not thrown).
    bool LinkLost(const std::string& why);
    bool Reconnecting() const { return linkState.load() == kLinkLost; }
    // With reconnection on, a streaming headset silent for longer than
    // VOQ_WAIT_SILENCE_LIMIT (counted from `since` at the earliest) has lost
    // its link too: true when a reconnection has taken over.
    bool SilenceIsLoss(double since);
    // Throws unless this thread may send a command now: while the link is
    // lost only the reconnection may (and not once it is asked to stop or
    // its time is up).
    void CheckLinkForCommand() const;
    std::string GiveUpMessage() const;
    void RunReconnection();
    // Sends the rate and filter mode and queries the acquisition mode (the
    // device part of ConfigureAcquisitionSettings).
    int ApplyAcquisitionSettings(unsigned short samplesPerSecond, unsigned short filterMode);
    void RestoreSession(const DeviceSettings& settings);
    void GiveUp(const std::string& message);
    void StopReconnecting();
    void PostLinkEvent(int kind, uint64_t missing, uint64_t position);
    // Reading thread, read lock held: the first sample after a gap.
    void CloseGap(double firstStamp);

    // Device description
    Relaxed<int64_t> sensorCount;       // all-ones (as uint32) until known
    Relaxed<uint32_t> serialNumber;
    RelaxedDouble samplingRate;
    RelaxedDouble accelerometerRate;
    RelaxedInt filterMode;
    RelaxedInt dataAcquisitionMode;
    RelaxedInt impedanceDriverMode;
    RelaxedInt analogResetMode;
    std::string hardwareModel;
    std::string hardwareRevision;
    mutable std::mutex stateLock;       // guards the texts and maps of this group

    // Firmware revisions
    std::map<int, int> masterSubRevisions;
    std::map<int, int> slaveSubRevisions;
    std::string masterFirmwareRevision;
    std::string slaveFirmwareRevision;

    // Calibration memory
    std::array<uint8_t, CalibrationLayout::kImageSize> calibrationMemory;
    std::set<int> calibrationPagesReceived;
    int calibrationLayoutVersion;
    SourceID::Code cmfLocation;
    std::string factoryReferenceName;

    // Battery and Bluetooth
    RelaxedDouble batteryLevel1;
    RelaxedDouble batteryLevel2;
    Clock timeBatteryMeasured;
    RelaxedBool blueToothInitialized;

    // Clocks
    Clock headsetClock;                 // from every block
    Clock onboardClockQueried;
    Clock onboardClockSet;
    RelaxedBool readyFlag;

    // Messages
    std::atomic<VOQ_MessageCallback> messageCallback;
    RelaxedInt verbosity;

    // Serial port and block reading
    SerialPort port;
    std::deque<uint8_t> fakeDataQueue;
    uint8_t blockBuffer[1024];
    uint8_t discardBuffer[4000];        // FlushData's scratch, per headset
    bool resynchronizationNeeded;
    int expectedBlockNumber;
    int expectedDataPacketCounter;
    RelaxedDouble lastBlockTime;
    mutable std::mutex readLock;
    mutable std::atomic<std::thread::id> readLockOwner;
    // Bytes taken from the port but not yet consumed: what a framing fault
    // gives back for resynchronisation, and the block it found.  Read under
    // the read lock only.
    std::deque<uint8_t> pendingInput;
    void ClosePort();                   // under the read lock
    size_t ReceiveInput(uint8_t* buffer, size_t count, double timeout);
    void UnreadInput(const uint8_t* bytes, size_t count);
    bool FillPendingInput(size_t count, bool& quiet);

    // Commands
    int commandIdentifier;
    std::string commandPrefix;
    std::mutex commandLock;
    std::mutex pendingLock;
    Command* pendingCommand;

    // Sample callback
    std::atomic<VOQ_SampleCallback> sampleCallback;
    std::atomic<void*> sampleCallbackUserData;
    // The thread running the sample and stage callbacks, while it does.
    std::atomic<std::thread::id> callbackThread;

    // Sources, montage and cascade
    std::vector<Source*> sources;
    std::vector<Channel*> montage;
    std::vector<Source*> montageSources;
    std::string chosenMontage;
    std::string chosenDefaultReference;
    std::vector<ProcessingStage*> cascade;

    // Alarms
    std::deque<int> alarms;
    mutable std::mutex alarmLock;

    // Trigger delay line and accelerometer queues
    RingBuffer triggerDelayLine;
    RingBuffer accelerometerQueues[4];  // time, x, y, z
    double currentAccelerometerSample[4];
    double nextAccelerometerSample[4];

    // Buffering and batches
    double bufferDuration;
    double impedanceWindow;
    uint64_t batchSize;
    double batchLatency;
    uint64_t batchCount;
    uint64_t deadlineBaseBatch;
    uint64_t controllerBaseBatch;
    double deadlineBaseTime;
    double deadlineCorrection;
    double estimatedSampleRate;
    double updateInterval;
    double levelSmoothing;
    double gainP;
    double gainI;
    double gainD;
    double smoothedLevel;
    double previousError;
    double integratedError;
    double controllerUpdates;

    // Acquisition helpers (Headset_Buffering.cpp); caller's thread only.
    bool workerFailureReported = false;   // the worker's error was thrown once
    double spinSeconds = 0.0;             // see SpinSeconds()
    void CheckNotReadingThread() const;   // callbacks must not wait or read
    void CheckWaitPossible(uint64_t samplesNeeded);
    // AddProcessingStage, with a filter of this text when one is given.
    ProcessingStage* AddStage(const std::string& name, VOQ_ProcessingStageCallback callback, void* paramData,
                              ProcessingStage* input, const std::string* filterText);
    void CheckWaitProgress(double callStart);
    void Pump(double callStart);
    void ReadOrWait();
    bool InputWaiting();
    void ResetPace();
    void DiscardDownTo(uint64_t keep);
    uint64_t SamplesFor(double seconds) const;
    // AddSourceAliases for a list already split into its items.
    bool AddSourceAliases(const std::string& list, const std::vector<std::string>& items);

    // Channel specifications: a term is a source with a sign, an optional
    // factor and an optional divisor ("-F3*2/3"); its weight is computed from
    // the base in that order.
    struct Term {
        Source* source = nullptr;
        bool negative = false;
        bool scaled = false;
        double factor = 1.0;
        bool divided = false;
        double divisor = 1.0;
        double Weight(double base) const;
    };
    // The default reference's terms, parsed once for a whole montage (or the
    // error that parsing it gave).
    struct ParsedReference {
        bool parsed = false;
        bool failed = false;
        std::string error;
        std::vector<Term> terms;
    };
    // These three and FindSource report what is wrong in `error` and return
    // false or nullptr, where the public calls throw it.
    bool ParseTerm(const std::string& term, Term& parsed, std::string& error);
    bool ParseTerms(std::string specification, std::vector<Term>& terms, std::string& error);
    // ConstructChannel with the default reference parsed into `reference`
    // when first needed (once for a whole montage).
    Channel* ConstructChannel(const std::string& specification, bool autoSwap, ParsedReference& reference,
                              std::string& error);
    Source* FindSource(const std::string& name, bool mustMatch, std::string& error);

    // Reconnection.  linkState, reconnectSeconds, keepLink and the
    // restoration count are atomics; the rest of this group is guarded by
    // linkLock, except the gap fields, which belong to the reading thread
    // (read lock).
    std::atomic<int> linkState{kLinkUp};
    RelaxedDouble reconnectSeconds{0.0};
    std::atomic<bool> keepLink{false};       // an initialised connection the caller wants kept
    std::atomic<bool> linkFailed{false};     // a link failure was thrown (no reconnection)
    std::atomic<uint64_t> linkRestorations{0};
    uint64_t restorationsSeen = 0;           // caller's thread (WaitForBatch)
    mutable std::mutex linkLock;
    std::deque<LinkEvent> linkEvents;
    std::string lossReason;
    std::string giveUpMessage;
    double lossTime = 0.0;
    double reconnectDeadline = 0.0;
    DeviceSettings settingsAtLoss;
    std::atomic<bool> checkingCalibration{false};
    std::array<uint8_t, CalibrationLayout::kImageSize> calibrationCheck{};
    std::set<int> calibrationCheckPages;
    uint64_t samplesProcessed = 0;           // since construction
    double lastSampleStamp = 0.0;            // on the sample clock
    bool haveLastSample = false;
    bool gapOpen = false;                    // restored, no sample yet
    double gapLastHost = 0.0;                // stamp of the last sample before
    uint64_t gapPosition = 0;

    // Sample times (Headset_Times.cpp).  The clock belongs to the reading
    // thread (under the read lock); the times are read by the caller.
    SampleClock sampleClock;
    SampleTimeRing sampleTimes;
    int dataCounterGap = 0;              // ProcessData to ProcessSample
    // Grows the times to the longest channel buffer (caller's thread).
    void FitSampleTimes();
    double StampSample(const DataPacketStruct& packet);

    // Background workers (last members: destroyed first, after they stopped)
    ReconnectThread reconnectThread;
    AcquisitionThread acquisitionThread;
};

}  // namespace VOQ

#endif
