// The bytes a headset sends, as the library reads them: block framing,
// resynchronisation and every packet processor (responses, alarms, data and
// accelerometer packets), on a headset with sources, a montage with a
// reference, a processing stage, a sample callback and the impedance driver
// on.
//
// Input: one option byte, then the byte stream.
//   bit 0  give every framed block in the stream its right check sum first,
//          so that mutated packets get past the consistency check
//   bit 1  600 samples per second (else 300)
//   bit 2  a 7-sensor headset (else 24 sensors)
//   bit 3  verbosity 2 (else 7: every message is formatted)
//   bit 4  filter mode 0 (no trigger delay)
// Then the same bytes are taken as a run of packets and each packet is handed
// to the processors in a heap block of exactly its size.
#include <malloc.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "FuzzSupport.h"

namespace {

size_t gSamples = 0;

void CountSample(VOQ_Headset, double, void* userData) { ++*static_cast<size_t*>(userData); }

// Writes half of each input channel's newest value into the stage's channel.
void HalfStage(VOQ_Headset, double, void* handle) {
    auto* stage = static_cast<VOQ::ProcessingStage*>(handle);
    if (!stage->input) return;
    const size_t n = std::min(stage->channels.size(), stage->input->channels.size());
    for (size_t k = 0; k < n; ++k) {
        VOQ::Channel* in = stage->input->channels[k];
        VOQ::Channel* out = stage->channels[k];
        if (in && out && out->buffer.IsAllocated()) out->buffer.Write(0.5 * in->LookBack(0, false));
    }
}

void ProcessPackets(VOQ::Headset& headset, const uint8_t* data, size_t size) {
    size_t position = 0;
    while (position < size) {
        const size_t claimed = data[position];
        if (claimed == 0) break;
        const size_t available = std::min(claimed, size - position);
        voqfuzz::ExactCopy packet(data + position, available);
        try {
            if (available == claimed) {
                headset.DecodePacket(packet.data(), packet.size(), 1.0);
            } else if (available >= 2) {
                // The last packet is cut short: its processor gets what there is.
                switch (packet.data()[1]) {
                    case VOQ::PacketSpecies::ResponseFromMaster:
                    case VOQ::PacketSpecies::ResponseFromSlave:
                        headset.ProcessResponse(packet.data(), packet.size(), 1.0, 2.0);
                        break;
                    case VOQ::PacketSpecies::AlarmFromMaster:
                    case VOQ::PacketSpecies::AlarmFromSlave:
                        headset.ProcessAlarm(packet.data(), packet.size(), 1.0, 2.0);
                        break;
                    case VOQ::PacketSpecies::Data:
                        headset.ProcessData(packet.data(), packet.size(), 1.0, 2.0);
                        break;
                    case VOQ::PacketSpecies::ExtendedData:
                        headset.ProcessExtendedData(packet.data(), packet.size(), 1.0, 2.0);
                        break;
                    default:
                        break;
                }
            }
        } catch (const VOQ::Error&) {
            // A calibration image that cannot be interpreted: reported to
            // whoever reads, as for the stream.
        }
        position += claimed;
    }
}

}  // namespace

// Every input's new headset converts the headset's clock to calendar time,
// and the C library looks at /etc/localtime again for each conversion
// unless TZ names the zone (which is the same zone).  An input that sets a
// high accelerometer rate allocates megabytes of queues: the allocator keeps
// such memory for the next input instead of returning it to the system and
// taking the page faults again.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", ":/etc/localtime", 0);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t options = data[0];
    voqfuzz::ExactCopy stream(data + 1, size - 1);
    if (options & 0x01) voqfuzz::RepairCheckSums(stream.data(), stream.size());

    voqfuzz::HeadsetOptions setup;
    setup.rate = (options & 0x02) ? 600 : 300;
    setup.sevenSensors = (options & 0x04) != 0;
    setup.verbosity = (options & 0x08) ? 2 : 7;
    setup.filterMode = (options & 0x10) ? 0 : 1;
    std::unique_ptr<VOQ::Headset> headset = voqfuzz::MakeHeadset(setup);

    if (setup.sevenSensors)
        headset->ChooseChannels("F3 C4-P4 P3*2 F4/4 A1A2 TRG TRG3 ACCY SND", "A1A2", true);
    else
        headset->ChooseChannels("Fp1 F3-A1/2-A2/2 Cz C3*2/3 T3-T5 O1 A1 TRG TRG0 ACCX ACCZ SND RCV X1 CM",
                                "A1/2+A2/2", true);
    headset->AddProcessingStage("half", &HalfStage, nullptr, nullptr);
    gSamples = 0;
    headset->SetSampleCallback(&CountSample, &gSamples);

    const int failures = voqfuzz::ReadStream(*headset, stream.data(), stream.size());
    const size_t values = voqfuzz::DrainOutputs(*headset);
    if (std::getenv("VOQ_FUZZ_VERBOSE"))
        std::fprintf(stderr, "stream of %zu bytes: %zu samples, %zu values read, %d failures, %d alarms\n",
                     stream.size(), gSamples, values, failures, headset->NumberOfAlarms());
    headset->InfoString();

    ProcessPackets(*headset, stream.data(), stream.size());
    voqfuzz::DrainOutputs(*headset);
    headset->InfoString();
    headset->FirmwareRevision();
    headset->BatteryLevel();
    while (headset->GetAlarm(true) != 0) {
    }
    return 0;
}
