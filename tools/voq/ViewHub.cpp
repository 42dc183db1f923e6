// The viewers of `voq view` and what is queued for each.
#include "ViewHub.h"

#include <algorithm>

namespace voqtool {

ViewEventPtr MakeViewEvent(std::string text, bool essential) {
    return std::make_shared<const ViewEvent>(ViewEvent{std::move(text), essential});
}

ViewEventPtr ViewClient::Next(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_for(lock, wait, [this] { return closed_ || !queue_.empty(); });
    if (closed_ || queue_.empty()) return nullptr;
    ViewEventPtr event = std::move(queue_.front());
    queue_.pop_front();
    return event;
}

bool ViewClient::Closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

uint64_t ViewClient::Dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

size_t ViewClient::Queued() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

void ViewClient::Push(const ViewEventPtr& event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return;
        if (queue_.size() >= capacity_) {
            // The oldest event that may go; when all are essential (a burst
            // of channel changes), the oldest of them.
            auto victim = std::find_if(queue_.begin(), queue_.end(),
                                       [](const ViewEventPtr& e) { return !e->essential; });
            queue_.erase(victim != queue_.end() ? victim : queue_.begin());
            ++dropped_;
        }
        queue_.push_back(event);
    }
    ready_.notify_one();
}

void ViewClient::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        queue_.clear();
    }
    ready_.notify_all();
}

std::shared_ptr<ViewClient> ViewHub::Join(ViewKind kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || clients_.size() >= maxViewers_) return nullptr;
    auto client = std::make_shared<ViewClient>(kind, queueLength_);
    if (hello_) client->Push(hello_);
    clients_.push_back(client);
    return client;
}

void ViewHub::Leave(const std::shared_ptr<ViewClient>& client) {
    std::lock_guard<std::mutex> lock(mutex_);
    clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

void ViewHub::SetHello(const ViewEventPtr& hello) {
    std::lock_guard<std::mutex> lock(mutex_);
    hello_ = hello;
    for (const auto& client : clients_) client->Push(hello);
}

void ViewHub::Publish(unsigned kinds, const ViewEventPtr& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& client : clients_)
        if ((client->Kind() & kinds) != 0) client->Push(event);
}

size_t ViewHub::Count(unsigned kinds) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count_if(clients_.begin(), clients_.end(), [kinds](const auto& c) {
        return (c->Kind() & kinds) != 0;
    }));
}

void ViewHub::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    for (const auto& client : clients_) client->Close();
}

}  // namespace voqtool
