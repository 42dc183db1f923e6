// The recorder without a headset: file formats and segment names, the data
// record plan and its annotation room, channel texts, physical ranges,
// labels, the file segment's handling of failed writes, and the repair of
// files cut short.
#include <edflib.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "EdfSegment.h"
#include "EventsFile.h"
#include "FileSizeLimit.h"
#include "RecordPlan.h"
#include "Repair.h"

using namespace voqrec;

namespace {

std::vector<std::string> gTempDirs;

// Removes the test's directories when the program ends.
class TempDirCleaner : public ::testing::Environment {
public:
    void TearDown() override {
        std::error_code ignored;
        for (const std::string& dir : gTempDirs) std::filesystem::remove_all(dir, ignored);
    }
};
const ::testing::Environment* const gCleaner = ::testing::AddGlobalTestEnvironment(new TempDirCleaner);

std::string TempDir() {
    char pattern[] = "/tmp/voqrec-unit-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) throw std::runtime_error("cannot make a temporary directory");
    gTempDirs.push_back(dir);
    return dir;
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

SegmentHeader SmallHeader(FileFormat format) {
    SegmentHeader header;
    header.format = format;
    header.plan = PlanRecords(300);
    for (const char* label : {"F3", "Cz"}) {
        SignalParameters s;
        s.label = label;
        s.dimension = "uV";
        s.physicalMinimum = -1000;
        s.physicalMaximum = 1000;
        s.digitalMinimum = DigitalMinimum(format);
        s.digitalMaximum = DigitalMaximum(format);
        header.signals.push_back(s);
    }
    header.equipment = "unit test";
    header.start = double(std::time(nullptr)) + 0.56789;   // a fraction of a second, as measured
    return header;
}

std::vector<double> RecordOf(const SegmentHeader& header, int index) {
    const int n = header.plan.samplesPerRecord;
    std::vector<double> values(header.signals.size() * size_t(n));
    for (size_t i = 0; i < values.size(); ++i) values[i] = std::fmod(index * 7.0 + double(i) * 3.25, 900.0);
    return values;
}

// Opens a file with EDFlib's reader; returns the record count or -1.
long long ReadableRecords(const std::string& path, long long* annotations = nullptr) {
    edf_hdr_struct hdr;
    if (edfopen_file_readonly(path.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS) != 0) return -1;
    if (annotations) *annotations = hdr.annotations_in_file;
    edfclose_file(hdr.handle);
    return hdr.datarecords_in_file;
}

off_t SizeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

}  // namespace

TEST(RecordPlanTest, TheExtensionChoosesTheFormat) {
    EXPECT_EQ(FormatOfPath("session.bdf"), FileFormat::BDF);
    EXPECT_EQ(FormatOfPath("/data/run.1/Session.BDF"), FileFormat::BDF);
    EXPECT_EQ(FormatOfPath("session.edf"), FileFormat::EDF);
    EXPECT_EQ(FormatOfPath("x.EdF"), FileFormat::EDF);
    for (const char* bad : {"session.txt", "session", "dir.bdf/session", ".bdf", "session.bdf.gz"})
        EXPECT_NE(ErrorOf([&] { FormatOfPath(bad); }).find("NAME.bdf"), std::string::npos) << bad;
    EXPECT_EQ(DigitalMinimum(FileFormat::BDF), -8388608);
    EXPECT_EQ(DigitalMaximum(FileFormat::BDF), 8388607);
    EXPECT_EQ(DigitalMinimum(FileFormat::EDF), -32768);
    EXPECT_EQ(DigitalMaximum(FileFormat::EDF), 32767);
}

TEST(RecordPlanTest, SegmentsAreNumberedFromTheSecond) {
    EXPECT_EQ(SegmentPath("dir/session.bdf", 1), "dir/session.bdf");
    EXPECT_EQ(SegmentPath("dir/session.bdf", 2), "dir/session-002.bdf");
    EXPECT_EQ(SegmentPath("dir/session.bdf", 17), "dir/session-017.bdf");
    EXPECT_EQ(SegmentPath("dir/session.bdf", 1234), "dir/session-1234.bdf");
    EXPECT_EQ(SegmentPath("a.b/run.EDF", 2), "a.b/run-002.EDF");
}

TEST(RecordPlanTest, RecordsOfTheHeadsetRatesLastATenthOfASecond) {
    RecordPlan p = PlanRecords(300);
    EXPECT_EQ(p.samplesPerRecord, 30);
    EXPECT_EQ(p.durationUnits, 10000);
    EXPECT_EQ(p.annotationSignals, 34);
    EXPECT_DOUBLE_EQ(p.RecordSeconds(), 0.1);
    p = PlanRecords(600);
    EXPECT_EQ(p.samplesPerRecord, 60);
    EXPECT_EQ(p.durationUnits, 10000);
    EXPECT_EQ(p.annotationSignals, kMaxAnnotationSignals);
}

TEST(RecordPlanTest, EveryRecordHoldsATriggerChangeAtEverySample) {
    int planned = 0;
    for (int rate = 1; rate <= 2000; ++rate) {
        RecordPlan p;
        try {
            p = PlanRecords(rate);
        } catch (const RecorderError&) {
            continue;
        }
        ++planned;
        EXPECT_GE(p.annotationSignals, p.samplesPerRecord + kReservedEventsPerRecord) << rate;
        EXPECT_LE(p.annotationSignals, kMaxAnnotationSignals) << rate;
        EXPECT_EQ(100000LL * p.samplesPerRecord, static_cast<long long>(p.durationUnits) * rate) << rate;
        EXPECT_LE(p.RecordSeconds(), 1.0) << rate;
    }
    EXPECT_GT(planned, 200);
    for (int rate : {100, 128, 200, 250, 256, 300, 500, 512, 600, 1000, 1024, 2000})
        EXPECT_NO_THROW(PlanRecords(rate)) << rate;
    EXPECT_EQ(PlanRecords(128).samplesPerRecord, 12);
    EXPECT_EQ(PlanRecords(1000).samplesPerRecord, 60);
}

TEST(RecordPlanTest, RatesThatCannotHoldEveryTriggerChangeAreRefused) {
    EXPECT_NE(ErrorOf([] { PlanRecords(2048); }).find("trigger change at every sample"), std::string::npos);
    EXPECT_NE(ErrorOf([] { PlanRecords(333); }).find("cannot record at 333"), std::string::npos);
    EXPECT_NE(ErrorOf([] { PlanRecords(300.5); }).find("whole number"), std::string::npos);
    EXPECT_NE(ErrorOf([] { PlanRecords(0); }).find("whole number"), std::string::npos);
    EXPECT_NE(ErrorOf([] { PlanRecords(-1); }).find("whole number"), std::string::npos);
    EXPECT_NE(ErrorOf([] { PlanRecords(NAN); }).find("whole number"), std::string::npos);
}

TEST(RecordPlanTest, ChannelTextsReadBackIntoTerms) {
    const std::vector<std::string> names = {"F3", "Fz", "A1", "A2", "A1A2", "Cz", "Pz", "TRG"};
    std::vector<Term> t = ParseChannelTerms("F3-A1/2-A2/2", names);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].source, "F3");
    EXPECT_DOUBLE_EQ(t[0].weight, 1.0);
    EXPECT_EQ(t[1].source, "A1");
    EXPECT_DOUBLE_EQ(t[1].weight, -0.5);
    EXPECT_EQ(t[2].source, "A2");
    EXPECT_DOUBLE_EQ(t[2].weight, -0.5);

    t = ParseChannelTerms("A1A2", names);   // the longer name wins
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].source, "A1A2");

    t = ParseChannelTerms("Cz*3/2", names);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_DOUBLE_EQ(t[0].weight, 1.5);

    t = ParseChannelTerms("-Fz+Pz*0.25-Cz*1e-05", names);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_DOUBLE_EQ(t[0].weight, -1.0);
    EXPECT_EQ(t[1].source, "Pz");
    EXPECT_DOUBLE_EQ(t[1].weight, 0.25);
    EXPECT_DOUBLE_EQ(t[2].weight, -1e-05);

    EXPECT_TRUE(ParseChannelTerms("", names).empty());
    for (const char* bad : {"Xx", "F3*", "F3/0", "+F3", "F3Cz", "F3-", "F3/x"})
        EXPECT_NE(ErrorOf([&] { ParseChannelTerms(bad, names); }).find("cannot read the channel"),
                  std::string::npos)
            << bad;
}

