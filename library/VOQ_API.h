/*
 * VOQ_API.h - the public C interface of the VOQ headset SDK.
 *
 * Conventions shared by every export:
 *  - No export ever lets an exception or other failure escape.  A failure is
 *    stored as the pending error text (read it with VOQ_Error, clear it with
 *    VOQ_ClearError), the error callback (VOQ_SetErrorCallback) is called
 *    with it at level 1, and the export returns its error value: NULL for
 *    pointers and texts, 0 for numbers and booleans, unless a comment below
 *    names another value (-1 or -1.0).  Successful calls never clear the
 *    pending error.
 *  - A NULL handle fails with "NULL Headset pointer", "NULL Source pointer",
 *    "NULL Channel pointer" or "NULL ProcessingStage pointer".
 *  - A NULL text argument counts as "" (VOQ_Headset_New treats NULL and "" as
 *    "deferred").
 *  - Returned texts are copies kept in a process-wide ring of 32 slots: each
 *    stays valid until 32 further texts have been returned.  Copy a text you
 *    need for longer.  The pending error text lives in a ring of its own and
 *    stays valid until 32 further errors have been stored.
 *  - Sources, Channels and ProcessingStages are owned by their headset; their
 *    handles are borrowed and die with the headset, and every choice of
 *    montage or reference replaces the channels and stages (and every
 *    calibration-memory interpretation replaces the sources too).
 *  - The error state is process-wide.  It is guarded by a lock, so concurrent
 *    calls do not corrupt it, but the error one thread reads may have been
 *    stored by another: use the interface from one thread at a time, apart
 *    from the callbacks the library itself runs on its acquisition thread.
 */
#ifndef VOQ_API_H
#define VOQ_API_H

#include <stddef.h>

#if defined(_WIN32)
#  define VOQ_EXPORT __declspec(dllexport)
#else
#  define VOQ_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Handle and callback types                                                */

typedef struct VOQ_HeadsetStruct *VOQ_Headset;                 /* a headset connection */
typedef struct VOQ_SourceStruct *VOQ_Source;                   /* one raw signal of a headset */
typedef struct VOQ_ChannelStruct *VOQ_Channel;                 /* one output signal */
typedef struct VOQ_ProcessingStageStruct *VOQ_ProcessingStage; /* one stage of a processing cascade */

/* Error callback and per-headset message sink: receives the text and its
 * level (1 most important .. 7); the result is ignored. */
typedef int (*VOQ_MessageCallback)(const char *message, int level);

/* Called once per sample, on the thread that reads the headset, with the
 * sample's time stamp in seconds and the caller's pointer.
 *
 * Rules for sample and stage callbacks: they run on the reading thread (the
 * background acquisition thread while it runs) with the headset's read lock
 * held, so they must return quickly (a slow callback delays reading and the
 * buffers overflow).  They may read sources and channels and write stage
 * channels.  These fail with "cannot ... inside a sample or stage callback"
 * when called from a callback: changes of the montage, references, stages
 * (their channels included) and buffer lengths; commands; waits and reads
 * (WaitForBatch, WaitForSamples, Receive, Idle, StartBackgroundAcquisition);
 * connecting, disconnecting and deleting the headset.  A callback must not
 * wait for another thread that uses the same headset either. */
typedef void (*VOQ_SampleCallback)(VOQ_Headset headset, double sampleTime, void *userData);

/* Called once per sample for each processing stage, after the montage channels
 * have been computed; `stage` is the VOQ_ProcessingStage being run.  Follows
 * the rules given for VOQ_SampleCallback. */
typedef void (*VOQ_ProcessingStageCallback)(VOQ_Headset headset, double sampleTime, void *stage);

/* ------------------------------------------------------------------------ */
/* Frame and general functions                                              */

