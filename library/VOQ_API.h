/**
 * @file VOQ_API.h
 * @brief The public C interface of the VOQ headset SDK.
 *
 * Conventions shared by every export (each export's own comment says what
 * applies to it):
 *  - **Failures.**  No export ever lets an exception or other failure
 *    escape.  A failure is stored as the pending error text (read it with
 *    VOQ_Error, clear it with VOQ_ClearError), the error callback
 *    (VOQ_SetErrorCallback) is called with it at level 1, and the export
 *    returns its error value: NULL for pointers and texts, 0 for numbers and
 *    booleans, unless its comment names another value (-1 or -1.0).
 *    Successful calls never clear the pending error, so a value that equals
 *    the error value is told apart by VOQ_Error.
 *  - **NULL arguments.**  A NULL handle fails with "NULL Headset pointer",
 *    "NULL Source pointer", "NULL Channel pointer" or "NULL ProcessingStage
 *    pointer".  A NULL text argument counts as "" (VOQ_Headset_New treats
 *    NULL and "" as "deferred").
 *  - **Returned texts.**  Returned texts are copies kept in a process-wide
 *    ring of 32 slots: each stays valid until 32 further texts have been
 *    returned (by any export, on any thread).  Copy a text you need for
 *    longer.  The pending error text lives in a ring of its own and stays
 *    valid until 32 further errors have been stored.
 *  - **Borrowed handles.**  Sources, Channels and ProcessingStages are owned
 *    by their headset; their handles are borrowed and die with the headset,
 *    and every choice of montage or reference replaces the channels and
 *    stages (and every calibration-memory interpretation replaces the
 *    sources too).
 *  - **Threads.**  The error state is process-wide.  It is guarded by a lock,
 *    so concurrent calls do not corrupt it, but the error one thread reads
 *    may have been stored by another: use the interface from one thread at a
 *    time, apart from the callbacks the library itself runs on its
 *    acquisition thread.  Each export's comment names who may call it:
 *    - *any thread*: the export touches no headset;
 *    - *the controlling thread*: the one thread at a time that uses the
 *      headset, also while its background acquisition runs, but never from
 *      inside a callback of that headset (those that would wait, read, send
 *      a command, connect, disconnect, delete the headset or change the
 *      montage, references, stages or buffer lengths fail there with an
 *      error);
 *    - *the controlling thread or a callback*: also from inside the
 *      headset's sample and stage callbacks (VOQ_SampleCallback), which may
 *      read sources and channels and write stage channels.
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
/** @name Handle and callback types */
/** @{ */

typedef struct VOQ_HeadsetStruct *VOQ_Headset;                 /**< a headset connection */
typedef struct VOQ_SourceStruct *VOQ_Source;                   /**< one raw signal of a headset */
typedef struct VOQ_ChannelStruct *VOQ_Channel;                 /**< one output signal */
typedef struct VOQ_ProcessingStageStruct *VOQ_ProcessingStage; /**< one stage of a processing cascade */

/** Error callback and per-headset message sink: receives the text and its
 * level (1 most important .. 7); the result is ignored. */
typedef int (*VOQ_MessageCallback)(const char *message, int level);

/** Called once per sample, on the thread that reads the headset, with the
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

/** Called once per sample for each processing stage, after the montage channels
 * have been computed; `stage` is the VOQ_ProcessingStage being run.  Follows
 * the rules given for VOQ_SampleCallback. */
typedef void (*VOQ_ProcessingStageCallback)(VOQ_Headset headset, double sampleTime, void *stage);

/** @} */

/* ------------------------------------------------------------------------ */
/** @name Frame and general functions */
/** @{ */

/** Does nothing; lets a caller check that the library loaded.
 *  @return 0.  Never fails.  Thread: any. */
VOQ_EXPORT int Load_VOQ_API(void);
/** The pending error text, without clearing it.
 *  @return the text, or NULL when no error is pending.  Never fails.  The
 *  text stays valid until 32 further errors have been stored.  Thread: any
 *  (but the error may have been stored by another thread's call). */
VOQ_EXPORT const char *VOQ_Error(void);
/** Takes the pending error text and clears it.
 *  @return the text, or NULL when no error was pending.  Never fails.  The
 *  text stays valid until 32 further errors have been stored.  Thread: any. */
VOQ_EXPORT const char *VOQ_ClearError(void);
/** Installs the error callback, called with each stored error text at level
 *  1 on the thread whose call failed; NULL removes it (errors are still
 *  stored).  Never fails.  Thread: any. */
VOQ_EXPORT void VOQ_SetErrorCallback(VOQ_MessageCallback callback);
/** Checks the library's build assumptions.  On failure the description of
 *  every failed check is stored as the error.  Thread: any. */
VOQ_EXPORT void VOQ_SanityCheck(void);
/** The library version.
 *  @return "1.18.2"; NULL on error.  The text stays valid until 32 further
 *  texts have been returned.  Thread: any. */
VOQ_EXPORT const char *VOQ_GetAPIVersion(void);
/** `length` bytes at `data` as a Python string literal; every byte escaped as
 *  \\xHH when `escapeEverything` is non-zero.  NULL `data` with a non-zero
 *  `length` fails with "NULL data pointer".
 *  @return the literal; NULL on error.  The text stays valid until 32
 *  further texts have been returned.  Thread: any. */
VOQ_EXPORT const char *VOQ_PythonString(const void *data, size_t length, int escapeEverything);
/** Sleeps for the given seconds (whole milliseconds; negative returns at
 *  once).  Failures are stored as the error.  Thread: any. */
VOQ_EXPORT void VOQ_Sleep(double seconds);
/** Writes the message (NULL: "") and a newline to standard error.  This is
 *  the default message sink of every headset.
 *  @return `level`; 0 on error.  Thread: any. */
