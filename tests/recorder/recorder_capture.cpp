// Helper of test_mne_readback.py: records from the in-process simulated
// headset and, independently of the recorder, captures what the library
// computed for every output channel at every sample (through the sample
// callback), so that a reader of the file can compare the two.
//
//   recorder_capture OUTDIR SECONDS NAME...
//
// For each NAME (session.bdf, session.edf, ...) in turn: records SECONDS
// seconds to OUTDIR/NAME, and writes OUTDIR/NAME.csv: a line of the file's
// signal labels and "calendar time", then one line per captured sample (full
// precision): its values and its measurement time as calendar seconds.
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "Recorder.h"
#include "Simulator.h"
#include "VOQ_API.h"
#include "voq/Time.h"

namespace {

std::mutex gMutex;
std::vector<VOQ_Channel> gChannels;
std::vector<std::vector<double>> gSamples;

void CaptureSample(VOQ_Headset headset, double, void*) {
    std::lock_guard<std::mutex> lock(gMutex);
    std::vector<double> row;
    for (VOQ_Channel c : gChannels) row.push_back(VOQ_Channel_CalculateRawSignal(c));
    row.push_back(VOQ_Headset_GetCallbackSampleTime(headset));
    gSamples.push_back(row);
}

int Quiet(const char*, int) { return 0; }

int Fail(const std::string& text) {
    std::fprintf(stderr, "recorder_capture: %s\n", text.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return Fail("usage: recorder_capture OUTDIR SECONDS NAME...");
    const std::string dir = argv[1];
    const double seconds = std::atof(argv[2]);
    // The time zone is read once, before the simulator's and the library's
    // threads call the time functions.
    if (!std::getenv("TZ")) setenv("TZ", ":/etc/localtime", 1);
    tzset();

    voqsim::Config config;
    config.triggerPeriodSeconds = 0.25;
    voqsim::Simulator sim(config);
    VOQ_Headset headset = VOQ_Headset_New(nullptr);
    VOQ_Headset_SetMessageCallback(headset, &Quiet);
    VOQ_Headset_Connect(headset, sim.Start().c_str());
    if (VOQ_Error()) return Fail(std::string("cannot connect: ") + VOQ_Error());

    int status = 0;
    for (int a = 3; a < argc && status == 0; ++a) {
        const std::string path = dir + "/" + argv[a];
        {
            std::lock_guard<std::mutex> lock(gMutex);
            gChannels.clear();
            gSamples.clear();
            for (unsigned i = 0; i < VOQ_Headset_GetNumberOfChannels(headset); ++i)
                gChannels.push_back(VOQ_Headset_GetChannelByIndex(headset, i));
        }
        VOQ_Headset_SetSampleCallback(headset, &CaptureSample, nullptr);
        std::vector<std::string> labels;
        try {
            voqrec::Recorder recorder(headset, path);
            labels = recorder.Labels();
            recorder.Start(seconds);
            while (recorder.Step()) {
            }
            recorder.Close();
        } catch (const std::exception& e) {
            status = Fail(e.what());
        }
        VOQ_Headset_SetSampleCallback(headset, nullptr, nullptr);

        std::lock_guard<std::mutex> lock(gMutex);
        FILE* csv = std::fopen((path + ".csv").c_str(), "w");
        if (!csv) {
            status = Fail("cannot write " + path + ".csv");
            break;
        }
        for (size_t k = 0; k < labels.size(); ++k) std::fprintf(csv, "%s,", labels[k].c_str());
        std::fprintf(csv, "calendar time\n");
        const double calendar = VOQ::CalendarMinusHostClock();
        for (std::vector<double>& row : gSamples) {
            row.back() += calendar;
            for (size_t k = 0; k < row.size(); ++k) std::fprintf(csv, "%s%.17g", k ? "," : "", row[k]);
            std::fprintf(csv, "\n");
        }
        if (std::fclose(csv) != 0) status = Fail("cannot write " + path + ".csv");
    }
    VOQ_Headset_Delete(headset);
    return status;
}
