// `voq stream`: the montage channels as CSV or TSV rows, or a live view.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <thread>

#include "Commands.h"
#include "Format.h"
#include "Interrupt.h"
#include "LinkEvents.h"
#include "Session.h"

namespace voqtool {

namespace {

struct OutputChannel {
    VOQ_Channel handle;
    std::string column;
    bool trigger;
    std::vector<double> recent;   // the last second, as a ring
    size_t next = 0;
    double last = 0.0;
};

// Where rows go: standard output or a file.  A reader that went away (a
// closed pipe) ends the stream quietly.
class RowWriter {
public:
    explicit RowWriter(const std::string& path) : path_(path) {
        if (path.empty()) {
            file_ = stdout;
        } else {
            file_ = std::fopen(path.c_str(), "w");
            if (file_ == nullptr)
                throw ToolError("cannot write " + path + ": " + std::strerror(errno),
                                "check the directory and its permissions");
        }
    }
    ~RowWriter() {
        if (file_ != nullptr && file_ != stdout) std::fclose(file_);
    }
    // Returns false when the reader has gone.
    bool Write(const std::string& text) {
        if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0) {
            if (errno == EPIPE) return false;
            throw ToolError("cannot write " + (path_.empty() ? std::string("the output") : path_) +
                            ": " + std::strerror(errno));
        }
        return true;
    }
    void Close() {
        if (file_ != nullptr && file_ != stdout) {
            int failed = std::fclose(file_);
            file_ = nullptr;
            if (failed != 0) throw ToolError("cannot write " + path_ + ": " + std::strerror(errno));
        }
    }

private:
    std::string path_;
    std::FILE* file_ = nullptr;
};

// The losses of the link as the stream meets them: where each gap falls
// among the rows and how many samples it misses, so that the time column
// jumps by the gap.
class LinkGaps {
public:
    explicit LinkGaps(VOQ_Headset h) : h_(h) {}
    // Takes the headset's link events; `read` samples have been read so far.
    void Take(unsigned long long read) {
        voqrec::TakeLinkEvents(h_, read, [this](int kind, uint64_t gap, uint64_t missing) {
            reconnecting_ = kind == VOQ_LINK_LOST;
            if (kind == VOQ_LINK_RESTORED) gaps_.emplace_back(gap, missing);
        });
        ThrowIfLibraryFailed("");
    }
    bool Reconnecting() const { return reconnecting_; }
    // Samples missing before the row of this index.
    unsigned long long MissingBefore(unsigned long long index) {
        while (!gaps_.empty() && gaps_.front().first <= index) {
            missing_ += gaps_.front().second;
            gaps_.pop_front();
        }
        return missing_;
    }

private:
    VOQ_Headset h_;
    bool reconnecting_ = false;
    std::deque<std::pair<unsigned long long, unsigned long long>> gaps_;
    unsigned long long missing_ = 0;
};

std::vector<std::string> LiveLines(const std::vector<OutputChannel>& channels, const Session& session,
                                   double rate, const std::string& reference, const std::string& filtering,
                                   unsigned long long samples, const Style& style, bool inPlace) {
    std::vector<std::string> lines;
    const std::string filter = filtering.empty() ? "" : "  filter " + filtering;
    lines.push_back(style.Bold(session.Port()) + Format("  %g samples/s  reference %s%s  t = %.1f s", rate,
                                                        reference.c_str(), filter.c_str(),
                                                        rate > 0 ? static_cast<double>(samples) / rate : 0.0));
    lines.push_back(Format("  %-16s %12s %14s", "channel", "last (uV)", "RMS 1 s (uV)"));
    for (const OutputChannel& c : channels) {
        size_t filled = std::min<size_t>(c.recent.size(), samples);
        std::vector<double> window(c.recent.begin(), c.recent.begin() + static_cast<long>(filled));
        lines.push_back(Format("  %-16s %12s %14s", c.column.c_str(), SampleText(c.last, c.trigger).c_str(),
                               c.trigger ? "" : SampleText(Rms(window), false).c_str()));
    }
    DeliveryReports reports = session.Reports();
    size_t overflowed = VOQ_Headset_GetNumberOfOverflowedSamples(session.Headset());
    std::string counters = Format("  samples %llu   overflowed %zu   real-time violations %lu", samples,
                                  overflowed, reports.realTimeViolations);
    lines.push_back(overflowed != 0 || reports.realTimeViolations != 0 ? style.Yellow(counters) : counters);
    if (VOQ_Headset_IsLinkUp(session.Headset()) == 0) lines.push_back(style.Yellow("  link lost: reconnecting"));
    if (inPlace) lines.push_back(style.Dim("  Ctrl-C to stop"));
    return lines;
}

}  // namespace

