#include "voq/Headset.h"

#include <cstdio>

namespace VOQ {

void Headset::Message(int level, const std::string& body) const {
    VOQ_MessageCallback callback = messageCallback.load();
    if (callback == nullptr || verbosity < level) return;
    std::string text = RelativeTimeStamp(-1.0) + ":  " + body;
    callback(text.c_str(), level);
}

void Headset::IssueMessage(const std::string& message, int level, int alarmCode) {
    VOQ_MessageCallback callback = messageCallback.load();
    bool show = callback != nullptr && verbosity >= level;
    if (alarmCode < 0) {
        if (show) callback(message.c_str(), level);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(alarmLock);
        alarms.push_back(alarmCode);
        while (alarms.size() > kMaxAlarms) alarms.pop_front();
    }
    if (show) {
        std::string text = "VOQ headset issued alarm: " + message;
        callback(text.c_str(), level);
    }
}

void Headset::Message(int level, const char* body) const {
    VOQ_MessageCallback callback = messageCallback.load();
    if (callback == nullptr || verbosity < level) return;
    if (body == nullptr) body = "";
    const double seconds = PrecisionTime() - port.TimeOpened();
    char text[512];
    const int n = seconds < 0 ? std::snprintf(text, sizeof text, "---:  %s", body)
                              : std::snprintf(text, sizeof text, "%6.3f:  %s", seconds, body);
    if (n < 0) return;
    if (size_t(n) >= sizeof text) {
        Message(level, std::string(body));
        return;
    }
    callback(text, level);
}

std::string Headset::RelativeTimeStamp(double seconds) const {
    if (seconds < 0) seconds = PrecisionTime() - port.TimeOpened();
    if (seconds < 0) return "---";
    char text[64];
    std::snprintf(text, sizeof text, "%6.3f", seconds);
    return text;
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
