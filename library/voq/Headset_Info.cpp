// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

namespace VOQ {

std::string Headset::FirmwareRevision() const {
    throw Error("not implemented yet: Headset::FirmwareRevision");
}

std::string Headset::BatteryLevel() const {
    throw Error("not implemented yet: Headset::BatteryLevel");
}

double Headset::BatteryLevel(unsigned int index) const {
    throw Error("not implemented yet: Headset::BatteryLevel");
}

std::string Headset::InfoString() const {
    // The reading thread may be rebuilding sources or recording clocks:
    // gather everything while it is kept out.
    ReadLockGuard guard(*this);
    const std::string reference = chosenDefaultReference.empty() ? factoryReferenceName : chosenDefaultReference;
    std::string info = "{\n";
    info += "           'HardwareModel' : '" + HardwareModel() + "',\n";
    info += "        'HardwareRevision' : '" + HardwareRevision() + "',\n";
    info += "            'SerialNumber' : " + std::to_string(SerialNumber()) + ",\n";
    info += "             'SensorCount' : " + std::to_string(SensorCount()) + ",\n";
    info += "        'FirmwareRevision' : '" + FirmwareRevision() + "',\n";
    info += "'CalibrationLayoutVersion' : " + std::to_string(calibrationLayoutVersion) + ",\n";
    info += "          'AllSourceNames' : '" + SourceNames(0x17) + "',\n";
    info += "    'ConnectedSourceNames' : '" + SourceNames(0x13) + "',\n";
    info += "        'FactoryReference' : '" + factoryReferenceName + "',\n";
    info += "  'ChosenDefaultReference' : '" + reference + "',\n";
    info += "                 'Montage' : '" + MontageString(true) + "',\n";
    info += "            'SamplingRate' : " + NumberString(samplingRate) + ",\n";
    info += "       'AccelerometerRate' : " + NumberString(accelerometerRate) + ",\n";
    info += "            'BatteryLevel' : " + BatteryLevel() + ",\n";
    info += "     'TimeOnboardClockSet' : '" + onboardClockSet.String(0, 0) + "',\n";
    info += " 'TimeOnboardClockQueried' : '" + onboardClockQueried.String(0, 0) + "',\n";
    info += "     'TimeBatteryMeasured' : '" + timeBatteryMeasured.String(0, 0) + "',\n";
    info += "              'FilterMode' : " + std::to_string(int(filterMode)) + ",\n";
    info += "     'DataAcquisitionMode' : " + std::to_string(int(dataAcquisitionMode)) + ",\n";
    info += "     'ImpedanceDriverMode' : " + std::to_string(int(impedanceDriverMode)) + ",\n";
    info += "         'AnalogResetMode' : " + std::to_string(int(analogResetMode)) + ",\n";
    info += "}";
    return info;
}

}  // namespace VOQ