/* Does nothing; lets a caller check that the library loaded. Returns 0. */
VOQ_EXPORT int Load_VOQ_API(void);
/* The pending error text, or NULL when none is pending. Does not clear it. */
VOQ_EXPORT const char *VOQ_Error(void);
/* Returns the pending error text (or NULL) and clears it. */
VOQ_EXPORT const char *VOQ_ClearError(void);
/* Installs the error callback, called with each stored error at level 1;
 * NULL removes it.  It runs on the thread whose call failed. */
VOQ_EXPORT void VOQ_SetErrorCallback(VOQ_MessageCallback callback);
/* Checks the library's build assumptions; a failure is stored as the error. */
VOQ_EXPORT void VOQ_SanityCheck(void);
/* The library version, "1.18.2". NULL on error. */
VOQ_EXPORT const char *VOQ_GetAPIVersion(void);
/* `length` bytes at `data` as a Python string literal; every byte escaped as
 * \xHH when `escapeEverything` is non-zero. NULL on error. */
VOQ_EXPORT const char *VOQ_PythonString(const void *data, size_t length, int escapeEverything);
/* Sleeps for the given seconds (whole milliseconds; negative returns at once). */
VOQ_EXPORT void VOQ_Sleep(double seconds);
/* Writes the message and a newline to standard error; returns `level`
 * (0 on error). This is the default message sink of every headset. */
VOQ_EXPORT int VOQ_Console(const char *message, int level);
/* The value of the environment variable VOQSerialPort, or "". NULL on error. */
VOQ_EXPORT const char *VOQ_GetDefaultPort(void);

/* ------------------------------------------------------------------------ */
/* Headset lifecycle and messages                                           */

/* Creates a headset.  NULL or "" (or "deferred") leaves it unconnected;
 * "default" uses the VOQSerialPort variable; any other text is the serial
 * device to open, after which the start-up sequence runs (a few seconds).
 * NULL on error (the half-built headset is freed). */
VOQ_EXPORT VOQ_Headset VOQ_Headset_New(const char *portName);
/* Stops acquisition, disconnects and frees the headset (waiting for its
 * background acquisition to finish first). */
VOQ_EXPORT void VOQ_Headset_Delete(VOQ_Headset h);
/* Opens the port (NULL, "" or "default": VOQSerialPort) and runs start-up. */
VOQ_EXPORT void VOQ_Headset_Connect(VOQ_Headset h, const char *portName);
/* Stops streaming if the device streams, and closes the port.  When the stop
 * fails (the device refused it or did not answer) the error is stored and the
 * port stays open, so that the caller can try again; when the link itself
 * failed (the line hung up, a read or write failed) the port is closed all
 * the same. */
VOQ_EXPORT void VOQ_Headset_Disconnect(VOQ_Headset h);
/* 1 when the port is open, else 0 (0 on error). */
VOQ_EXPORT int VOQ_Headset_IsConnected(VOQ_Headset h);
/* Seconds since the port was opened; -1.0 on error. */
VOQ_EXPORT double VOQ_Headset_SecondsSinceConnection(VOQ_Headset h);
/* The port name last opened. NULL on error. */
VOQ_EXPORT const char *VOQ_Headset_GetPort(VOQ_Headset h);
/* 1 once the headset reported its Bluetooth connection, else 0. */
VOQ_EXPORT int VOQ_Headset_IsBlueToothInitialized(VOQ_Headset h);
/* Messages of a level above `level` are not issued (default 2; 0 silences). */
VOQ_EXPORT void VOQ_Headset_SetVerbosity(VOQ_Headset h, int level);
/* Replaces the headset's message sink (default VOQ_Console); NULL silences.
 * The sink may be called from the background acquisition thread. */
VOQ_EXPORT void VOQ_Headset_SetMessageCallback(VOQ_Headset h, VOQ_MessageCallback callback);
/* Non-zero: send the byte '~' in front of every command packet. */
VOQ_EXPORT void VOQ_Headset_UseOptionalCommandPrefix(VOQ_Headset h, int use);
/* Tells the headset to stop streaming; with `wait` non-zero waits for the
 * reply and discards pending input for up to 5 s. */
