// Where `voq view` listens, and the checks that keep other sites out.
//
// A page on another site cannot read the viewer's answers (the browser's
// same-origin rule), but it could make the browser send requests: by
// binding a name of its own to 127.0.0.1 (DNS rebinding: refused because
// the Host header is not the address served), by opening a stream or
// posting a command from its own origin (refused by the Origin and
// Sec-Fetch-Site headers the browser adds).
#ifndef VOQ_TOOL_VIEWSAFETY_H
#define VOQ_TOOL_VIEWSAFETY_H

#include <string>

namespace voqtool {

const int kDefaultViewPort = 8765;

struct ListenAddress {
    std::string host = "127.0.0.1";   // a name or an IP address, IPv6 without brackets
    int port = kDefaultViewPort;      // 0: any free port (the tests)

    // "HOST:PORT", with an IPv6 address in brackets.
    std::string Authority() const;
    // "http://HOST:PORT/".
    std::string Url() const;
};

// "HOST:PORT", "[IPV6]:PORT", "HOST" (the default port) or ":PORT" (the
// default host).  Throws ToolError (a usage error) on anything else.
ListenAddress ParseListenAddress(const std::string& text);

// 127.0.0.0/8, ::1 and "localhost".
bool IsLoopbackHost(const std::string& host);
// 0.0.0.0 and :: (every interface).
bool IsWildcardHost(const std::string& host);

// Decides on a request from its headers, for the address actually served.
class RequestGuard {
public:
    explicit RequestGuard(const ListenAddress& served) : served_(served) {}

    // Host names this address: the served host with the served port; also
    // "localhost" when serving on the loopback address; also any IP
    // address (never a name, which could be rebound) when serving on every
    // interface.
    bool HostAllowed(const std::string& hostHeader) const;
    // A stream (and any page) may be fetched by the page itself or by a
    // program: no Origin or our own, and a Sec-Fetch-Site, when given, of
    // "same-origin" or "none" (typed into the address bar).
    bool StreamAllowed(const std::string& hostHeader, const std::string& origin,
                       const std::string& fetchSite) const;
    // A command needs our own Origin, which browsers send with every POST.
    bool CommandAllowed(const std::string& hostHeader, const std::string& origin,
                        const std::string& fetchSite) const;

private:
    bool SameOrigin(const std::string& hostHeader, const std::string& origin) const;
    ListenAddress served_;
};

}  // namespace voqtool

#endif
