// `voq record`: the montage channels to a BDF+ or EDF+ file and its events
// file, with a progress line, Ctrl-C that ends with a complete file, write
// errors that stop with what was written kept readable, and a warning about
// an earlier file of the same name that a crash left unclosed.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "Commands.h"
#include "Format.h"
#include "EventsFile.h"
#include "Recorder.h"
#include "Repair.h"
#include "Session.h"

namespace voqtool {

namespace {

std::string Seconds(double s) { return Format("%.1f s", s); }

std::string FileList(const std::vector<std::string>& files) {
    std::string text;
    for (size_t i = 0; i < files.size(); ++i) text += (i ? (i + 1 == files.size() ? " and " : ", ") : "") + files[i];
    return text;
}

std::string EventsFileList(const std::vector<std::string>& files) {
    std::vector<std::string> events;
    for (const std::string& file : files) events.push_back(voqrec::EventsPath(file));
    return FileList(events);
}

// The files among `files` that a recording cut short left unclosed.
std::vector<std::string> Unclosed(const std::vector<std::string>& files) {
    std::vector<std::string> unclosed;
    for (const std::string& file : files) {
        try {
            if (voqrec::NeedsRepair(file)) unclosed.push_back(file);
        } catch (const voqrec::RecorderError&) {
            // Not a recording at all: the refusal to overwrite says enough.
        }
    }
    return unclosed;
}

// The progress line.
std::string ProgressText(const voqrec::Recorder& recorder, const DeliveryReports& reports, bool linkUp) {
    const voqrec::RecordingStats& s = recorder.Stats();
    std::string line = "recording " + Seconds(recorder.SecondsWritten());
    if (recorder.RequestedSeconds() >= 0) line += " / " + Seconds(recorder.RequestedSeconds());
    line += Format("   %llu samples   overflowed %llu   violations %lu",
                   static_cast<unsigned long long>(s.samplesWritten),
                   static_cast<unsigned long long>(s.overflowedSamples), reports.realTimeViolations);
    if (!linkUp) line += "   link lost: reconnecting";
    if (recorder.RequestedSeconds() < 0) line += "   Ctrl-C to stop";
    return line;
}

}  // namespace

int RunRecord(const Options& options, Session& session) {
    const RecordOptions& o = options.record;
    const bool quiet = options.common.quiet;

    // The name and the existing files are checked before connecting.
    try {
        voqrec::FormatOfPath(o.output);
    } catch (const voqrec::RecorderError& e) {
        throw ToolError(e.what(), "", kExitUsage);
    }
    const std::vector<std::string> existing = voqrec::ExistingSegments(o.output);
    const std::vector<std::string> unclosed = Unclosed(existing);
    if (!unclosed.empty() && !quiet) {
        const std::string list = FileList(unclosed);
        const bool one = unclosed.size() == 1;
        std::fprintf(stderr, "voq: warning: %s %s not closed properly (a recording cut short)%s; 'voq repair %s' "
                             "makes %s readable with all %s events\n",
                     list.c_str(), one ? "was" : "were", o.overwrite ? " and will be replaced" : "",
                     list.c_str(), one ? "it" : "them", one ? "its" : "their");
    }
    if (!o.overwrite && !existing.empty()) {
        std::string repairFirst;
        if (!unclosed.empty()) repairFirst = std::string("repair ") + (unclosed.size() > 1 ? "them" : "it") + " first, ";
        throw ToolError("will not overwrite " + FileList(existing),
                        repairFirst + "choose another name, or pass --overwrite to replace " +
                            std::string(existing.size() > 1 ? "them" : "it"));
    }
    // A file size limit then fails a write (reported below) instead of
    // ending the program.
    signal(SIGXFSZ, SIG_IGN);

    session.Connect();
    session.KeepLink(o.reconnectSeconds);
    session.ChooseMontageWithTrigger(o.montage);
    session.AddFilter(o.filter);
    VOQ_Headset h = session.Headset();

    voqrec::RecordingOptions recording;
    recording.segmentSeconds = o.segmentMinutes * 60.0;
    recording.overwrite = o.overwrite;
    recording.impedanceFirst = o.impedanceFirst;
    std::unique_ptr<voqrec::Recorder> recorder;
    try {
        recorder = std::make_unique<voqrec::Recorder>(h, o.output, recording);
    } catch (const voqrec::RecorderError& e) {
        throw ToolError(e.what());
    }
    if (!quiet)
        std::fprintf(stderr, "voq: recording %zu signals at %g samples/s to %s (%s), its events also to %s%s\n",
                     recorder->Labels().size(), recorder->SamplingRate(), o.output.c_str(),
                     voqrec::FormatName(recorder->Format()), voqrec::EventsPath(o.output).c_str(),
                     o.impedanceFirst ? ", after measuring the impedances" : "");

    StatusLine progress(!quiet && isatty(STDERR_FILENO) == 1);
    bool interrupted = false;
    unsigned long violationsSeen = session.Reports().realTimeViolations;
    try {
        recorder->Start(o.seconds);
        if (!quiet && !recorder->Impedances().empty()) {
            std::string line = "voq: impedances (kOhm):";
            for (const voqrec::Impedance& z : recorder->Impedances())
                line += " " + z.electrode + " " + ImpedanceText(z.kOhm);
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        interrupted = StepUntilDone(
            session, progress,
            [&] {
                const bool more = recorder->Step();
                const unsigned long violations = session.Reports().realTimeViolations;
                if (violations > violationsSeen) {
                    recorder->NoteRealTimeViolations(violations - violationsSeen);
                    violationsSeen = violations;
                }
                return more;
            },
            [&] { progress.Show(ProgressText(*recorder, session.Reports(), VOQ_Headset_IsLinkUp(h) != 0)); });
        recorder->Close();
    } catch (const voqrec::RecorderError& e) {
        progress.Finish();
        session.DrainMessages();
        const std::vector<std::string>& files = recorder->Files();
        const voqrec::RecordingStats& s = recorder->Stats();
        const double kept = double(s.samplesWritten - std::min(s.samplesLost, s.samplesWritten)) /
                            recorder->SamplingRate();
        throw ToolError(e.what(), files.empty() || kept <= 0.0
                                      ? std::string("nothing was recorded")
                                      : "the first " + Seconds(kept) + " are kept, readable, in " +
                                            FileList(files));
    }
    progress.Finish();
    session.DrainMessages();

    const voqrec::RecordingStats& s = recorder->Stats();
    for (const std::string& file : recorder->Files()) std::printf("%s\n", file.c_str());
    if (!quiet) {
        std::fprintf(stderr, "voq: recorded %s (%llu samples) of %zu signals, %llu annotations, in %s "
                             "(events also in %s)\n",
                     Seconds(recorder->SecondsWritten()).c_str(), static_cast<unsigned long long>(s.samplesWritten),
                     recorder->Labels().size(), static_cast<unsigned long long>(s.annotations),
                     FileList(recorder->Files()).c_str(), EventsFileList(recorder->Files()).c_str());
        WarnOfOverflow(s.overflowedSamples, " (annotated in the file)");
        if (s.realTimeViolations > 0)
            std::fprintf(stderr, "voq: warning: %llu real-time violations (annotated in the file)\n",
                         static_cast<unsigned long long>(s.realTimeViolations));
        WarnOfLinkLosses(s.linkLosses, s.samplesMissing,
                         " (annotated in the files, which are numbered on from each loss)");
        if (s.clippedValues > 0)
            std::fprintf(stderr, "voq: warning: %llu values were beyond their signal's range and were "
                                 "clipped (annotated in the file)\n",
                         static_cast<unsigned long long>(s.clippedValues));
    }
    if (interrupted && o.seconds >= 0) return kExitInterrupted;
    return kExitOK;
}

}  // namespace voqtool
