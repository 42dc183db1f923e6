#include <climits>
#include <cstring>
#include <string>

#include "voq/Error.h"
#include "voq/Protocol.h"
#include "voq/Time.h"

namespace VOQ {

void SanityCheck() {
    std::string failures;
    auto check = [&failures](bool ok, const char* what) {
        if (!ok) failures += std::string(failures.empty() ? "" : "; ") + what;
    };
    check(CRC16("123456789", 9) == 0xFEE8, "CRC-16 check value of \"123456789\" is not 0xFEE8");
    check(CRCTABLE[1] == 0x8005 && CRCTABLE[2] == 0x800F && CRCTABLE[3] == 0x000A, "CRC table is wrong");
    check(sizeof(RealTimeClockStruct) == 6, "clock record is not 6 bytes");
    check(CHAR_BIT == 8, "bytes are not 8 bits");
    check(sizeof(double) == 8, "double is not 64 bits");
    uint8_t bytes[4] = {0x01, 0x02, 0x03, 0x84};
    check(ReadU32LE(bytes) == 0x84030201u && ReadS16LE(bytes + 2) == int16_t(0x8403),
          "little-endian field access is wrong");
    if (!failures.empty()) throw Error("sanity check failed: " + failures);
}

}  // namespace VOQ
