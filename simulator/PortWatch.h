// Watches the host open and close the device path, so that the device can
// announce each new connection and stop when the last host goes.  The one
// platform-specific piece of the simulator: PortWatch_Linux.cpp (inotify).
// Without a watch the device still works; it then announces the connection
// only once.  Internal to the simulator.
#ifndef VOQSIM_PORT_WATCH_H
#define VOQSIM_PORT_WATCH_H

#include <functional>
#include <string>

namespace voqsim {

class PortWatch {
public:
    PortWatch() = default;
    ~PortWatch() { Close(); }
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    // Starts watching `path` (replacing any earlier watch).  On failure the
    // watch stays closed.
    void Watch(const std::string& path);
    void Close();
    // For poll(): readable when events wait; -1 when not watching.
    int Descriptor() const { return fd_; }
    // Calls `event(true)` for each open and `event(false)` for each close
    // seen since the last call, in order.
    void Take(const std::function<void(bool opened)>& event);

private:
    int fd_ = -1;
};

}  // namespace voqsim

#endif
