#include "voq/Headset.h"

namespace VOQ {

namespace {

std::string SubRevisions(const std::map<int, int>& revisions) {
    std::string text;
    for (const auto& entry : revisions) {
        if (!text.empty()) text += ",";
        text += std::to_string(entry.first) + ":" + std::to_string(entry.second);
    }
    return text;
}

}  // namespace

std::string Headset::FirmwareRevision() const {
    std::lock_guard<std::mutex> lock(stateLock);
    return masterFirmwareRevision + " (" + SubRevisions(masterSubRevisions) + ") + " + slaveFirmwareRevision + " (" +
           SubRevisions(slaveSubRevisions) + ")";
}

std::string Headset::BatteryLevel() const {
    return "[ " + NumberString(batteryLevel1) + ", " + NumberString(batteryLevel2) + " ]";
}

double Headset::BatteryLevel(unsigned int index) const {
    if (index == 1) return batteryLevel1;
    if (index == 2) return batteryLevel2;
    return 0.0;
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