TEST(RecordPlanTest, PhysicalLimitsAreWholeNumbersThatFitTheHeader) {
    EXPECT_DOUBLE_EQ(PhysicalLimit(0.301 * 32768), 9962.0);   // 9863.17 plus 1%, rounded up
    EXPECT_DOUBLE_EQ(PhysicalLimit(255), 258.0);
    EXPECT_DOUBLE_EQ(PhysicalLimit(0), 1.0);
    EXPECT_DOUBLE_EQ(PhysicalLimit(1e-9), 1.0);
    EXPECT_DOUBLE_EQ(PhysicalLimit(1e12), 9999999.0);
    for (double bound : {0.5, 12.34, 9863.17, 19726.3, 123456.7, 8765432.1}) {
        const double limit = PhysicalLimit(bound);
        EXPECT_GE(limit, bound * 1.01);
        EXPECT_EQ(limit, std::floor(limit));
        char text[32];
        std::snprintf(text, sizeof text, "%.0f", -limit);
        EXPECT_LE(std::string(text).size(), 8u) << bound;
    }
}

TEST(RecordPlanTest, LabelsAreShortAndUnique) {
    std::vector<std::string> labels =
        UniqueLabels({"F3", "F3", "Cz", ""}, {"F3-A1/2-A2/2", "F3-Cz", "Cz", "X1*2"});
    EXPECT_EQ(labels, (std::vector<std::string>{"F3-A1/2-A2/2", "F3-Cz", "Cz", "X1*2"}));

    labels = UniqueLabels({"A", "A", "A"}, {"B", "B", ""});
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_NE(labels[0], labels[1]);
    EXPECT_NE(labels[1], labels[2]);
    EXPECT_NE(labels[0], labels[2]);

    labels = UniqueLabels({"AVeryLongChannelNameIndeed", "AVeryLongChannelNameIndeed2"}, {"", ""});
    EXPECT_EQ(labels[0].size(), 16u);
    EXPECT_EQ(labels[1].size(), 16u);
    EXPECT_NE(labels[0], labels[1]);

    labels = UniqueLabels({"\xC2\xB5V"}, {""});   // printable ASCII only
    EXPECT_EQ(labels[0], "__V");
}

