// voq-sim: serves a simulated headset on a fresh pseudo-terminal until it is
// interrupted.  The first line of standard output is the device path.
#include "Simulator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include <pthread.h>
#include <signal.h>
#include <strings.h>

namespace {

const char* const kUsage =
    "usage: voq-sim [options]\n"
    "Serves a simulated headset on a fresh pseudo-terminal.  Prints the device\n"
    "path on the first line of standard output, then serves until interrupted\n"
    "(SIGINT or SIGTERM).\n"
    "\n"
    "options:\n"
    "  --rate 300|600          sampling rate at power-on (default 300)\n"
    "  --filter 0|1            filter mode at power-on (default 1)\n"
    "  --layout NAME           built-in calibration image: standard24 (default),\n"
    "                          seven, erased\n"
    "  --image FILE            calibration image from a file (128 bytes, or a\n"
    "                          BIN, DEC or HEX dump)\n"
    "  --drift PPM             device clock drift in parts per million (default 0)\n"
    "  --impedance NAME=KOHM   impedance of one electrode (repeatable)\n"
    "  --impedance-all KOHM    impedance of every other electrode (default 5)\n"
    "  --cmf-impedance KOHM    common-mode impedance (default 2)\n"
    "  --accelerometer HZ      accelerometer rate at power-on (0, 10, 25, 50, 100;\n"
    "                          default 10)\n"
    "  --trigger SECONDS[:V]   trigger period (0: none; default 1) and value\n"
    "                          (default: cycling 1, 2, 3, ...)\n"
    "  --seed N                seed of the signals (default 1)\n"
    "  --serial N              serial number the headset reports (1 to 4294967295;\n"
    "                          default by layout: 2400117, or 700042 with seven sensors)\n"
    "  --jitter MS             hold each block back by a random 0 to MS\n"
    "                          milliseconds, never out of order (default 0)\n"
    "  --truth FILE            append \"VALUE SECONDS\" to FILE for every trigger\n"
    "                          onset the host will see: the monotonic-clock time\n"
    "                          at which its sample was measured\n"
    "  --link PATH             keep a symbolic link at PATH to the current\n"
    "                          pseudo-terminal (absent while the link is down;\n"
    "                          removed at exit)\n"
    "  --drop AT:SECONDS       lose the link with a hang-up AT seconds after the\n"
    "                          host first starts acquisition, and come back on a\n"
    "                          new pseudo-terminal SECONDS later (repeatable)\n"
    "  --help                  this text\n";

[[noreturn]] void Usage(const std::string& problem) {
    std::cerr << "voq-sim: " << problem << "\n\n" << kUsage;
    std::exit(2);
}

double Number(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') Usage(option + " needs a number, not \"" + text + "\"");
    return v;
}

long Integer(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') Usage(option + " needs a whole number, not \"" + text + "\"");
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    voqsim::Config config;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        std::string value;
        const size_t eq = option.find('=');
        const bool hasInlineValue = option.rfind("--", 0) == 0 && eq != std::string::npos;
        if (option == "--help" || option == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (hasInlineValue) {
            value = option.substr(eq + 1);
            option = option.substr(0, eq);
        } else {
            if (i + 1 >= argc) Usage(option + " needs a value");
            value = argv[++i];
        }
        if (option == "--rate") {
            config.samplingRate = int(Integer(option, value));
        } else if (option == "--filter") {
            config.filterMode = int(Integer(option, value));
        } else if (option == "--layout") {
            config.layout = value;
        } else if (option == "--image") {
            try {
                const voqsim::Image image = voqsim::ReadImageFile(value);
                config.image.assign(image.begin(), image.end());
            } catch (const std::exception& e) {
                std::cerr << "voq-sim: " << e.what() << "\n";
                return 1;
            }
        } else if (option == "--drift") {
            config.driftPpm = Number(option, value);
        } else if (option == "--impedance") {
            const size_t at = value.find('=');
            if (at == std::string::npos || at == 0) Usage("--impedance needs NAME=KOHM, not \"" + value + "\"");
            config.impedanceKOhm[value.substr(0, at)] = Number(option, value.substr(at + 1));
        } else if (option == "--impedance-all") {
            config.impedanceAllKOhm = Number(option, value);
        } else if (option == "--cmf-impedance") {
            config.cmfImpedanceKOhm = Number(option, value);
        } else if (option == "--accelerometer") {
            config.accelerometerRate = int(Integer(option, value));
        } else if (option == "--trigger") {
            const size_t colon = value.find(':');
            config.triggerPeriodSeconds = Number(option, value.substr(0, colon));
            if (colon != std::string::npos) config.triggerValue = int(Integer(option, value.substr(colon + 1)));
        } else if (option == "--seed") {
            config.seed = uint64_t(Integer(option, value));
        } else if (option == "--serial") {
            const long long serial = std::strtoll(value.c_str(), nullptr, 10);
            if (serial < 1 || serial > 4294967295LL || std::to_string(serial) != value)
                Usage("--serial needs a whole number from 1 to 4294967295, not \"" + value + "\"");
            config.serialNumber = uint32_t(serial);
        } else if (option == "--link") {
            config.linkPath = value;
        } else if (option == "--drop") {
            const size_t colon = value.find(':');
            if (colon == std::string::npos) Usage("--drop needs AT:SECONDS, not \"" + value + "\"");
            voqsim::LinkDrop drop;
            drop.atSeconds = Number(option, value.substr(0, colon));
            drop.seconds = Number(option, value.substr(colon + 1));
            config.drops.push_back(drop);
        } else if (option == "--jitter") {
            config.jitterMilliseconds = Number(option, value);
        } else if (option == "--truth") {
            config.truthPath = value;
        } else {
            Usage("unknown option \"" + option + "\"");
        }
    }

    // Signals are taken synchronously: block them before the device thread
    // starts so that it never receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        voqsim::Simulator simulator(config);
        const std::string path = simulator.Start();
        for (const auto& entry : config.impedanceKOhm) {
            bool known = false;
            for (const voqsim::Slot& slot : simulator.Slots())
                if (strcasecmp(slot.name.c_str(), entry.first.c_str()) == 0) known = true;
            if (!known)
                std::cerr << "voq-sim: warning: no slot named \"" << entry.first << "\" in this layout\n";
        }
        std::cout << path << std::endl;
        std::cerr << "voq-sim: serving a simulated headset on " << path << " (" << config.samplingRate
                  << " samples/s)";
        if (!config.linkPath.empty()) std::cerr << ", linked as " << config.linkPath;
        std::cerr << "; interrupt to stop\n";
        int received = 0;
        sigwait(&stopSignals, &received);
        simulator.Stop();
    } catch (const std::exception& e) {
        std::cerr << "voq-sim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