VOQ_EXPORT int VOQ_Console(const char *message, int level);
/** The serial device named by the environment variable VOQSerialPort.
 *  @return its value, or "" when it is not set; NULL on error.  The text
 *  stays valid until 32 further texts have been returned.  Thread: any. */
VOQ_EXPORT const char *VOQ_GetDefaultPort(void);

/** @} */
/* ------------------------------------------------------------------------ */
/** @name Headset lifecycle and messages */
/** @{ */

/** Creates a headset.  NULL or "" (or "deferred") leaves it unconnected;
 *  "default" uses the VOQSerialPort variable; any other text is the serial
 *  device to open, after which the start-up sequence runs (a few seconds).
 *  @return the new headset, to be freed with VOQ_Headset_Delete; NULL on
 *  error (the half-built headset is freed).  Thread: any; the calling
 *  thread becomes the headset's controlling thread. */
VOQ_EXPORT VOQ_Headset VOQ_Headset_New(const char *portName);
/** Stops acquisition, disconnects and frees the headset, waiting for its
 *  background acquisition to finish first; every handle borrowed from it
 *  dies.  Failures (a NULL handle) are stored as the error.  Thread: the
 *  controlling thread, never a callback of this headset. */
VOQ_EXPORT void VOQ_Headset_Delete(VOQ_Headset h);
/** Opens the port (NULL, "" or "default": VOQSerialPort) and runs start-up.
 *  Failures (no such device, no answer, start-up refused) are stored as the
 *  error.  Thread: the controlling thread (fails inside a callback). */
VOQ_EXPORT void VOQ_Headset_Connect(VOQ_Headset h, const char *portName);
/** Stops background acquisition (waiting for its worker), stops streaming if
 *  the device streams, and closes the port.  When the stop
 *  fails (the device refused it or did not answer) the error is stored and
 *  the port stays open, so that the caller can try again; when the link
 *  itself failed (the line hung up, a read or write failed) the error is
 *  stored and the port is closed all the same.  Thread: the controlling
 *  thread (fails inside a callback). */
VOQ_EXPORT void VOQ_Headset_Disconnect(VOQ_Headset h);
/** Whether the port is open.
 *  @return 1 when open, else 0; 0 on error.  Thread: the controlling
 *  thread. */
VOQ_EXPORT int VOQ_Headset_IsConnected(VOQ_Headset h);
/** Seconds since the port was opened.
 *  @return the seconds; -1.0 on error.  Thread: the controlling thread. */
VOQ_EXPORT double VOQ_Headset_SecondsSinceConnection(VOQ_Headset h);
/** The port name last opened.
 *  @return the name; NULL on error.  The text stays valid
 *  until 32 further texts have been returned.  Thread: the controlling
 *  thread. */
VOQ_EXPORT const char *VOQ_Headset_GetPort(VOQ_Headset h);
/** Whether the headset reported its Bluetooth connection.
 *  @return 1 once reported, else 0; 0 on error.  Thread: the controlling
 *  thread. */
VOQ_EXPORT int VOQ_Headset_IsBlueToothInitialized(VOQ_Headset h);
/** Messages of a level above `level` are not issued (default 2; 0 silences).
 *  Failures (a NULL handle) are stored as the error.  Thread: the
 *  controlling thread. */
VOQ_EXPORT void VOQ_Headset_SetVerbosity(VOQ_Headset h, int level);
/** Replaces the headset's message sink (default VOQ_Console); NULL silences.
 *  The sink runs on the thread that reads the headset, which may be the
 *  background acquisition thread.  Failures (a NULL handle) are stored as
 *  the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_SetMessageCallback(VOQ_Headset h, VOQ_MessageCallback callback);
/** Non-zero: send the byte '~' in front of every command packet.  Failures
 *  (a NULL handle) are stored as the error.  Thread: the controlling
 *  thread. */
VOQ_EXPORT void VOQ_Headset_UseOptionalCommandPrefix(VOQ_Headset h, int use);
/** Tells the headset to stop streaming; with `wait` non-zero waits for the
 *  reply and discards pending input for up to 5 s.  Failures are stored as
 *  the error.  Thread: the controlling thread (fails inside a callback). */
VOQ_EXPORT void VOQ_Headset_KillDataStream(VOQ_Headset h, int wait);

/** @} */
/* ------------------------------------------------------------------------ */
/** @name Device commands and recorded settings
 *  A command waits for the headset's reply (up to 0.513 s per attempt, 20
 *  attempts) unless its comment says otherwise; a refusal or no reply is
 *  stored as the error.  Every command runs on the controlling thread and
 *  fails inside a callback. */
/** @{ */

/** Sets the sampling rate (300 or 600) and the filter mode, then queries the
 *  mode.  A rate at which a filter stage (VOQ_Headset_AddFilter) could not
 *  run is refused before anything is sent.  Failures are stored as the
 *  error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_ConfigureADC(VOQ_Headset h, int samplesPerSecond, int filterMode);
/** Sets the accelerometer rate (0, 10, 25, 50 or 100 per second).  Fails
 *  when the headset refuses the rate; failures are stored as the error.
 *  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_SetAccelerometerRate(VOQ_Headset h, unsigned int rate);
/** Starts the battery monitor (no reply awaited); the levels arrive as
 *  alarms.  Failures are stored as the error.  Thread: the controlling
 *  thread. */
VOQ_EXPORT void VOQ_Headset_SendBatteryQuery(VOQ_Headset h);
/** Starts data acquisition (streaming) on the headset.  Failures are stored
 *  as the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_StartDataAcquisition(VOQ_Headset h);
/** Stops data acquisition (streaming) on the headset.  Failures are stored
 *  as the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_StopDataAcquisition(VOQ_Headset h);
/** Starts the impedance driver (the test currents whose echo gives the
 *  impedance estimates).  Failures are stored as the error.  Thread: the
 *  controlling thread. */
