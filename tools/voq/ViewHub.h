// The viewers of `voq view` and what is queued for each.
//
// The tool's reading loop publishes each event once; every viewer's
// connection thread takes events from a queue of its own and writes them.
// Publishing never waits for a viewer: a queue holds at most a fixed number
// of events, and when a slow viewer's queue is full its oldest data event is
// dropped (hello events, which say what the data mean, are kept).  Memory
// is bounded by the number of viewers times the queue length.
#ifndef VOQ_TOOL_VIEWHUB_H
#define VOQ_TOOL_VIEWHUB_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace voqtool {

// Which page a viewer has open; a bit mask for publishing.
enum ViewKind : unsigned { kTraceView = 1, kContactView = 2, kEveryView = 3 };

struct ViewEvent {
    std::string text;     // one or more server-sent events
    bool essential;       // never dropped for a slow viewer
};
using ViewEventPtr = std::shared_ptr<const ViewEvent>;

ViewEventPtr MakeViewEvent(std::string text, bool essential = false);

class ViewClient {
public:
    ViewClient(ViewKind kind, size_t capacity) : kind_(kind), capacity_(capacity) {}

    ViewKind Kind() const { return kind_; }
    // The next event, waiting for one at most `wait`; null on time-out or
    // once the hub has closed.
    ViewEventPtr Next(std::chrono::milliseconds wait);
    bool Closed() const;
    // Events dropped because this viewer did not keep up.
    uint64_t Dropped() const;
    size_t Queued() const;

private:
    friend class ViewHub;
    void Push(const ViewEventPtr& event);
    void Close();

    const ViewKind kind_;
    const size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<ViewEventPtr> queue_;
    uint64_t dropped_ = 0;
    bool closed_ = false;
};

class ViewHub {
public:
    ViewHub(size_t maxViewers, size_t queueLength) : maxViewers_(maxViewers), queueLength_(queueLength) {}

    // A new viewer, whose queue starts with the current hello event; null
    // when the hub is full or closed.
    std::shared_ptr<ViewClient> Join(ViewKind kind);
    void Leave(const std::shared_ptr<ViewClient>& client);

    // The hello event of every new viewer from now on; also published to
    // the present ones, ahead of anything published later.
    void SetHello(const ViewEventPtr& hello);
    // Queues `event` for every viewer whose kind is in `kinds`.
    void Publish(unsigned kinds, const ViewEventPtr& event);

    size_t Count(unsigned kinds) const;
    // Ends every stream: Next() returns null and no one can join.
    void Close();

private:
    const size_t maxViewers_;
    const size_t queueLength_;
    mutable std::mutex mutex_;   // taken before a client's own
    std::vector<std::shared_ptr<ViewClient>> clients_;
    ViewEventPtr hello_;
    bool closed_ = false;
};

}  // namespace voqtool

#endif
