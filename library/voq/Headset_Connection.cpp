#include "voq/Headset.h"

#include <exception>

namespace VOQ {

Headset::Headset(const std::string& portName)
    : sensorCount(int64_t(0xFFFFFFFFu)),
      serialNumber(0xFFFFFFFFu),
      samplingRate(-1.0),
      accelerometerRate(-1.0),
      filterMode(-1),
      dataAcquisitionMode(-1),
      impedanceDriverMode(-1),
      analogResetMode(-1),
      hardwareModel("???"),
      hardwareRevision("???"),
      masterFirmwareRevision("???"),
      slaveFirmwareRevision("???"),
      calibrationMemory(),
      calibrationLayoutVersion(0),
      cmfLocation(SourceID::Pz),
      batteryLevel1(-1.0),
      batteryLevel2(-1.0),
      blueToothInitialized(false),
      readyFlag(false),
      messageCallback(&Console),
      verbosity(2),
      blockBuffer(),
      discardBuffer(),
      resynchronizationNeeded(false),
      expectedBlockNumber(-1),
      expectedDataPacketCounter(-1),
      lastBlockTime(-1.0),
      readLockOwner(std::thread::id()),
      commandIdentifier(0),
      pendingCommand(nullptr),
      sampleCallback(nullptr),
      sampleCallbackUserData(nullptr),
      callbackThread(std::thread::id()),
      currentAccelerometerSample(),
      nextAccelerometerSample(),
      bufferDuration(1.0),
      impedanceWindow(1.0),
      batchSize(0),
      batchLatency(0.0),
      batchCount(0),
      deadlineBaseBatch(0),
      controllerBaseBatch(0),
      deadlineBaseTime(0.0),
      deadlineCorrection(0.0),
      estimatedSampleRate(0.0),
      updateInterval(0.25),
      levelSmoothing(0.998),
      gainP(0.005),
      gainI(2.5e-6),
      gainD(0.1),
      smoothedLevel(0.0),
      previousError(0.0),
      integratedError(0.0),
      controllerUpdates(0.0),
      reconnectThread(this),
      acquisitionThread(this) {
    port.Init();
    sampleTimes.Reserve(1024);
    try {
        Init();
        if (portName != "deferred") Connect(portName, true);
    } catch (...) {
        // Release everything built so far; the original failure propagates.
        acquisitionThread.StopAndWait();
        StopReconnecting();
        try {
            CleanUp();
        } catch (...) {
        }
        port.CleanUp();
        messageCallback = nullptr;
        sampleCallback = nullptr;
        sampleCallbackUserData = nullptr;
        throw;
    }
}

Headset::~Headset() {
    // The workers first, so that they never touch state being freed.
    acquisitionThread.StopAndWait();
    StopReconnecting();
    try {
        CleanUp();
    } catch (...) {
        // A destructor reports nothing: the device may be gone already.
    }
    messageCallback = nullptr;
    sampleCallback = nullptr;
    sampleCallbackUserData = nullptr;
    port.CleanUp();
}

void Headset::Init() {
    SanityCheck();
    CleanUp();

    {
        std::lock_guard<std::mutex> lock(pendingLock);
        pendingCommand = nullptr;
    }
    commandIdentifier = 0;
    expectedBlockNumber = -1;
    expectedDataPacketCounter = -1;
    blueToothInitialized = false;
    resynchronizationNeeded = false;
    readyFlag = false;
    lastBlockTime = -1.0;
    pendingInput.clear();

    {
        std::lock_guard<std::mutex> lock(stateLock);
        masterFirmwareRevision = "???";
        slaveFirmwareRevision = "???";
        hardwareModel = "???";
        hardwareRevision = "???";
        masterSubRevisions.clear();
        slaveSubRevisions.clear();
    }
    calibrationMemory.fill(0);
    calibrationPagesReceived.clear();
    calibrationLayoutVersion = 0;
    cmfLocation = SourceID::Pz;
    factoryReferenceName.clear();
    chosenMontage.clear();
    chosenDefaultReference.clear();
    batteryLevel1 = -1.0;
    batteryLevel2 = -1.0;

    sensorCount = int64_t(0xFFFFFFFFu);
    serialNumber = 0xFFFFFFFFu;
    samplingRate = -1.0;
    accelerometerRate = -1.0;
    filterMode = -1;
    dataAcquisitionMode = -1;
    impedanceDriverMode = -1;
    analogResetMode = -1;

    for (int k = 0; k < 4; ++k) {
        currentAccelerometerSample[k] = 0.0;
        nextAccelerometerSample[k] = 0.0;
    }

    // Buffering and batches: the lengths of new buffers, and the controller
    // defaults until the start-up sequence configures them again.
    bufferDuration = 1.0;
    impedanceWindow = 1.0;
    batchSize = 0;
    batchLatency = 0.0;
    batchCount = 0;
    deadlineBaseBatch = 0;
    controllerBaseBatch = 0;
    deadlineBaseTime = 0.0;
    deadlineCorrection = 0.0;
    estimatedSampleRate = 0.0;
    updateInterval = 0.25;
    levelSmoothing = 0.998;
    gainP = 0.005;
    gainI = 2.5e-6;
    gainD = 0.1;
    smoothedLevel = 0.0;
    previousError = 0.0;
    integratedError = 0.0;
    controllerUpdates = 0.0;
}

void Headset::Connect(std::string portName, bool initialize) {
    RefuseInsideCallback("connect");
    // A worker must not read a port that changes under it.
    acquisitionThread.StopAndWait();
    StopReconnecting();
    {
        // The port changes only under the read lock, so that no block read
        // ever sees it half-closed.
        ReadLockGuard guard(*this);
        if (port.IsOpen()) port.Close();
        pendingInput.clear();
        resynchronizationNeeded = false;
    }
    if (portName.empty() || Upper(portName) == "DEFAULT") {
        portName = DefaultPort();
        if (portName.empty())
            throw Error(
                "the serial port name must be given explicitly, because the VOQSerialPort environment variable "
                "is empty");
    }
    {
        ReadLockGuard guard(*this);
        port.Open(portName);
        // A new connection (perhaps another headset): its clock is learnt
        // afresh; the stamps still never go back.
        sampleClock.Reset();
    }
    if (WillShow(2)) Message(2, "Connected to " + portName);
    if (initialize) {
        Initialize();
        // Only an initialised connection is reconnected: its serial number
        // and calibration memory identify the headset to look for.
        keepLink = true;
    }
}

void Headset::Disconnect() {
    // A failed stop leaves the port open, so that the caller can try again
    // (the device refused, or did not answer on a live line), unless the link
    // itself failed: a device that has gone away must not keep its port.
    RefuseInsideCallback("disconnect");
    // The worker ends first (stopping the stream it started): it must not
    // use a port that closes under it.
    acquisitionThread.StopAndWait();
    StopReconnecting();
    if (!port.FakeData()) {
        if (!port.IsOpen()) return;
        if (dataAcquisitionMode != 0) {
            try {
                Command command = StopStreamCommand();
                Send(command, kReplyTimeout, kAttempts);
                for (int wait = 0; wait < 5 && dataAcquisitionMode == 1; ++wait) {
                    double end = PrecisionTime() + 0.1;
                    while (PrecisionTime() < end && dataAcquisitionMode == 1) TryToReadBlock();
                }
            } catch (const LinkError&) {
                ClosePort();
                throw;
            }
        }
    }
    ClosePort();
}

void Headset::ClosePort() {
    if (!port.IsOpen()) return;
    ReadLockGuard guard(*this);
    port.Close();
    pendingInput.clear();
}

void Headset::CleanUp() {
    // Everything is forgotten however disconnecting ends (a dead line fails
    // the stop command); the failure is reported afterwards.
    std::exception_ptr disconnectFailure;
    try {
        Disconnect();
    } catch (...) {
        disconnectFailure = std::current_exception();
    }
    ForgetSources();
    ClearAlarms();
    {
        // The reading thread's own queues: cleared under the read lock, which
        // every block read holds.
        ReadLockGuard guard(*this);
        triggerDelayLine.Clear();
        for (RingBuffer& queue : accelerometerQueues) queue.Clear();
    }
    if (disconnectFailure) std::rethrow_exception(disconnectFailure);
}

double Headset::SecondsSinceConnection() const { return PrecisionTime() - port.TimeOpened(); }

}  // namespace VOQ
