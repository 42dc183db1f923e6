/* A complete session through the C interface, in plain C:
 *
 *   voq-example-acquire PORT [SECONDS]
 *
 * connects to the headset on PORT (a real one, or a simulated one from
 * `voq-sim`), prints what it is and how it is set, sends a few device
 * commands, chooses a montage with a reference and adds a processing stage,
 * then acquires SECONDS (default 60) of paced batches in the background,
 * prints the impedances and the information string, stops and disconnects.
 *
 * Exits 0 when every step worked and every batch arrived in full, 1 when the
 * library reported an error (the stored error text is printed), 2 on bad
 * arguments. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "VOQ_API.h"

/* A stage that rectifies every montage channel: each sample, the absolute
 * value of the newest input value of the same channel. */
static void Rectify(VOQ_Headset headset, double sampleTime, void *stage) {
    VOQ_ProcessingStage self = (VOQ_ProcessingStage)stage;
    VOQ_ProcessingStage input = VOQ_ProcessingStage_GetInput(self);
    unsigned int n = VOQ_ProcessingStage_GetNumberOfChannels(self);
    unsigned int i;
    (void)headset;
    (void)sampleTime;
    for (i = 0; i < n; ++i) VOQ_ProcessingStage_Write(self, i, fabs(VOQ_ProcessingStage_Read(input, i, 0)));
}

/* Prints the stored error, if any, and says whether there was one. */
static int Failed(const char *step) {
    const char *error = VOQ_Error();
    if (error == NULL) return 0;
    fprintf(stderr, "error while %s: %s\n", step, error);
    return 1;
}

#define STEP(description, statement)            \
    do {                                        \
        statement;                              \
        if (Failed(description)) goto failure;  \
    } while (0)

