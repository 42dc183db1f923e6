/**
 * @file VOQRecorder.h
 * @brief Recording a VOQ headset to BDF+ or EDF+ files, as a small
 * C interface of its own (library `libVOQRecorder-<system>-<processor>`, which
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

/** One recording, from VOQRec_Open to VOQRec_Delete. */
typedef struct VOQRec_RecordingStruct *VOQRec_Recording;

/** Flag of VOQRec_Open: replace existing files. */
#define VOQREC_OVERWRITE 1
/** Flag of VOQRec_Open: measure and annotate impedances before recording. */
#define VOQREC_IMPEDANCE_FIRST 2

/** The text of the last failure on this thread.
 *  @return the text, or NULL when none.  Never fails.  The text stays valid
 *  until the next failure, or VOQRec_ClearError, on this thread.  Thread:
 *  any (each thread has its own failure). */
VOQREC_EXPORT const char *VOQRec_Error(void);
/** Forgets the last failure of this thread.  Never fails.  Thread: any. */
VOQREC_EXPORT void VOQRec_ClearError(void);
/** The version of this library (the SDK's version).
 *  @return the version; never fails.  The text stays valid as long as the
 *  library is loaded.  Thread: any. */
VOQREC_EXPORT const char *VOQRec_GetVersion(void);

/** Prepares a recording of the headset's output channels to `path` (".bdf":
 *  BDF+, ".edf": EDF+).  `segmentSeconds` > 0 continues in a new numbered
 *  file at that interval (path-002.bdf, ...); 0 writes one file.  `flags`:
 *  VOQREC_OVERWRITE, VOQREC_IMPEDANCE_FIRST.  Creates nothing yet.
 *  @return the recording, to be freed with VOQRec_Delete; NULL on error
 *  (such as a NULL or unconnected headset, or an existing file without
 *  VOQREC_OVERWRITE).  Thread: the headset's controlling thread. */
VOQREC_EXPORT VOQRec_Recording VOQRec_Open(VOQ_Headset headset, const char *path, double segmentSeconds,
                                           int flags);
/** Creates the first file, measures impedances when asked, starts
 *  acquisition when the headset is not acquiring.  Records `seconds`
 *  (negative: until VOQRec_Close).
 *  @return 1 on success; 0 on error (the recording is then closed).
 *  Thread: the headset's controlling thread. */
VOQREC_EXPORT int VOQRec_Start(VOQRec_Recording r, double seconds);
/** Waits for one batch (about 60 ms) and writes it.
 *  @return 1 while there is more to record, 0 when the requested time is
 *  recorded (or the recording is closed); -1 on error (the recording is
 *  then closed; what was written before stays readable).  Thread: the
 *  headset's controlling thread. */
VOQREC_EXPORT int VOQRec_Step(VOQRec_Recording r);
/** Adds an annotation at the next sample (at most 40 characters are kept,
 *  control characters become blanks).
 *  @return 1 on success; 0 on error.  Thread: the headset's controlling
 *  thread. */
VOQREC_EXPORT int VOQRec_Annotate(VOQRec_Recording r, const char *text);
/** Annotates `count` real-time violations at the next sample.
 *  @return 1 on success; 0 on error.  Thread: the headset's controlling
 *  thread. */
VOQREC_EXPORT int VOQRec_NoteRealTimeViolations(VOQRec_Recording r, unsigned long long count);
/** Completes and closes the file and stops what VOQRec_Start started.
 *  Closing twice returns 1.
 *  @return 1 on success; 0 on error: the file could not be completed (it
 *  is closed all the same and keeps what was written).  Thread: the
 *  headset's controlling thread. */
VOQREC_EXPORT int VOQRec_Close(VOQRec_Recording r);
/** Closes (when still open, ignoring failures) and frees the recording;
 *  NULL does nothing.  Never fails.  Thread: the headset's controlling
 *  thread. */
VOQREC_EXPORT void VOQRec_Delete(VOQRec_Recording r);

/* Repairing a file whose recording was cut short (a crash, a kill, a power
 * cut).  Beside every recording file, its events file (path_events.tsv for
 * path.bdf, with the sidecar path_events.json) gets a row for each of the
 * file's annotations as soon as it is known, while the file itself gets its
 * annotations and its length only when it is closed. */

