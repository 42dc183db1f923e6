// `voq view` without a headset: the display encoding, the viewers' queues,
// and the checks that keep other sites out, on a real loopback server.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "Tool.h"
#include "ViewHub.h"
#include "ViewProtocol.h"
#include "ViewSafety.h"
#include "ViewServer.h"

using namespace voqtool;

TEST(ViewEncoder, DecimatesToExtremesKeepsTriggersExactAndContinuesTheNumbering) {
    // 600 samples/s: groups of 4 samples per point.
    TraceEncoder encoder({{"C\"3", TraceKind::Eeg}, {"TRG", TraceKind::Trigger}}, 600.0);
    ASSERT_EQ(encoder.Decimation(), 4u);
    const double samples[][2] = {{1.0, 0}, {-2.5, 0}, {40.004, 7}, {0.0, 0},   // point 0, spike kept
                                 {NAN, 0}, {NAN, 0}};                          // point 1 still open
    for (const auto& s : samples) encoder.Add(s);
    EXPECT_EQ(encoder.TakeEvent(1700000000123.46),
              "event: data\ndata: {\"point\":0,\"points\":1,\"values\":[[-250,4000],[0,700]],"
              "\"triggers\":[[2,1,7],[3,1,0]],\"samples\":6,\"arrival\":1700000000123.5}\n\n");
    EXPECT_EQ(encoder.TakeEvent(0), "");   // nothing new: no event

    const double rest[][2] = {{NAN, 0}, {NAN, 0}};   // a group without any value
    for (const auto& s : rest) encoder.Add(s);
    EXPECT_EQ(encoder.TakeEvent(5),
              "event: data\ndata: {\"point\":1,\"points\":1,\"values\":[[null,null],[0,0]],"
              "\"triggers\":[],\"samples\":8,\"arrival\":5}\n\n");
    EXPECT_NE(encoder.HelloMembers().find("{\"name\":\"C\\\"3\",\"kind\":\"eeg\"}"), std::string::npos);

    // A new encoder for the same stream (after a change of channels) skips
    // to the next whole group and goes on with its number.
    TraceEncoder next({{"Cz", TraceKind::Eeg}}, 600.0, 10);
    const double values[] = {1, 2, 3, 4, 5, 6};
    for (double v : values) next.Add(&v);
    EXPECT_EQ(next.TakeEvent(0),
              "event: data\ndata: {\"point\":3,\"points\":1,\"values\":[[300,600]],\"triggers\":[],"
              "\"samples\":16,\"arrival\":0}\n\n");
}

TEST(ViewHub, ASlowViewerLosesOldDataButNeverTheHelloAndNeverHoldsUpPublishing) {
    ViewHub hub(2, 8);
    hub.SetHello(MakeViewEvent("hello 1", true));
    auto slow = hub.Join(kTraceView);
    auto contact = hub.Join(kContactView);
    ASSERT_TRUE(slow && contact);
    EXPECT_EQ(hub.Join(kTraceView), nullptr);   // full

    for (int i = 0; i < 1000; ++i) hub.Publish(kTraceView, MakeViewEvent("data " + std::to_string(i)));
    hub.Publish(kEveryView, MakeViewEvent("status"));
    EXPECT_EQ(slow->Queued(), 8u);
    EXPECT_EQ(slow->Dropped(), 1001u + 1u - 8u);
    EXPECT_EQ(slow->Next(std::chrono::milliseconds(0))->text, "hello 1");
    EXPECT_EQ(slow->Next(std::chrono::milliseconds(0))->text, "data 994");   // the newest data kept
    EXPECT_EQ(contact->Queued(), 2u);                                         // hello and status only

    hub.Leave(contact);
    EXPECT_EQ(hub.Count(kEveryView), 1u);
    hub.Close();
    EXPECT_EQ(slow->Next(std::chrono::milliseconds(1000)), nullptr);   // returns at once when closed
    EXPECT_TRUE(slow->Closed());
    EXPECT_EQ(hub.Join(kContactView), nullptr);
}