VOQ_EXPORT void VOQ_Headset_StartImpedanceDriver(VOQ_Headset h);
/** Stops the impedance driver.  Failures are stored as the error.  Thread:
 *  the controlling thread. */
VOQ_EXPORT void VOQ_Headset_StopImpedanceDriver(VOQ_Headset h);
/** Starts the analog reset without waiting for the reply.  Failures are
 *  stored as the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_StartAnalogReset(VOQ_Headset h);
/** Locks the analog reset on.  Failures are stored as the error.  Thread:
 *  the controlling thread. */
VOQ_EXPORT void VOQ_Headset_LockAnalogReset(VOQ_Headset h);
/** Releases the analog reset.  Failures are stored as the error.  Thread:
 *  the controlling thread. */
VOQ_EXPORT void VOQ_Headset_ReleaseAnalogReset(VOQ_Headset h);
/** Tells the headset to power down (no reply awaited).  Failures are stored
 *  as the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_Shutdown(VOQ_Headset h);
/** Passes `value` (16 bits) to the headset's LED command.  Failures are
 *  stored as the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_ChangeLEDs(VOQ_Headset h, int value);
/** The hardware model the headset reported, e.g. "VOQ24 HS Rev".
 *  @return the model ("???" until known); NULL on error.  The text stays
 *  valid until 32 further texts have been returned.  Thread: the
 *  controlling thread. */
VOQ_EXPORT const char *VOQ_Headset_GetHardwareModel(VOQ_Headset h);
/** The hardware revision the headset reported, e.g. "2".
 *  @return the revision ("???" until known); NULL on error.  The text
 *  stays valid until 32 further texts have been returned.  Thread: the
 *  controlling thread. */
VOQ_EXPORT const char *VOQ_Headset_GetHardwareRevision(VOQ_Headset h);
/** The number of sensors the headset reported.
 *  @return the count (all bits set until known); 0 on error.  Thread: the
 *  controlling thread. */
VOQ_EXPORT unsigned int VOQ_Headset_GetSensorCount(VOQ_Headset h);
/** The serial number the headset reported.
 *  @return the number (all bits set until known); 0 on error.  Thread:
 *  the controlling thread. */
VOQ_EXPORT unsigned int VOQ_Headset_GetSerialNumber(VOQ_Headset h);
/** The sampling rate in samples per second.
 *  @return the rate (-1 until known); -1.0 on error.  Thread: the
 *  controlling thread. */
VOQ_EXPORT double VOQ_Headset_GetSamplingRate(VOQ_Headset h);
/** The accelerometer rate in samples per second.
 *  @return the rate (-1 until known); -1.0 on error.  Thread: the
 *  controlling thread. */
VOQ_EXPORT double VOQ_Headset_GetAccelerometerRate(VOQ_Headset h);
/** The filter mode the headset reported.
 *  @return the mode (-1 until known); -1 on error.  Thread: the
 *  controlling thread. */
VOQ_EXPORT int VOQ_Headset_GetFilterMode(VOQ_Headset h);
/** The data-acquisition mode (0 stopped, non-zero streaming).
 *  @return the mode (-1 until known); -1 on error.  Thread: the
 *  controlling thread. */
VOQ_EXPORT int VOQ_Headset_GetDataAcquisitionMode(VOQ_Headset h);
/** The impedance-driver mode (0 off, 1 on).
 *  @return the mode (-1 until known); -1 on error.  Thread: the
 *  controlling thread. */
VOQ_EXPORT int VOQ_Headset_GetImpedanceDriverMode(VOQ_Headset h);
/** The analog-reset mode.
 *  @return the mode (-1 until known); -1 on error.  Thread: the
 *  controlling thread. */
VOQ_EXPORT int VOQ_Headset_GetAnalogResetMode(VOQ_Headset h);

/** @} */
/* ------------------------------------------------------------------------ */
/** @name Alarms */
/** @{ */

/** The oldest alarm code (species * 256 + code byte), removed from the list
 *  when `remove` is non-zero.
 *  @return the code, 0 when the list is empty; 0 on error.  Thread: the
 *  controlling thread. */
VOQ_EXPORT int VOQ_Headset_GetAlarm(VOQ_Headset h, int remove);
/** The number of alarm codes kept (at most the 1000 most recent).
 *  @return the number; 0 on error.  Thread: the controlling thread. */
VOQ_EXPORT int VOQ_Headset_GetNumberOfAlarms(VOQ_Headset h);
/** Empties the alarm list.  Failures (a NULL handle) are stored as the
 *  error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_ClearAlarms(VOQ_Headset h);

/** @} */
/* ------------------------------------------------------------------------ */
/** @name Battery, firmware and information */
/** @{ */

/** Battery level 1 or 2 in percent.
 *  @return the level (-1 until measured; 0, without an error, for any other
 *  index); -1.0 on error.  Thread: the controlling thread. */
VOQ_EXPORT double VOQ_Headset_GetBatteryLevel(VOQ_Headset h, unsigned int index);
/** Both battery levels as "[ level1, level2 ]".
 *  @return the text; NULL on error.  The text stays valid until 32
 *  further texts have been returned.  Thread: the controlling thread. */
VOQ_EXPORT const char *VOQ_Headset_GetBatteryLevelString(VOQ_Headset h);
/** The firmware revisions as "master (sub-revisions) + slave
 *  (sub-revisions)".
 *  @return the text; NULL on error.  The text stays valid until 32
 *  further texts have been returned.  Thread: the controlling thread. */
VOQ_EXPORT const char *VOQ_Headset_GetFirmwareRevision(VOQ_Headset h);
/** Everything known about the headset, as a dictionary-shaped text (one
 *  'Key' : value line per item).
 *  @return the text; NULL on error.  The text stays valid until 32
 *  further texts have been returned.  Thread: the controlling thread. */
