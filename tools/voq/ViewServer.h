// The web server of `voq view`: the pages built into the program, the event
// streams of the viewers and the one command the page may send.
//
//   GET  /, /impedance, /view.js, ...  the pages (tools/voq/web/)
//   GET  /events?view=traces|contact   a viewer's event stream (ViewProtocol.h)
//   POST /control/filter               body: the id of a filter choice
//
// Every request must name the served address in its Host header (403
// otherwise); streams and commands must come from the page itself (see
// RequestGuard).  The server runs on threads of its own (a pool, one thread
// per open stream); it calls nothing of the headset's: the filter choice is
// handed to the tool's reading loop through FilterRequests.
#ifndef VOQ_TOOL_VIEWSERVER_H
#define VOQ_TOOL_VIEWSERVER_H

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ViewHub.h"
#include "ViewSafety.h"

namespace voqtool {

// The filter choices the page offers, owned by the tool, and the choice
// the page asked for last, until the reading loop takes it.
class FilterRequests {
public:
    struct Choice {
        std::string id;       // sent by the page
        std::string label;    // shown on the page
    };
    explicit FilterRequests(std::vector<Choice> choices) : choices_(std::move(choices)) {}
    const std::vector<Choice>& Choices() const { return choices_; }
    // False when `id` is not one of the choices.
    bool Request(const std::string& id);
    // The id asked for since the last call, or "".
    std::string Take();

private:
    const std::vector<Choice> choices_;
    std::mutex mutex_;
    std::string pending_;
};

class ViewServer {
public:
    // Streams are limited to `hub`'s viewers; `filters` may be null (no
    // choice offered).  Both outlive the server.
    ViewServer(ViewHub& hub, FilterRequests* filters);
    ~ViewServer();   // Stop()
    ViewServer(const ViewServer&) = delete;
    ViewServer& operator=(const ViewServer&) = delete;

    // Opens the listening socket; throws ToolError when it cannot.  Returns
    // the address served (port 0 resolved).
    ListenAddress Bind(const ListenAddress& address);
    // Serves on a thread of its own until Stop().
    void Start();
    // Ends every stream, stops serving and waits for the server's threads.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace voqtool

#endif