VOQ_EXPORT void VOQ_Headset_KillDataStream(VOQ_Headset h, int wait);

/* ------------------------------------------------------------------------ */
/* Device commands and recorded settings                                    */

/* Sets sampling rate (300 or 600) and filter mode, then queries the mode. */
VOQ_EXPORT void VOQ_Headset_ConfigureADC(VOQ_Headset h, int samplesPerSecond, int filterMode);
/* Sets the accelerometer rate; fails when the headset refuses the rate. */
VOQ_EXPORT void VOQ_Headset_SetAccelerometerRate(VOQ_Headset h, unsigned int rate);
/* Starts the battery monitor (no reply awaited); levels arrive as alarms. */
VOQ_EXPORT void VOQ_Headset_SendBatteryQuery(VOQ_Headset h);
VOQ_EXPORT void VOQ_Headset_StartDataAcquisition(VOQ_Headset h);
VOQ_EXPORT void VOQ_Headset_StopDataAcquisition(VOQ_Headset h);
VOQ_EXPORT void VOQ_Headset_StartImpedanceDriver(VOQ_Headset h);
VOQ_EXPORT void VOQ_Headset_StopImpedanceDriver(VOQ_Headset h);
/* Starts the analog reset without waiting for the reply. */
VOQ_EXPORT void VOQ_Headset_StartAnalogReset(VOQ_Headset h);
VOQ_EXPORT void VOQ_Headset_LockAnalogReset(VOQ_Headset h);
VOQ_EXPORT void VOQ_Headset_ReleaseAnalogReset(VOQ_Headset h);
/* Tells the headset to power down (no reply awaited). */
VOQ_EXPORT void VOQ_Headset_Shutdown(VOQ_Headset h);
/* Passes `value` (16 bits) to the headset's LED command. */
VOQ_EXPORT void VOQ_Headset_ChangeLEDs(VOQ_Headset h, int value);
/* Recorded identity and settings; "???" texts and -1 numbers until known. */
VOQ_EXPORT const char *VOQ_Headset_GetHardwareModel(VOQ_Headset h);     /* NULL on error */
VOQ_EXPORT const char *VOQ_Headset_GetHardwareRevision(VOQ_Headset h);  /* NULL on error */
VOQ_EXPORT unsigned int VOQ_Headset_GetSensorCount(VOQ_Headset h);      /* 0 on error */
VOQ_EXPORT unsigned int VOQ_Headset_GetSerialNumber(VOQ_Headset h);     /* 0 on error */
VOQ_EXPORT double VOQ_Headset_GetSamplingRate(VOQ_Headset h);           /* -1.0 on error */
VOQ_EXPORT double VOQ_Headset_GetAccelerometerRate(VOQ_Headset h);      /* -1.0 on error */
VOQ_EXPORT int VOQ_Headset_GetFilterMode(VOQ_Headset h);                /* -1 on error */
VOQ_EXPORT int VOQ_Headset_GetDataAcquisitionMode(VOQ_Headset h);       /* -1 on error */
VOQ_EXPORT int VOQ_Headset_GetImpedanceDriverMode(VOQ_Headset h);       /* -1 on error */
VOQ_EXPORT int VOQ_Headset_GetAnalogResetMode(VOQ_Headset h);           /* -1 on error */

/* ------------------------------------------------------------------------ */
/* Alarms                                                                   */

/* The oldest alarm code (species * 256 + code byte), removed when `remove`
 * is non-zero; 0 when the list is empty or on error. */
VOQ_EXPORT int VOQ_Headset_GetAlarm(VOQ_Headset h, int remove);
/* Number of alarm codes kept (at most the 1000 most recent). */
VOQ_EXPORT int VOQ_Headset_GetNumberOfAlarms(VOQ_Headset h);
VOQ_EXPORT void VOQ_Headset_ClearAlarms(VOQ_Headset h);

