// `voq sim`: a simulated headset on a pseudo-terminal, until Ctrl-C.
#include <chrono>
#include <cstdio>
#include <thread>

#include "Commands.h"
#include "Interrupt.h"
#include "Session.h"
#include "Simulator.h"

namespace voqtool {

int RunSim(const Options& options) {
    voqsim::Config config = SimulatorConfig(options.sim);
    voqsim::Simulator simulator(config);
    std::string path;
    try {
        path = simulator.Start();
    } catch (const std::exception& e) {
        throw ToolError(std::string("cannot start the simulated headset: ") + e.what(),
                        "pseudo-terminals must be available (/dev/ptmx)");
    }
    // The path alone on standard output, for scripts; the rest on standard
    // error.
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    if (!options.common.quiet) {
        std::fprintf(stderr,
                     "voq: simulated headset (%s, %d samples/s) serving on %s until Ctrl-C\n"
                     "voq: use it with: voq --port %s info   (or export VOQSerialPort=%s)\n",
                     options.sim.layout.c_str(), options.sim.rate, path.c_str(), path.c_str(), path.c_str());
        std::fflush(stderr);
    }
    if (!options.common.quiet && !config.linkPath.empty()) {
        std::fprintf(stderr, "voq: linked as %s, which follows it to a new pseudo-terminal after a drop\n",
                     config.linkPath.c_str());
        std::fflush(stderr);
    }
    while (!Interrupted()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    size_t commands = simulator.CommandCount();
    simulator.Stop();
    if (!options.common.quiet) std::fprintf(stderr, "voq: simulated headset stopped after %zu commands\n", commands);
    return kExitOK;
}

}  // namespace voqtool
