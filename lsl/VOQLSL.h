/**
 * @file VOQLSL.h
 * @brief A VOQ headset on the Lab Streaming Layer, as a small C interface of
 * its own (library `libVOQLSL-<system>-<processor>`, which uses libVOQ through
 * its C interface and a private copy of liblsl).
 *
 *     VOQLSL_Outlet o = VOQLSL_Open(headset);      // both streams appear
 *     if (o && VOQLSL_Start(o, -1.0)) {
 *         while (VOQLSL_Step(o) == 1) { ... until the application stops ... }
 *     }
 *     if (!VOQLSL_Close(o)) fprintf(stderr, "%s\n", VOQLSL_Error());
 *     VOQLSL_Delete(o);
 *
 * The streams, their metadata, the markers and the time stamps are those of
 * the C++ class voqlsl::Outlet (lsl/Outlet.h): "VOQ <serial number>" (type
 * EEG, source_id "VOQ-<serial number>") with the output channels as float32
 * samples, each stamped with its own time on the clock of lsl_local_clock(),
 * and "VOQ <serial number> markers" (type Markers, source_id
 * "VOQ-<serial number>-markers") with "trigger <value>", "alarm <name>",
 * "overflow, <N> samples lost", "link lost" and "link restored, <N> samples
 * missing" (when the headset reconnects by itself after a lost link, see
 * VOQ_Headset_SetReconnect: the streams stay open) and the caller's own
 * markers.
 *
 * Conventions: functions never throw.  A failure stores its text, which
 * VOQLSL_Error returns on the same thread until the next failure there, and
 * the function returns its error value (NULL, 0 or -1 as given below).  A
 * NULL outlet fails with "NULL outlet".  An outlet is used from one thread
 * at a time, the headset's controlling thread; the headset must stay
 * connected and keep its montage until the outlet is closed.
 */
#ifndef VOQ_LSL_H
#define VOQ_LSL_H

#include "VOQ_API.h"

#if defined(_WIN32)
#  define VOQLSL_EXPORT __declspec(dllexport)
#else
#  define VOQLSL_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** One outlet (its two streams), from VOQLSL_Open to VOQLSL_Delete. */
typedef struct VOQLSL_OutletStruct *VOQLSL_Outlet;

/** The text of the last failure on this thread.
 *  @return the text, or NULL when none.  Never fails.  The text stays valid
 *  until the next failure, or VOQLSL_ClearError, on this thread.  Thread:
 *  any (each thread has its own failure). */
VOQLSL_EXPORT const char *VOQLSL_Error(void);
/** Forgets the last failure of this thread.  Never fails.  Thread: any. */
VOQLSL_EXPORT void VOQLSL_ClearError(void);
/** The version of this library (the SDK's version).
 *  @return the version; never fails.  The text stays valid as long as the
 *  library is loaded.  Thread: any. */
VOQLSL_EXPORT const char *VOQLSL_GetVersion(void);

/** Describes the connected headset's output channels and opens both streams
 *  on the network (liblsl reads its configuration, e.g. the file named by
 *  LSLAPICFG, when the first outlet of the process opens).
 *  @return the outlet, to be freed with VOQLSL_Delete; NULL on error (a NULL
 *  or unconnected headset, no serial number, no output channels, or liblsl
 *  could not open a stream).  Thread: the headset's controlling thread. */
VOQLSL_EXPORT VOQLSL_Outlet VOQLSL_Open(VOQ_Headset headset);
/** Starts acquisition when the headset is not acquiring (VOQLSL_Close stops
 *  it again).  Streams `seconds` (negative: until VOQLSL_Close).
 *  @return 1 on success; 0 on error.  Thread: the headset's controlling
 *  thread. */
VOQLSL_EXPORT int VOQLSL_Start(VOQLSL_Outlet o, double seconds);
/** Waits until samples have arrived (about one block of the headset, at
 *  most VOQ_WAIT_SILENCE_LIMIT seconds) and pushes them with their time
 *  stamps, then the markers they and the headset call for.  While a lost
 *  link is being reconnected it returns 1 after a short pause when nothing
 *  is buffered; a link that does not come back is an error.
 *  @return 1 while there is more to stream, 0 when the requested time is
 *  streamed (or the outlet is closed); -1 on error (the outlet stays open:
 *  call again, or close it).  Thread: the headset's controlling thread. */