TEST(RecordPlanTest, OnsetsAreInUnitsOfAHundredMicroseconds) {
    EXPECT_EQ(OnsetUnits(0, 300), 0);
    EXPECT_EQ(OnsetUnits(1, 300), 33);
    EXPECT_EQ(OnsetUnits(2, 300), 67);
    EXPECT_EQ(OnsetUnits(300, 300), 10000);
    EXPECT_EQ(OnsetUnits(7, 600), 117);
    // Read back at the rate, every onset rounds to its own sample.
    for (uint64_t n = 0; n < 3000; ++n) EXPECT_EQ(std::llround(OnsetUnits(n, 300) * 300 / 10000.0), (long long)n);
}

TEST(EdfSegmentTest, WritesAFileThatReadsBack) {
    const std::string dir = TempDir();
    const std::string path = dir + "/plain.bdf";
    SegmentHeader header = SmallHeader(FileFormat::BDF);
    EdfSegment segment(path, header);
    for (int r = 0; r < 5; ++r) segment.WriteRecord(RecordOf(header, r).data());
    EXPECT_EQ(segment.Records(), 5u);
    EXPECT_EQ(segment.Capacity(), 5u * 34u);
    std::vector<Annotation> annotations(3);
    for (int k = 0; k < 3; ++k) {
        annotations[size_t(k)].onset = OnsetUnits(uint64_t(10 * k), 300);
        annotations[size_t(k)].text = "TRG " + std::to_string(k + 1);
    }
    EXPECT_EQ(segment.Close(annotations), 3u);

    edf_hdr_struct hdr;
    ASSERT_EQ(edfopen_file_readonly(path.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS), 0);
    EXPECT_EQ(hdr.filetype, EDFLIB_FILETYPE_BDFPLUS);
    EXPECT_EQ(hdr.datarecords_in_file, 5);
    EXPECT_EQ(hdr.edfsignals, 2);
    EXPECT_EQ(hdr.annotations_in_file, 3);
    EXPECT_STREQ(hdr.signalparam[0].label, "F3              ");
    std::vector<double> values(150);
    ASSERT_EQ(edfread_physical_samples(hdr.handle, 1, 150, values.data()), 150);
    const double step = 2000.0 / (8388607.0 + 8388608.0);
    for (int r = 0; r < 5; ++r) {
        const std::vector<double> expected = RecordOf(header, r);
        for (int j = 0; j < 30; ++j) EXPECT_NEAR(values[size_t(r * 30 + j)], expected[size_t(30 + j)], step);
    }
    // The start's fraction in whole annotation units, so that the first
    // sample's annotation is at the file's start, not before it.
    EXPECT_EQ(hdr.starttime_subsecond, 5679000);
    edf_annotation_struct a;
    ASSERT_EQ(edf_get_annotation(hdr.handle, 0, &a), 0);
    EXPECT_EQ(a.onset, 0);
    ASSERT_EQ(edf_get_annotation(hdr.handle, 2, &a), 0);
    EXPECT_STREQ(a.annotation, "TRG 3");
    EXPECT_EQ(std::llround(a.onset / 1e7 * 300), 20);
    edfclose_file(hdr.handle);
}

