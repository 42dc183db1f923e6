// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

#include <cstdio>

namespace VOQ {

void Headset::Message(int level, const std::string& body) const {
    throw Error("not implemented yet: Headset::Message");
}

void Headset::IssueMessage(const std::string& message, int level, int alarmCode) {
    throw Error("not implemented yet: Headset::IssueMessage");
}

std::string Headset::RelativeTimeStamp(double seconds) const {
    throw Error("not implemented yet: Headset::RelativeTimeStamp");
}

int Console(const char* message, int level) {
    // One write per message, so that messages of several headsets do not mix.
    std::string line(message ? message : "");
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return level;
}

int Console(const std::string& message, int level) { return Console(message.c_str(), level); }

}  // namespace VOQ