int main(int argc, char **argv) {
    const char *port;
    double seconds = 60.0;
    VOQ_Headset h = NULL;
    VOQ_ProcessingStage stage = NULL;
    unsigned int i, channels = 0, batchSize;
    unsigned long batches = 0, values = 0, expected = 0;
    unsigned long overflowed;
    double rate, first = -1.0, last = 0.0, sum = 0.0, span;
    int alarm, complete;

    if (argc < 2 || argc > 3 || strcmp(argv[1], "--help") == 0) {
        fprintf(stderr, "usage: %s PORT [SECONDS]\n", argv[0]);
        return 2;
    }
    port = argv[1];
    if (argc == 3) {
        char *end = NULL;
        seconds = strtod(argv[2], &end);
        if (end == argv[2] || *end != '\0' || !(seconds > 0.0) || seconds > 86400.0) {
            fprintf(stderr, "SECONDS must be a number of seconds above 0 (at most a day), not \"%s\"\n", argv[2]);
            return 2;
        }
    }

    /* Connecting runs the whole start-up sequence (about two seconds). */
    h = VOQ_Headset_New(port);
    if (h == NULL) {
        Failed("connecting");
        return 1;
    }

    printf("connected to %s\n", VOQ_Headset_GetPort(h));
    printf("model %s, revision %s, serial number %u, %u sensors\n", VOQ_Headset_GetHardwareModel(h),
           VOQ_Headset_GetHardwareRevision(h), VOQ_Headset_GetSerialNumber(h), VOQ_Headset_GetSensorCount(h));
    printf("firmware %s\n", VOQ_Headset_GetFirmwareRevision(h));
    printf("battery %s\n", VOQ_Headset_GetBatteryLevelString(h));
    printf("sampling rate %g/s, filter mode %d, accelerometer %g/s\n", VOQ_Headset_GetSamplingRate(h),
           VOQ_Headset_GetFilterMode(h), VOQ_Headset_GetAccelerometerRate(h));
    printf("modes: acquisition %d, impedance driver %d, analog reset %d\n", VOQ_Headset_GetDataAcquisitionMode(h),
           VOQ_Headset_GetImpedanceDriverMode(h), VOQ_Headset_GetAnalogResetMode(h));
    if (Failed("reading the headset's identity and settings")) goto failure;
    printf("alarms:");
    while ((alarm = VOQ_Headset_GetAlarm(h, 1)) != 0) printf(" 0x%04x", (unsigned)alarm);
    printf("\n");

    /* A few device commands; each waits for the headset's answer. */
    STEP("changing the LEDs", VOQ_Headset_ChangeLEDs(h, 3));
    STEP("setting the accelerometer rate", VOQ_Headset_SetAccelerometerRate(h, 25));
    STEP("asking for the battery levels", VOQ_Headset_SendBatteryQuery(h));
    printf("accelerometer now %g/s, battery %s\n", VOQ_Headset_GetAccelerometerRate(h),
           VOQ_Headset_GetBatteryLevelString(h));

    /* Signals: the sources the headset has, a montage and its reference, and
     * a processing stage after it. */
    printf("sources: %s\n", VOQ_Headset_GetSourceNames(h, 0x13));
    STEP("choosing the montage", VOQ_Headset_ChooseChannels(h, "F3 C3 P3 Cz O1", "A1/2+A2/2", 1));
    printf("montage: %s\n", VOQ_Headset_GetMontageString(h));
    printf("reference: %s\n", VOQ_Headset_GetReferenceString(h));
    STEP("adding a processing stage", stage = VOQ_Headset_AddProcessingStage(h, "rectified", Rectify, NULL, NULL));
    channels = VOQ_ProcessingStage_GetNumberOfChannels(stage);

    /* Batches of 0.1 s, paced by the headset's own clock. */
    rate = VOQ_Headset_GetSamplingRate(h);
    batchSize = (unsigned int)(rate / 10.0 + 0.5);
    STEP("configuring the batches", VOQ_Headset_ConfigureBatch(h, batchSize, 0.05));
    STEP("starting the impedance driver", VOQ_Headset_StartImpedanceDriver(h));
    STEP("starting background acquisition", VOQ_Headset_StartBackgroundAcquisition(h));
    printf("acquiring %g s in batches of %u samples over %u channels\n", seconds, batchSize, channels);
    expected = (unsigned long)(seconds * rate / batchSize);
    if (expected < 2) expected = 2;
    while (batches < expected) {
        double t = VOQ_Headset_WaitForBatch(h);
        if (Failed("waiting for a batch")) goto failure;
        if (first < 0.0) first = t;
        last = t;
        for (i = 0; i < channels; ++i) {
            VOQ_Channel c = VOQ_ProcessingStage_GetChannelByIndex(stage, i);
            unsigned int k;
            for (k = 0; k < batchSize; ++k) {
                sum += VOQ_Channel_ReadBuffered(c);
                ++values;
            }
        }
        if (Failed("reading a batch")) goto failure;
        ++batches;
    }
    printf("%lu batches, %lu values, batch times from %.3f s to %.3f s; mean rectified signal %.3f uV\n", batches, values,
           first, last, values ? sum / (double)values : 0.0);
    overflowed = (unsigned long)VOQ_Headset_GetNumberOfOverflowedSamples(h);
    printf("overflowed values: %lu\n", overflowed);
    /* Consecutive batches are batchSize samples apart on the headset's
     * clock: a shorter span means lost samples, a longer one repeated. */
    span = (double)(batches - 1) * batchSize / rate;
    complete = overflowed == 0 && fabs((last - first) - span) <= 0.01 * span + 2.0 / rate;
    if (!complete)
        fprintf(stderr, "incomplete: batch times span %.4f s for %.4f s of samples, %lu values overflowed\n",
                last - first, span, overflowed);

    /* Impedances of the electrodes that the montage uses. */
    printf("impedances (kOhm):");
    for (i = 0; i < VOQ_Headset_GetNumberOfSources(h); ++i) {
        VOQ_Source s = VOQ_Headset_GetSourceByIndex(h, i);
        if (VOQ_Source_IsReferentialEEG(s)) printf(" %s=%.1f", VOQ_Source_GetName(s), VOQ_Source_GetImpedanceEEG(s));
    }
    printf("\ncommon mode %.1f\n", VOQ_Headset_GetImpedanceCMF(h));
    printf("%s\n", VOQ_Headset_GetInfoString(h));
    if (Failed("reading impedances and the information string")) goto failure;

    STEP("stopping background acquisition", VOQ_Headset_StopBackgroundAcquisition(h));
    STEP("stopping the impedance driver", VOQ_Headset_StopImpedanceDriver(h));
    STEP("disconnecting", VOQ_Headset_Disconnect(h));
    VOQ_Headset_Delete(h);
    return complete ? 0 : 1;

failure:
    VOQ_Headset_Delete(h);
    return 1;
}
