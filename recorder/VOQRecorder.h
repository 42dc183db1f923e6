/*
 * VOQRecorder.h - recording a VOQ headset to BDF+ or EDF+ files, as a small
 * C interface of its own (library libVOQRecorder-<system>-<processor>, which
 * uses libVOQ through its C interface and EDFlib for the files).
 *
 *     VOQRec_Recording r = VOQRec_Open(headset, "session.bdf", 0.0, 0);
 *     if (r && VOQRec_Start(r, 60.0)) {
 *         while (VOQRec_Step(r) == 1) { ... }
 *     }
 *     if (!VOQRec_Close(r)) fprintf(stderr, "%s\n", VOQRec_Error());
 *     VOQRec_Delete(r);
 *
 * What the files hold, the segments and the handling of failures are those
 * of the C++ class voqrec::Recorder (recorder/Recorder.h).
 *
 * Conventions: functions never throw.  A failure stores its text, which
 * VOQRec_Error returns on the same thread until the next failure there, and
 * the function returns its error value (NULL, 0 or -1 as given below).  A NULL
 * recording fails with "NULL recording".  A recording is used from one thread
 * at a time; the headset must stay connected and keep its montage until the
 * recording is closed.
 */
#ifndef VOQ_RECORDER_H
#define VOQ_RECORDER_H

#include "VOQ_API.h"

#if defined(_WIN32)
#  define VOQREC_EXPORT __declspec(dllexport)
#else
#  define VOQREC_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VOQRec_RecordingStruct *VOQRec_Recording;

/* Flags of VOQRec_Open. */
#define VOQREC_OVERWRITE 1        /* replace existing files */
#define VOQREC_IMPEDANCE_FIRST 2  /* measure and annotate impedances before recording */

/* The text of the last failure on this thread, or NULL when none. */
VOQREC_EXPORT const char *VOQRec_Error(void);
/* Forgets the last failure of this thread. */
VOQREC_EXPORT void VOQRec_ClearError(void);
/* The version of this library (the SDK's version). */
VOQREC_EXPORT const char *VOQRec_GetVersion(void);

/* Prepares a recording of the headset's output channels to `path` (".bdf":
 * BDF+, ".edf": EDF+).  `segmentSeconds` > 0 continues in a new numbered file
 * at that interval (path-002.bdf, ...); 0 writes one file.  Creates nothing
 * yet.  NULL on error. */
VOQREC_EXPORT VOQRec_Recording VOQRec_Open(VOQ_Headset headset, const char *path, double segmentSeconds,
                                           int flags);
/* Creates the first file, measures impedances when asked, starts acquisition
 * when the headset is not acquiring.  Records `seconds` (negative: until
 * VOQRec_Close).  1 on success, 0 on error (the recording is then closed). */
VOQREC_EXPORT int VOQRec_Start(VOQRec_Recording r, double seconds);
/* Waits for one batch (about 60 ms) and writes it.  1 while there is more to
 * record, 0 when the requested time is recorded (or the recording is
 * closed), -1 on error (the recording is then closed; what was written
 * before stays readable). */
VOQREC_EXPORT int VOQRec_Step(VOQRec_Recording r);
/* An annotation at the next sample (at most 40 characters are kept, control
 * characters become blanks).
 * 1 on success, 0 on error. */
VOQREC_EXPORT int VOQRec_Annotate(VOQRec_Recording r, const char *text);
/* Annotates `count` real-time violations at the next sample. 1 or 0. */
VOQREC_EXPORT int VOQRec_NoteRealTimeViolations(VOQRec_Recording r, unsigned long long count);
/* Completes and closes the file and stops what VOQRec_Start started.  1 on
 * success, 0 when the file could not be completed (it is closed all the same
 * and keeps what was written).  Closing twice returns 1. */
VOQREC_EXPORT int VOQRec_Close(VOQRec_Recording r);
/* Closes (when still open, ignoring failures) and frees the recording. */
VOQREC_EXPORT void VOQRec_Delete(VOQRec_Recording r);

/* Repairing a file whose recording was cut short (a crash, a kill, a power
 * cut).  Beside every recording file, its events file (path_events.tsv for
 * path.bdf, with the sidecar path_events.json) gets a row for each of the
 * file's annotations as soon as it is known, while the file itself gets its
 * annotations and its length only when it is closed. */

/* Whether the file at `path` needs VOQRec_Repair: 1 when its header says its
 * length is unknown or its size disagrees with the header, 0 when it was
 * closed properly, -1 on error (it cannot be read or is not an EDF or BDF
 * file; VOQRec_Error tells why).  A NULL `path` is an error.  Any thread. */
VOQREC_EXPORT int VOQRec_NeedsRepair(const char *path);
/* Repairs the file at `path`: keeps its complete data records, sets its
 * record count and writes the rows of its events file into its annotations,
 * so that any reader opens an ordinary BDF+/EDF+ file with all its events.
 * The repaired file is written beside it and renamed over it once complete.
 * Returns a one-line report ("repaired ..." or "... was closed properly:
 * nothing to repair", in which case nothing is changed), valid until the
 * next VOQRec_Repair on the same thread; NULL on error, with nothing changed
 * (not an EDF or BDF file, a truncated header, no complete data record, an
 * events file that does not belong to it; VOQRec_Error tells why).  A NULL
 * `path` is an error.  Any thread, one repair of a file at a time. */
VOQREC_EXPORT const char *VOQRec_Repair(const char *path);

/* Progress and results; 0 (or NULL, or -1.0) on error. */
VOQREC_EXPORT double VOQRec_GetSamplingRate(VOQRec_Recording r);
VOQREC_EXPORT double VOQRec_GetSecondsWritten(VOQRec_Recording r);
VOQREC_EXPORT unsigned long long VOQRec_GetSamplesWritten(VOQRec_Recording r);
VOQREC_EXPORT unsigned long long VOQRec_GetOverflowedSamples(VOQRec_Recording r);
VOQREC_EXPORT unsigned long long VOQRec_GetRealTimeViolations(VOQRec_Recording r);
VOQREC_EXPORT unsigned long long VOQRec_GetTriggerChanges(VOQRec_Recording r);
VOQREC_EXPORT unsigned long long VOQRec_GetAnnotations(VOQRec_Recording r);
VOQREC_EXPORT unsigned long long VOQRec_GetClippedValues(VOQRec_Recording r);
/* 1 when a signal "Trigger" is recorded, 0 when the montage has no plain
 * trigger channel (or on error). */
VOQREC_EXPORT int VOQRec_HasTrigger(VOQRec_Recording r);
/* The files begun so far (the open one last); the text stays valid until the
 * recording is deleted. */
VOQREC_EXPORT unsigned int VOQRec_GetNumberOfFiles(VOQRec_Recording r);
VOQREC_EXPORT const char *VOQRec_GetFileName(VOQRec_Recording r, unsigned int index);

#ifdef __cplusplus
}
#endif

#endif /* VOQ_RECORDER_H */
