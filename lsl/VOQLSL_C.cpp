// The LSL outlet's C interface: each function runs its body in the frame of
// recorder/CFrame.h, which turns every exception into the stored error text
// of the calling thread.
#include "VOQLSL.h"

#include <string>

#include "CFrame.h"
#include "Outlet.h"

struct VOQLSL_OutletStruct {
    voqlsl::Outlet outlet;
    explicit VOQLSL_OutletStruct(VOQ_Headset headset) : outlet(headset) {}
};

namespace {

thread_local voqrec::Failure gFailure;

template <typename R, typename Body>
R Frame(R errorValue, Body&& body) {
    return voqrec::Frame(gFailure, "unknown failure inside the VOQ LSL outlet", errorValue, body);
}

voqlsl::Outlet& O(VOQLSL_Outlet o) {
    if (!o) throw voqlsl::LslError("NULL outlet");
    return o->outlet;
}

}  // namespace

const char* VOQLSL_Error(void) { return gFailure.Text(); }

void VOQLSL_ClearError(void) { gFailure.Clear(); }

const char* VOQLSL_GetVersion(void) { return VOQ_VERSION_STRING; }

VOQLSL_Outlet VOQLSL_Open(VOQ_Headset headset) {
    return Frame<VOQLSL_Outlet>(nullptr, [&] { return new VOQLSL_OutletStruct(headset); });
}

int VOQLSL_Start(VOQLSL_Outlet o, double seconds) {
    return Frame<int>(0, [&] {
        O(o).Start(seconds);
        return 1;
    });
}

int VOQLSL_Step(VOQLSL_Outlet o) {
    return Frame<int>(-1, [&] { return O(o).Step() ? 1 : 0; });
}

int VOQLSL_Mark(VOQLSL_Outlet o, const char* text, double stamp) {
    return Frame<int>(0, [&] {
        O(o).Mark(text ? text : "", stamp);
        return 1;
    });
}

int VOQLSL_HasConsumers(VOQLSL_Outlet o) {
    return Frame<int>(-1, [&] { return O(o).HasConsumers() ? 1 : 0; });
}

int VOQLSL_Close(VOQLSL_Outlet o) {
    return Frame<int>(0, [&] {
        O(o).Close();
        return 1;
    });
}

void VOQLSL_Delete(VOQLSL_Outlet o) { delete o; }

const char* VOQLSL_GetStreamName(VOQLSL_Outlet o) {
    return Frame<const char*>(nullptr, [&] { return O(o).Description().name.c_str(); });
}

const char* VOQLSL_GetSourceId(VOQLSL_Outlet o) {
    return Frame<const char*>(nullptr, [&] { return O(o).Description().sourceId.c_str(); });
}

const char* VOQLSL_GetMarkersName(VOQLSL_Outlet o) {
    return Frame<const char*>(nullptr, [&] { return O(o).Description().markersName.c_str(); });
}

const char* VOQLSL_GetMarkersSourceId(VOQLSL_Outlet o) {
    return Frame<const char*>(nullptr, [&] { return O(o).Description().markersSourceId.c_str(); });
}

unsigned int VOQLSL_GetNumberOfChannels(VOQLSL_Outlet o) {
    return Frame<unsigned int>(0, [&] { return static_cast<unsigned int>(O(o).Description().channels.size()); });
}

double VOQLSL_GetSamplingRate(VOQLSL_Outlet o) {
    return Frame<double>(-1.0, [&] { return O(o).Description().rate; });
}

unsigned long long VOQLSL_GetSamplesPushed(VOQLSL_Outlet o) {
    return Frame<unsigned long long>(0, [&] { return O(o).Stats().samplesPushed; });
}

unsigned long long VOQLSL_GetMarkersPushed(VOQLSL_Outlet o) {
    return Frame<unsigned long long>(0, [&] { return O(o).Stats().markersPushed; });
}

unsigned long long VOQLSL_GetTriggerMarkers(VOQLSL_Outlet o) {
    return Frame<unsigned long long>(0, [&] { return O(o).Stats().triggerMarkers; });
}

unsigned long long VOQLSL_GetOverflowedSamples(VOQLSL_Outlet o) {
    return Frame<unsigned long long>(0, [&] { return O(o).Stats().overflowedSamples; });
}