/* ------------------------------------------------------------------------ */
/* Battery, firmware and information                                        */

/* Battery level 1 or 2 in percent (-1 until measured); any other index gives
 * 0 without an error.  -1.0 on error. */
VOQ_EXPORT double VOQ_Headset_GetBatteryLevel(VOQ_Headset h, unsigned int index);
/* "[ level1, level2 ]". NULL on error. */
VOQ_EXPORT const char *VOQ_Headset_GetBatteryLevelString(VOQ_Headset h);
/* "master (sub-revisions) + slave (sub-revisions)". NULL on error. */
VOQ_EXPORT const char *VOQ_Headset_GetFirmwareRevision(VOQ_Headset h);
/* Everything known about the headset, as a dictionary-shaped text. */
VOQ_EXPORT const char *VOQ_Headset_GetInfoString(VOQ_Headset h);

/* ------------------------------------------------------------------------ */
/* Sources                                                                  */

/* Number of distinct sources used by the current montage. */
VOQ_EXPORT unsigned int VOQ_Headset_GetNumberOfSources(VOQ_Headset h);
/* Montage source by zero-based index. NULL on error. */
VOQ_EXPORT VOQ_Source VOQ_Headset_GetSourceByIndex(VOQ_Headset h, unsigned int index);
/* Any source by name, alias, one-based number, "CH<n>" or "SRC<n>". */
VOQ_EXPORT VOQ_Source VOQ_Headset_GetSourceByName(VOQ_Headset h, const char *name);
/* Mean common-mode impedance estimate over the montage's electrodes. */
VOQ_EXPORT double VOQ_Headset_GetImpedanceCMF(VOQ_Headset h);
VOQ_EXPORT int VOQ_Source_IsTrigger(VOQ_Source s);
VOQ_EXPORT int VOQ_Source_IsSensor(VOQ_Source s);
VOQ_EXPORT int VOQ_Source_IsReferentialEEG(VOQ_Source s);
VOQ_EXPORT int VOQ_Source_IsFactoryReference(VOQ_Source s);
VOQ_EXPORT int VOQ_Source_IsCommonModeSignal(VOQ_Source s);
VOQ_EXPORT void VOQ_Source_SetName(VOQ_Source s, const char *name);
VOQ_EXPORT const char *VOQ_Source_GetName(VOQ_Source s);
VOQ_EXPORT double VOQ_Source_GetSignal(VOQ_Source s);
VOQ_EXPORT double VOQ_Source_GetGain(VOQ_Source s);
/* Impedance estimates in kilo-ohms; -1 while the driver is off. */
VOQ_EXPORT double VOQ_Source_GetImpedanceEEG(VOQ_Source s);
VOQ_EXPORT double VOQ_Source_GetImpedanceCMF(VOQ_Source s);
VOQ_EXPORT double VOQ_Source_GetDCOffset(VOQ_Source s);

/* ------------------------------------------------------------------------ */
/* Source naming                                                            */

/* "10-20"/"1020" or "10-10"/"1010". */
VOQ_EXPORT void VOQ_Headset_UseNamingScheme(VOQ_Headset h, const char *scheme);
/* 1 when a source was renamed, 0 when `from` matched nothing or on error. */
VOQ_EXPORT int VOQ_Headset_RenameSource(VOQ_Headset h, const char *from, const char *to);
/* 1 when a source received the aliases, 0 when no name matched or on error. */
VOQ_EXPORT int VOQ_Headset_AddSourceAliases(VOQ_Headset h, const char *aliases);
/* Space-separated source names selected by the flag mask (0x13: connected
 * sources and trigger; 0x17: all slots). NULL on error. */
VOQ_EXPORT const char *VOQ_Headset_GetSourceNames(VOQ_Headset h, int flags);

/* ------------------------------------------------------------------------ */
/* Montage and references                                                   */

