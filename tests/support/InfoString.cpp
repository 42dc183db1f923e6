#include "InfoString.h"

namespace voqtest {

std::string StandardInfoString(const std::string& clockSet, const std::string& clockQueried,
                               const std::string& batteryMeasured) {
    const std::string names =
        "Fp1 Fp2 F7 F3 Fz F4 F8 T3 C3 Cz C4 T4 T5 P3 P4 T6 O1 O2 A1 A2 X1 X2 X3 TRG ACCT ACCX ACCY ACCZ";
    const std::string montage =
        "Fp1-A1/2-A2/2 Fp2-A1/2-A2/2 F7-A1/2-A2/2 F3-A1/2-A2/2 Fz-A1/2-A2/2 F4-A1/2-A2/2 F8-A1/2-A2/2 "
        "T3-A1/2-A2/2 C3-A1/2-A2/2 Cz-A1/2-A2/2 C4-A1/2-A2/2 T4-A1/2-A2/2 T5-A1/2-A2/2 P3-A1/2-A2/2 "
        "P4-A1/2-A2/2 T6-A1/2-A2/2 O1-A1/2-A2/2 O2-A1/2-A2/2 Pz-A1/2-A2/2 A2-A1/2-A2/2 X1 X2 X3 TRG ACCT ACCX "
        "ACCY ACCZ";
    return "{\n"
           "           'HardwareModel' : 'VOQ24 HS Rev',\n"
           "        'HardwareRevision' : '2',\n"
           "            'SerialNumber' : 2400117,\n"
           "             'SensorCount' : 24,\n"
           "        'FirmwareRevision' : '1.18.0 (1:2,2:7) + 1.9.4 (1:3)',\n"
           "'CalibrationLayoutVersion' : 2,\n"
           "          'AllSourceNames' : '" + names + "',\n"
           "    'ConnectedSourceNames' : '" + names + "',\n"
           "        'FactoryReference' : 'Pz',\n"
           "  'ChosenDefaultReference' : 'A1/2+A2/2',\n"
           "                 'Montage' : '" + montage + "',\n"
           "            'SamplingRate' : 300,\n"
           "       'AccelerometerRate' : 10,\n"
           "            'BatteryLevel' : [ 87, 84 ],\n"
           "     'TimeOnboardClockSet' : '" + clockSet + "',\n"
           " 'TimeOnboardClockQueried' : '" + clockQueried + "',\n"
           "     'TimeBatteryMeasured' : '" + batteryMeasured + "',\n"
           "              'FilterMode' : 1,\n"
           "     'DataAcquisitionMode' : 0,\n"
           "     'ImpedanceDriverMode' : 0,\n"
           "         'AnalogResetMode' : 0,\n"
           "}";
}

}  // namespace voqtest
