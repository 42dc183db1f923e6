#include "FuzzSupport.h"

#include <cstdlib>
#include <cstring>

namespace voqfuzz {

std::vector<std::unique_ptr<ExactCopy>> SplitInput(const uint8_t* data, size_t size, uint8_t separator,
                                                   size_t limit) {
    std::vector<std::unique_ptr<ExactCopy>> parts;
    size_t start = 0;
    for (size_t i = 0; i < size && parts.size() + 1 < limit; ++i) {
        if (data[i] != separator) continue;
        parts.emplace_back(new ExactCopy(data + start, i - start, true));
        start = i + 1;
    }
    parts.emplace_back(new ExactCopy(data + start, size - start, true));
    return parts;
}

// ---------------------------------------------------------------------------

namespace {

Image Filled(uint8_t value) {
    Image image;
    image.fill(value);
    return image;
}

}  // namespace

Image StandardImage() {
    using namespace VOQ::SourceID;
    const int codes[24] = {Fp1, Fp2, F7, F3, Fz, F4, F8, T3, C3, Cz, C4, T4,
                           T5,  P3,  Pz, P4, T6, O1, O2, A1, A2, X1, X2, X3};
    Image image = Filled(0xFF);
    for (int k = 0; k < 24; ++k) {
        image[size_t(k)] = uint8_t(codes[k]);
        const int correction = ((k * 37) % 300) - 150;
        VOQ::WriteU16LE(&image[size_t(24 + 4 * k)], uint16_t(int16_t(correction)));
        VOQ::WriteU16LE(&image[size_t(26 + 4 * k)], 0);
    }
    image[126] = uint8_t(Pz);
    image[127] = 2;
    return image;
}

Image SevenSensorImage() {
    using namespace VOQ::SourceID;
    Image image = Filled(0xFF);
    const int codes[7] = {X1 | 0x80, F3, F4, C3, C4, P3, P4};
    for (int k = 0; k < 7; ++k) {
        image[size_t(k)] = uint8_t(codes[k]);
        VOQ::WriteU16LE(&image[size_t(24 + 4 * k)], 0);
        VOQ::WriteU16LE(&image[size_t(26 + 4 * k)], 0);
    }
    image[127] = 1;
    return image;
}

// ---------------------------------------------------------------------------

Bytes U16(unsigned value) { return Bytes{uint8_t(value), uint8_t(value >> 8)}; }

Bytes Packet(int species, const Bytes& body, uint32_t ticks) {
    Bytes packet(6);
    packet[0] = uint8_t(6 + body.size());
    packet[1] = uint8_t(species);
    VOQ::WriteU32LE(&packet[2], ticks);
    packet.insert(packet.end(), body.begin(), body.end());
    return packet;
}

Bytes Response(int species, int code, int identifier, const Bytes& payload) {
    Bytes body{uint8_t(code), uint8_t(identifier)};
    body.insert(body.end(), payload.begin(), payload.end());
    return Packet(species, body);
}

Bytes Block(uint16_t number, const std::vector<Bytes>& packets, uint32_t ticks) {
    Bytes block(22);
    block[0] = '#';
    block[1] = '2';
    VOQ::WriteU32LE(&block[4], ticks);
    VOQ::WriteU16LE(&block[14], number);
    const uint8_t clock[6] = {7, 3, 26, 14, 5, 9};
    std::memcpy(&block[16], clock, sizeof clock);
    for (const Bytes& packet : packets) block.insert(block.end(), packet.begin(), packet.end());
    block.push_back('\r');
    block.push_back('\n');
    VOQ::WriteU16LE(&block[2], uint16_t(block.size()));
    VOQ::WriteU16LE(&block[12], VOQ::CRC16(&block[14], block.size() - 16));
    return block;
}

void RepairCheckSums(uint8_t* bytes, size_t size) {
    size_t i = 0;
    while (i + 4 <= size) {
        if (bytes[i] == '#' && bytes[i + 1] == '2') {
            const size_t length = VOQ::ReadU16LE(bytes + i + 2);
            if (length >= VOQ::kMinimumBlockSize && length <= VOQ::kMaximumBlockSize && i + length <= size &&
                bytes[i + length - 2] == '\r' && bytes[i + length - 1] == '\n') {
                VOQ::WriteU16LE(bytes + i + 12, VOQ::CRC16(bytes + i + 14, length - 16));
                i += length;
                continue;
            }
        }
        ++i;
    }
}

// ---------------------------------------------------------------------------

namespace {

std::string gMarker;
bool gMarkerSeen = false;

}  // namespace

int MarkerSink(const char* message, int level) {
    if (message && !gMarker.empty() && std::strstr(message, gMarker.c_str())) gMarkerSeen = true;
    return level;
}

void SetMarker(const std::string& marker) {
    gMarker = marker;
    gMarkerSeen = false;
}

bool MarkerSeen() { return gMarkerSeen; }

// ---------------------------------------------------------------------------

namespace {

// Short buffers, so that overflows happen within a fuzz input, and impedance
// windows of a few samples (41 sources have five buffers each).
const double kBufferSeconds = 0.1;
const double kImpedanceSeconds = 0.01;

Bytes ModeResponse(int mode, const HeadsetOptions& options) {
    const Bytes payload{uint8_t(mode), uint8_t(options.filterMode), uint8_t(options.rate), uint8_t(options.rate >> 8)};
    return Response(1, VOQ::CommandFamily::DataAcquisitionMode, 200, payload);
}

}  // namespace

std::unique_ptr<VOQ::Headset> MakeHeadset(const HeadsetOptions& options) {
    std::unique_ptr<VOQ::Headset> headset(new VOQ::Headset("deferred"));
    headset->SetMessageCallback(&MarkerSink);
    headset->SetVerbosity(options.verbosity);
    headset->AttachFakeData();

    const Bytes clock{7, 3, 26, 14, 5, 0, 0, 7, 3, 26, 14, 0, 0};
    const Bytes setup = Block(1, {ModeResponse(1, options),
                                  Response(5, VOQ::CommandFamily::AccelerometerRate, 201,
                                           U16(unsigned(options.accelerometerRate))),
                                  Response(5, VOQ::CommandFamily::ImpedanceDriverMode, 202,
                                           U16(options.impedanceDriver ? 1 : 0)),
                                  Response(1, VOQ::CommandFamily::RealTimeClock, 203, clock)});
    headset->FeedFakeData(reinterpret_cast<const char*>(setup.data()), setup.size());
    headset->TryToReadBlock();

    headset->ReallocateBuffers(kBufferSeconds, kImpedanceSeconds);
    const Image image = options.sevenSensors ? SevenSensorImage() : StandardImage();
    headset->InterpretCalibrationMemory(image.data());
    return headset;
}

Fixture::Fixture(const HeadsetOptions& options) : options_(options), headset_(MakeHeadset(options)) {
    for (const VOQ::Source* source : headset_->Sources()) built_.push_back({source->name, source->aliases});
}

bool Fixture::Renamed(size_t k) const {
    const VOQ::Source* source = headset_->Sources()[k];
    return source->name != built_[k].name || source->aliases != built_[k].aliases;
}

void Fixture::Restore(bool samplesFed) {
    VOQ::Headset& headset = *headset_;
    const std::vector<VOQ::Source*>& sources = headset.Sources();
    if (sources.size() != built_.size()) std::abort();   // no input rebuilds the sources
    // Swapped in from copies, so that the input's storage goes now (an input
    // that keeps allocations makes libFuzzer look for leaks every time).
    for (size_t k = 0; k < sources.size(); ++k) {
        std::string(built_[k].name).swap(sources[k]->name);
        std::vector<std::string>(built_[k].aliases).swap(sources[k]->aliases);
    }
    // The factory reference chosen again (on a one-channel montage), then no
    // montage at all (and so no stages).
    try {
        headset.ChooseChannels("1", "FACTORY", true);
    } catch (const VOQ::Error&) {
    }
    headset.ForgetMontage();
    if (!samplesFed) return;

    // A stop and a start answered as the device does: the packet counter
    // starts afresh and the trigger delay line is made anew.
    for (int mode : {0, 1}) {
        const Bytes response = ModeResponse(mode, options_);
        headset.DecodePacket(response.data(), response.size(), 0.0);
    }
    headset.ReallocateBuffers(kBufferSeconds, kImpedanceSeconds);
    for (VOQ::Source* source : sources) {
        const VOQ::Source fresh(source->code);
        source->rawSignal = double(fresh.rawSignal);
        source->signal = double(fresh.signal);
        source->impedanceEEG = double(fresh.impedanceEEG);
        source->impedanceCMF = double(fresh.impedanceCMF);
        source->dcOffset = double(fresh.dcOffset);
    }
}

int ReadStream(VOQ::Headset& headset, const uint8_t* bytes, size_t size) {
    static const char kMarker[] = "VOQ fuzz stream end";
    // Marker blocks back to back, two more than the longest block holds: a
    // block cut short by the end of the input completes from them, and a
    // whole marker block still follows.  (Zero bytes would do as well, but a
    // resynchronisation scans them one by one.)
    static const Bytes trailer = [] {
        const Bytes text(kMarker, kMarker + sizeof kMarker - 1);
        const Bytes block = Block(4242, {Response(1, VOQ::CommandFamily::Echo, 77, text)});
        Bytes t;
        while (t.size() < VOQ::kMaximumBlockSize + 2 * block.size()) t.insert(t.end(), block.begin(), block.end());
        return t;
    }();
    SetMarker(kMarker);
    headset.FeedFakeData(reinterpret_cast<const char*>(bytes), size);
    headset.FeedFakeData(reinterpret_cast<const char*>(trailer.data()), trailer.size());

    int failures = 0;
    // Every read takes at least one byte off the input.
    const size_t limit = size + trailer.size() + 16;
    for (size_t k = 0; k < limit && !MarkerSeen(); ++k) {
        try {
            if (!headset.TryToReadBlock()) break;
        } catch (const VOQ::Error&) {
            ++failures;
        }
    }
    SetMarker(std::string());
    return failures;
}

size_t DrainOutputs(VOQ::Headset& headset) {
    size_t values = 0;
    headset.Buffered();
    headset.BufferOverflow();
    for (VOQ::Channel* channel : headset.OutputChannels()) {
        if (!channel) continue;
        channel->String(true);
        channel->LookBack(0, false);
        while (channel->buffer.Buffered() > 0) {
            channel->buffer.Read();
            ++values;
        }
    }
    return values;
}

}  // namespace voqfuzz
