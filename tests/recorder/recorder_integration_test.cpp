// Recordings from the simulated headset, read back with EDFlib's reader and
// compared with what the library delivered, captured independently through
// the sample callback.  One connected headset serves the whole suite.
#include <edflib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "FileSizeLimit.h"
#include "Recorder.h"
#include "Simulator.h"
#include "../support/SimulatorSuite.h"
#include "VOQ_API.h"

using namespace voqrec;

namespace {

int Quiet(const char*, int) { return 0; }

// Every sample the library computed for the output channels, as the sample
// callback sees it.
struct Capture {
    std::mutex mutex;
    std::vector<VOQ_Channel> channels;
    std::vector<std::vector<double>> samples;
};
Capture gCapture;

void CaptureSample(VOQ_Headset, double, void*) {
    std::lock_guard<std::mutex> lock(gCapture.mutex);
    std::vector<double> row;
    row.reserve(gCapture.channels.size());
    for (VOQ_Channel c : gCapture.channels) row.push_back(VOQ_Channel_CalculateRawSignal(c));
    gCapture.samples.push_back(std::move(row));
}

struct Signal {
    std::string label;
    std::string dimension;
    double step = 0.0;            // one digital step, physical units
    std::vector<double> values;
};

struct FileContents {
    int type = -1;
    double rate = 0.0;
    long long records = 0;
    std::string equipment;
    std::vector<Signal> signals;
    std::vector<std::pair<long long, std::string>> annotations;   // sample, text
    std::vector<std::pair<double, double>> durations;             // seconds: onset, duration
};

std::string Trimmed(const char* text) {
    std::string s(text);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

FileContents ReadBack(const std::string& path) {
    FileContents f;
    edf_hdr_struct hdr;
    if (edfopen_file_readonly(path.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS) != 0) {
        ADD_FAILURE() << "EDFlib cannot read " << path << " (error " << hdr.filetype << ")";
        return f;
    }
    f.type = hdr.filetype;
    f.records = hdr.datarecords_in_file;
    f.equipment = Trimmed(hdr.equipment);
    const double recordSeconds = double(hdr.datarecord_duration) / EDFLIB_TIME_DIMENSION;
    for (int i = 0; i < hdr.edfsignals; ++i) {
        const edf_param_struct& p = hdr.signalparam[i];
        Signal s;
        s.label = Trimmed(p.label);
        s.dimension = Trimmed(p.physdimension);
        s.step = (p.phys_max - p.phys_min) / double(p.dig_max - p.dig_min);
        s.values.resize(size_t(p.smp_in_file));
        EXPECT_EQ(edfread_physical_samples(hdr.handle, i, int(p.smp_in_file), s.values.data()), int(p.smp_in_file));
        if (i == 0) f.rate = p.smp_in_datarecord / recordSeconds;
        f.signals.push_back(s);
    }
    for (long long k = 0; k < hdr.annotations_in_file; ++k) {
        edf_annotation_struct a;
        edf_get_annotation(hdr.handle, int(k), &a);
        const double onset = double(a.onset) / EDFLIB_TIME_DIMENSION;
        f.annotations.emplace_back(std::llround(onset * f.rate), a.annotation);
        if (a.duration_l > 0) f.durations.emplace_back(onset, double(a.duration_l) / EDFLIB_TIME_DIMENSION);
    }
    edfclose_file(hdr.handle);
    return f;
}

std::string TempDir() {
    char pattern[] = "/tmp/voqrec-it-XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir ? dir : "/tmp";
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

int CountTexts(const FileContents& f, const std::string& prefix) {
    int n = 0;
    for (const auto& a : f.annotations)
        if (a.second.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
}

class RecorderIntegration : public voqtest::SimulatorSuite {
protected:
    static void SetUpTestSuite() {
        // The time zone is read once, before the simulator's and the
        // library's threads call the time functions.
        if (!std::getenv("TZ")) setenv("TZ", ":/etc/localtime", 1);
        tzset();
        voqsim::Config config;
        config.triggerPeriodSeconds = 0.5;
        sim = new voqsim::Simulator(config);
        const std::string path = sim->Start();
        handle = VOQ_Headset_New(nullptr);
        VOQ_Headset_SetMessageCallback(handle, &Quiet);
        VOQ_Headset_Connect(handle, path.c_str());
        if (VOQ_Error()) {
            VOQ_Headset_Delete(handle);
            handle = nullptr;
        }
    }
    void SetUp() override {
        SimulatorSuite::SetUp();
        dir = TempDir();
    }
    void TearDown() override {
        VOQ_Headset_SetSampleCallback(handle, nullptr, nullptr);
        VOQ_ClearError();
        std::error_code ignored;
        if (dir != "/tmp") std::filesystem::remove_all(dir, ignored);
    }

    // Starts capturing what the library computes for the output channels.
    static void StartCapture() {
        {
            std::lock_guard<std::mutex> lock(gCapture.mutex);
            gCapture.channels.clear();
            gCapture.samples.clear();
            const unsigned n = VOQ_Headset_GetNumberOfChannels(handle);
            for (unsigned i = 0; i < n; ++i) gCapture.channels.push_back(VOQ_Headset_GetChannelByIndex(handle, i));
        }
        // Outside the capture's lock: the library takes its read lock here,
        // and the callback takes the capture's lock under the read lock.
        VOQ_Headset_SetSampleCallback(handle, &CaptureSample, nullptr);
    }
    static std::vector<std::vector<double>> StopCapture() {
        VOQ_Headset_SetSampleCallback(handle, nullptr, nullptr);
        std::lock_guard<std::mutex> lock(gCapture.mutex);
        return gCapture.samples;
    }

    // The index of the captured sample that the file's first sample is, or -1.
    static long long Align(const std::vector<std::vector<double>>& captured, const FileContents& f, size_t first = 0) {
        if (f.signals.empty()) return -1;
        const size_t n = f.signals[0].values.size();
        const size_t probe = std::min<size_t>(20, n - first);
        for (size_t o = 0; o + probe <= captured.size(); ++o) {
            bool match = true;
            for (size_t j = 0; j < probe && match; ++j)
                for (size_t k = 0; k < f.signals.size() && match; ++k)
                    match = std::fabs(captured[o + j][k] - f.signals[k].values[first + j]) <= f.signals[k].step;
            if (match) return static_cast<long long>(o);
        }
        for (size_t o = 0; o < captured.size(); ++o) {
            size_t same = 0;
            for (size_t k = 0; k < f.signals.size(); ++k)
                if (std::fabs(captured[o][k] - f.signals[k].values[first]) <= f.signals[k].step) ++same;
            if (same * 2 > f.signals.size()) {
                std::string diff;
                for (size_t k = 0; k < f.signals.size(); ++k)
                    if (std::fabs(captured[o][k] - f.signals[k].values[first]) > f.signals[k].step)
                        diff += " " + f.signals[k].label + ": " + std::to_string(captured[o][k]) + " vs " +
                                std::to_string(f.signals[k].values[first]);
                ADD_FAILURE() << "near match at " << o << ":" << diff;
            }
        }
        return -1;
    }

    // Checks every sample of the file against the capture from `offset`, and
    // the trigger annotations against the captured trigger changes.
    static void ExpectSameData(const std::vector<std::vector<double>>& captured, const FileContents& f,
                               long long offset, size_t samples, int triggerIndex, int64_t triggerBefore) {
        ASSERT_GE(offset, 0);
        ASSERT_LE(size_t(offset) + samples, captured.size());
        size_t bad = 0;
        for (size_t k = 0; k < f.signals.size(); ++k)
            for (size_t j = 0; j < samples; ++j)
                if (std::fabs(captured[size_t(offset) + j][k] - f.signals[k].values[j]) > f.signals[k].step) ++bad;
        EXPECT_EQ(bad, 0u);
        if (triggerIndex < 0) return;
        std::vector<std::pair<long long, std::string>> expected;
        int64_t previous = triggerBefore;
        for (size_t j = 0; j < samples; ++j) {
            const int64_t t = std::llround(captured[size_t(offset) + j][size_t(triggerIndex)]);
            if (t != previous) expected.emplace_back(static_cast<long long>(j), "TRG " + std::to_string(t));
            previous = t;
        }
        std::vector<std::pair<long long, std::string>> found;
        for (const auto& a : f.annotations)
            if (a.second.compare(0, 4, "TRG ") == 0) found.push_back(a);
        EXPECT_EQ(found, expected);
    }

    std::string dir;
};

}  // namespace

TEST_F(RecorderIntegration, ABdfFileHoldsWhatTheLibraryDelivered) {
    const std::string path = dir + "/session.bdf";
    StartCapture();
    Recorder recorder(handle, path);
    EXPECT_TRUE(recorder.HasTrigger());
    recorder.Start(3.0);
    while (recorder.Step()) {
    }
    recorder.Close();
    const std::vector<std::vector<double>> captured = StopCapture();
    EXPECT_EQ(recorder.Stats().samplesWritten, 900u);
    EXPECT_EQ(recorder.Stats().samplesPadded, 0u);
    EXPECT_EQ(recorder.Files(), std::vector<std::string>{path});
    EXPECT_EQ(VOQ_Headset_GetDataAcquisitionMode(handle), 0);   // stopped as found

    const FileContents f = ReadBack(path);
    EXPECT_EQ(f.type, EDFLIB_FILETYPE_BDFPLUS);
    EXPECT_DOUBLE_EQ(f.rate, 300.0);
    EXPECT_EQ(f.records, 30);
    EXPECT_EQ(f.equipment, std::string(VOQ_Headset_GetHardwareModel(handle)) + " SN2400117");
    const std::vector<std::string> labels = recorder.Labels();
    ASSERT_EQ(f.signals.size(), labels.size());
    ASSERT_EQ(labels.size(), size_t(VOQ_Headset_GetNumberOfChannels(handle)));
    int trigger = -1;
    for (size_t k = 0; k < labels.size(); ++k) {
        EXPECT_EQ(f.signals[k].label, labels[k]);
        EXPECT_EQ(f.signals[k].values.size(), 900u);
        const char* name = VOQ_Channel_GetName(VOQ_Headset_GetChannelByIndex(handle, unsigned(k)));
        if (labels[k] == "Trigger") {
            trigger = int(k);
            EXPECT_EQ(f.signals[k].step, 1.0);
            EXPECT_EQ(f.signals[k].dimension, "");
        } else {
            EXPECT_EQ(labels[k], name);
        }
    }
    EXPECT_EQ(f.signals[0].label, "Fp1");
    EXPECT_EQ(f.signals[0].dimension, "uV");
    EXPECT_LT(f.signals[0].step, 0.01);   // 24 bits over about +-20 mV
    ASSERT_GE(trigger, 0);

    const long long offset = Align(captured, f);
    ExpectSameData(captured, f, offset, 900, trigger, 0);
    EXPECT_GE(CountTexts(f, "TRG "), 8);   // a trigger every 0.5 s, and its end
    EXPECT_EQ(uint64_t(CountTexts(f, "TRG ")), recorder.Stats().triggerChanges);
}

TEST_F(RecorderIntegration, AnEdfFileHoldsItWithinOneDigitalStep) {
    const std::string path = dir + "/session.EDF";
    StartCapture();
    Recorder recorder(handle, path);
    recorder.Start(2.0);
    while (recorder.Step()) {
    }
    recorder.Close();
    const std::vector<std::vector<double>> captured = StopCapture();

    const FileContents f = ReadBack(path);
    EXPECT_EQ(f.type, EDFLIB_FILETYPE_EDFPLUS);
    EXPECT_EQ(f.records, 20);
    ASSERT_EQ(f.signals.size(), recorder.Labels().size());
    EXPECT_GT(f.signals[0].step, 0.1);    // 16 bits over about +-20 mV
    int trigger = -1;
    for (size_t k = 0; k < f.signals.size(); ++k)
        if (f.signals[k].label == "Trigger") trigger = int(k);
    ExpectSameData(captured, f, Align(captured, f), 600, trigger, 0);
}

TEST_F(RecorderIntegration, ATriggerChangeAtEverySampleIsKept) {
    sim->SetTrigger(1.0 / 300, 0);   // a new value at every sample: 1, 2, 3, ...
    const std::string path = dir + "/dense.bdf";
    StartCapture();
    Recorder recorder(handle, path);
    recorder.Start(2.0);
    while (recorder.Step()) {
    }
    recorder.Close();
    const std::vector<std::vector<double>> captured = StopCapture();
    sim->SetTrigger(0.5, 0);

    const FileContents f = ReadBack(path);
    EXPECT_GE(recorder.Stats().triggerChanges, 570u);
    EXPECT_EQ(recorder.Stats().annotations, f.annotations.size());
    EXPECT_EQ(recorder.Stats().samplesPadded, 0u);
    int trigger = -1;
    for (size_t k = 0; k < f.signals.size(); ++k)
        if (f.signals[k].label == "Trigger") trigger = int(k);
    ExpectSameData(captured, f, Align(captured, f), 600, trigger, 0);
}

TEST_F(RecorderIntegration, SegmentsFollowEachOtherWithoutAGap) {
    const std::string path = dir + "/long.bdf";
    StartCapture();
    RecordingOptions options;
    options.segmentSeconds = 1.0;
    Recorder recorder(handle, path, options);
    recorder.Start(2.5);
    while (recorder.Step()) {
    }
    recorder.Close();
    const std::vector<std::vector<double>> captured = StopCapture();
    const std::vector<std::string> expected = {path, dir + "/long-002.bdf", dir + "/long-003.bdf"};
    ASSERT_EQ(recorder.Files(), expected);
    EXPECT_EQ(recorder.Stats().segments, 3u);

    long long offset = -1;
    int64_t trigger = 0;
    size_t total = 0;
    for (size_t s = 0; s < expected.size(); ++s) {
        const FileContents f = ReadBack(expected[s]);
        ASSERT_FALSE(f.signals.empty());
        const size_t n = f.signals[0].values.size();
        EXPECT_EQ(n, s < 2 ? 300u : 150u) << expected[s];
        int t = -1;
        for (size_t k = 0; k < f.signals.size(); ++k)
            if (f.signals[k].label == "Trigger") t = int(k);
        if (s == 0) offset = Align(captured, f);
        SCOPED_TRACE(expected[s]);
        ExpectSameData(captured, f, offset + static_cast<long long>(total), n, t, trigger);
        trigger = std::llround(captured[size_t(offset) + total + n - 1][size_t(t)]);
        total += n;
    }
    EXPECT_EQ(total, 750u);
}

TEST_F(RecorderIntegration, StoppingEarlyLeavesACompleteFile) {
    // As a Ctrl-C does: an open-ended recording closed between batches.
    const std::string path = dir + "/stopped.edf";
    Recorder recorder(handle, path);
    recorder.Start(-1.0);
    recorder.Annotate("Eyes closed");
    recorder.NoteRealTimeViolations(1);
    for (int k = 0; k < 12; ++k) ASSERT_TRUE(recorder.Step());
    recorder.Close();
    EXPECT_FALSE(recorder.Step());
    const uint64_t written = recorder.Stats().samplesWritten;
    EXPECT_EQ(written, 12u * 18u);

    const FileContents f = ReadBack(path);
    const uint64_t records = (written + 29) / 30;
    EXPECT_EQ(uint64_t(f.records), records);
    EXPECT_EQ(recorder.Stats().samplesPadded, records * 30 - written);
    EXPECT_EQ(CountTexts(f, "Eyes closed"), 1);
    EXPECT_EQ(CountTexts(f, "Real-time violation"), 1);
    ASSERT_EQ(CountTexts(f, "Padding (not recorded)"), 1);
    ASSERT_EQ(f.durations.size(), 1u);
    EXPECT_NEAR(f.durations[0].first, written / 300.0, 1e-4);
    EXPECT_NEAR(f.durations[0].second, (records * 30 - written) / 300.0, 1e-4);
}

TEST_F(RecorderIntegration, AWriteErrorStopsTheRecordingAndKeepsWhatWasWritten) {
    const std::string path = dir + "/full.bdf";
    Recorder recorder(handle, path);
    recorder.Start(10.0);

    std::string error;
    {
        FileSizeLimit limit(128 * 1024);
        ASSERT_TRUE(limit.Read());
        ASSERT_TRUE(limit.Applied());
        try {
            while (recorder.Step()) {
            }
        } catch (const RecorderError& e) {
            error = e.what();
        }
    }

    EXPECT_NE(error.find("cannot write " + path + ": File too large"), std::string::npos) << error;
    EXPECT_TRUE(recorder.Closed());
    EXPECT_LT(recorder.Stats().samplesWritten, 3000u);
    EXPECT_NO_THROW(recorder.Close());
    const FileContents f = ReadBack(path);
    EXPECT_GT(f.records, 5);
    EXPECT_LE(uint64_t(f.records) * 30, recorder.Stats().samplesWritten);
    EXPECT_EQ(uint64_t(f.records) * 30, recorder.Stats().samplesWritten - recorder.Stats().samplesLost);
    EXPECT_EQ(VOQ_Headset_GetDataAcquisitionMode(handle), 0);
}

TEST_F(RecorderIntegration, ExistingFilesAreNotOverwrittenUnlessAllowed) {
    const std::string path = dir + "/taken.bdf";
    FILE* file = std::fopen((dir + "/taken-002.bdf").c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    try {
        Recorder recorder(handle, path);
        ADD_FAILURE() << "an existing segment was not noticed";
    } catch (const RecorderError& e) {
        EXPECT_NE(std::string(e.what()).find("will not overwrite " + dir + "/taken-002.bdf"), std::string::npos)
            << e.what();
    }
    RecordingOptions options;
    options.overwrite = true;
    EXPECT_NO_THROW(Recorder(handle, path, options));
    EXPECT_FALSE(Exists(path));   // nothing is created before Start()
    try {
        Recorder recorder(handle, dir + "/session.txt");
        ADD_FAILURE() << "an unknown extension was accepted";
    } catch (const RecorderError& e) {
        EXPECT_NE(std::string(e.what()).find("NAME.bdf"), std::string::npos);
    }
}

TEST_F(RecorderIntegration, ImpedancesMeasuredFirstAreAnnotatedAtTheStart) {
    sim->SetImpedance("C3", 12.0);
    const std::string path = dir + "/impedance.bdf";
    RecordingOptions options;
    options.impedanceFirst = true;
    Recorder recorder(handle, path, options);
    recorder.Start(0.5);
    while (recorder.Step()) {
    }
    recorder.Close();
    sim->SetAllImpedances(5.0);
    EXPECT_EQ(VOQ_Headset_GetImpedanceDriverMode(handle), 0);

    const FileContents f = ReadBack(path);
    EXPECT_GE(CountTexts(f, "Impedance "), 15);
    bool c3 = false;
    for (const auto& a : f.annotations) {
        if (a.second.compare(0, 13, "Impedance C3 ") != 0) continue;
        c3 = true;
        EXPECT_EQ(a.first, 0);
        EXPECT_NEAR(std::atof(a.second.c_str() + 13), 12.0, 1.5) << a.second;
    }
    EXPECT_TRUE(c3);
    // No trace of the driver's tones in the recorded signals.
    for (const Signal& s : f.signals) {
        if (s.label != "C3") continue;
        for (double v : s.values) EXPECT_LT(std::fabs(v), 1000.0);
    }
}

TEST_F(RecorderIntegration, AMontageWithoutTheTriggerRecordsJustItsChannels) {
    VOQ_Headset_ChooseChannels(handle, "F3 C3*2", "", 1);
    ASSERT_EQ(VOQ_Error(), nullptr) << VOQ_Error();
    const std::string path = dir + "/two.bdf";
    {
        Recorder recorder(handle, path);
        EXPECT_FALSE(recorder.HasTrigger());
        EXPECT_EQ(recorder.Labels(), (std::vector<std::string>{"F3", "C3"}));
        recorder.Start(0.2);
        while (recorder.Step()) {
        }
        recorder.Close();
    }
    VOQ_Headset_ChooseChannels(handle, "FACTORY", "", 1);
    ASSERT_EQ(VOQ_Error(), nullptr) << VOQ_Error();
    const FileContents f = ReadBack(path);
    ASSERT_EQ(f.signals.size(), 2u);
    // Twice C3 against the reference reaches twice the range of F3.
    EXPECT_NEAR(f.signals[1].step / f.signals[0].step, 2.0, 0.02);
    EXPECT_EQ(CountTexts(f, "TRG "), 0);
}
