// TEMPORARY stand-in for the sample-time export of the time-stamps work, until it lands.
#pragma once
#include "VOQ_API.h"
extern "C" unsigned int VOQ_Headset_GetSampleTimes(VOQ_Headset h, double* times, unsigned int count);
