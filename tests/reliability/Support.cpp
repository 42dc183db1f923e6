#include "Support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <cmath>
#include <cstdio>

extern char** environ;

namespace reliability {

namespace {

std::mutex& LogLock() {
    static std::mutex lock;
    return lock;
}
std::vector<std::pair<std::string, int>>& LogEntries() {
    static std::vector<std::pair<std::string, int>> entries;
    return entries;
}

VOQ::Headset* Object(VOQ_Headset handle) { return reinterpret_cast<VOQ::Headset*>(handle); }

}  // namespace

int MessageLog::Sink(const char* message, int level) {
    std::lock_guard<std::mutex> guard(LogLock());
    LogEntries().emplace_back(message ? message : "", level);
    return level;
}

void MessageLog::Clear() {
    std::lock_guard<std::mutex> guard(LogLock());
    LogEntries().clear();
}

int MessageLog::Count(const std::string& fragment, int level) {
    std::lock_guard<std::mutex> guard(LogLock());
    int n = 0;
    for (const auto& entry : LogEntries())
        if (entry.first.find(fragment) != std::string::npos && (level == 0 || entry.second == level)) ++n;
    return n;
}

std::vector<std::string> MessageLog::Find(const std::string& fragment) {
    std::lock_guard<std::mutex> guard(LogLock());
    std::vector<std::string> found;
    for (const auto& entry : LogEntries())
        if (entry.first.find(fragment) != std::string::npos) found.push_back(entry.first);
    return found;
}

std::string MessageLog::All() {
    std::lock_guard<std::mutex> guard(LogLock());
    std::string all;
    for (const auto& entry : LogEntries()) all += std::to_string(entry.second) + " " + entry.first + "\n";
    return all;
}

// ---------------------------------------------------------------------------

void SampleLog::Callback(VOQ_Headset, double sampleTime, void* self) {
    SampleLog* log = static_cast<SampleLog*>(self);
    std::lock_guard<std::mutex> guard(log->lock_);
    log->ticks_.push_back(Ticks(sampleTime));
}

void SampleLog::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    ticks_.clear();
}

std::vector<uint32_t> SampleLog::Take() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<uint32_t> taken;
    taken.swap(ticks_);
    return taken;
}

size_t SampleLog::Count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return ticks_.size();
}

uint32_t Ticks(double seconds) { return uint32_t(std::llround(seconds * 1800.0)); }

long ResidentKilobytes() {
    long pages = 0, resident = 0;
    FILE* file = std::fopen("/proc/self/statm", "r");
    if (!file) return -1;
    if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2) resident = -1;
    std::fclose(file);
    return resident < 0 ? -1 : resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int FindChannel(VOQ_Headset handle, const std::string& name) {
    const std::vector<VOQ::Channel*>& channels = Object(handle)->OutputChannels();
    for (size_t k = 0; k < channels.size(); ++k)
        if (channels[k] && channels[k]->Name() == name) return int(k);
    return -1;
}

// ---------------------------------------------------------------------------

StreamResult RunStream(VOQ_Headset handle, SampleLog& samples, const StreamOptions& options) {
    VOQ::Headset* headset = Object(handle);
    StreamResult result;
    const int snd = FindChannel(handle, "SND");
    std::vector<VOQ_Channel> channels;
    for (unsigned k = 0; k < headset->OutputChannels().size(); ++k)
        channels.push_back(VOQ_Headset_GetChannelByIndex(handle, k));

    // Reads `limit` values (all that are buffered when negative) from every
    // output channel, keeping the SND channel's as time stamps.
    auto readChannels = [&](long limit) {
        for (size_t k = 0; k < channels.size(); ++k) {
            size_t n = VOQ_Channel_GetNumberOfBufferedSamples(channels[k]);
            if (limit >= 0) n = std::min(n, size_t(limit));
            for (size_t i = 0; i < n; ++i) {
                const double value = VOQ_Channel_ReadBuffered(channels[k]);
                if (int(k) == snd) result.readTicks.push_back(Ticks(value));
            }
        }
    };
    auto noteError = [&] {
        if (const char* error = VOQ_ClearError()) result.errors.push_back(error);
    };

    samples.Clear();
    VOQ_Headset_FlushBuffers(handle);
    VOQ_Headset_SetSampleCallback(handle, &SampleLog::Callback, &samples);
    VOQ_ClearError();
    VOQ_Headset_StartBackgroundAcquisition(handle);
    noteError();

    const double start = VOQ::PrecisionTime();
    std::atomic<bool> streaming{true};
    std::thread injector;
    if (options.faults) {
        injector = std::thread([&] {
            while (streaming.load()) {
                options.faults(VOQ::PrecisionTime() - start);
                VOQ::Sleep(0.005);
            }
        });
    }
    double nextDuring = 0.0;
    for (;;) {
        const double elapsed = VOQ::PrecisionTime() - start;
        if (elapsed >= options.seconds) break;
        if (options.during && elapsed >= nextDuring) {
            options.during(elapsed);
            nextDuring = elapsed + 0.02;
        }
        if (elapsed >= options.pauseFrom && elapsed < options.pauseUntil) {
            VOQ::Sleep(0.01);
            continue;
        }
        const double before = VOQ::PrecisionTime();
        if (options.batches) {
            VOQ_Headset_WaitForBatch(handle);
        } else {
            VOQ_Headset_WaitForSamples(handle, 1);
        }
        result.longestWait = std::max(result.longestWait, VOQ::PrecisionTime() - before);
        noteError();
        readChannels(options.batches ? long(headset->BatchSize()) : -1);
    }

    streaming = false;
    if (injector.joinable()) injector.join();
    VOQ_Headset_StopBackgroundAcquisition(handle);
    const double stopDeadline = VOQ::PrecisionTime() + 12.0;
    while (headset->BackgroundAcquisitionAlive() && VOQ::PrecisionTime() < stopDeadline) VOQ::Sleep(0.005);
    // Whatever was already on its way.
    VOQ_Headset_Idle(handle, 0.6);
    noteError();
    readChannels(-1);
    result.overflowed = VOQ_Headset_GetNumberOfOverflowedSamples(handle);
    VOQ_Headset_SetSampleCallback(handle, nullptr, nullptr);
    result.callbackTicks = samples.Take();
    return result;
}

ChildSimulator::ChildSimulator(const std::string& program, int rate) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string rateText = std::to_string(rate);
    char* args[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--rate"),
                    const_cast<char*>(rateText.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, args, environ) == 0) pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') path_ += c;
    close(fds[0]);
}

ChildSimulator::~ChildSimulator() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

void ChildSimulator::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace reliability
