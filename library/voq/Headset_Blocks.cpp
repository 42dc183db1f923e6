#include "voq/Headset.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace VOQ {

namespace {

const double kBlockTimeout = 0.5;   // seconds of silence before a read gives up

bool IsStartCode(const uint8_t* p) { return p[0] == 0x23 && p[1] == 0x32; }
bool IsTerminator(const uint8_t* p) { return p[0] == 0x0D && p[1] == 0x0A; }

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
    const size_t length = ReadU16LE(blockBuffer + 2);
    if (length > kMaximumBlockSize) fault(got, "Headset wants to send too much data.");
    if (length < kMinimumBlockSize) fault(got, "Headset wants to send too little data.");

    const size_t bodyLength = length - kBlockHeaderSize;
    size_t body = ReceiveInput(blockBuffer + kBlockHeaderSize, bodyLength, kBlockTimeout);
    if (body < bodyLength) fault(kBlockHeaderSize + body, "Block body ended prematurely");
    if (body > bodyLength) fault(kBlockHeaderSize + body, "Block body contained too much data");
    if (!IsTerminator(blockBuffer + length - 2)) fault(length, "Block did not terminate with the expected code.");
    if (CRC16(blockBuffer + 14, length - 16) != ReadU16LE(blockBuffer + 12))
        fault(length, "Block failed consistency check.");

    const double arrival = PrecisionTime();
    lastBlockTime = arrival;
    NoteBlockTiming(arrival, blockBuffer, length);
    const int number = ReadU16LE(blockBuffer + 14);
    if (expectedBlockNumber >= 0 && expectedBlockNumber != number && WillShow(3)) {
        Message(3, "Block " + std::to_string(number) + " arrived out of order (expected " +
                       std::to_string(expectedBlockNumber) + ").");
    }
    expectedBlockNumber = (number + 1) % 65536;

    RealTimeClockStruct clock;
    clock.month = blockBuffer[16];
    clock.day = blockBuffer[17];
    clock.year = blockBuffer[18];
    clock.hour = blockBuffer[19];
    clock.minute = blockBuffer[20];
    clock.second = blockBuffer[21];
    headsetClock.Set(&clock);

    if (WillShow(6)) Message(6, PythonString(blockBuffer, length - 2, true));

    const double receptionTime = ReadU32LE(blockBuffer + 4) / kTicksPerSecond;
    long remaining = long(length) - 24;
    size_t cursor = 22;
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
        if (pendingInput[0] != 0x23) {
            pendingInput.pop_front();
            continue;
        }
        if (!FillPendingInput(4, quiet) || pendingInput[1] != 0x32) {
            pendingInput.pop_front();
            continue;
        }
        const size_t length = size_t(pendingInput[2]) | (size_t(pendingInput[3]) << 8);
        if (length < kMinimumBlockSize || length > kMaximumBlockSize || !FillPendingInput(length, quiet)) {
            pendingInput.pop_front();
            continue;
        }
        uint8_t candidate[kMaximumBlockSize];
        std::copy(pendingInput.begin(), pendingInput.begin() + long(length), candidate);
        if (IsTerminator(candidate + length - 2) && CRC16(candidate + 14, length - 16) == ReadU16LE(candidate + 12)) {
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
    const uint8_t stop[2] = {1, 0};
    Command command(CommandDestination::Master, CommandFamily::DataAcquisitionMode, stop, sizeof stop);
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
