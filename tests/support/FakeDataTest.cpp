#include "FakeDataTest.h"

namespace voqtest {

void FakeDataTest::SetUp() {
    CaptureMessagesInto(&messages);
    headset.SetMessageCallback(&CaptureMessage);
    headset.SetVerbosity(7);
    headset.AttachFakeData();
}

void FakeDataTest::TearDown() { CaptureMessagesInto(nullptr); }

void FakeDataTest::Deliver(const std::vector<Bytes>& packets) {
    Feed(headset, Block(block++, packets));
    ASSERT_TRUE(headset.TryToReadBlock());
}

}  // namespace voqtest
