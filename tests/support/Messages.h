// Helpers shared by the tests: capturing a headset's messages and taking the
// text of a thrown VOQ::Error.
//
// Example:
//   std::vector<voqtest::Captured> messages;
//   voqtest::CaptureMessagesInto(&messages);
//   headset.SetMessageCallback(&voqtest::CaptureMessage);
//   ...
//   EXPECT_EQ(voqtest::CountMessages(messages, "Connected to", 2), 1);
//   voqtest::CaptureMessagesInto(nullptr);
#ifndef VOQTEST_MESSAGES_H
#define VOQTEST_MESSAGES_H

#include <functional>
#include <string>
#include <vector>

namespace voqtest {

struct Captured {
    std::string text;
    int level;
};

// A message callback: appends each message to the list last given to
// CaptureMessagesInto (nullptr: the message is dropped).  Safe to call from
// any thread.
int CaptureMessage(const char* message, int level);
void CaptureMessagesInto(std::vector<Captured>* list);

// Messages in `list` whose text contains `fragment`, at this level (0: any).
int CountMessages(const std::vector<Captured>& list, const std::string& fragment, int level = 0);

// Level-1 and level-2 messages that a test did not expect fail it.  The
// simulator suites' shared fixtures (SimulatorSuite, and the reliability
// suites' TappedHeadset) pass every message of their headset through
// WatchMessage and call ReportUnexpectedMessages when each test ends; the
// routine notes of every connection ("Connected to", the ready echo, the
// battery monitor's reply during start-up) and the pace controller's notes,
// which follow the machine's load, never count.  A test that
// provokes such a message says so for its duration:
//   voqtest::ExpectMessages expected({"No reply received - resending"});
void WatchMessage(const char* message, int level);
// Fails the running test once for each unexpected message since the last
// report (the first ones quoted), and forgets them.
void ReportUnexpectedMessages();

class ExpectMessages {
public:
    explicit ExpectMessages(std::vector<std::string> fragments);
    ~ExpectMessages();
    ExpectMessages(const ExpectMessages&) = delete;
    ExpectMessages& operator=(const ExpectMessages&) = delete;

private:
    std::vector<std::string> fragments_;
};

// The text of the VOQ::Error that `f` throws, or "(no error)".
std::string ErrorOf(const std::function<void()>& f);

}  // namespace voqtest

#endif
