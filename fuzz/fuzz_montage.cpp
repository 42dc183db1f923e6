// The channel-specification grammar, montage and reference choice, added
// channels, lookups by name and processing stages, through the C interface
// and the classes, followed by a few samples through the chosen montage.
//
// Input: one option byte, then up to five texts separated by 0 bytes:
//   montage, reference, one more channel specification, a name to look up,
//   a stage name.
// Option bits:
//   0 autoSwap          1 a 7-sensor headset    2 the 10-10 naming scheme
//   3 C++ calls (else the C interface)          4 traditional reference first
//   5 add a processing stage                    6 choose the reference alone
//
// One headset of each kind serves the whole run (voqfuzz::Fixture puts back
// what the input changed).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FuzzSupport.h"

namespace {

void HalfStage(VOQ_Headset, double, void* handle) {
    auto* stage = static_cast<VOQ::ProcessingStage*>(handle);
    if (!stage->input) return;
    for (size_t k = 0; k < stage->channels.size() && k < stage->input->channels.size(); ++k) {
        VOQ::Channel* in = stage->input->channels[k];
        VOQ::Channel* out = stage->channels[k];
        if (in && out && out->buffer.IsAllocated()) out->buffer.Write(0.5 * in->LookBack(0, false));
    }
}

voqfuzz::HeadsetOptions Setup(bool sevenSensors) {
    voqfuzz::HeadsetOptions setup;
    setup.sevenSensors = sevenSensors;
    setup.verbosity = 3;
    return setup;
}

using voqfuzz::Try;

// `count` data packets whose readings come from `seed`, each written into the
// same heap block of exactly a packet's size, straight to packet decoding.
void FeedSamples(VOQ::Headset& headset, const uint8_t* seed, size_t seedSize, int count) {
    const voqfuzz::Bytes layout = voqfuzz::Packet(VOQ::PacketSpecies::Data, voqfuzz::Bytes(50));
    voqfuzz::ExactCopy packet(layout.data(), layout.size());
    uint8_t* body = packet.data() + 6;
    for (int n = 0; n < count; ++n) {
        VOQ::WriteU32LE(packet.data() + 2, uint32_t(6 * n));
        body[0] = uint8_t(n);
        body[1] = uint8_t(n % 7 == 0 ? 0x35 : 0);
        for (size_t k = 2; k < 50; ++k) body[k] = seedSize ? seed[(k + size_t(n) * 3) % seedSize] : uint8_t(k);
        headset.DecodePacket(packet.data(), packet.size(), 0.0);
    }
}

void Inspect(VOQ::Headset& headset, const std::string& name) {
    headset.MontageString(true);
    headset.MontageString(false);
    headset.ReferenceString();
    headset.FactoryReferenceString();
    headset.GetChannelByName(name, false);
    Try([&] { headset.MatchSource(name, false); });
    for (unsigned k = 0; k < headset.NumberOfMontageSources(); ++k) headset.GetSourceByIndex(k, false);
    for (VOQ::Channel* channel : headset.OutputChannels()) {
        if (!channel) continue;
        channel->String(true);
        channel->String(false);
        channel->Name();
        channel->IsReferentialEEG();
        channel->IsTrigger();
        channel->MaxPositiveSource();
        channel->CalculateRawSignal();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t options = data[0];
    auto parts = voqfuzz::SplitInput(data + 1, size - 1, 0, 5);
    auto text = [&](size_t k) { return k < parts.size() ? parts[k]->text() : ""; };
    auto string = [&](size_t k) {
        return k < parts.size() ? std::string(parts[k]->text(), parts[k]->size()) : std::string();
    };
    const bool autoSwap = options & 0x01;
    const bool cplusplus = options & 0x08;

    static voqfuzz::Fixture fixtures[2] = {voqfuzz::Fixture(Setup(false)), voqfuzz::Fixture(Setup(true))};
    voqfuzz::Fixture& fixture = fixtures[(options & 0x02) ? 1 : 0];
    VOQ::Headset* headset = &fixture.Headset();
    VOQ_Headset handle = reinterpret_cast<VOQ_Headset>(headset);

    if (options & 0x04) headset->UseNamingScheme("10-10");
    if (options & 0x10) headset->SetTraditionalReference(autoSwap);

    bool chosen;
    if (options & 0x40) {
        if (cplusplus) {
            chosen = Try([&] { headset->SetDefaultReference(string(1), autoSwap); });
        } else {
            VOQ_ClearError();
            VOQ_Headset_SetDefaultReference(handle, text(1), autoSwap);
            chosen = VOQ_ClearError() == nullptr;
        }
    } else if (cplusplus) {
        chosen = Try([&] { headset->ChooseChannels(string(0), string(1), autoSwap); });
    } else {
        VOQ_ClearError();
        VOQ_Headset_ChooseChannels(handle, text(0), text(1), autoSwap);
        chosen = VOQ_ClearError() == nullptr;
    }
    if (chosen) {
        // A montage that was chosen is what the caller reads: one "raw"
        // stage over exactly the montage's channels.
        if (headset->NumberOfProcessingStages() != 1 || headset->OutputChannels().size() != headset->NumberOfChannels())
            std::abort();
    }
    Inspect(*headset, string(3));
    FeedSamples(*headset, data, size, 20);

    if (cplusplus) {
        Try([&] { headset->AddChannelToMontage(string(2), autoSwap); });
        Try([&] { delete headset->ConstructChannel(string(2), !autoSwap); });
    } else {
        VOQ_Headset_AddChannelToMontage_FromString(handle, text(2), autoSwap);
        VOQ_Headset_GetChannelByName(handle, text(3));
        VOQ_Headset_GetSourceByName(handle, text(3));
        VOQ_Headset_GetMontageString(handle);
        VOQ_Headset_GetReferenceString(handle);
    }
    if (options & 0x20) {
        if (cplusplus)
            Try([&] { headset->AddProcessingStage(string(4), &HalfStage, nullptr, nullptr); });
        else
            VOQ_Headset_AddProcessingStage(handle, text(4), &HalfStage, nullptr, nullptr);
        Try([&] { headset->MatchProcessingStage(string(3), true); });
    }
    FeedSamples(*headset, data, size, 45);
    Inspect(*headset, string(3));
    voqfuzz::DrainOutputs(*headset);
    headset->InfoString();
    VOQ_ClearError();
    fixture.Restore(true);
    return 0;
}