/* Builds the montage from a list of channel specifications such as
 * "F3 C3-A1/2-A2/2 Cz*2" ("FACTORY" or "" for the factory montage) and a
 * reference such as "A1/2+A2/2" ("FACTORY" for the factory reference, ""
 * to keep the current one).  Replaces the channels and processing stages. */
VOQ_EXPORT void VOQ_Headset_ChooseChannels(VOQ_Headset h, const char *montage, const char *reference, int autoSwap);
VOQ_EXPORT void VOQ_Headset_AddChannelToMontage_FromSource(VOQ_Headset h, VOQ_Source source);
VOQ_EXPORT void VOQ_Headset_AddChannelToMontage_FromString(VOQ_Headset h, const char *specification, int autoSwap);
/* Applies the ear or mastoid reference the headset has; returns it, or ""
 * when there is none. NULL on error. */
VOQ_EXPORT const char *VOQ_Headset_SetTraditionalReference(VOQ_Headset h, int autoSwap);
VOQ_EXPORT void VOQ_Headset_SetDefaultReference(VOQ_Headset h, const char *reference, int autoSwap);
VOQ_EXPORT const char *VOQ_Headset_GetFactoryReferenceString(VOQ_Headset h);
VOQ_EXPORT const char *VOQ_Headset_GetReferenceString(VOQ_Headset h);
VOQ_EXPORT void VOQ_Headset_ForgetMontage(VOQ_Headset h);
/* Number of montage channels. */
VOQ_EXPORT unsigned int VOQ_Headset_GetNumberOfChannels(VOQ_Headset h);
/* Output channel (of the last processing stage) by zero-based index. */
VOQ_EXPORT VOQ_Channel VOQ_Headset_GetChannelByIndex(VOQ_Headset h, unsigned int index);
VOQ_EXPORT VOQ_Channel VOQ_Headset_GetChannelByName(VOQ_Headset h, const char *name);
/* The montage as text, channels separated by blanks. NULL on error. */
VOQ_EXPORT const char *VOQ_Headset_GetMontageString(VOQ_Headset h);

/* ------------------------------------------------------------------------ */
/* Channels                                                                 */

/* The buffered value `steps` samples before the newest unread one (0.0 when
 * fewer are unread; an error beyond the capacity). */
VOQ_EXPORT double VOQ_Channel_LookBack(VOQ_Channel c, size_t steps);
/* Takes the oldest unread value; error "buffer underflow" when none. */
VOQ_EXPORT double VOQ_Channel_ReadBuffered(VOQ_Channel c);
VOQ_EXPORT size_t VOQ_Channel_GetNumberOfBufferedSamples(VOQ_Channel c);
/* Unread values lost because the buffer was full. */
VOQ_EXPORT size_t VOQ_Channel_GetNumberOfOverflowedSamples(VOQ_Channel c);
VOQ_EXPORT size_t VOQ_Channel_GetBufferCapacity(VOQ_Channel c);
VOQ_EXPORT void VOQ_Channel_FlushOutputBuffer(VOQ_Channel c);
VOQ_EXPORT void VOQ_Channel_SetName(VOQ_Channel c, const char *name);
VOQ_EXPORT const char *VOQ_Channel_GetName(VOQ_Channel c);
/* The channel as a specification, e.g. "F3-A1/2-A2/2". */
VOQ_EXPORT const char *VOQ_Channel_GetString(VOQ_Channel c);
/* Newest unread value (0.0 when everything has been read). */
VOQ_EXPORT double VOQ_Channel_GetSignal(VOQ_Channel c);
VOQ_EXPORT double VOQ_Channel_CalculateRawSignal(VOQ_Channel c);
VOQ_EXPORT int VOQ_Channel_IsReferentialEEG(VOQ_Channel c);
VOQ_EXPORT int VOQ_Channel_IsTrigger(VOQ_Channel c);

/* ------------------------------------------------------------------------ */
/* Processing stages                                                        */