TEST(ViewSafety, HostOriginAndFetchSiteChecks) {
    EXPECT_EQ(ParseListenAddress("127.0.0.1:8765").Url(), "http://127.0.0.1:8765/");
    EXPECT_EQ(ParseListenAddress("[::1]:9000").Url(), "http://[::1]:9000/");
    EXPECT_EQ(ParseListenAddress(":0").Authority(), "127.0.0.1:0");
    for (const char* bad : {"127.0.0.1:99999", "::1:80", "host:port", "", "a b:1", "[::1"})
        EXPECT_THROW(ParseListenAddress(bad), ToolError) << bad;

    RequestGuard loopback(ParseListenAddress("127.0.0.1:8765"));
    EXPECT_TRUE(loopback.HostAllowed("127.0.0.1:8765"));
    EXPECT_TRUE(loopback.HostAllowed("LocalHost:8765"));
    EXPECT_FALSE(loopback.HostAllowed("attacker.example:8765"));   // DNS rebinding
    EXPECT_FALSE(loopback.HostAllowed("127.0.0.1:8766"));
    EXPECT_FALSE(loopback.HostAllowed("127.0.0.1"));
    EXPECT_FALSE(loopback.HostAllowed(""));
    EXPECT_FALSE(loopback.HostAllowed("192.168.1.5:8765"));

    const std::string host = "127.0.0.1:8765";
    EXPECT_TRUE(loopback.StreamAllowed(host, "", ""));                              // a program
    EXPECT_TRUE(loopback.StreamAllowed(host, "http://127.0.0.1:8765", "same-origin"));
    EXPECT_FALSE(loopback.StreamAllowed(host, "http://attacker.example", ""));
    EXPECT_FALSE(loopback.StreamAllowed(host, "http://localhost:8765", ""));         // another origin
    EXPECT_FALSE(loopback.StreamAllowed(host, "null", ""));
    EXPECT_FALSE(loopback.StreamAllowed(host, "", "cross-site"));                   // <img src=...>
    EXPECT_FALSE(loopback.StreamAllowed("evil:8765", "", ""));
    EXPECT_TRUE(loopback.CommandAllowed(host, "http://127.0.0.1:8765", "same-origin"));
    EXPECT_FALSE(loopback.CommandAllowed(host, "", ""));                            // POSTs carry an Origin
    EXPECT_FALSE(loopback.CommandAllowed(host, "http://127.0.0.1:8765", "none"));
    EXPECT_FALSE(loopback.CommandAllowed(host, "https://127.0.0.1:8765", ""));

    // On every interface any address names it, but no name does, and an
    // origin must be the address the request went to.
    RequestGuard everywhere(ParseListenAddress("0.0.0.0:8765"));
    EXPECT_TRUE(everywhere.HostAllowed("192.168.1.5:8765"));
    EXPECT_TRUE(everywhere.HostAllowed("[fe80::1]:8765"));
    EXPECT_FALSE(everywhere.HostAllowed("attacker.example:8765"));
    EXPECT_FALSE(everywhere.CommandAllowed("192.168.1.5:8765", "http://203.0.113.9:8765", ""));
    EXPECT_TRUE(everywhere.CommandAllowed("192.168.1.5:8765", "http://192.168.1.5:8765", ""));
}

namespace {

// One request on a fresh connection; the answer up to `enough` (or the
// connection's end, or 3 s).
std::string Exchange(int port, const std::string& request, const std::string& enough = "") {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    timeval timeout{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            answer.append(buffer, static_cast<size_t>(n));
            if (!enough.empty() && answer.find(enough) != std::string::npos) break;
        }
    }
    close(fd);
    return answer;
}

std::string Get(int port, const std::string& path, const std::string& headers, const std::string& enough = "") {
    return Exchange(port, "GET " + path + " HTTP/1.1\r\n" + headers + "Connection: close\r\n\r\n", enough);
}

std::string Post(int port, const std::string& headers, const std::string& body) {
    return Exchange(port, "POST /control/filter HTTP/1.1\r\n" + headers + "Content-Type: text/plain\r\n"
                          "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

std::string Status(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

}  // namespace

TEST(ViewServer, RefusesOtherHostsAndOriginsAndServesItsOwnPages) {
    ViewHub hub(4, 16);
    hub.SetHello(MakeViewEvent(ServerSentEvent("hello", "{}"), true));
    FilterRequests filters({{"off", "off"}, {"band", "1-40 Hz"}});
    ViewServer server(hub, &filters);
    const ListenAddress served = server.Bind(ParseListenAddress("127.0.0.1:0"));
    ASSERT_GT(served.port, 0);
    server.Start();
    const int port = served.port;
    const std::string host = "Host: " + served.Authority() + "\r\n";
    const std::string own = host + "Origin: http://" + served.Authority() + "\r\n";

    const std::string page = Get(port, "/", host);
    EXPECT_EQ(Status(page), "HTTP/1.1 200 OK");
    EXPECT_NE(page.find("Content-Security-Policy: default-src 'self'"), std::string::npos);
    EXPECT_NE(page.find("traces.js"), std::string::npos);
    EXPECT_EQ(Status(Get(port, "/impedance", host)), "HTTP/1.1 200 OK");
    EXPECT_EQ(Status(Get(port, "/nothing.js", host)), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(Status(Get(port, "/", "Host: rebound.example:" + std::to_string(port) + "\r\n")),
              "HTTP/1.1 403 Forbidden");

    EXPECT_EQ(Status(Get(port, "/events?view=traces", host + "Origin: http://attacker.example\r\n")),
              "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(Status(Get(port, "/events?view=traces", host + "Sec-Fetch-Site: cross-site\r\n")),
              "HTTP/1.1 403 Forbidden");
    const std::string stream = Get(port, "/events?view=contact", own + "Sec-Fetch-Site: same-origin\r\n",
                                   "event: hello");
    EXPECT_EQ(Status(stream), "HTTP/1.1 200 OK");
    EXPECT_NE(stream.find("Content-Type: text/event-stream"), std::string::npos);
    EXPECT_NE(stream.find("event: hello\ndata: {}\n\n"), std::string::npos);

    EXPECT_EQ(Status(Post(port, host, "band")), "HTTP/1.1 403 Forbidden");   // no Origin
    EXPECT_EQ(Status(Post(port, host + "Origin: http://attacker.example\r\n", "band")), "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(filters.Take(), "");
    EXPECT_EQ(Status(Post(port, own, "lowpass 1000")), "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(Status(Post(port, own, "band")), "HTTP/1.1 204 No Content");
    EXPECT_EQ(filters.Take(), "band");

    server.Stop();
}