/** Whether the file at `path` needs VOQRec_Repair.
 *  @return 1 when its header says its length is unknown or its size
 *  disagrees with the header; 0 when it was closed properly; -1 on error
 *  (it cannot be read, is not an EDF or BDF file, or `path` is NULL;
 *  VOQRec_Error tells why).  Thread: any. */
VOQREC_EXPORT int VOQRec_NeedsRepair(const char *path);
/** Repairs the file at `path`: keeps its complete data records, sets its
 *  record count and writes the rows of its events file into its
 *  annotations, so that any reader opens an ordinary BDF+/EDF+ file with all
 *  its events.  The repaired file is written beside it and renamed over it
 *  once complete.
 *  @return a one-line report ("repaired ..." or "... was closed properly:
 *  nothing to repair", in which case nothing is changed), valid until the
 *  next VOQRec_Repair on the same thread; NULL on error, with nothing
 *  changed (not an EDF or BDF file, a truncated header, no complete data
 *  record, an events file that does not belong to it, a NULL `path`;
 *  VOQRec_Error tells why).  Thread: any; one repair of a file at a time. */
VOQREC_EXPORT const char *VOQRec_Repair(const char *path);

/** The sampling rate recorded, in samples per second.
 *  @return the rate; -1.0 on error.  Thread: the thread using the
 *  recording. */
VOQREC_EXPORT double VOQRec_GetSamplingRate(VOQRec_Recording r);
/** The seconds written so far.
 *  @return the seconds; -1.0 on error.  Thread: the thread using the
 *  recording. */
VOQREC_EXPORT double VOQRec_GetSecondsWritten(VOQRec_Recording r);
/** The samples written so far (per signal).
 *  @return the number; 0 on error.  Thread: the thread using the
 *  recording. */
VOQREC_EXPORT unsigned long long VOQRec_GetSamplesWritten(VOQRec_Recording r);
/** The samples lost because they were not read in time (annotated).
 *  @return the number; 0 on error.  Thread: the thread using the
 *  recording. */
VOQREC_EXPORT unsigned long long VOQRec_GetOverflowedSamples(VOQRec_Recording r);
/** The real-time violations annotated.
 *  @return the number; 0 on error.  Thread: the thread using the
 *  recording. */
VOQREC_EXPORT unsigned long long VOQRec_GetRealTimeViolations(VOQRec_Recording r);
/** The trigger changes annotated.
 *  @return the number; 0 on error.  Thread: the thread using the
 *  recording. */
VOQREC_EXPORT unsigned long long VOQRec_GetTriggerChanges(VOQRec_Recording r);
/** The annotations written, of every kind.
 *  @return the number; 0 on error.  Thread: the thread using the
 *  recording. */
VOQREC_EXPORT unsigned long long VOQRec_GetAnnotations(VOQRec_Recording r);
/** The values clipped to their signal's range.
 *  @return the number; 0 on error.  Thread: the thread using the
 *  recording. */
VOQREC_EXPORT unsigned long long VOQRec_GetClippedValues(VOQRec_Recording r);
/** Whether a signal "Trigger" is recorded.
 *  @return 1 when it is, 0 when the montage has no plain trigger channel; 0
 *  on error.  Thread: the thread using the recording. */
VOQREC_EXPORT int VOQRec_HasTrigger(VOQRec_Recording r);
/** The number of files begun so far.
 *  @return the number; 0 on error.  Thread: the thread using the
 *  recording. */
VOQREC_EXPORT unsigned int VOQRec_GetNumberOfFiles(VOQRec_Recording r);
/** A file begun so far by zero-based index (the open one last).
 *  @return the file name; NULL on error (such as an index out of range).
 *  The text stays valid until the recording is deleted.  Thread: the thread
 *  using the recording. */
VOQREC_EXPORT const char *VOQRec_GetFileName(VOQRec_Recording r, unsigned int index);

#ifdef __cplusplus
}
#endif

#endif /* VOQ_RECORDER_H */
