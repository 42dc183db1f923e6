#include "StreamRecording.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "Simulator.h"
#include "VOQ.h"

namespace voqbench {

namespace {

double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The recorder's end of the link: raw bytes in, whole blocks out.
class Host {
public:
    explicit Host(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) throw std::runtime_error("cannot open " + path);
        struct termios t;
        if (tcgetattr(fd_, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Host() {
        if (fd_ >= 0) close(fd_);
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Sends one command; returns its identifier.
    int Send(VOQ::CommandDestination::Code destination, VOQ::CommandFamily::Code family, const Bytes& payload) {
        VOQ::Command command(destination, family, payload.data(), payload.size());
        const int identifier = next_++;
        command.Sign(identifier);
        const uint8_t* p = command.packet;
        size_t left = command.packetLength;
        while (left > 0) {
            ssize_t n = write(fd_, p, left);
            if (n > 0) {
                p += n;
                left -= size_t(n);
            } else {
                struct pollfd w = {fd_, POLLOUT, 0};
                poll(&w, 1, 10);
            }
        }
        return identifier;
    }

    // The next complete, intact block; false after `timeout` seconds without.
    bool NextBlock(Bytes& block, double timeout) {
        const double deadline = Seconds() + timeout;
        for (;;) {
            if (TakeBlock(block)) return true;
            const double left = deadline - Seconds();
            if (left <= 0) return false;
            struct pollfd r = {fd_, POLLIN, 0};
            poll(&r, 1, int(left * 1000) + 1);
            uint8_t chunk[4096];
            ssize_t n = read(fd_, chunk, sizeof chunk);
            if (n > 0) buffer_.insert(buffer_.end(), chunk, chunk + n);
        }
    }

private:
    bool TakeBlock(Bytes& block) {
        for (;;) {
            size_t start = 0;
            while (start + 1 < buffer_.size() && !(buffer_[start] == '#' && buffer_[start + 1] == '2')) ++start;
            buffer_.erase(buffer_.begin(), buffer_.begin() + long(start));
            if (buffer_.size() < 4) return false;
            const size_t length = VOQ::ReadU16LE(&buffer_[2]);
            if (length < 24 || length > 1024) {
                buffer_.erase(buffer_.begin());
                continue;
            }
            if (buffer_.size() < length) return false;
            const bool intact = buffer_[length - 2] == '\r' && buffer_[length - 1] == '\n' &&
                                VOQ::CRC16(&buffer_[14], length - 16) == VOQ::ReadU16LE(&buffer_[12]);
            if (!intact) {
                buffer_.erase(buffer_.begin());
                continue;
            }
            block.assign(buffer_.begin(), buffer_.begin() + long(length));
            buffer_.erase(buffer_.begin(), buffer_.begin() + long(length));
            return true;
        }
    }

    int fd_ = -1;
    int next_ = 1;
    Bytes buffer_;
};

Bytes Word(unsigned value) { return Bytes{uint8_t(value), uint8_t(value >> 8)}; }

// Visits the packets of a block: f(offset, species, length).
template <typename F>
void ForEachPacket(const Bytes& block, F f) {
    size_t at = 22;
    const size_t end = block.size() - 2;
    while (at + 6 <= end) {
        const size_t length = block[at];
        if (length < 6 || at + length > end) break;
        f(at, int(block[at + 1]), length);
        at += length;
    }
}

bool HasResponse(const Bytes& block, int family, int identifier) {
    bool found = false;
    ForEachPacket(block, [&](size_t at, int species, size_t length) {
        if ((species == 1 || species == 5) && length >= 8 && block[at + 6] == family && block[at + 7] == identifier)
            found = true;
    });
    return found;
}

}  // namespace

Recording RecordFromSimulator(const RecordOptions& options) {
    voqsim::Config config;
    config.samplingRate = options.samplingRate;
    voqsim::Simulator sim(config);
    Host host(sim.Start());
    Recording recording;
    recording.options = options;
    recording.ticksPerSample = uint32_t(1800 / options.samplingRate);

    // Every command waits for its answer; the blocks read meanwhile (with the
    // answer's) are kept as set-up.
    auto ask = [&](VOQ::CommandDestination::Code destination, VOQ::CommandFamily::Code family,
                   const Bytes& payload) {
        const int identifier = host.Send(destination, family, payload);
        Bytes block;
        for (;;) {
            if (!host.NextBlock(block, 2.0))
                throw std::runtime_error("the simulated headset did not answer command family " +
                                         std::to_string(int(family)));
            recording.setup.push_back(block);
            if (HasResponse(block, family, identifier)) return;
        }
    };

    using VOQ::CommandDestination::Master;
    using VOQ::CommandDestination::Slave;
    namespace F = VOQ::CommandFamily;
    std::time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    ask(Master, F::RealTimeClock,
        Bytes{uint8_t(local.tm_mon + 1), uint8_t(local.tm_mday), uint8_t(local.tm_year - 100), uint8_t(local.tm_hour),
              uint8_t(local.tm_min), uint8_t(local.tm_sec)});
    ask(Master, F::SerialNumberAndSensorCount, Bytes());
    for (unsigned page = 0; page < 8; ++page) ask(Master, F::CalibrationMemory, Word(page));
    ask(Slave, F::ImpedanceDriverMode, Word(options.impedanceDriver ? 2 : 1));
    ask(Slave, F::AccelerometerRate, Word(unsigned(options.accelerometerRate)));
    ask(Master, F::RealTimeClock, Bytes());
    ask(Master, F::DataAcquisitionMode, Word(2));

    Bytes block;
    const double end = Seconds() + options.seconds;
    while (Seconds() < end) {
        if (!host.NextBlock(block, 1.0)) throw std::runtime_error("the simulated headset stopped streaming");
        bool onlySamples = true, data = false;
        ForEachPacket(block, [&](size_t, int species, size_t) {
            if (species == 3) data = true;
            if (species != 3 && species != 4) onlySamples = false;
        });
        if (!data || !onlySamples) continue;   // not expected while streaming
        ForEachPacket(block, [&](size_t, int species, size_t) {
            if (species == 3) ++recording.lapSamples;
            if (species == 4) ++recording.lapAccelerometerPackets;
        });
        recording.lapBytes += block.size();
        recording.lap.push_back(block);
    }
    host.Send(Master, F::DataAcquisitionMode, Word(1));
    sim.Stop();
    if (recording.lap.empty()) throw std::runtime_error("no data blocks recorded");
    return recording;
}

LapPlayer::LapPlayer(const Recording& recording) : recording_(recording) {
    for (const Bytes& block : recording.lap) {
        std::vector<PacketAt> list;
        ForEachPacket(block, [&](size_t at, int species, size_t) { list.push_back({at, species}); });
        packets_.push_back(list);
    }
}

void LapPlayer::MakeLap(uint64_t k, std::vector<Bytes>& blocks) const {
    const std::vector<Bytes>& lap = recording_.lap;
    blocks.resize(lap.size());
    const uint32_t ticks = uint32_t(k * recording_.lapSamples * recording_.ticksPerSample);
    const uint16_t numbers = uint16_t(k * lap.size());
    const uint8_t sequence = uint8_t(k * recording_.lapSamples);
    for (size_t b = 0; b < lap.size(); ++b) {
        Bytes& out = blocks[b];
        out = lap[b];
        VOQ::WriteU16LE(&out[14], uint16_t(VOQ::ReadU16LE(&out[14]) + numbers));
        VOQ::WriteU32LE(&out[4], VOQ::ReadU32LE(&out[4]) + ticks);
        for (const PacketAt& p : packets_[b]) {
            VOQ::WriteU32LE(&out[p.offset + 2], VOQ::ReadU32LE(&out[p.offset + 2]) + ticks);
            if (p.species == 3) out[p.offset + 6] = uint8_t(out[p.offset + 6] + sequence);
        }
        VOQ::WriteU16LE(&out[12], VOQ::CRC16(&out[14], out.size() - 16));
    }
}

void FeedBlocks(VOQ::Headset& headset, const std::vector<Bytes>& blocks) {
    for (const Bytes& block : blocks)
        headset.FeedFakeData(reinterpret_cast<const char*>(block.data()), block.size());
}

void PrepareReplayHeadset(VOQ::Headset& headset, const Recording& recording, double bufferSeconds) {
    headset.AttachFakeData();
    FeedBlocks(headset, recording.setup);
    for (size_t i = 0; i < recording.setup.size(); ++i)
        if (!headset.TryToReadBlock()) throw std::runtime_error("the replayed set-up did not read back");
    if (headset.Sources().empty()) throw std::runtime_error("the replayed set-up built no sources");
    headset.ChooseChannels("FACTORY", "FACTORY", false);
    headset.SetTraditionalReference(true);
    headset.ReallocateBuffers(bufferSeconds, 1.0);
}

}  // namespace voqbench
