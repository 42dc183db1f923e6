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
 * channels.  They must not change the montage, references, stages or buffer
 * lengths, must not send commands, must not wait or read (WaitForBatch,
 * WaitForSamples, Receive, Idle and StartBackgroundAcquisition fail when
 * called from a callback), must not connect, disconnect (both fail when
 * called from a callback) or delete the headset, and
 * must not wait for another thread that uses the same headset. */
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
/* Stops streaming if the device streams, and closes the port. */
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
VOQ_EXPORT void VOQ_ProcessingStage_ClearChannels(VOQ_ProcessingStage s);
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
/* Starts (or restarts) the background acquisition thread; 1 on success. */
VOQ_EXPORT int VOQ_Headset_StartBackgroundAcquisition(VOQ_Headset h);
/* Asks the background thread to stop; returns at once. */
VOQ_EXPORT void VOQ_Headset_StopBackgroundAcquisition(VOQ_Headset h);
/* Waits until the next batch is due and ready; returns its time stamp in
 * seconds since connection, then read batch-size values from every output
 * channel.  Fails instead of waiting forever: when no block has arrived for
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

/* ------------------------------------------------------------------------ */
/* Sample times on the host's clock                                         */
/*
 * Every sample is stamped, once, on the thread that reads it, with the time
 * at which the headset measured it, in seconds of the host's steady
 * monotonic clock (VOQ_HostClock).  The stamp is estimated from when the
 * blocks carrying the samples arrive and from the headset's own time
 * stamps: it follows the headset's clock drift and is free of the link's
 * jitter (blocks held back and released in bursts).  A constant delay that
 * every block has (the least delay of the link) is part of every stamp.
 * After connecting, the stamps settle within seconds; they never move
 * backwards, each is later than the one before, and consecutive stamps lie
 * within about 1 % of the true sample period apart.
 *
 * The times follow the output channels (VOQ_Headset_GetChannelByIndex):
 * the sample "most recently read" is the one just before the oldest unread
 * value of the output channel with the fewest unread values.  So after
 * reading the same number of values from every output channel, it is the
 * last of them, and after reading B values from each, their times are the
 * B times that VOQ_Headset_GetSampleTimes gives.  A flush (of the headset's
 * buffers or of a channel) leaves nothing unread: the sample most recently
 * read is then the newest one, and the next value read follows it.  When a
 * full buffer overflows, the oldest unread values are lost and the times
 * move on with them.  A new montage, reference or stage starts with empty
 * buffers, as after a flush.  Stage channels keep step with the times when
 * their stage writes each of them once per sample (as the cascade is meant
 * to be used).  Times are kept for as many samples as the longest channel
 * buffer holds (one more).
 */

/* Now, in seconds of the host's steady monotonic clock (CLOCK_MONOTONIC,
 * the clock std::chrono::steady_clock and lsl_local_clock() count; it does
 * not jump when the calendar clock is set).  The clock of every sample time.
 * Any thread; never fails. */
VOQ_EXPORT double VOQ_HostClock(void);
/* The host time (VOQ_HostClock seconds) at which the sample most recently
 * read from the output channels with VOQ_Channel_ReadBuffered was measured
 * (see above).  Any thread, not only the one that reads.  -1.0 on error,
 * which includes: a NULL headset; no sample having arrived yet (so always
 * on a headset that never connected); no output channels; every sample that
 * arrived still unread. */
VOQ_EXPORT double VOQ_Headset_GetSampleTime(VOQ_Headset h);
/* The host times of the `count` samples up to and including the one that
 * VOQ_Headset_GetSampleTime gives, oldest first, written to times[0] on;
 * returns how many it wrote: fewer than `count` when the samples before
 * those are no longer kept (or there were none).  So after reading a batch
 * of B values from each output channel, GetSampleTimes(h, t, B) gives each
 * sample's time.  A count of 0 writes and checks nothing and returns 0; a
 * NULL `times` with a count above 0 fails with "NULL times pointer".  0 on
 * error, with the errors of VOQ_Headset_GetSampleTime.  Any thread. */
VOQ_EXPORT unsigned int VOQ_Headset_GetSampleTimes(VOQ_Headset h, double *times, unsigned int count);
/* Inside a sample or stage callback: the host time at which the sample the
 * callback runs for was measured (the callbacks' own `sampleTime` argument
 * stays the headset's time stamp).  -1.0 on error: a NULL headset, or a call
 * from anywhere but such a callback. */
VOQ_EXPORT double VOQ_Headset_GetCallbackSampleTime(VOQ_Headset h);

/* Seconds without any block after which the waiting functions give up. */
#define VOQ_WAIT_SILENCE_LIMIT 5.0

#ifdef __cplusplus
}
#endif

#endif /* VOQ_API_H */
