/*
 * VOQLSL.h - a VOQ headset on the Lab Streaming Layer, as a small C interface
 * of its own (library libVOQLSL-<system>-<processor>, which uses libVOQ
 * through its C interface and a private copy of liblsl).
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
 * samples stamped on the clock of lsl_local_clock(), and
 * "VOQ <serial number> markers" (type Markers, source_id
 * "VOQ-<serial number>-markers") with "trigger <value>", "alarm <name>",
 * "overflow, <N> samples lost" and the caller's own markers.
 *
 * Conventions: functions never throw.  A failure stores its text, which
 * VOQLSL_Error returns on the same thread until the next failure there, and
 * the function returns its error value (NULL, 0 or -1 as given below).  A
 * NULL outlet fails with "NULL outlet".  An outlet is used from one thread at
 * a time (any one); the headset must stay connected and keep its montage
 * until the outlet is closed.  Returned texts live as long as the outlet.
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

typedef struct VOQLSL_OutletStruct *VOQLSL_Outlet;

/* The text of the last failure on this thread, or NULL when none. */
VOQLSL_EXPORT const char *VOQLSL_Error(void);
/* Forgets the last failure of this thread. */
VOQLSL_EXPORT void VOQLSL_ClearError(void);
/* The version of this library (the SDK's version). */
VOQLSL_EXPORT const char *VOQLSL_GetVersion(void);

/* Describes the connected headset's output channels and opens both streams
 * on the network.  NULL on error (a NULL or unconnected headset, no serial
 * number, no output channels, or liblsl could not open a stream). */
VOQLSL_EXPORT VOQLSL_Outlet VOQLSL_Open(VOQ_Headset headset);
/* Starts acquisition when the headset is not acquiring.  Streams `seconds`
 * (negative: until VOQLSL_Close).  1 on success, 0 on error. */
VOQLSL_EXPORT int VOQLSL_Start(VOQLSL_Outlet o, double seconds);
/* Waits until samples are buffered (about one block of the headset) and
 * pushes them with their time stamps, then the markers.  1 while there is
 * more to stream, 0 when the requested time is streamed (or the outlet is
 * closed), -1 on error (the outlet stays open: call again, or close it). */
VOQLSL_EXPORT int VOQLSL_Step(VOQLSL_Outlet o);
/* Pushes a marker `text` (NULL: "") stamped `stamp` in seconds of
 * lsl_local_clock(), or now when `stamp` is negative.  1 or 0. */
VOQLSL_EXPORT int VOQLSL_Mark(VOQLSL_Outlet o, const char *text, double stamp);
/* 1 while an inlet is connected to the samples, 0 when none, -1 on error. */
VOQLSL_EXPORT int VOQLSL_HasConsumers(VOQLSL_Outlet o);
/* Stops what VOQLSL_Start started and closes both streams.  1 on success, 0
 * when acquisition could not be stopped (the streams are closed all the
 * same).  Closing twice returns 1. */
VOQLSL_EXPORT int VOQLSL_Close(VOQLSL_Outlet o);
/* Closes (when still open, ignoring failures) and frees the outlet; NULL
 * does nothing. */
VOQLSL_EXPORT void VOQLSL_Delete(VOQLSL_Outlet o);

/* The names and source_ids of the two streams ("VOQ 2400117",
 * "VOQ-2400117", "VOQ 2400117 markers", "VOQ-2400117-markers"); NULL on
 * error.  The texts live as long as the outlet. */
VOQLSL_EXPORT const char *VOQLSL_GetStreamName(VOQLSL_Outlet o);
VOQLSL_EXPORT const char *VOQLSL_GetSourceId(VOQLSL_Outlet o);
VOQLSL_EXPORT const char *VOQLSL_GetMarkersName(VOQLSL_Outlet o);
VOQLSL_EXPORT const char *VOQLSL_GetMarkersSourceId(VOQLSL_Outlet o);
/* Channels of the samples; 0 on error. */
VOQLSL_EXPORT unsigned int VOQLSL_GetNumberOfChannels(VOQLSL_Outlet o);
/* Nominal rate of the samples; -1.0 on error. */
VOQLSL_EXPORT double VOQLSL_GetSamplingRate(VOQLSL_Outlet o);
/* Counts so far; 0 on error. */
VOQLSL_EXPORT unsigned long long VOQLSL_GetSamplesPushed(VOQLSL_Outlet o);
VOQLSL_EXPORT unsigned long long VOQLSL_GetMarkersPushed(VOQLSL_Outlet o);
VOQLSL_EXPORT unsigned long long VOQLSL_GetTriggerMarkers(VOQLSL_Outlet o);
VOQLSL_EXPORT unsigned long long VOQLSL_GetOverflowedSamples(VOQLSL_Outlet o);

#ifdef __cplusplus
}
#endif

#endif /* VOQ_LSL_H */
