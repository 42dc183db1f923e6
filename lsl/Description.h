// What the LSL outlet tells its consumers about a headset: the names of the
// two streams, the sampling rate and one description per output channel
// (label, unit, type, reference, electrode position).  Gathered through the
// library's C interface; the text rules are pure functions.
#ifndef VOQ_LSL_DESCRIPTION_H
#define VOQ_LSL_DESCRIPTION_H

#include <stdexcept>
#include <string>
#include <vector>

#include "VOQ_API.h"

namespace voqlsl {

// Every failure of the outlet: one line a user can act on.
class LslError : public std::runtime_error {
public:
    explicit LslError(const std::string& message) : std::runtime_error(message) {}
};

// A position on an idealised spherical head, in millimetres: X towards the
// right ear, Y towards the nasion, Z towards the vertex.
struct Position {
    double x = 0.0, y = 0.0, z = 0.0;
};

struct ChannelDescription {
    std::string label;       // the channel's name
    std::string unit;        // "microvolts", "none", "counts", "seconds"
    std::string type;        // "EEG", "TRG", "ACC" or "AUX"
    std::string reference;   // what was subtracted (EEG channels), else empty
    bool hasPosition = false;
    Position position;       // of the electrode, where the label is a 10-20 name
};

struct StreamDescription {
    unsigned serialNumber = 0;
    std::string name;              // "VOQ <serial number>"
    std::string sourceId;          // "VOQ-<serial number>"
    std::string markersName;       // "VOQ <serial number> markers"
    std::string markersSourceId;   // "VOQ-<serial number>-markers"
    std::string model;             // hardware model and revision
    std::string reference;         // the headset's reference, e.g. "A1/2+A2/2"
    std::string filtering;         // the filter stages, e.g. "HP:1Hz LP:40Hz"; empty: none
    double rate = 0.0;             // samples per second
    std::vector<ChannelDescription> channels;   // the output channels, in order
    int triggerChannel = -1;       // index of the plain trigger channel, -1: none
};

// Describes the headset's output channels (the last processing stage's, or
// the montage).  Throws LslError when the headset is not connected, reports
// no serial number or sampling rate, or has no output channels.
StreamDescription DescribeHeadset(VOQ_Headset headset);

// What a referential channel subtracts, from its text form: "F3-A1/2-A2/2"
// named "F3" gives "A1/2+A2/2", "C3-Cz" gives "Cz"; a channel that is its
// electrode alone gives `factoryReference`.  Empty when the text does not
// begin with the name.
std::string ChannelReference(const std::string& text, const std::string& name,
                             const std::string& factoryReference);

// The position of a 10-20 electrode (Fp1, Fp2, Fpz, F7, F3, Fz, F4, F8, T3/T7,
// C3, Cz, C4, T4/T8, T5/P7, P3, Pz, P4, T6/P8, O1, Oz, O2, A1, A2; letter case
// ignored).  False for any other name.
bool ElectrodePosition(const std::string& name, Position& position);

}  // namespace voqlsl

#endif