VOQ_EXPORT const char *VOQ_Headset_GetInfoString(VOQ_Headset h);

/** @} */
/* ------------------------------------------------------------------------ */
/** @name Sources */
/** @{ */

/** The number of distinct sources used by the current montage.
 *  @return the number; 0 on error.  Thread: the controlling thread. */
VOQ_EXPORT unsigned int VOQ_Headset_GetNumberOfSources(VOQ_Headset h);
/** A source of the montage by zero-based index.
 *  @return the borrowed source (valid until the sources are rebuilt or the
 *  headset is deleted); NULL on error (such as an index out of range).
 *  Thread: the controlling thread. */
VOQ_EXPORT VOQ_Source VOQ_Headset_GetSourceByIndex(VOQ_Headset h, unsigned int index);
/** Any source by name, alias, one-based number, "CH<n>" or "SRC<n>" (case
 *  and surrounding blanks ignored; NULL counts as "").
 *  @return the borrowed source (valid until the sources are rebuilt or the
 *  headset is deleted); NULL on error, such as no matching source.
 *  Thread: the controlling thread. */
VOQ_EXPORT VOQ_Source VOQ_Headset_GetSourceByName(VOQ_Headset h, const char *name);
/** The mean common-mode impedance estimate over the montage's electrodes,
 *  in kilo-ohms.
 *  @return the estimate; 0.0 on error.  Thread: the controlling thread. */
VOQ_EXPORT double VOQ_Headset_GetImpedanceCMF(VOQ_Headset h);
/** Whether the source is the trigger input.
 *  @return 1 or 0; 0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT int VOQ_Source_IsTrigger(VOQ_Source s);
/** Whether the source is a sensor (an electrode or auxiliary input).
 *  @return 1 or 0; 0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT int VOQ_Source_IsSensor(VOQ_Source s);
/** Whether the source is a referential EEG electrode.
 *  @return 1 or 0; 0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT int VOQ_Source_IsReferentialEEG(VOQ_Source s);
/** Whether the source is the factory reference (no signal of its own).
 *  @return 1 or 0; 0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT int VOQ_Source_IsFactoryReference(VOQ_Source s);
/** Whether the source carries the common-mode signal.
 *  @return 1 or 0; 0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT int VOQ_Source_IsCommonModeSignal(VOQ_Source s);
/** Renames the source (NULL counts as "").  Failures (a NULL handle) are
 *  stored as the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Source_SetName(VOQ_Source s, const char *name);
/** The source's name.
 *  @return the name; NULL on error.  The text stays valid until 32
 *  further texts have been returned.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT const char *VOQ_Source_GetName(VOQ_Source s);
/** The source's newest calibrated value (microvolts for sensors).
 *  @return the value; 0.0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT double VOQ_Source_GetSignal(VOQ_Source s);
/** The source's gain from the calibration memory (microvolts per count for
 *  sensors).
 *  @return the gain; 0.0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT double VOQ_Source_GetGain(VOQ_Source s);
/** The electrode's impedance estimate in kilo-ohms.
 *  @return the estimate (-1 while the impedance driver is off); 0.0 on
 *  error.  Thread: the controlling thread or a callback. */
VOQ_EXPORT double VOQ_Source_GetImpedanceEEG(VOQ_Source s);
/** The electrode's common-mode impedance estimate in kilo-ohms.
 *  @return the estimate (-1 while the impedance driver is off); 0.0 on
 *  error.  Thread: the controlling thread or a callback. */
VOQ_EXPORT double VOQ_Source_GetImpedanceCMF(VOQ_Source s);
/** The source's DC offset estimate.
 *  @return the offset; 0.0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT double VOQ_Source_GetDCOffset(VOQ_Source s);

/** @} */
/* ------------------------------------------------------------------------ */
/** @name Source naming */
/** @{ */

/** Names the electrodes by the "10-20"/"1020" or "10-10"/"1010" scheme.
 *  Another scheme fails; failures are stored as the error.  Thread: the
 *  controlling thread. */
VOQ_EXPORT void VOQ_Headset_UseNamingScheme(VOQ_Headset h, const char *scheme);
/** Renames the source matching `from` to `to` (NULL counts as "").
 *  @return 1 when a source was renamed, 0 when `from` matched nothing; 0 on
 *  error.  Thread: the controlling thread. */
VOQ_EXPORT int VOQ_Headset_RenameSource(VOQ_Headset h, const char *from, const char *to);
/** Makes every name of the blank-separated list `aliases` (NULL counts as
 *  "") an alias of the one source that names of the list match; a list
 *  matching two sources fails.
 *  @return 1 when a source received the aliases, 0 when no name matched; 0
 *  on error.  Thread: the controlling thread. */
VOQ_EXPORT int VOQ_Headset_AddSourceAliases(VOQ_Headset h, const char *aliases);
/** Space-separated source names selected by the flag mask (0x13: connected
 *  sources and trigger; 0x17: all slots).
 *  @return the names; NULL on error.  The text stays valid until 32
 *  further texts have been returned.  Thread: the controlling thread. */
VOQ_EXPORT const char *VOQ_Headset_GetSourceNames(VOQ_Headset h, int flags);

/** @} */
/* ------------------------------------------------------------------------ */
/** @name Montage and references
 *  Each change of montage or reference replaces the channels and processing
 *  stages: handles taken before die. */
/** @{ */

