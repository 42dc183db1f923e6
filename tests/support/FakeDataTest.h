// A fixture for tests that feed a headset through its fake-data hook: a
// deferred headset at verbosity 7 whose messages are captured.
#ifndef VOQTEST_FAKEDATATEST_H
#define VOQTEST_FAKEDATATEST_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "BlockBuilder.h"
#include "Messages.h"
#include "voq/Headset.h"

namespace voqtest {

class FakeDataTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Messages whose text contains `fragment`, at this level (0: any).
    int Count(const std::string& fragment, int level = 0) const { return CountMessages(messages, fragment, level); }
    // Delivers the packets in one block (numbered on from 0) and reads it.
    void Deliver(const std::vector<Bytes>& packets);

    std::vector<Captured> messages;
    VOQ::Headset headset{"deferred"};
    uint16_t block = 0;
};

}  // namespace voqtest

#endif
