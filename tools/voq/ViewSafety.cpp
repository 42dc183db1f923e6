// Where `voq view` listens, and the checks that keep other sites out.
#include "ViewSafety.h"

#include <arpa/inet.h>

#include <cctype>

#include "Tool.h"
#include "voq/Text.h"

namespace voqtool {

namespace {

bool IsIPv4(const std::string& host) {
    in_addr a;
    return inet_pton(AF_INET, host.c_str(), &a) == 1;
}

bool IsIPv6(const std::string& host) {
    in6_addr a;
    return inet_pton(AF_INET6, host.c_str(), &a) == 1;
}

// A port number of 1 to 5 digits, up to 65535; -1 otherwise.
int ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5) return -1;
    int port = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        port = port * 10 + (c - '0');
    }
    return port <= 65535 ? port : -1;
}

// Splits "HOST:PORT", "[V6]:PORT", "HOST" or "[V6]" into the host (without
// brackets) and the port (`defaultPort` when absent).  False when malformed.
bool SplitAuthority(const std::string& text, int defaultPort, std::string& host, int& port) {
    std::string rest;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) return false;
        host = text.substr(1, close - 1);
        if (!IsIPv6(host)) return false;
        rest = text.substr(close + 1);
    } else {
        const size_t colon = text.find(':');
        host = text.substr(0, colon);
        rest = colon == std::string::npos ? "" : text.substr(colon);
    }
    if (rest.empty()) {
        port = defaultPort;
    } else {
        if (rest[0] != ':') return false;
        port = ParsePort(rest.substr(1));
        if (port < 0) return false;
    }
    for (char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':')) return false;
    return true;
}

}  // namespace

std::string ListenAddress::Authority() const {
    const std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return h + ":" + std::to_string(port);
}

std::string ListenAddress::Url() const { return "http://" + Authority() + "/"; }

ListenAddress ParseListenAddress(const std::string& text) {
    ListenAddress address;
    std::string host;
    int port = 0;
    const std::string hint = "give HOST:PORT, e.g. 127.0.0.1:8765, [::1]:8765 or 0.0.0.0:8765";
    if (!text.empty() && text[0] == ':') {
        host = address.host;
        port = ParsePort(text.substr(1));
        if (port < 0) throw ToolError("--http " + text + ": not a port number", hint, kExitUsage);
    } else if (!SplitAuthority(text, kDefaultViewPort, host, port) || host.empty()) {
        throw ToolError("--http " + text + ": not an address to listen on", hint, kExitUsage);
    }
    if (host.find(':') != std::string::npos && !IsIPv6(host))
        throw ToolError("--http " + text + ": an IPv6 address goes in brackets", hint, kExitUsage);
    address.host = host;
    address.port = port;
    return address;
}

bool IsLoopbackHost(const std::string& host) {
    const std::string h = Lower(host);
    if (h == "localhost" || h == "::1") return true;
    in_addr a;
    if (inet_pton(AF_INET, h.c_str(), &a) != 1) return false;
    return (ntohl(a.s_addr) >> 24) == 127;
}

bool IsWildcardHost(const std::string& host) {
    in_addr a4;
    if (inet_pton(AF_INET, host.c_str(), &a4) == 1) return a4.s_addr == 0;
    in6_addr a6;
    if (inet_pton(AF_INET6, host.c_str(), &a6) != 1) return false;
    for (unsigned char b : a6.s6_addr)
        if (b != 0) return false;
    return true;
}

bool RequestGuard::HostAllowed(const std::string& hostHeader) const {
    std::string host;
    int port = 0;
    if (!SplitAuthority(hostHeader, 80, host, port) || host.empty()) return false;
    if (port != served_.port) return false;
    host = Lower(host);
    if (host == Lower(served_.host)) return true;
    if (IsLoopbackHost(served_.host) && host == "localhost") return true;
    if (IsWildcardHost(served_.host)) return host == "localhost" || IsIPv4(host) || IsIPv6(host);
    return false;
}

bool RequestGuard::SameOrigin(const std::string& hostHeader, const std::string& origin) const {
    const std::string scheme = "http://";
    if (Lower(origin.substr(0, scheme.size())) != scheme) return false;
    std::string host, ownHost;
    int port = 0, ownPort = 0;
    if (!SplitAuthority(origin.substr(scheme.size()), 80, host, port)) return false;
    if (!SplitAuthority(hostHeader, 80, ownHost, ownPort)) return false;
    return port == ownPort && Lower(host) == Lower(ownHost);
}

bool RequestGuard::StreamAllowed(const std::string& hostHeader, const std::string& origin,
                                 const std::string& fetchSite) const {
    if (!HostAllowed(hostHeader)) return false;
    if (!origin.empty() && !SameOrigin(hostHeader, origin)) return false;
    return fetchSite.empty() || fetchSite == "same-origin" || fetchSite == "none";
}

bool RequestGuard::CommandAllowed(const std::string& hostHeader, const std::string& origin,
                                  const std::string& fetchSite) const {
    if (!HostAllowed(hostHeader)) return false;
    if (origin.empty() || !SameOrigin(hostHeader, origin)) return false;
    return fetchSite.empty() || fetchSite == "same-origin";
}

}  // namespace voqtool