int RunStream(const Options& options, Session& session) {
    const StreamOptions& o = options.stream;
    StreamFormat format = o.format;
    if (format == StreamFormat::Auto)
        format = o.output.empty() && isatty(STDOUT_FILENO) == 1 ? StreamFormat::Live : StreamFormat::Csv;
    const bool live = format == StreamFormat::Live;
    const char separator = format == StreamFormat::Tsv ? '\t' : ',';

    std::unique_ptr<RowWriter> rows;
    if (!live) rows = std::make_unique<RowWriter>(o.output);   // before connecting: fail fast

    session.Connect();
    session.KeepLink(o.reconnectSeconds);
    session.ChooseMontage(o.montage);
    session.AddFilter(o.filter);
    VOQ_Headset h = session.Headset();
    Style style(UseColour(options.common.colour, STDOUT_FILENO));

    VOQ_ClearError();
    double rate = VOQ_Headset_GetSamplingRate(h);
    const char* referenceText = VOQ_Headset_GetReferenceString(h);
    std::string reference = referenceText != nullptr ? referenceText : "";
    const char* filteringText = VOQ_Headset_GetPrefiltering(h);
    const std::string filtering = filteringText != nullptr ? filteringText : "";
    ThrowIfLibraryFailed("");
    if (!(rate > 0)) throw ToolError("the headset reported no sampling rate");

    // Output channels, with unique column names.
    std::vector<OutputChannel> channels;
    std::vector<std::string> names, specs;
    unsigned int n = VOQ_Headset_GetNumberOfChannels(h);
    for (unsigned int i = 0; i < n; ++i) {
        VOQ_Channel c = VOQ_Headset_GetChannelByIndex(h, i);
        ThrowIfLibraryFailed("");
        const char* name = VOQ_Channel_GetName(c);
        const char* spec = VOQ_Channel_GetString(c);
        names.push_back(name ? name : "");
        specs.push_back(spec ? spec : "");
        OutputChannel oc;
        oc.handle = c;
        oc.trigger = VOQ_Channel_IsTrigger(c) != 0;
        oc.recent.assign(static_cast<size_t>(std::lround(rate)), 0.0);
        channels.push_back(oc);
    }
    ThrowIfLibraryFailed("");
    if (channels.empty()) throw ToolError("the montage has no channels", "choose some with --montage");
    std::vector<std::string> columns = ColumnNames(names, specs);
    for (size_t i = 0; i < channels.size(); ++i) channels[i].column = columns[i];

    // Batches of 60 ms, with a reserve of 50 ms.
    unsigned int batch = static_cast<unsigned int>(std::max(1L, std::lround(rate * 0.06)));
    VOQ_Headset_ConfigureBatch(h, batch, 0.05);
    ThrowIfLibraryFailed("");

    const long long wanted = o.seconds >= 0 ? std::llround(o.seconds * rate) : -1;
    std::string text;
    if (!live) {
        text = Field("time", separator);
        for (const OutputChannel& c : channels) text += separator + Field(c.column, separator);
        text += "\n";
        if (!rows->Write(text)) return kExitOK;
    }

    session.Progress(wanted >= 0 ? Format("streaming %lld samples (%g s) ...", wanted, o.seconds)
                                 : std::string("streaming until Ctrl-C ..."));
    session.StartAcquisition();

    // On a terminal the view is redrawn in place four times a second;
    // elsewhere a new one is printed every second.
    const bool inPlace = isatty(STDOUT_FILENO) == 1;
    const auto refresh = std::chrono::milliseconds(inPlace ? 250 : 1000);
    LiveBlock block(stdout, inPlace);
    auto lastShown = std::chrono::steady_clock::now();
    unsigned long long samples = 0;
    std::vector<double> values(static_cast<size_t>(batch) * channels.size());
    std::vector<double> times(o.hostTimes ? batch : 0);
    bool interrupted = false;
    bool readerGone = false;
    LinkGaps gaps(h);

    while (wanted < 0 || static_cast<long long>(samples) < wanted) {
        if (Interrupted()) {
            interrupted = true;
            break;
        }
        // While the link is away the wait would last until it is back: look
        // again soon instead, so that Ctrl-C is heard.
        gaps.Take(samples);
        if (gaps.Reconnecting() && VOQ_Headset_GetNumberOfBufferedSamples(h) < batch) {
            session.DrainMessages();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        VOQ_ClearError();
        VOQ_Headset_WaitForBatch(h);
        ThrowIfLibraryFailed("is the headset still switched on and in range?");
        gaps.Take(samples);
        for (size_t k = 0; k < channels.size(); ++k)
            for (unsigned int j = 0; j < batch; ++j)
                values[j * channels.size() + k] = VOQ_Channel_ReadBuffered(channels[k].handle);
        // Each sample's measurement time: every channel has given a batch.
        if (o.hostTimes && VOQ_Headset_GetSampleTimes(h, times.data(), batch) != batch && !VOQ_Error())
            throw ToolError("the times of the samples read are no longer kept");
        ThrowIfLibraryFailed("");
        session.DrainMessages();

        unsigned int take = batch;
        if (wanted >= 0) take = static_cast<unsigned int>(std::min<long long>(batch, wanted - static_cast<long long>(samples)));
        if (live) {
            for (unsigned int j = 0; j < take; ++j) {
                for (size_t k = 0; k < channels.size(); ++k) {
                    OutputChannel& c = channels[k];
                    c.last = values[j * channels.size() + k];
                    c.recent[c.next] = c.last;
                    c.next = (c.next + 1) % c.recent.size();
                }
            }
            samples += take;
            auto now = std::chrono::steady_clock::now();
            if (now - lastShown >= refresh ||
                (wanted >= 0 && static_cast<long long>(samples) >= wanted)) {
                lastShown = now;
                block.Show(LiveLines(channels, session, rate, reference, filtering, samples, style, inPlace));
            }
        } else {
            text.clear();
            for (unsigned int j = 0; j < take; ++j) {
                text += Format("%.6f", o.hostTimes ? times[j]
                                                   : static_cast<double>(samples + j + gaps.MissingBefore(samples + j)) /
                                                         rate);
                for (size_t k = 0; k < channels.size(); ++k) {
                    text += separator;
                    text += SampleText(values[j * channels.size() + k], channels[k].trigger);
                }
                text += '\n';
            }
            samples += take;
            if (!rows->Write(text)) {
                readerGone = true;
                break;
            }
        }
    }

    size_t overflowed = VOQ_Headset_GetNumberOfOverflowedSamples(h);
    if (rows) rows->Close();
    if (!readerGone) WarnOfOverflow(overflowed, "");
    if (interrupted && wanted >= 0) return kExitInterrupted;
    return kExitOK;
}

}  // namespace voqtool
