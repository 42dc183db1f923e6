// A fixture base for integration suites: one simulated headset, started in
// this process and connected through the C interface, shared by every test of
// the suite (starting up takes seconds).  A level-1 or level-2 message that a
// test does not expect fails it (see voqtest::ExpectMessages).
//
// Example:
//   class Suite : public voqtest::SimulatorSuite {
//   protected:
//       static void SetUpTestSuite() { Start(voqsim::Config(), &Quiet); }
//   };
//   TEST_F(Suite, Something) { EXPECT_EQ(Text(VOQ_Headset_GetInfoString(handle)), ...); }
#ifndef VOQTEST_SIMULATORSUITE_H
#define VOQTEST_SIMULATORSUITE_H

#include <gtest/gtest.h>

#include <string>

#include "Messages.h"
#include "Simulator.h"
#include "VOQ.h"
#include "VOQ_API.h"

namespace voqtest {

class SimulatorSuite : public ::testing::Test {
protected:
    // Starts the simulator and connects a headset to it; `callback` takes its
    // messages, at `verbosity` (negative: the headset's own), after the watch
    // for unexpected ones.  A failed connection leaves `handle` null, which
    // SetUp reports.
    static void Start(const voqsim::Config& config, int (*callback)(const char*, int), int verbosity = -1) {
        sim = new voqsim::Simulator(config);
        const std::string path = sim->Start();
        suiteCallback = callback;
        handle = VOQ_Headset_New(path.c_str());
        if (handle) {
            VOQ_Headset_SetMessageCallback(handle, &Watched);
            if (verbosity >= 0) VOQ_Headset_SetVerbosity(handle, verbosity);
        }
    }
    static int Watched(const char* message, int level) {
        WatchMessage(message, level);
        return suiteCallback ? suiteCallback(message, level) : level;
    }
    static void TearDownTestSuite() {
        VOQ_Headset_Delete(handle);
        handle = nullptr;
        delete sim;
        sim = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(handle, nullptr) << VOQ_Error();
        VOQ_ClearError();
    }
    void TearDown() override { ReportUnexpectedMessages(); }

    static VOQ::Headset& Object() { return *reinterpret_cast<VOQ::Headset*>(handle); }
    static std::string Text(const char* text) { return text ? text : "(null)"; }
    static std::string LastError() { return VOQ_Error() ? VOQ_Error() : ""; }

    inline static voqsim::Simulator* sim = nullptr;
    inline static VOQ_Headset handle = nullptr;
    inline static int (*suiteCallback)(const char*, int) = nullptr;
};

}  // namespace voqtest

#endif