/** Builds the montage from a list of channel specifications such as
 *  "F3 C3-A1/2-A2/2 Cz*2" ("FACTORY" or "" for the factory montage) and a
 *  reference such as "A1/2+A2/2" ("FACTORY" for the factory reference, ""
 *  to keep the current one); NULL counts as "".  Replaces the channels and
 *  processing stages.  Failures (such as an unknown name) are stored as the
 *  error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_ChooseChannels(VOQ_Headset h, const char *montage, const char *reference, int autoSwap);
/** Adds one channel carrying `source` alone to the montage.  Failures (a
 *  NULL handle) are stored as the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_AddChannelToMontage_FromSource(VOQ_Headset h, VOQ_Source source);
/** Adds one channel from a specification such as "C3-A1/2-A2/2" to the
 *  montage (NULL counts as "").  Failures (such as an unknown name) are
 *  stored as the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_AddChannelToMontage_FromString(VOQ_Headset h, const char *specification, int autoSwap);
/** Applies the ear or mastoid reference the headset has.
 *  @return the reference applied, or "" when there is none; NULL on
 *  error.  The text stays valid until 32 further texts have been
 *  returned.  Thread: the controlling thread. */
VOQ_EXPORT const char *VOQ_Headset_SetTraditionalReference(VOQ_Headset h, int autoSwap);
/** Makes `reference` (such as "A1/2+A2/2"; NULL counts as "") the reference
 *  subtracted from single-electrode channels, and rebuilds the montage.
 *  Failures are stored as the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_SetDefaultReference(VOQ_Headset h, const char *reference, int autoSwap);
/** The headset's factory reference, e.g. "Pz".
 *  @return the reference; NULL on error.  The text stays valid until 32
 *  further texts have been returned.  Thread: the controlling thread. */
VOQ_EXPORT const char *VOQ_Headset_GetFactoryReferenceString(VOQ_Headset h);
/** The reference in force, e.g. "A1/2+A2/2".
 *  @return the reference; NULL on error.  The text stays valid until 32
 *  further texts have been returned.  Thread: the controlling thread. */
VOQ_EXPORT const char *VOQ_Headset_GetReferenceString(VOQ_Headset h);
/** Removes every montage channel and processing stage.  Failures (a NULL
 *  handle) are stored as the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_ForgetMontage(VOQ_Headset h);
/** The number of montage channels.
 *  @return the number; 0 on error.  Thread: the controlling thread. */
VOQ_EXPORT unsigned int VOQ_Headset_GetNumberOfChannels(VOQ_Headset h);
/** An output channel (of the last processing stage, or of the montage when
 *  there is none) by zero-based index.
 *  @return the borrowed channel (valid until the montage or reference
 *  changes); NULL on error (such as an index out of range).  Thread: the
 *  controlling thread. */
VOQ_EXPORT VOQ_Channel VOQ_Headset_GetChannelByIndex(VOQ_Headset h, unsigned int index);
/** An output channel by name (case and surrounding blanks ignored; NULL
 *  counts as "").
 *  @return the borrowed channel (valid until the montage or reference
 *  changes); NULL on error, such as no matching channel.  Thread: the
 *  controlling thread. */
VOQ_EXPORT VOQ_Channel VOQ_Headset_GetChannelByName(VOQ_Headset h, const char *name);
/** The montage as text, channels separated by blanks.
 *  @return the text; NULL on error.  The text stays valid until 32
 *  further texts have been returned.  Thread: the controlling thread. */
VOQ_EXPORT const char *VOQ_Headset_GetMontageString(VOQ_Headset h);

/** @} */
/* ------------------------------------------------------------------------ */
/** @name Channels
 *  A channel's buffer has one reader: read it from one thread at a time. */
/** @{ */

/** The buffered value `steps` samples before the newest unread one.
 *  @return the value (0.0 when fewer are unread); 0.0 on error (`steps`
 *  beyond the capacity).  Thread: the controlling thread or a callback. */
VOQ_EXPORT double VOQ_Channel_LookBack(VOQ_Channel c, size_t steps);
/** Takes the oldest unread value.
 *  @return the value; 0.0 on error ("buffer underflow" when none is
 *  unread).  Thread: the controlling thread or a callback. */
VOQ_EXPORT double VOQ_Channel_ReadBuffered(VOQ_Channel c);
/** The number of unread values.
 *  @return the number; 0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT size_t VOQ_Channel_GetNumberOfBufferedSamples(VOQ_Channel c);
/** The number of unread values lost because the buffer was full.
 *  @return the number; 0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT size_t VOQ_Channel_GetNumberOfOverflowedSamples(VOQ_Channel c);
/** The buffer's capacity in values.
 *  @return the capacity; 0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT size_t VOQ_Channel_GetBufferCapacity(VOQ_Channel c);
/** Discards the channel's unread values.  Failures (a NULL handle) are
 *  stored as the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Channel_FlushOutputBuffer(VOQ_Channel c);
/** Renames the channel (NULL or "": named after its main source again).  Failures (a NULL handle) are stored as the error.
 *  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Channel_SetName(VOQ_Channel c, const char *name);
/** The channel's name.
 *  @return the name; NULL on error.  The text stays valid until 32
 *  further texts have been returned.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT const char *VOQ_Channel_GetName(VOQ_Channel c);
/** The channel as a specification, e.g. "F3-A1/2-A2/2".
 *  @return the text; NULL on error.  The text stays valid until 32
 *  further texts have been returned.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT const char *VOQ_Channel_GetString(VOQ_Channel c);
/** The newest unread value.
 *  @return the value (0.0 when everything has been read); 0.0 on error.
 *  Thread: the controlling thread or a callback. */
VOQ_EXPORT double VOQ_Channel_GetSignal(VOQ_Channel c);
/** The channel's weighted sum computed now from its sources' newest values.
 *  @return the value; 0.0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT double VOQ_Channel_CalculateRawSignal(VOQ_Channel c);
/** Whether the channel is referential EEG (electrodes minus a reference).
 *  @return 1 or 0; 0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT int VOQ_Channel_IsReferentialEEG(VOQ_Channel c);
/** Whether the channel carries the trigger input.
 *  @return 1 or 0; 0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT int VOQ_Channel_IsTrigger(VOQ_Channel c);

/** @} */
/* ------------------------------------------------------------------------ */
/** @name Processing stages */
/** @{ */

