// A headset fed through the fake-data hook with a known device state, for the
// acquisition tests: sampling rate and filter (data-acquisition-mode reply),
// sources (calibration image), a montage, and helpers that feed data packets
// in blocks and capture the headset's messages from any thread.
#ifndef VOQ_TEST_ACQUISITION_SUPPORT_H
#define VOQ_TEST_ACQUISITION_SUPPORT_H

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "BlockBuilder.h"
#include "test_calibration_images.h"
#include "voq/Headset.h"

namespace acqtest {

using voqtest::Bytes;

struct Captured {
    std::string text;
    int level;
};

// One message log for the whole test binary; the sink may be called from a
// background worker.
class MessageLog {
public:
    static int Sink(const char* message, int level) {
        std::lock_guard<std::mutex> guard(Lock());
        Entries().push_back({message ? message : "", level});
        return level;
    }
    static void Clear() {
        std::lock_guard<std::mutex> guard(Lock());
        Entries().clear();
    }
    // Messages containing `fragment`, at `level` (0: any level).
    static int Count(const std::string& fragment, int level = 0) {
        std::lock_guard<std::mutex> guard(Lock());
        int n = 0;
        for (const Captured& m : Entries())
            if (m.text.find(fragment) != std::string::npos && (level == 0 || m.level == level)) ++n;
        return n;
    }
    // The message bodies (time stamp removed) containing `fragment`.
    static std::vector<Captured> Find(const std::string& fragment) {
        std::lock_guard<std::mutex> guard(Lock());
        std::vector<Captured> found;
        for (const Captured& m : Entries()) {
            if (m.text.find(fragment) == std::string::npos) continue;
            size_t colon = m.text.find(":  ");
            found.push_back({colon == std::string::npos ? m.text : m.text.substr(colon + 3), m.level});
        }
        return found;
    }

private:
    static std::mutex& Lock() {
        static std::mutex lock;
        return lock;
    }
    static std::vector<Captured>& Entries() {
        static std::vector<Captured> entries;
        return entries;
    }
};

// A headset on fake data, with the sampling rate and filter mode recorded
// from a data-acquisition-mode reply and sources built from `image`.
class FakeHeadset {
public:
    explicit FakeHeadset(int rate = 300, int filterMode = 1, const sigtest::Image& image = sigtest::Standard1020(),
                         int verbosity = 5)
        : headset(new VOQ::Headset("deferred")) {
        MessageLog::Clear();
        headset->SetMessageCallback(&MessageLog::Sink);
        headset->SetVerbosity(verbosity);
        headset->AttachFakeData();
        Respond(33, voqtest::Concat({Bytes{1, uint8_t(filterMode)}, voqtest::U16(unsigned(rate))}));
        headset->InterpretCalibrationMemory(image.data());
    }
    ~FakeHeadset() { delete headset; }
    FakeHeadset(const FakeHeadset&) = delete;
    FakeHeadset& operator=(const FakeHeadset&) = delete;

    VOQ::Headset& operator*() { return *headset; }
    VOQ::Headset* operator->() { return headset; }

    // A response from the master (or the slave for 172 and 218), read at once.
    void Respond(int family, const Bytes& payload) {
        int species = (family == 172 || family == 218) ? 5 : 1;
        Feed(voqtest::Block(blockNumber++, {voqtest::ResponsePacket(species, family, 200, payload)}));
        headset->TryToReadBlock();
    }
    void Feed(const Bytes& bytes) { voqtest::Feed(*headset, bytes); }

    // The next data packet: sequence numbers and time stamps advance by one
    // sample period (6 ticks at 300/s).
    Bytes NextDataPacket(uint8_t trigger = 0, const std::array<int16_t, 24>& readings = {}) {
        Bytes packet = voqtest::DataPacket(sequence++, trigger, readings, ticks);
        ticks += ticksPerSample;
        return packet;
    }
    // `count` data packets in as many blocks as needed (17 per block);
    // returns the number of blocks.
    int FeedSamples(int count, uint8_t trigger = 0, const std::array<int16_t, 24>& readings = {}) {
        int blocks = 0;
        while (count > 0) {
            ++blocks;
            int now = count < 17 ? count : 17;
            std::vector<Bytes> packets;
            for (int k = 0; k < now; ++k) packets.push_back(NextDataPacket(trigger, readings));
            Feed(voqtest::Block(blockNumber++, packets));
            count -= now;
        }
        return blocks;
    }
    void ReadBlocks(int blocks) {
        for (int k = 0; k < blocks; ++k) headset->TryToReadBlock();
    }
    // Feeds and reads `count` samples at once.
    void ProcessSamples(int count, uint8_t trigger = 0, const std::array<int16_t, 24>& readings = {}) {
        ReadBlocks(FeedSamples(count, trigger, readings));
    }

    // Puts the packets into as few blocks as fit, then reads them all.
    void ProcessPackets(const std::vector<Bytes>& packets) {
        int blocks = 0;
        std::vector<Bytes> pending;
        size_t size = 24;
        for (const Bytes& packet : packets) {
            if (size + packet.size() > 1024) {
                Feed(voqtest::Block(blockNumber++, pending));
                ++blocks;
                pending.clear();
                size = 24;
            }
            pending.push_back(packet);
            size += packet.size();
        }
        if (!pending.empty()) {
            Feed(voqtest::Block(blockNumber++, pending));
            ++blocks;
        }
        for (int k = 0; k < blocks; ++k) headset->TryToReadBlock();
    }

    VOQ::Headset* headset;
    uint16_t blockNumber = 0;
    uint8_t sequence = 0;
    uint32_t ticks = 1800;
    uint32_t ticksPerSample = 6;
};

}  // namespace acqtest

#endif
