// TEMPORARY stand-in, see PendingSampleTimes.h.
#include "PendingSampleTimes.h"
#include <lsl_c.h>
extern "C" unsigned int VOQ_Headset_GetSampleTimes(VOQ_Headset h, double* times, unsigned int count) {
    static double start = -1.0;
    static unsigned long long read = 0;
    const double rate = VOQ_Headset_GetSamplingRate(h);
    if (start < 0) start = lsl_local_clock();
    for (unsigned int j = 0; j < count; ++j) times[j] = start + double(read + j) / rate;
    read += count;
    return count;
}