/** Adds a stage after the last one (or reading `input` when not NULL) with
 *  copies of its input's channels; `callback` (NULL: none) runs once per
 *  sample with `paramData` kept for VOQ_ProcessingStage_ParamData.
 *  @return the borrowed stage (valid until the montage or reference
 *  changes); NULL on error (for example a duplicate name).  Thread: the
 *  controlling thread. */
VOQ_EXPORT VOQ_ProcessingStage VOQ_Headset_AddProcessingStage(VOQ_Headset h, const char *name,
    VOQ_ProcessingStageCallback callback, void *paramData, VOQ_ProcessingStage input);
/** Gives every channel of `stage` a fresh buffer of `seconds` (NULL stage:
 *  nothing).  Failures are stored as the error.  Thread: the controlling
 *  thread. */
VOQ_EXPORT void VOQ_Headset_ReallocateStageBuffers(VOQ_Headset h, VOQ_ProcessingStage stage, double seconds);
/** The number of processing stages, the montage's stage "raw" included.
 *  @return the number; 0 on error.  Thread: the controlling thread. */
VOQ_EXPORT unsigned int VOQ_Headset_GetNumberOfProcessingStages(VOQ_Headset h);
/** A processing stage by zero-based index.
 *  @return the borrowed stage (valid until the montage or reference
 *  changes); NULL on error (such as an index out of range).  Thread: the
 *  controlling thread. */
VOQ_EXPORT VOQ_ProcessingStage VOQ_Headset_GetProcessingStageByIndex(VOQ_Headset h, unsigned int index);
/** A processing stage by name (case and surrounding blanks ignored; NULL
 *  counts as "").
 *  @return the borrowed stage (valid until the montage or reference
 *  changes); NULL on error, such as no matching stage.  Thread: the
 *  controlling thread. */
VOQ_EXPORT VOQ_ProcessingStage VOQ_Headset_GetProcessingStageByName(VOQ_Headset h, const char *name);
/** A channel of the stage by zero-based index.
 *  @return the borrowed channel (valid until the montage or reference
 *  changes); NULL on error (such as an index out of range).  Thread: the
 *  controlling thread or a callback. */
VOQ_EXPORT VOQ_Channel VOQ_ProcessingStage_GetChannelByIndex(VOQ_ProcessingStage s, unsigned int index);
/** A channel of the stage by name (case and surrounding blanks ignored;
 *  NULL counts as "").
 *  @return the borrowed channel (valid until the montage or reference
 *  changes); NULL on error, such as no matching channel.  Thread: the
 *  controlling thread or a callback. */
VOQ_EXPORT VOQ_Channel VOQ_ProcessingStage_GetChannelByName(VOQ_ProcessingStage s, const char *name);
/** Removes every channel of the stage (their handles die; the "raw" stage's
 *  are the montage's and stay).  Safe while background acquisition runs
 *  (made between two samples).  Refused for a filter stage and for the
 *  stage a filter stage reads (VOQ_Headset_AddFilter), whose channels the
 *  filter takes by position.  Failures are stored as the error.  Thread:
 *  the controlling thread (fails inside a callback). */
VOQ_EXPORT void VOQ_ProcessingStage_ClearChannels(VOQ_ProcessingStage s);
/** Adds a channel named `name` (NULL counts as "") with a buffer of
 *  `capacity` values (at least 1) to the stage.  Safe while background
 *  acquisition runs.  Refused for a filter stage and the stage it reads, as
 *  VOQ_ProcessingStage_ClearChannels is.
 *  @return the borrowed channel (valid until the montage or reference
 *  changes); NULL on error.  Thread: the controlling thread (fails inside a
 *  callback). */
VOQ_EXPORT VOQ_Channel VOQ_ProcessingStage_AddChannel(VOQ_ProcessingStage s, const char *name, size_t capacity);
/** The stage this one reads.
 *  @return the borrowed stage, NULL for the first stage ("raw"); NULL on
 *  error.  Thread: the controlling
 *  thread or a callback. */
VOQ_EXPORT VOQ_ProcessingStage VOQ_ProcessingStage_GetInput(VOQ_ProcessingStage s);
/** The stage's name.
 *  @return the name; NULL on error.  The text stays valid until 32
 *  further texts have been returned.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT const char *VOQ_ProcessingStage_GetName(VOQ_ProcessingStage s);
/** The `paramData` pointer given to VOQ_Headset_AddProcessingStage.
 *  @return the pointer; NULL on error.  Thread: the controlling thread or
 *  a callback. */
VOQ_EXPORT void *VOQ_ProcessingStage_ParamData(VOQ_ProcessingStage s);
/** The number of channels of the stage.
 *  @return the number; 0 on error.  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT unsigned int VOQ_ProcessingStage_GetNumberOfChannels(VOQ_ProcessingStage s);
/** The value `samplesBack` samples before the newest of one of the stage's
 *  channels, without consuming it.
 *  @return the value (0.0 when not available); 0.0 on error (such as a
 *  channel index out of range).  Thread: the controlling thread or a
 *  callback. */
VOQ_EXPORT double VOQ_ProcessingStage_Read(VOQ_ProcessingStage s, unsigned int channelIndex, size_t samplesBack);
/** Appends a value to one of the stage's channels.  Failures (such as a
 *  channel index out of range) are stored as the error.  Thread: the stage's
 *  callback, or the controlling thread. */
VOQ_EXPORT void VOQ_ProcessingStage_Write(VOQ_ProcessingStage s, unsigned int channelIndex, double value);