TEST(EdfSegmentTest, ClosingStoresNoMoreAnnotationsThanTheRecordsHold) {
    const std::string path = TempDir() + "/full.edf";
    SegmentHeader header = SmallHeader(FileFormat::EDF);
    EdfSegment segment(path, header);
    segment.WriteRecord(RecordOf(header, 0).data());
    std::vector<Annotation> annotations(40);
    for (Annotation& a : annotations) a.text = "note";
    EXPECT_EQ(segment.Close(annotations), 34u);
    long long stored = 0;
    EXPECT_EQ(ReadableRecords(path, &stored), 1);
    EXPECT_EQ(stored, 34);
}

TEST(EdfSegmentTest, AnUnwritableDirectoryIsReportedAtOnce) {
    const std::string error =
        ErrorOf([] { EdfSegment segment("/nonexistent-dir/x.bdf", SmallHeader(FileFormat::BDF)); });
    EXPECT_NE(error.find("cannot create /nonexistent-dir/x.bdf"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

TEST(EdfSegmentTest, AFullDiskStopsWritingAndKeepsTheCompleteRecords) {
    // A file size limit fails the writes like a full disk: EDFlib's writes
    // keep returning success, the segment notices that the file stopped
    // growing.
    const std::string path = TempDir() + "/limited.bdf";
    SegmentHeader header = SmallHeader(FileFormat::BDF);
    std::string error;
    int written = 0;
    {
        FileSizeLimit limit(96 * 1024);
        ASSERT_TRUE(limit.Read());
        ASSERT_TRUE(limit.Applied());
        EdfSegment segment(path, header);
        try {
            for (written = 0; written < 10000; ++written) segment.WriteRecord(RecordOf(header, written).data());
        } catch (const WriteError& e) {
            error = e.what();
        }
        std::vector<Annotation> annotations(1);
        annotations[0].text = "before the failure";
        segment.Abandon(annotations);
    }

    EXPECT_NE(error.find("cannot write " + path + ": File too large"), std::string::npos) << error;
    EXPECT_LT(written, 10000);
    long long annotations = 0;
    const long long records = ReadableRecords(path, &annotations);
    EXPECT_GT(records, 0);
    EXPECT_LE(records, written);
    EXPECT_EQ(annotations, 1);
    const int fd = open(path.c_str(), O_RDONLY);
    FileLayout layout;
    ASSERT_TRUE(ReadFileLayout(fd, layout));
    close(fd);
    EXPECT_EQ(layout.records, records);
    EXPECT_EQ(SizeOf(path), layout.headerBytes + records * layout.recordBytes);
}

TEST(EdfSegmentTest, ADeletedFileStopsTheRecording) {
    const std::string dir = TempDir();
    const std::string path = dir + "/deleted.edf";
    SegmentHeader header = SmallHeader(FileFormat::EDF);
    EdfSegment segment(path, header);
    segment.WriteRecord(RecordOf(header, 0).data());
    ASSERT_EQ(unlink(path.c_str()), 0);
    rmdir(dir.c_str());
    const std::string error = ErrorOf([&] { segment.WriteRecord(RecordOf(header, 1).data()); });
    EXPECT_NE(error.find("was deleted while recording"), std::string::npos) << error;
}

TEST(EdfSegmentTest, RepairGivesACrashedFileItsRecordCount) {
    // A writer that dies leaves "-1" as the record count and maybe half a
    // record at the end.
    const std::string path = TempDir() + "/crashed.edf";
    SegmentHeader header = SmallHeader(FileFormat::EDF);
    {
        EdfSegment segment(path, header);
        for (int r = 0; r < 4; ++r) segment.WriteRecord(RecordOf(header, r).data());
        segment.Close({});
    }
    const off_t size = SizeOf(path);
    ASSERT_EQ(truncate(path.c_str(), size - 50), 0);
    {
        const int fd = open(path.c_str(), O_WRONLY);
        ASSERT_EQ(pwrite(fd, "-1      ", 8, 236), 8);
        close(fd);
    }
    EXPECT_EQ(ReadableRecords(path), -1);
    EXPECT_EQ(RepairFile(path), 3);
    EXPECT_EQ(ReadableRecords(path), 3);
    EXPECT_EQ(RepairFile(path, 2), 2);
    EXPECT_EQ(ReadableRecords(path), 2);

    const std::string stub = TempDir() + "/stub.edf";
    FILE* f = std::fopen(stub.c_str(), "w");
    std::fputs("0       short", f);
    std::fclose(f);
    EXPECT_NE(ErrorOf([&] { RepairFile(stub); }).find("header is incomplete"), std::string::npos);
}

TEST(RepairTest, AFileCutAnywhereIsRepairedWithItsEventsOrRefusedWithNothingChanged) {
    // A closed file and its events file, as the recorder leaves them.
    const std::string dir = TempDir();
    const std::string whole = dir + "/whole.bdf";
    SegmentHeader header = SmallHeader(FileFormat::BDF);
    const int records = 12;
    std::vector<Annotation> annotations;
    {
        EdfSegment segment(whole, header);
        for (int r = 0; r < records; ++r) segment.WriteRecord(RecordOf(header, r).data());
        for (uint64_t sample = 0; sample < records * 30u; sample += 17) {
            Annotation a;
            a.sample = sample;
            a.onset = OnsetUnits(sample, 300);
            a.duration = sample == 34 ? 2500 : -1;
            a.text = "TRG " + std::to_string(sample % 256);
            a.type = kTriggerEvent;
            a.value = std::to_string(sample % 256);
            segment.Note(a);
            annotations.push_back(a);
        }
        EXPECT_EQ(segment.Close(annotations), annotations.size());
    }
    EXPECT_FALSE(NeedsRepair(whole));
    const std::string events = EventsPath(whole);
    EXPECT_EQ(events, dir + "/whole_events.tsv");
    EXPECT_EQ(ReadEventsFile(events).size(), annotations.size());
    std::string bytes;
    {
        std::ifstream in(whole, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    FileLayout layout;
    {
        const int fd = open(whole.c_str(), O_RDONLY);
        ASSERT_TRUE(ReadFileLayout(fd, layout));
        close(fd);
    }
    const int64_t h = layout.headerBytes, rb = layout.recordBytes, data = 2 * 30 * 3;   // two signals of 30 samples
    ASSERT_EQ(int64_t(bytes.size()), h + records * rb);

    auto write = [](const std::string& path, const std::string& content) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    };
    auto contents = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    std::string unclosed = bytes;   // what a writer that dies leaves: no count
    unclosed.replace(236, 8, "-1      ");
    std::vector<std::pair<std::string, int64_t>> cuts;   // content, records it keeps
    for (int64_t at : {int64_t(0), int64_t(100), h - 1, h, h + 10, h + rb - 20, h + 5 * rb + data + 50,
                       h + 7 * rb, int64_t(bytes.size()) - 1})
        cuts.emplace_back(bytes.substr(0, size_t(at)), at < h ? -1 : (at - h) / rb);
    cuts.emplace_back(unclosed, records);
    cuts.emplace_back(unclosed.substr(0, size_t(h + 3 * rb + data + 7)), 3);

    const std::string path = dir + "/cut.bdf";
    write(EventsPath(path), contents(events));
    for (const auto& cut : cuts) {
        const std::string& content = cut.first;
        const int64_t kept = cut.second;
        SCOPED_TRACE("cut at " + std::to_string(content.size()) + " bytes");
        write(path, content);
        if (kept <= 0) {
            EXPECT_NE(ErrorOf([&] { RepairRecording(path); }).find("cannot repair " + path + ": "), std::string::npos);
            EXPECT_EQ(contents(path), content);
            EXPECT_EQ(SizeOf(path + ".repairing"), -1);
            continue;
        }
        EXPECT_TRUE(NeedsRepair(path));
        const RepairResult result = RepairRecording(path);
        EXPECT_TRUE(result.repaired);
        EXPECT_EQ(result.records, kept);
        EXPECT_NE(result.report.find("repaired " + path + ": kept " + std::to_string(kept) + " data records"),
                  std::string::npos)
            << result.report;
        EXPECT_FALSE(NeedsRepair(path));
        EXPECT_EQ(SizeOf(path + ".repairing"), -1);

        // The data of every kept record as it was; the events that fall into
        // them at their samples, read by EDFlib.
        const std::string repaired = contents(path);
        ASSERT_EQ(int64_t(repaired.size()), h + kept * rb);
        for (int64_t r = 0; r < kept; ++r)
            EXPECT_EQ(repaired.compare(size_t(h + r * rb), size_t(data), bytes, size_t(h + r * rb), size_t(data)), 0)
                << "record " << r;
        edf_hdr_struct hdr;
        ASSERT_EQ(edfopen_file_readonly(path.c_str(), &hdr, EDFLIB_READ_ALL_ANNOTATIONS), 0);
        EXPECT_EQ(hdr.datarecords_in_file, kept);
        size_t expected = 0;
        for (const Annotation& a : annotations) {
            if (a.sample >= uint64_t(kept) * 30) break;
            edf_annotation_struct read;
            ASSERT_EQ(edf_get_annotation(hdr.handle, int(expected), &read), 0);
            EXPECT_EQ(std::llround(read.onset / 1e7 * 300), (long long)a.sample);
            EXPECT_EQ(read.annotation, a.text);
            EXPECT_EQ(std::string(read.duration), a.duration > 0 ? "0.25" : "");
            ++expected;
        }
        EXPECT_EQ(hdr.annotations_in_file, (long long)expected);
        EXPECT_EQ(result.events, expected);
        EXPECT_EQ(result.leftOut, annotations.size() - expected);
        edfclose_file(hdr.handle);

        const RepairResult again = RepairRecording(path);
        EXPECT_FALSE(again.repaired);
        EXPECT_EQ(again.report, path + " was closed properly: nothing to repair");
        EXPECT_EQ(contents(path), repaired);
    }

    // Bad input changes nothing: not a recording file; an events file of
    // another rate.
    const std::string cutFile = unclosed.substr(0, size_t(h + 4 * rb + 3));
    write(path, "0       but not a header at all");
    EXPECT_NE(ErrorOf([&] { NeedsRepair(path); }).find("header is incomplete"), std::string::npos);
    write(path, std::string(300, 'x'));
    EXPECT_NE(ErrorOf([&] { RepairRecording(path); }).find("not an EDF or BDF file"), std::string::npos);
    write(path, cutFile);
    write(EventsPath(path), "onset\tduration\ttrial_type\tvalue\tsample\tannotation\n"
                            "0.5\t0\ttrigger\t1\t150\tTRG 1\n"
                            "1\t0\ttrigger\t0\t600\tTRG 0\n");
    EXPECT_NE(ErrorOf([&] { RepairRecording(path); }).find("does not belong to it: line 3"), std::string::npos);
    EXPECT_EQ(contents(path), cutFile);
    write(EventsPath(path), "time\tvalue\n1\t2\n");
    EXPECT_NE(ErrorOf([&] { RepairRecording(path); }).find("no column \"onset\""), std::string::npos);
    EXPECT_EQ(contents(path), cutFile);
}
