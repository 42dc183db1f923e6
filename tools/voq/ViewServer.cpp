// The web server of `voq view`.
#include "ViewServer.h"

#include <httplib.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "EmbeddedFile.h"
#include "Tool.h"

namespace voqtool {

namespace {

// Threads of the server's pool: one per open stream, the rest for pages.
const size_t kServerThreads = 16;
// How long a stream's thread waits for an event before it looks whether
// the viewer is still there, and how many such waits make a keep-alive
// comment (some proxies close quiet connections).
const std::chrono::milliseconds kStreamWait(250);
const int kWaitsPerKeepAlive = 8;

const char* ContentType(const std::string& name) {
    auto ends = [&name](const char* suffix) {
        const size_t n = std::strlen(suffix);
        return name.size() >= n && name.compare(name.size() - n, n, suffix) == 0;
    };
    if (ends(".html")) return "text/html; charset=utf-8";
    if (ends(".js")) return "text/javascript; charset=utf-8";
    if (ends(".css")) return "text/css; charset=utf-8";
    if (ends(".svg")) return "image/svg+xml";
    return "application/octet-stream";
}

const EmbeddedFile* FindFile(const std::string& name) {
    for (size_t i = 0; i < kEmbeddedFileCount; ++i)
        if (name == kEmbeddedFiles[i].name) return &kEmbeddedFiles[i];
    return nullptr;
}

void Refuse(httplib::Response& res, int status, const std::string& why) {
    res.status = status;
    res.set_content(why + "\n", "text/plain; charset=utf-8");
}

}  // namespace

bool FilterRequests::Request(const std::string& id) {
    for (const Choice& c : choices_) {
        if (c.id != id) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = id;
        return true;
    }
    return false;
}

std::string FilterRequests::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string id;
    id.swap(pending_);
    return id;
}

struct ViewServer::Impl {
    Impl(ViewHub& h, FilterRequests* f) : hub(h), filters(f), guard(ListenAddress()) {}

    void Routes();
    void ServeFile(const std::string& name, httplib::Response& res);
    void ServeStream(const httplib::Request& req, httplib::Response& res);

    ViewHub& hub;
    FilterRequests* filters;
    httplib::Server server;
    RequestGuard guard;
    std::thread thread;
    bool bound = false;
};

void ViewServer::Impl::ServeFile(const std::string& name, httplib::Response& res) {
    const EmbeddedFile* file = FindFile(name);
    if (file == nullptr) return Refuse(res, 404, "Not found");
    res.set_content(reinterpret_cast<const char*>(file->data), file->size, ContentType(name));
    // Scripts and styles only from here; no framing by other sites.
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; base-uri 'none'; "
                   "form-action 'none'");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-cache");
}

void ViewServer::Impl::ServeStream(const httplib::Request& req, httplib::Response& res) {
    if (!guard.StreamAllowed(req.get_header_value("Host"), req.get_header_value("Origin"),
                             req.get_header_value("Sec-Fetch-Site")))
        return Refuse(res, 403, "Forbidden: the stream is only for the viewer's own pages");
    const std::string view = req.get_param_value("view");
    ViewKind kind;
    if (view == "traces")
        kind = kTraceView;
    else if (view == "contact")
        kind = kContactView;
    else
        return Refuse(res, 400, "Bad request: view=traces or view=contact");
    std::shared_ptr<ViewClient> client = hub.Join(kind);
    if (!client) return Refuse(res, 503, "Too many viewers: close another page first");

    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    auto waits = std::make_shared<int>(0);
    res.set_chunked_content_provider(
        "text/event-stream",
        [client, waits](size_t, httplib::DataSink& sink) {
            ViewEventPtr event = client->Next(kStreamWait);
            if (client->Closed()) {   // voq view is stopping: end the stream properly
                sink.done();
                return true;
            }
            if (event) {
                *waits = 0;
                return sink.write(event->text.data(), event->text.size());
            }
            if (!sink.is_writable()) return false;   // the viewer went away
            if (++*waits < kWaitsPerKeepAlive) return true;
            *waits = 0;
            static const char comment[] = ":\n\n";
            return sink.write(comment, sizeof comment - 1);
        },
        [this, client](bool) { hub.Leave(client); });
}

void ViewServer::Impl::Routes() {
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (guard.HostAllowed(req.get_header_value("Host"))) return httplib::Server::HandlerResponse::Unhandled;
        Refuse(res, 403, "Forbidden: the Host header does not name this viewer's address");
        return httplib::Server::HandlerResponse::Handled;
    });
    server.Get("/", [this](const httplib::Request&, httplib::Response& res) { ServeFile("index.html", res); });
    // One page for both views: its script shows the one its path names.
    server.Get("/impedance",
               [this](const httplib::Request&, httplib::Response& res) { ServeFile("index.html", res); });
    server.Get("/events", [this](const httplib::Request& req, httplib::Response& res) { ServeStream(req, res); });
    server.Get(R"(/([a-z0-9-]+\.(js|css|svg)))", [this](const httplib::Request& req, httplib::Response& res) {
        ServeFile(req.matches[1], res);
    });
    server.Post("/control/filter", [this](const httplib::Request& req, httplib::Response& res) {
        if (!guard.CommandAllowed(req.get_header_value("Host"), req.get_header_value("Origin"),
                                  req.get_header_value("Sec-Fetch-Site")))
            return Refuse(res, 403, "Forbidden: commands are only taken from the viewer's own pages");
        if (filters == nullptr || !filters->Request(req.body)) return Refuse(res, 400, "Unknown filter choice");
        res.status = 204;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) res.set_content(std::to_string(res.status) + "\n", "text/plain; charset=utf-8");
    });
}

ViewServer::ViewServer(ViewHub& hub, FilterRequests* filters) : impl_(std::make_unique<Impl>(hub, filters)) {
    httplib::Server& s = impl_->server;
    s.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    s.set_keep_alive_timeout(2);
    s.set_payload_max_length(4096);
    s.set_tcp_nodelay(true);
    impl_->Routes();
}

ViewServer::~ViewServer() { Stop(); }

ListenAddress ViewServer::Bind(const ListenAddress& address) {
    ListenAddress served = address;
    errno = 0;
    if (address.port == 0) {
        served.port = impl_->server.bind_to_any_port(address.host);
        if (served.port <= 0) served.port = -1;
    } else if (!impl_->server.bind_to_port(address.host, address.port)) {
        served.port = -1;
    }
    if (served.port < 0) {
        const int error = errno;
        throw ToolError("cannot listen on " + address.Authority() + (error != 0 ? std::string(": ") + std::strerror(error) : ""),
                        "is another voq view running there? Choose another address with --http HOST:PORT");
    }
    impl_->guard = RequestGuard(served);
    impl_->bound = true;
    return served;
}

void ViewServer::Start() {
    if (!impl_->bound || impl_->thread.joinable()) return;
    impl_->thread = std::thread([this] { impl_->server.listen_after_bind(); });
    // Until it runs, a stop would not reach it.
    for (int i = 0; i < 500 && !impl_->server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void ViewServer::Stop() {
    impl_->hub.Close();
    if (impl_->thread.joinable()) {
        impl_->server.stop();
        impl_->thread.join();
    } else if (impl_->bound) {
        impl_->server.stop();
    }
}

}  // namespace voqtool