/** @} */
/* ------------------------------------------------------------------------ */
/** @name Ready-made filters
 *
 *  A filter is written as a short text: a chain of elements separated by
 *  ";" and applied in order, for example "bandpass 1 40 order 4; notch 50".
 *  Words are compared without regard to case.
 *
 *  - highpass F [order N], lowpass F [order N], bandpass LO HI [order N],
 *    bandstop LO HI [order N]: Butterworth filters of order N, 1 to 8
 *    (default 4), run as second-order sections from a zero state; a band of
 *    order N has 2N poles (N sections), a high- or low-pass N poles.
 *  - notch F [q Q] [harmonics K]: second-order notches of quality Q (default
 *    30) at F, 2F, ... KF (K default 1, at most 20), leaving out those at or
 *    above half the sampling rate.
 *  - car: common average reference, the mean of the EEG channels subtracted
 *    from each of them.
 *
 *  Only EEG electrode channels are filtered (in a headset, the channels whose
 *  every term is a referential EEG source, VOQ_Channel_IsReferentialEEG);
 *  trigger, accelerometer and other channels pass every element unchanged.
 *  Frequencies are in Hz; each must be above 0 and below half the sampling
 *  rate, and a band's low edge below its high edge.  A bad text fails with an
 *  error that quotes the element and names the offending word, for example
 *  'bad filter "bandpass 1 40 ordr 4": unknown word "ordr"'. */
/** @{ */

/** Adds a filter stage after the last stage (or reading `input` when not
 *  NULL) with copies of its input's channels; its channels become the
 *  output channels.  `name` NULL or "": "filter", or "filter 2", "filter 3",
 *  ... when taken.  NULL `filterText` counts as "" (an error).  The stage
 *  filters from the next sample on, from a zero state; like every stage it
 *  lasts until the next montage or reference choice, and its channels'
 *  buffers are as long as its input's.  When the headset's sampling rate
 *  changes, the stage redesigns its filter for the new rate (from a zero
 *  state); VOQ_Headset_ConfigureADC refuses, with an error and without
 *  sending anything, a rate at which a filter stage could not run.
 *  @return the borrowed stage (valid until the montage or reference
 *  changes); NULL on error (a bad text, a frequency the sampling rate cannot
 *  carry, a headset without channels or without a known sampling rate, a
 *  duplicate name).  Thread: the controlling thread, also while background
 *  acquisition runs (the stage joins between two samples). */
VOQ_EXPORT VOQ_ProcessingStage VOQ_Headset_AddFilter(VOQ_Headset h, const char *name, const char *filterText,
    VOQ_ProcessingStage input);
/** The filtering of the filter stages between the montage and the output
 *  channels, in the prefiltering convention of EDF headers: the highest
 *  high-pass and the lowest low-pass edge, then notches, band-stops and CAR,
 *  for example "HP:1Hz LP:40Hz N:50Hz".
 *  @return the text, "" when there is no filter stage; NULL on error.  The
 *  text stays valid until 32 further texts have been returned.  Thread: the
 *  controlling thread. */
VOQ_EXPORT const char *VOQ_Headset_GetPrefiltering(VOQ_Headset h);
/** Filters recorded samples in place with the same code as a filter stage.
 *  `samples` holds `channels` rows of `count` values each (channel after
 *  channel, as a C-ordered channels x samples array), sampled at
 *  `samplingRate` samples per second.  `eeg` has one flag per channel,
 *  non-zero for the EEG electrode channels that the filter works on; the
 *  others pass unchanged; NULL: every channel is an EEG channel.  NULL
 *  `filterText` counts as "" (an error); NULL `samples` with `channels` and
 *  `count` above 0 fails with "NULL samples pointer".
 *  @return 1; 0 on error (a bad text or rate), and then the samples are
 *  unchanged.  Needs no headset.  Thread: any, one call at a time per
 *  array. */
VOQ_EXPORT int VOQ_Filter_Apply(const char *filterText, double samplingRate, double *samples, size_t channels,
    size_t count, const int *eeg);

/** @} */
/* ------------------------------------------------------------------------ */
/** @name Samples, buffering and acquisition */
/** @{ */

/** Sets the callback called after every sample on the reading thread (NULL
 *  removes it); see VOQ_SampleCallback for what it must not do.  Failures
 *  are stored as the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_SetSampleCallback(VOQ_Headset h, VOQ_SampleCallback callback, void *userData);
/** New buffer lengths in seconds for the montage channels and the impedance
 *  window.  Failures are stored as the error.  Thread: the controlling
 *  thread. */
VOQ_EXPORT void VOQ_Headset_ReallocateBuffers(VOQ_Headset h, double bufferSeconds, double impedanceSeconds);
/** Discards every unread sample.  Failures are stored as the error.
 *  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_FlushBuffers(VOQ_Headset h);
/** The smallest number of unread samples among the output channels.
 *  @return the number; 0 on error.  Thread: the controlling thread. */
VOQ_EXPORT size_t VOQ_Headset_GetNumberOfBufferedSamples(VOQ_Headset h);
/** The largest overflow count among the output channels.
 *  @return the number; 0 on error.  Thread: the controlling thread. */
VOQ_EXPORT size_t VOQ_Headset_GetNumberOfOverflowedSamples(VOQ_Headset h);
/** Sets the pace controller of the waits: its update interval in seconds,
 *  the smoothing of the buffer level, and its proportional, integral and
 *  derivative gains.  Failures are stored as the error.  Thread: the
 *  controlling thread. */
VOQ_EXPORT void VOQ_Headset_ConfigureBufferingController(VOQ_Headset h, double updateInterval,
    double levelSmoothing, double gainP, double gainI, double gainD);
/** Samples per batch of VOQ_Headset_WaitForBatch, and the reserve in seconds
 *  that the pace controller keeps beyond one batch.  Failures are stored as
 *  the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_ConfigureBatch(VOQ_Headset h, unsigned int batchSize, double batchLatency);
/* Calls from the controlling thread while background acquisition runs (from
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
 *   Connect, Disconnect                           safe: they stop the worker and
 *                                                 wait for it first
 *   KillDataStream                                ends the worker's stream
 */
