#include "voq/Headset.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace VOQ {

namespace {

const double kBlockTimeout = 0.5;   // seconds of silence before a read gives up

bool IsStartCode(const uint8_t* p) { return p[0] == AcceptableStartCode[0] && p[1] == AcceptableStartCode[1]; }
bool IsTerminator(const uint8_t* p) {
    return p[0] == AcceptableTerminationCode[0] && p[1] == AcceptableTerminationCode[1];
}
// The block's own check: its CRC field against the bytes it covers.
bool ChecksOut(const uint8_t* block, size_t length) {
    return CRC16(block + BlockLayout::kNumber, BlockLayout::CheckedBytes(length)) ==
           ReadU16LE(block + BlockLayout::kCRC);
}

// The time stamp of the last data packet that ProcessData will take among
// the `available` bytes of packets; false when there is none.  Walks the
// packets as ReadBlock does.
bool LastDataTicks(const uint8_t* packets, long available, uint32_t& ticks) {
    bool found = false;
    while (available >= 7) {
        const long length = packets[0];
        if (length == 0 || length > available) break;
        if (packets[1] == PacketSpecies::Data && size_t(length) >= DataPacketStruct::kWireSize) {
            ticks = ReadU32LE(packets + 2);
            found = true;
        }
        packets += length;
        available -= length;
    }
    return found;
}

}  // namespace

// ---------------------------------------------------------------------------
// Input: bytes given back by a framing fault come first, then the port.

size_t Headset::ReceiveInput(uint8_t* buffer, size_t count, double timeout) {
    size_t got = 0;
    while (got < count && !pendingInput.empty()) {
        buffer[got++] = pendingInput.front();
        pendingInput.pop_front();
    }
    if (got < count) got += port.Receive(buffer + got, count - got, timeout);
    return got;
}

void Headset::UnreadInput(const uint8_t* bytes, size_t count) {
    if (count > 0) pendingInput.insert(pendingInput.begin(), bytes, bytes + count);
}

// Makes `count` bytes available in pendingInput.  Waits for silence of
// kBlockTimeout unless the line has already been found quiet, in which case
// it only takes what is there.  False when not enough bytes came; `quiet` is
// then set.
bool Headset::FillPendingInput(size_t count, bool& quiet) {
    uint8_t chunk[kMaximumBlockSize];
    while (pendingInput.size() < count) {
        size_t want = std::min(count - pendingInput.size(), sizeof chunk);
        size_t n = port.Receive(chunk, want, quiet ? 0.0 : kBlockTimeout);
        if (n == 0) {
            quiet = true;
            return false;
        }
        pendingInput.insert(pendingInput.end(), chunk, chunk + n);
    }
    return true;
}

// ---------------------------------------------------------------------------

bool Headset::TryToReadBlock() {
    // While the link is lost only the reconnection reads the port; the
    // others wait for it.
    auto othersWait = [this] { return Reconnecting() && !reconnectThread.IsCurrentThread(); };
    if (othersWait()) {
        Sleep(0.001);
        return false;
    }
    ReadLockGuard guard(*this);
    if (othersWait()) return false;
    try {
        try {
            if (resynchronizationNeeded && !Resynchronize()) return false;
            return ReadBlock() != 0;
        } catch (const DataStreamError& fault) {
            if (WillShow(2)) Message(2, std::string(fault.what()) + " - resynchronizing...");
            return Resynchronize();
        }
    } catch (const LinkError& failure) {
        if (LinkLost(failure.what())) return false;
        linkFailed = true;
        throw;
    }
}

void Headset::CheckReadable() const {
    if (port.IsOpenOrFake() || Reconnecting()) return;
    if (linkState.load() == kLinkGaveUp) throw Error("Cannot read from headset: " + GiveUpMessage());
    throw Error("Cannot read from headset: serial-port connection not yet established.");
}

