#include "Messages.h"

#include <algorithm>
#include <mutex>

#include <gtest/gtest.h>

#include "voq/Error.h"

namespace voqtest {

namespace {

std::mutex gLock;
std::vector<Captured>* gList = nullptr;

}  // namespace

int CaptureMessage(const char* message, int level) {
    std::lock_guard<std::mutex> guard(gLock);
    if (gList) gList->push_back({message ? message : "", level});
    return level;
}

void CaptureMessagesInto(std::vector<Captured>* list) {
    std::lock_guard<std::mutex> guard(gLock);
    gList = list;
}

int CountMessages(const std::vector<Captured>& list, const std::string& fragment, int level) {
    std::lock_guard<std::mutex> guard(gLock);
    int n = 0;
    for (const Captured& m : list)
        if (m.text.find(fragment) != std::string::npos && (level == 0 || m.level == level)) ++n;
    return n;
}

namespace {

std::mutex gWatchLock;
std::vector<std::string> gExpected;     // fragments of the ExpectMessages in force
std::vector<Captured> gUnexpected;

// Notes every connection issues at level 2, and the pace controller's notes,
// which follow the machine's load rather than the code (the pacing test
// counts them itself; the benchmarks measure the pace).
const char* const kRoutine[] = {
    "Connected to ",
    "\"VOQ Ready\"",
    "response ignored due to unsupported command code 0xBA",  // the battery monitor's reply
    "Real-time violation - ",
    "Discharging buffer and resetting controller",
};

bool Contains(const std::string& text, const std::string& fragment) { return text.find(fragment) != std::string::npos; }

}  // namespace

void WatchMessage(const char* message, int level) {
    if (level < 1 || level > 2) return;
    const std::string text = message ? message : "";
    for (const char* routine : kRoutine)
        if (Contains(text, routine)) return;
    std::lock_guard<std::mutex> guard(gWatchLock);
    for (const std::string& fragment : gExpected)
        if (Contains(text, fragment)) return;
    gUnexpected.push_back({text, level});
}

void ReportUnexpectedMessages() {
    std::vector<Captured> unexpected;
    {
        std::lock_guard<std::mutex> guard(gWatchLock);
        unexpected.swap(gUnexpected);
    }
    const size_t quoted = 10;
    for (size_t i = 0; i < unexpected.size() && i < quoted; ++i)
        ADD_FAILURE() << "unexpected level-" << unexpected[i].level << " message: " << unexpected[i].text;
    if (unexpected.size() > quoted)
        ADD_FAILURE() << unexpected.size() - quoted << " more unexpected level-1 or level-2 messages";
}

ExpectMessages::ExpectMessages(std::vector<std::string> fragments) : fragments_(std::move(fragments)) {
    std::lock_guard<std::mutex> guard(gWatchLock);
    gExpected.insert(gExpected.end(), fragments_.begin(), fragments_.end());
}

ExpectMessages::~ExpectMessages() {
    std::lock_guard<std::mutex> guard(gWatchLock);
    for (const std::string& fragment : fragments_) {
        auto it = std::find(gExpected.begin(), gExpected.end(), fragment);
        if (it != gExpected.end()) gExpected.erase(it);
    }
}

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const VOQ::Error& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace voqtest