/** Starts (or restarts) the background acquisition thread, which then reads
 *  the port and runs the callbacks.
 *  @return 1 on success; 0 on error.  Thread: the controlling thread
 *  (fails inside a callback). */
VOQ_EXPORT int VOQ_Headset_StartBackgroundAcquisition(VOQ_Headset h);
/** Asks the background acquisition thread to stop, and returns at once.
 *  Failures are stored as the error.  Thread: the controlling thread. */
VOQ_EXPORT void VOQ_Headset_StopBackgroundAcquisition(VOQ_Headset h);
/** Waits until the next batch is due and ready; then read batch-size values
 *  from every output channel.  Fails instead of waiting forever: when the
 *  headset is not connected ("Cannot read from headset: serial-port
 *  connection not yet established.", checked first), when no block has
 *  arrived for VOQ_WAIT_SILENCE_LIMIT seconds, when there are no output
 *  channels, or when the background acquisition ended with an error.
 *  @return the batch's time stamp in seconds since connection; 0.0 on
 *  error.  Thread: the controlling thread (fails inside a callback). */
VOQ_EXPORT double VOQ_Headset_WaitForBatch(VOQ_Headset h);
/** Waits until at least `n` samples are buffered in every output channel;
 *  fails like VOQ_Headset_WaitForBatch.
 *  @return the number buffered; 0 on error.  Thread: the controlling
 *  thread (fails inside a callback). */
VOQ_EXPORT size_t VOQ_Headset_WaitForSamples(VOQ_Headset h, size_t n);
/** Reads and processes blocks for `seconds` (negative: until an error).
 *  Failures are stored as the error.  Thread: the controlling thread (fails
 *  inside a callback). */
VOQ_EXPORT void VOQ_Headset_Idle(VOQ_Headset h, double seconds);
/** Starts acquisition, reads for `duration` seconds (negative: until
 *  stopped), stops, then reads for `idleTime` more seconds.  Failures are
 *  stored as the error.  Thread: the controlling thread (fails inside a
 *  callback). */
VOQ_EXPORT void VOQ_Headset_Receive(VOQ_Headset h, double duration, double idleTime);

/** @} */

/* ------------------------------------------------------------------------ */
/** @name Sample times on the host's clock
 *
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
 * buffer holds, and one more. */
/** @{ */

/** Now, in seconds of the host's steady monotonic clock (CLOCK_MONOTONIC,
 *  the clock std::chrono::steady_clock and lsl_local_clock() count; it does
 *  not jump when the calendar clock is set): the clock of every sample time.
 *  @return the seconds; never fails.  Thread: any. */
VOQ_EXPORT double VOQ_HostClock(void);
/** The host time (VOQ_HostClock seconds) at which the sample most recently
 *  read from the output channels with VOQ_Channel_ReadBuffered was measured
 *  (see above).  Fails when no sample has arrived yet (so always on a
 *  headset that never connected), when there are no output channels, and
 *  when every sample that arrived is still unread.
 *  @return the time; -1.0 on error.  Thread: the controlling thread or a
 *  callback (it does not wait for the acquisition thread's lock). */
VOQ_EXPORT double VOQ_Headset_GetSampleTime(VOQ_Headset h);
/** The host times of the `count` samples up to and including the one that
 *  VOQ_Headset_GetSampleTime gives, oldest first, written to times[0] on:
 *  after reading a batch of B values from each output channel,
 *  GetSampleTimes(h, t, B) gives each sample's time.  A count of 0 writes
 *  and checks nothing; a NULL `times` with a count above 0 fails with "NULL
 *  times pointer"; otherwise it fails as VOQ_Headset_GetSampleTime does.
 *  @return how many times it wrote: fewer than `count` when the samples
 *  before those are no longer kept (or there were none); 0 on error.
 *  Thread: the controlling thread or a callback. */
VOQ_EXPORT unsigned int VOQ_Headset_GetSampleTimes(VOQ_Headset h, double *times, unsigned int count);
/** Inside a sample or stage callback: the host time at which the sample the
 *  callback runs for was measured (the callbacks' own `sampleTime` argument
 *  stays the headset's time stamp).  Fails anywhere else.
 *  @return the time; -1.0 on error.  Thread: a callback of this headset. */
VOQ_EXPORT double VOQ_Headset_GetCallbackSampleTime(VOQ_Headset h);

/** @} */

/** Seconds without any block after which the waiting functions give up. */
#define VOQ_WAIT_SILENCE_LIMIT 5.0

/* ------------------------------------------------------------------------ */
/** @name Reconnection after a lost link */
/** @{ */

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
 *  Failures (that, or a NULL handle) are stored as the error.  Thread: the
 *  controlling thread. */
VOQ_EXPORT void VOQ_Headset_SetReconnect(VOQ_Headset h, double seconds);
/** @return the reconnection time set with VOQ_Headset_SetReconnect (0: off);
 *  -1.0 on error (a NULL handle).  Thread: any. */
VOQ_EXPORT double VOQ_Headset_GetReconnect(VOQ_Headset h);
/** @return 1 when the port is open and the link is not lost, 0 when it is
 *  lost (a reconnection is trying), given up or not connected; 0 on error
 *  (a NULL handle).  Thread: any. */
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
 *  VOQ_LINK_GAVE_UP), 0 when there is none; 0 on error (a NULL handle).
 *  Thread: the controlling thread (it takes the read lock briefly, to see
 *  the buffers and the sample count together). */
VOQ_EXPORT int VOQ_Headset_GetLinkEvent(VOQ_Headset h, double *seconds, size_t *missing, size_t *before);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* VOQ_API_H */