/* Adds a stage after the last one (or after `input` when given) with copies
 * of its input's channels.  NULL on error (for example a duplicate name). */
VOQ_EXPORT VOQ_ProcessingStage VOQ_Headset_AddProcessingStage(VOQ_Headset h, const char *name,
    VOQ_ProcessingStageCallback callback, void *paramData, VOQ_ProcessingStage input);
/* Gives every channel of `stage` a fresh buffer of `seconds` (NULL: nothing). */
VOQ_EXPORT void VOQ_Headset_ReallocateStageBuffers(VOQ_Headset h, VOQ_ProcessingStage stage, double seconds);
VOQ_EXPORT unsigned int VOQ_Headset_GetNumberOfProcessingStages(VOQ_Headset h);
VOQ_EXPORT VOQ_ProcessingStage VOQ_Headset_GetProcessingStageByIndex(VOQ_Headset h, unsigned int index);
VOQ_EXPORT VOQ_ProcessingStage VOQ_Headset_GetProcessingStageByName(VOQ_Headset h, const char *name);
VOQ_EXPORT VOQ_Channel VOQ_ProcessingStage_GetChannelByIndex(VOQ_ProcessingStage s, unsigned int index);
VOQ_EXPORT VOQ_Channel VOQ_ProcessingStage_GetChannelByName(VOQ_ProcessingStage s, const char *name);
/* Empties the stage's channel list (deleting its own channels; the "raw"
 * stage's are the montage's and stay).  Safe while background acquisition
 * runs (made between two samples); fails inside a sample or stage callback. */
VOQ_EXPORT void VOQ_ProcessingStage_ClearChannels(VOQ_ProcessingStage s);
/* Appends a new channel with an empty buffer of `capacity` values (0: 1).
 * Safe while background acquisition runs; fails inside a callback. NULL on
 * error. */
VOQ_EXPORT VOQ_Channel VOQ_ProcessingStage_AddChannel(VOQ_ProcessingStage s, const char *name, size_t capacity);
VOQ_EXPORT VOQ_ProcessingStage VOQ_ProcessingStage_GetInput(VOQ_ProcessingStage s);
VOQ_EXPORT const char *VOQ_ProcessingStage_GetName(VOQ_ProcessingStage s);
VOQ_EXPORT void *VOQ_ProcessingStage_ParamData(VOQ_ProcessingStage s);
VOQ_EXPORT unsigned int VOQ_ProcessingStage_GetNumberOfChannels(VOQ_ProcessingStage s);
/* The value `samplesBack` samples before the newest of a channel, without
 * consuming it (0.0 when not available). */
VOQ_EXPORT double VOQ_ProcessingStage_Read(VOQ_ProcessingStage s, unsigned int channelIndex, size_t samplesBack);
/* Appends a value to one of the stage's channels. */
VOQ_EXPORT void VOQ_ProcessingStage_Write(VOQ_ProcessingStage s, unsigned int channelIndex, double value);

/* ------------------------------------------------------------------------ */
/* Samples, buffering and acquisition                                       */

/* Called after every sample on the reading thread; NULL removes it.  See
 * VOQ_SampleCallback for what the callback must not do. */
VOQ_EXPORT void VOQ_Headset_SetSampleCallback(VOQ_Headset h, VOQ_SampleCallback callback, void *userData);
/* New buffer lengths (seconds) for the montage channels and the impedance
 * window. */
VOQ_EXPORT void VOQ_Headset_ReallocateBuffers(VOQ_Headset h, double bufferSeconds, double impedanceSeconds);
/* Discards every unread sample. */
VOQ_EXPORT void VOQ_Headset_FlushBuffers(VOQ_Headset h);
/* Smallest number of unread samples among the output channels. */
VOQ_EXPORT size_t VOQ_Headset_GetNumberOfBufferedSamples(VOQ_Headset h);
/* Largest overflow count among the output channels. */
VOQ_EXPORT size_t VOQ_Headset_GetNumberOfOverflowedSamples(VOQ_Headset h);
VOQ_EXPORT void VOQ_Headset_ConfigureBufferingController(VOQ_Headset h, double updateInterval,
    double levelSmoothing, double gainP, double gainI, double gainD);