VOQLSL_EXPORT int VOQLSL_Step(VOQLSL_Outlet o);
/** Pushes a marker `text` (NULL: "") stamped `stamp` in seconds of
 *  lsl_local_clock(), or now when `stamp` is negative.
 *  @return 1 on success; 0 on error (such as a closed outlet).  Thread: the
 *  headset's controlling thread. */
VOQLSL_EXPORT int VOQLSL_Mark(VOQLSL_Outlet o, const char *text, double stamp);
/** Whether an inlet is connected to the samples.
 *  @return 1 when one is, 0 when none; -1 on error.  Thread: the thread
 *  using the outlet. */
VOQLSL_EXPORT int VOQLSL_HasConsumers(VOQLSL_Outlet o);
/** Stops what VOQLSL_Start started and closes both streams.  Closing twice
 *  returns 1.
 *  @return 1 on success; 0 on error: acquisition could not be stopped (the
 *  streams are closed all the same).  Thread: the headset's controlling
 *  thread. */
VOQLSL_EXPORT int VOQLSL_Close(VOQLSL_Outlet o);
/** Closes (when still open, ignoring failures) and frees the outlet; NULL
 *  does nothing.  Never fails.  Thread: the headset's controlling thread. */
VOQLSL_EXPORT void VOQLSL_Delete(VOQLSL_Outlet o);

/** The name of the samples' stream, e.g. "VOQ 2400117".
 *  @return the name; NULL on error.  The text stays valid until the outlet
 *  is deleted.  Thread: the thread using the outlet. */
VOQLSL_EXPORT const char *VOQLSL_GetStreamName(VOQLSL_Outlet o);
/** The source_id of the samples' stream, e.g. "VOQ-2400117".
 *  @return the source_id; NULL on error.  The text stays valid until the
 *  outlet is deleted.  Thread: the thread using the outlet. */
VOQLSL_EXPORT const char *VOQLSL_GetSourceId(VOQLSL_Outlet o);
/** The name of the markers' stream, e.g. "VOQ 2400117 markers".
 *  @return the name; NULL on error.  The text stays valid until the outlet
 *  is deleted.  Thread: the thread using the outlet. */
VOQLSL_EXPORT const char *VOQLSL_GetMarkersName(VOQLSL_Outlet o);
/** The source_id of the markers' stream, e.g. "VOQ-2400117-markers".
 *  @return the source_id; NULL on error.  The text stays valid until the
 *  outlet is deleted.  Thread: the thread using the outlet. */
VOQLSL_EXPORT const char *VOQLSL_GetMarkersSourceId(VOQLSL_Outlet o);
/** The number of channels of the samples' stream.
 *  @return the number; 0 on error.  Thread: the thread using the outlet. */
VOQLSL_EXPORT unsigned int VOQLSL_GetNumberOfChannels(VOQLSL_Outlet o);
/** The nominal rate of the samples' stream, in samples per second.
 *  @return the rate; -1.0 on error.  Thread: the thread using the outlet. */
VOQLSL_EXPORT double VOQLSL_GetSamplingRate(VOQLSL_Outlet o);
/** The samples pushed so far.
 *  @return the number; 0 on error.  Thread: the thread using the outlet. */
VOQLSL_EXPORT unsigned long long VOQLSL_GetSamplesPushed(VOQLSL_Outlet o);
/** The markers pushed so far, of every kind.
 *  @return the number; 0 on error.  Thread: the thread using the outlet. */
VOQLSL_EXPORT unsigned long long VOQLSL_GetMarkersPushed(VOQLSL_Outlet o);
/** The "trigger <value>" markers pushed so far.
 *  @return the number; 0 on error.  Thread: the thread using the outlet. */
VOQLSL_EXPORT unsigned long long VOQLSL_GetTriggerMarkers(VOQLSL_Outlet o);
/** The samples lost because they were not read in time (marked).
 *  @return the number; 0 on error.  Thread: the thread using the outlet. */
VOQLSL_EXPORT unsigned long long VOQLSL_GetOverflowedSamples(VOQLSL_Outlet o);

#ifdef __cplusplus
}
#endif

#endif /* VOQ_LSL_H */
