// The information string of the standard test headset: a 24-slot 10-20
// headset "VOQ24 HS Rev 2", serial 2400117, firmware 1.18.0 and 1.9.4,
// 300 samples/s, accelerometer at 10/s, battery 87 % and 84 %, filter mode 1,
// everything else off, with the traditional reference chosen.  Both the
// simulated headset and the fake-data tests describe this device.
#ifndef VOQTEST_INFOSTRING_H
#define VOQTEST_INFOSTRING_H

#include <string>

namespace voqtest {

// The whole text, with these three times in place.
std::string StandardInfoString(const std::string& clockSet, const std::string& clockQueried,
                               const std::string& batteryMeasured);

}  // namespace voqtest

#endif