VOQ_EXPORT void VOQ_Headset_ConfigureBatch(VOQ_Headset h, unsigned int batchSize, double batchLatency);
/* Calls from the caller's thread while background acquisition runs (from
 * VOQ_Headset_StartBackgroundAcquisition until the worker has ended):
 *
 *   Calls                                         While the worker runs
 *   --------------------------------------------  -------------------------------
 *   montage and reference changes, stages and     safe: made under the headset's
 *   their channels (AddProcessingStage,           read lock, between two samples
 *   ReallocateStageBuffers, ProcessingStage_
 *   ClearChannels and _AddChannel), Reallocate-
 *   Buffers, FlushBuffers, source naming,
 *   SetSampleCallback, SetMessageCallback
 *   device commands                               safe: answered (the worker
 *                                                 reads the replies, or the
 *                                                 caller while the worker starts
 *                                                 or stops the stream)
 *   channel reads and counts, WaitForBatch,       safe (the worker writes each
 *   WaitForSamples, ConfigureBatch, getters       buffer, the caller reads it)
 *   Receive, Idle                                 safe: they wait, the worker reads
 *   Start/StopBackgroundAcquisition, Delete       safe (Start and Delete stop the
 *                                                 running worker and wait for it)
 *   ProcessingStage_Write                         only into a stage that no
 *                                                 callback writes and that is not
 *                                                 "raw" (a buffer has one writer)
 *   Connect, Disconnect, KillDataStream           stop the worker first (they end
 *                                                 its stream)
 */
/* Starts (or restarts) the background acquisition thread; 1 on success. */
VOQ_EXPORT int VOQ_Headset_StartBackgroundAcquisition(VOQ_Headset h);
/* Asks the background thread to stop; returns at once. */
VOQ_EXPORT void VOQ_Headset_StopBackgroundAcquisition(VOQ_Headset h);
/* Waits until the next batch is due and ready; returns its time stamp in
 * seconds since connection, then read batch-size values from every output
 * channel.  Fails instead of waiting forever: when the headset is not
 * connected ("Cannot read from headset: serial-port connection not yet
 * established.", checked first), when no block has arrived for
 * VOQ_WAIT_SILENCE_LIMIT seconds, when there are no output channels, or when
 * the background acquisition ended with an error.  0.0 on error. */
VOQ_EXPORT double VOQ_Headset_WaitForBatch(VOQ_Headset h);
/* Waits until at least `n` samples are buffered in every output channel and
 * returns the number; fails like VOQ_Headset_WaitForBatch. 0 on error. */
VOQ_EXPORT size_t VOQ_Headset_WaitForSamples(VOQ_Headset h, size_t n);
/* Reads and processes blocks for `seconds` (negative: until an error). */
VOQ_EXPORT void VOQ_Headset_Idle(VOQ_Headset h, double seconds);
/* Starts acquisition, reads for `duration` seconds (negative: until stopped),
 * stops, then reads for `idleTime` more seconds. */
VOQ_EXPORT void VOQ_Headset_Receive(VOQ_Headset h, double duration, double idleTime);

/* Seconds without any block after which the waiting functions give up. */
#define VOQ_WAIT_SILENCE_LIMIT 5.0