int Headset::ReadBlock() {
    CheckReadable();

    size_t got = ReceiveInput(blockBuffer, kBlockHeaderSize, kBlockTimeout);
    if (got == 0) return 0;
    // When the block began to arrive: the sample clock's evidence.
    const double arrival = HostClock();
    // On a framing fault everything after the first byte taken goes back to
    // the input, so that resynchronisation can find a block that starts
    // inside it.
    auto fault = [&](size_t consumed, const char* text) {
        if (consumed > 1) UnreadInput(blockBuffer + 1, consumed - 1);
        throw DataStreamError(text);
    };
    if (got < kBlockHeaderSize) fault(got, "Block header ended prematurely.");
    if (got > kBlockHeaderSize) fault(got, "Block header contained too much data.");
    if (!IsStartCode(blockBuffer)) fault(got, "Block did not start with the expected code.");
    const size_t length = ReadU16LE(blockBuffer + BlockLayout::kLength);
    if (length > kMaximumBlockSize) fault(got, "Headset wants to send too much data.");
    if (length < kMinimumBlockSize) fault(got, "Headset wants to send too little data.");

    const size_t bodyLength = length - kBlockHeaderSize;
    size_t body = ReceiveInput(blockBuffer + kBlockHeaderSize, bodyLength, kBlockTimeout);
    if (body < bodyLength) fault(kBlockHeaderSize + body, "Block body ended prematurely");
    if (body > bodyLength) fault(kBlockHeaderSize + body, "Block body contained too much data");
    if (!IsTerminator(blockBuffer + length - BlockLayout::kTerminatorSize))
        fault(length, "Block did not terminate with the expected code.");
    if (!ChecksOut(blockBuffer, length)) fault(length, "Block failed consistency check.");

    lastBlockTime = PrecisionTime();
    const int number = ReadU16LE(blockBuffer + BlockLayout::kNumber);
    if (expectedBlockNumber >= 0 && expectedBlockNumber != number && WillShow(3)) {
        Message(3, "Block " + std::to_string(number) + " arrived out of order (expected " +
                       std::to_string(expectedBlockNumber) + ").");
    }
    expectedBlockNumber = (number + 1) % 65536;

    const RealTimeClockStruct clock = RealTimeClockStruct::Decode(blockBuffer + BlockLayout::kClock);
    headsetClock.Set(&clock);

    if (WillShow(6)) Message(6, PythonString(blockBuffer, length - BlockLayout::kTerminatorSize, true));

    const double receptionTime = ReadU32LE(blockBuffer + BlockLayout::kTimeStamp) / kTicksPerSecond;
    long remaining = BlockLayout::PacketBytes(length);
    size_t cursor = BlockLayout::kPackets;
    uint32_t lastTicks = 0;
    if (LastDataTicks(blockBuffer + cursor, remaining, lastTicks))
        sampleClock.BeginBlock(arrival, lastTicks, ReadU32LE(blockBuffer + BlockLayout::kTimeStamp));
    int count = 0;
    while (remaining >= 7) {
        int n = DecodePacket(blockBuffer + cursor, size_t(remaining), receptionTime);
        if (n == 0) break;
        remaining -= n;
        cursor += size_t(n);
        ++count;
    }

    if (WillShow(4)) {
        char text[80];
        std::snprintf(text, sizeof text, "Decoded %d packet(s) from block %d", count, number);
        Message(4, text);
    }
    if (remaining > 0 && WillShow(3)) {
        Message(3, std::to_string(remaining) + " bytes left over in block " + std::to_string(number) +
                       " after decoding " + std::to_string(count) +
                       " packets: " + PythonString(blockBuffer + cursor, (unsigned long)remaining, true));
    } else if (remaining < 0 && WillShow(1)) {
        Message(1, "Packet decoder overshot by " + std::to_string(-remaining) + " bytes.");
    }
    return 1;
}

int Headset::DecodePacket(const uint8_t* packet, size_t available, double receptionTime) {
    if (available == 0) return 0;
    const int length = packet[0];
    if (available < 2) return length;
    const int species = packet[1];
    if (species >= PacketSpecies::ResponseFromMaster && species <= PacketSpecies::AlarmFromSlave) {
        // A packet that claims more than what is left is not handed over.
        if (size_t(length) > available) return length;
        const double packetTime = length >= int(kPacketHeaderSize) ? ReadU32LE(packet + 2) / kTicksPerSecond : 0.0;
        const size_t size = size_t(length);
        switch (species) {
            case PacketSpecies::ResponseFromMaster:
            case PacketSpecies::ResponseFromSlave:
                ProcessResponse(packet, size, receptionTime, packetTime);
                break;
            case PacketSpecies::AlarmFromMaster:
            case PacketSpecies::AlarmFromSlave:
                ProcessAlarm(packet, size, receptionTime, packetTime);
                break;
            case PacketSpecies::Data:
                ProcessData(packet, size, receptionTime, packetTime);
                break;
            case PacketSpecies::ExtendedData:
                ProcessExtendedData(packet, size, receptionTime, packetTime);
                break;
            default:
                break;
        }
    } else if (WillShow(3)) {
        Message(3, "Ignoring packet of species 0x" + HexString(species, 2, true) + " (" + PacketSpeciesName(species) +
                       ").");
    }
    return length;
}

