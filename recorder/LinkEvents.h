// The headset's link events as the programs beside libVOQ take them (the
// recorder, the LSL outlet, `voq stream`): between a wait and the read that
// follows it, so that each gap falls at a known sample of what was read.
#ifndef VOQREC_LINKEVENTS_H
#define VOQREC_LINKEVENTS_H

#include <cstddef>
#include <cstdint>

#include "VOQ_API.h"

namespace voqrec {

// Takes every link event waiting and calls seen(kind, gap, missing) for
// each: `kind` is VOQ_LINK_LOST, VOQ_LINK_RESTORED or VOQ_LINK_GAVE_UP,
// `gap` the number of samples read before the gap (`read` have been read
// so far), `missing` the samples missing (for VOQ_LINK_RESTORED).  A
// failure of the library is left stored, for the caller to check.
template <typename Seen>
void TakeLinkEvents(VOQ_Headset headset, uint64_t read, Seen&& seen) {
    VOQ_ClearError();
    size_t missing = 0, before = 0;
    for (int kind; (kind = VOQ_Headset_GetLinkEvent(headset, nullptr, &missing, &before)) != 0;)
        seen(kind, read + before, static_cast<uint64_t>(missing));
}

}  // namespace voqrec

#endif