/* ------------------------------------------------------------------------ */
/* Reconnection after a lost link                                           */
/*
 * A link that fails (the device has gone: a hung-up line, a read or write
 * failing with EIO, ENXIO, ENODEV or EPIPE) is normally an error, like every
 * other failure.  With reconnection asked for (VOQ_Headset_SetReconnect), a
 * headset that has been connected and started up rides through it:
 *  - the failure is not reported; the link is "lost" (VOQ_Headset_IsLinkUp
 *    returns 0), a level-1 message says so, and a VOQ_LINK_LOST event is
 *    posted;
 *  - a thread of the library reopens the same port, with back-off, until the
 *    time given has passed; it runs the start-up again, checks that the
 *    headset has the same serial number and calibration memory, and
 *    restores what had been set on the device: sampling rate and filter
 *    mode, accelerometer rate, impedance driver, analog reset, and the data
 *    stream.  The sources, montage, reference, processing stages, buffers,
 *    batch configuration and callbacks are kept as they were, so every
 *    handle stays valid; background acquisition goes on by itself;
 *  - when the link is back a level-1 message and a VOQ_LINK_RESTORED event
 *    give the number of samples missing (from the host times of the last
 *    sample before and the first after, at the sampling rate).  The time
 *    stamps (seconds since connection) go on from the first connection;
 *  - another headset on the port, or no headset by the end of the time,
 *    ends it: a level-1 message, a VOQ_LINK_GAVE_UP event, the port closed,
 *    and the waits, reads and commands fail with the reason.
 * While the link is lost the waiting functions read nothing: they return
 * batches still buffered from before the loss, otherwise they wait for the
 * link (bounded by the reconnection's time, not by VOQ_WAIT_SILENCE_LIMIT);
 * the first batch after it is paced like a first batch, without discarding
 * anything.  Commands (and Receive) fail at once with "Cannot send commands
 * to headset: the link is lost (reconnecting)".  Callbacks may also run on
 * the reconnection's thread while it starts the stream.  Disconnect, Connect
 * and Delete stop a reconnection first.  The headset's own counters start
 * again with the start-up, so they cannot measure the gap.
 */
#define VOQ_LINK_LOST 1     /* the link failed; reconnecting */
#define VOQ_LINK_RESTORED 2 /* the link is back; `missing` samples are missing */
#define VOQ_LINK_GAVE_UP 3  /* no reconnection: the session is over */

/** Sets how long to keep trying to reconnect after a lost link, in seconds;
 *  0 (the default) turns reconnection off, so that a lost link is an error
 *  as it has always been.  Applies to the next loss.  A negative or
 *  non-finite value fails with "cannot keep reconnecting for ... seconds".
 *  Failures are stored as the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_SetReconnect(VOQ_Headset h, double seconds);
/** @return the reconnection time set with VOQ_Headset_SetReconnect (0: off);
 *  -1.0 on error.  Thread: any. */
VOQ_EXPORT double VOQ_Headset_GetReconnect(VOQ_Headset h);
/** @return 1 when the port is open and the link is not lost, 0 when it is
 *  lost (a reconnection is trying), given up or not connected; 0 on error.
 *  Thread: any. */
VOQ_EXPORT int VOQ_Headset_IsLinkUp(VOQ_Headset h);
/** Takes the oldest link event not yet taken (at most 1000 are kept).  Every
 *  loss gives one VOQ_LINK_LOST event followed by one VOQ_LINK_RESTORED or
 *  VOQ_LINK_GAVE_UP event.  The out arguments may be NULL:
 *    seconds - when it happened, in seconds since connection;
 *    missing - for VOQ_LINK_RESTORED, the samples missing across the loss;
 *              else 0;
 *    before  - how many of the samples now buffered in the output channels
 *              came before the loss (read that many, then the gap falls).
 *  @return the event's kind (VOQ_LINK_LOST, VOQ_LINK_RESTORED,
 *  VOQ_LINK_GAVE_UP), 0 when there is none; 0 on error.  Thread: the
 *  controlling thread (it takes the read lock briefly, to see the buffers
 *  and the sample count together). */
VOQ_EXPORT int VOQ_Headset_GetLinkEvent(VOQ_Headset h, double *seconds, size_t *missing, size_t *before);

#ifdef __cplusplus
}
#endif

#endif /* VOQ_API_H */