bool Headset::Resynchronize() {
    ReadLockGuard guard(*this);
    if (!port.IsOpenOrFake()) throw Error("Cannot resynchronize: serial connection is not open.");
    expectedBlockNumber = -1;
    expectedDataPacketCounter = -1;

    // Discard input up to the start of the next block that frames and checks
    // correctly (start code, plausible length, terminator, CRC).  The block
    // stays in the input for the next read.
    bool quiet = false;
    for (;;) {
        if (!FillPendingInput(1, quiet)) break;
        if (pendingInput[0] != uint8_t(AcceptableStartCode[0])) {
            pendingInput.pop_front();
            continue;
        }
        if (!FillPendingInput(BlockLayout::kLength + 2, quiet) ||
            pendingInput[1] != uint8_t(AcceptableStartCode[1])) {
            pendingInput.pop_front();
            continue;
        }
        const size_t length =
            size_t(pendingInput[BlockLayout::kLength]) | (size_t(pendingInput[BlockLayout::kLength + 1]) << 8);
        if (length < kMinimumBlockSize || length > kMaximumBlockSize || !FillPendingInput(length, quiet)) {
            pendingInput.pop_front();
            continue;
        }
        // The terminator first, in place: most false starts fail there.
        const size_t terminator = length - BlockLayout::kTerminatorSize;
        const uint8_t ends[2] = {pendingInput[terminator], pendingInput[terminator + 1]};
        if (!IsTerminator(ends)) {
            pendingInput.pop_front();
            continue;
        }
        uint8_t candidate[kMaximumBlockSize];
        std::copy(pendingInput.begin(), pendingInput.begin() + long(length), candidate);
        if (ChecksOut(candidate, length)) {
            resynchronizationNeeded = false;
            return true;
        }
        pendingInput.pop_front();
    }
    // Half a second of silence (and nothing left that could start a block).
    resynchronizationNeeded = true;
    return false;
}

size_t Headset::FlushData(double seconds) {
    size_t total = 0;
    const double start = PrecisionTime();
    for (;;) {
        size_t n = 0;
        {
            ReadLockGuard guard(*this);
            if (!port.IsOpenOrFake()) break;
            n = pendingInput.size();
            pendingInput.clear();
            n += port.Receive(discardBuffer, sizeof discardBuffer, 0.0);
        }
        total += n;
        if (n == 0 || PrecisionTime() - start >= seconds) break;
        Sleep(0.05);
    }
    return total;
}

int Headset::KillDataStream(bool wait) {
    Command command = StopStreamCommand();
    bool sent = Send(command, wait ? kReplyTimeout : 0.0, kAttempts);
    {
        ReadLockGuard guard(*this);
        expectedBlockNumber = -1;
        expectedDataPacketCounter = -1;
        resynchronizationNeeded = false;
    }
    if (wait) return int(FlushData(5.0));
    return sent ? 1 : 0;
}

void Headset::FeedFakeData(const char* bytes, size_t count) {
    if (bytes == nullptr || count == 0) return;
    ReadLockGuard guard(*this);
    std::deque<uint8_t>* queue = port.FakeData();
    if (queue == nullptr) return;
    queue->insert(queue->end(), reinterpret_cast<const uint8_t*>(bytes), reinterpret_cast<const uint8_t*>(bytes) + count);
}

void Headset::AttachFakeData() {
    ReadLockGuard guard(*this);
    port.AttachFakeData(&fakeDataQueue);
    if (!port.IsOpen()) port.Open("fake");
}

}  // namespace VOQ
