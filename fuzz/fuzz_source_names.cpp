// Source names, numbers and alias lists: matching, adding aliases, renaming,
// naming schemes and the name lists, in any order, followed by a montage
// built from whatever the names have become.
//
// Input: one option byte (bit 0: a 7-sensor headset; bit 1: the C interface
// where it has the call), then records separated by 0 bytes.  A record's
// first byte chooses the operation (its value modulo 9); the rest is one
// text, or two texts separated by a 1 byte:
//   0 MatchSource(a, false)    1 MatchSource(a, true)    2 AddSourceAliases(a)
//   3 RenameSource(a, b)       4 UseNamingScheme(a)      5 SourceNames(flags a[0])
//   6 ConstructChannel(a)      7 ChooseChannels(a, b)    8 Source::SetName(a) of
//                                                          the source numbered b[0]
//
// One headset of each kind serves the whole run (voqfuzz::Fixture): the
// operations here change only names, aliases, the montage and the chosen
// reference, which it puts back after each input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"

namespace {

using voqfuzz::Try;

voqfuzz::HeadsetOptions Setup(bool sevenSensors) {
    voqfuzz::HeadsetOptions setup;
    setup.sevenSensors = sevenSensors;
    setup.verbosity = 3;
    return setup;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t options = data[0];
    const bool viaC = options & 0x02;

    static voqfuzz::Fixture fixtures[2] = {voqfuzz::Fixture(Setup(false)), voqfuzz::Fixture(Setup(true))};
    voqfuzz::Fixture& fixture = fixtures[options & 0x01];
    VOQ::Headset& h = fixture.Headset();
    VOQ_Headset handle = reinterpret_cast<VOQ_Headset>(&h);

    auto records = voqfuzz::SplitInput(data + 1, size - 1, 0, 64);
    for (const auto& record : records) {
        if (record->size() == 0) continue;
        const int operation = record->data()[0] % 9;
        auto texts = voqfuzz::SplitInput(record->data() + 1, record->size() - 1, 1, 2);
        const std::string a(texts[0]->text(), texts[0]->size());
        const std::string b = texts.size() > 1 ? std::string(texts[1]->text(), texts[1]->size()) : std::string();
        const char* ac = texts[0]->text();
        const char* bc = texts.size() > 1 ? texts[1]->text() : "";
        switch (operation) {
            case 0:
                Try([&] { h.MatchSource(a, false); });
                break;
            case 1:
                if (viaC)
                    VOQ_Headset_GetSourceByName(handle, ac);
                else
                    Try([&] { h.MatchSource(a, true); });
                break;
            case 2:
                if (viaC)
                    VOQ_Headset_AddSourceAliases(handle, ac);
                else
                    Try([&] { h.AddSourceAliases(a); });
                break;
            case 3:
                if (viaC)
                    VOQ_Headset_RenameSource(handle, ac, bc);
                else
                    Try([&] { h.RenameSource(a, b); });
                break;
            case 4:
                if (viaC)
                    VOQ_Headset_UseNamingScheme(handle, ac);
                else
                    Try([&] { h.UseNamingScheme(a); });
                break;
            case 5:
                if (viaC)
                    VOQ_Headset_GetSourceNames(handle, a.empty() ? 0x13 : int(uint8_t(a[0])) << 1 | 1);
                else
                    h.SourceNames(uint16_t(a.empty() ? 0x17 : (uint8_t(a[0]) << 1) | 1));
                break;
            case 6:
                Try([&] { delete h.ConstructChannel(a, !b.empty()); });
                break;
            case 7:
                if (viaC)
                    VOQ_Headset_ChooseChannels(handle, ac, bc, 1);
                else
                    Try([&] { h.ChooseChannels(a, b, true); });
                break;
            case 8: {
                const std::vector<VOQ::Source*>& sources = h.Sources();
                if (sources.empty()) break;
                VOQ::Source* source = sources[(b.empty() ? 0 : uint8_t(b[0])) % sources.size()];
                if (viaC)
                    VOQ_Source_SetName(reinterpret_cast<VOQ_Source>(source), ac);
                else
                    source->name = a;
                break;
            }
        }
    }

    // Whatever the names have become: the lists, every source found by its
    // one-based number, each renamed or re-aliased source by its name, and
    // (when a name or alias changed) the factory montage with the
    // traditional reference, or with the factory one when the names leave no
    // traditional reference.
    h.SourceNames(0x1FF);
    h.SourceNames(0x13);
    bool changed = false;
    for (size_t k = 0; k < h.Sources().size(); ++k) {
        if (h.MatchSource(std::to_string(k + 1), true) != h.Sources()[k]) std::abort();
        if (!fixture.Renamed(k)) continue;
        changed = true;
        Try([&] { h.MatchSource(h.Sources()[k]->name, false); });
    }
    if (changed) {
        bool traditional = false;
        Try([&] { traditional = !h.SetTraditionalReference(true).empty(); });
        if (!traditional) Try([&] { h.ChooseChannels("FACTORY", "FACTORY", true); });
        h.MontageString(true);
    }
    h.InfoString();
    VOQ_ClearError();
    fixture.Restore(false);
    return 0;
}
