#include "Messages.h"

#include <mutex>

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

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const VOQ::Error& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace voqtest
