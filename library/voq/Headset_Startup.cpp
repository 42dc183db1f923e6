// Placeholder definitions, replaced by the real ones as they are written.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voq/Headset.h"

namespace VOQ {

void Headset::Initialize() {
    throw Error("not implemented yet: Headset::Initialize");
}

}  // namespace VOQ
