// `voq lsl`: the montage channels and the trigger on the Lab Streaming Layer,
// with the stream names on standard output and a status line, until Ctrl-C
// or --seconds; the headset is stopped on the way out.
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "Commands.h"
#include "Format.h"
#include "Session.h"
#ifdef VOQ_HAVE_LSL
#include "Outlet.h"
#endif

namespace voqtool {

#ifndef VOQ_HAVE_LSL

int RunLsl(const Options&, Session&) {
    throw ToolError("this voq was built without the Lab Streaming Layer", "build it with -DVOQ_LSL=ON");
}

#else

namespace {

std::string StatusText(const voqlsl::Outlet& outlet, bool consumers, double requestedSeconds, bool linkUp) {
    const voqlsl::OutletStats& s = outlet.Stats();
    std::string line = Format("streaming %.1f s", double(s.samplesPushed) / outlet.Description().rate);
    if (requestedSeconds >= 0) line += Format(" / %.1f s", requestedSeconds);
    line += Format("   %llu samples pushed   %llu markers   consumers: %s",
                   static_cast<unsigned long long>(s.samplesPushed),
                   static_cast<unsigned long long>(s.markersPushed), consumers ? "connected" : "none");
    if (!linkUp) line += "   link lost: reconnecting";
    if (requestedSeconds < 0) line += "   Ctrl-C to stop";
    return line;
}

ToolError LslFailure(const voqlsl::LslError& e) {
    const std::string text = e.what();
    return ToolError(text, text.rfind("no samples", 0) == 0 ? "is the headset still switched on and in range?" : "");
}

}  // namespace

int RunLsl(const Options& options, Session& session) {
    const LslOptions& o = options.lsl;
    const bool quiet = options.common.quiet;

    session.Connect();
    session.KeepLink(o.reconnectSeconds);
    session.ChooseMontageWithTrigger(o.montage);
    session.AddFilter(o.filter);
    std::unique_ptr<voqlsl::Outlet> outlet;
    try {
        outlet = std::make_unique<voqlsl::Outlet>(session.Headset());
    } catch (const voqlsl::LslError& e) {
        throw LslFailure(e);
    }
    const voqlsl::StreamDescription& d = outlet->Description();
    std::printf("%s\n%s\n", d.name.c_str(), d.markersName.c_str());
    std::fflush(stdout);
    if (!quiet)
        std::fprintf(stderr,
                     "voq: streaming %zu channels at %g samples/s on LSL as \"%s\" (type EEG, source_id %s), "
                     "markers as \"%s\" (source_id %s)\n",
                     d.channels.size(), d.rate, d.name.c_str(), d.sourceId.c_str(), d.markersName.c_str(),
                     d.markersSourceId.c_str());

    StatusLine status(!quiet && isatty(STDERR_FILENO) == 1);
    bool interrupted = false;
    bool consumers = false;
    try {
        outlet->Start(o.seconds);
        interrupted = StepUntilDone(
            session, status, [&] { return outlet->Step(); },
            [&] {
                const bool connected = outlet->HasConsumers();
                if (connected != consumers && !quiet)
                    std::fprintf(stderr, "voq: %s\n", connected ? "a consumer connected" : "no consumer connected");
                consumers = connected;
                status.Show(StatusText(*outlet, consumers, o.seconds, VOQ_Headset_IsLinkUp(session.Headset()) != 0));
            });
        outlet->Close();
    } catch (const voqlsl::LslError& e) {
        status.Finish();
        session.DrainMessages();
        throw LslFailure(e);
    }
    status.Finish();
    session.DrainMessages();

    const voqlsl::OutletStats& s = outlet->Stats();
    if (!quiet) {
        std::fprintf(stderr, "voq: pushed %.1f s (%llu samples) and %llu markers\n", double(s.samplesPushed) / d.rate,
                     static_cast<unsigned long long>(s.samplesPushed), static_cast<unsigned long long>(s.markersPushed));
        WarnOfOverflow(s.overflowedSamples, " (marked in the markers stream)");
        WarnOfLinkLosses(s.linkLosses, s.samplesMissing, " (marked in the markers stream)");
    }
    if (interrupted && o.seconds >= 0) return kExitInterrupted;
    return kExitOK;
}

#endif

}  // namespace voqtool
