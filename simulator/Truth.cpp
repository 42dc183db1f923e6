// The trigger truth file.
#include "Truth.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace voqsim {

namespace {

const int kFilterDelaySamples = 16;

}  // namespace

int HostTriggerDelay(int filterMode, int rate) {
    if (filterMode == 0) return 0;
    for (int r : wire::kSamplingRates)
        if (rate == r) return kFilterDelaySamples;
    return 0;
}

void TriggerTruth::Open(const std::string& path) {
    Close();
    delayLine_.clear();
    shown_ = 0;
    if (path.empty()) return;
    file_ = std::fopen(path.c_str(), "a");
    if (file_ == nullptr) throw std::runtime_error("cannot open " + path + ": " + strerror(errno));
}

void TriggerTruth::Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

void TriggerTruth::Observe(const Block& block, double epoch, bool upperNibble) {
    for (const Carried& c : block.carried) {
        if (c.triggerDelay >= 0) {
            delayLine_.assign(size_t(c.triggerDelay), 0);
            continue;
        }
        delayLine_.push_back(upperNibble ? c.trigger >> 4 : c.trigger);
        const int value = delayLine_.front();
        delayLine_.pop_front();
        if (value != 0 && value != shown_ && file_ != nullptr) {
            std::fprintf(file_, "%d %.6f\n", value, epoch + c.measured);
            std::fflush(file_);
        }
        shown_ = value;
    }
}

}  // namespace voqsim
