#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "HttpClient.h"
#include "LoopbackHttpServer.h"

namespace {

using Clock = std::chrono::steady_clock;

Http::Limits Short() {
    Http::Limits limits;
    limits.connectTimeoutMs = 2000;
    limits.stallSeconds = 1;
    limits.maxReplyBytes = 64 * 1024;
    return limits;
}

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("no_proxy", "127.0.0.1", 1); }
    Loopback::Server server;
};

}  // namespace

TEST(HttpUrl, ParsesHttpAndHttpsAndRefusesTheRest) {
    struct Case {
        const char* text;
        bool ok;
        const char* scheme;
        const char* host;
        int port;
        const char* path;
    };
    const Case cases[] = {
        {"http://print.example/loader/session", true, "http", "print.example", 0, "/loader/session"},
        {"https://h:8443/a?b=c", true, "https", "h", 8443, "/a?b=c"},
        {"HTTP://h", true, "http", "h", 0, "/"},
        {"h/p", true, "http", "h", 0, "/p"},
        {"http://127.0.0.1:5/x#frag", true, "http", "127.0.0.1", 5, "/x"},
        {"ftp://h/p", false, "", "", 0, ""},
        {"file:///etc/passwd", false, "", "", 0, ""},
        {"javascript:alert(1)", false, "", "", 0, ""},
        {"http://", false, "", "", 0, ""},
        {"http://h:0/", false, "", "", 0, ""},
        {"http://h:99999/", false, "", "", 0, ""},
        {"http://h:8x/", false, "", "", 0, ""},
        {"http://user:pw@h/", false, "", "", 0, ""},
        {"http://h/a b", false, "", "", 0, ""},
        {"http://h/\r\nX: y", false, "", "", 0, ""},
        {"", false, "", "", 0, ""},
    };
    for (const Case& c : cases) {
        Http::Url url;
        ASSERT_EQ(Http::ParseUrl(c.text, url), c.ok) << c.text;
        if (!c.ok)
            continue;
        EXPECT_EQ(url.scheme, c.scheme) << c.text;
        EXPECT_EQ(url.host, c.host) << c.text;
        EXPECT_EQ(url.port, c.port) << c.text;
        EXPECT_EQ(url.path, c.path) << c.text;
    }
}

TEST(HttpForm, EncodesEverythingButTheUnreservedBytes) {
    EXPECT_EQ(Http::FormEncode("alice"), "alice");
    EXPECT_EQ(Http::FormEncode("p&ss w=1"), "p%26ss%20w%3D1");
    EXPECT_EQ(Http::FormEncode("a-b.c_d~"), "a-b.c_d~");
    EXPECT_EQ(Http::FormEncode("\xc3\xa9"), "%C3%A9");
}

TEST_F(HttpClientTest, SendsTheRequestAndReadsTheReply) {
    server.On("/form", Loopback::Response::Text("error=0"));
    Http::Request request;
    request.method = Http::Request::Method::Post;
    request.url = server.Origin() + "/form";
    request.headers = {"Content-Type: application/x-www-form-urlencoded"};
    request.body = std::string(3 * 1024 * 1024, 'a');  // big enough for curl to ask leave to send
    const Http::Reply reply = Http::Perform(request, Short());
    EXPECT_TRUE(reply.Ok());
    EXPECT_EQ(reply.body, "error=0");
    const auto seen = server.Requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].Header("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(seen[0].Header("expect"), "");
    EXPECT_EQ(seen[0].Header("user-agent"), "");
    EXPECT_EQ(seen[0].body.size(), request.body.size());
}

TEST_F(HttpClientTest, BadRepliesEndBoundedAndAreTold) {
    Loopback::Response huge;
    huge.streamBytes = 50u * 1024 * 1024;
    Loopback::Response stalled;
    stalled.hang = true;
    Loopback::Response dropped;
    dropped.dropWithoutReply = true;
    Loopback::Response redirect = Loopback::Response::Text("", 302);
    redirect.headers = {"Location: /ok"};
    server.On("/huge", huge);
    server.On("/stall", stalled);
    server.On("/drop", dropped);
    server.On("/redirect", redirect);
    server.On("/ok", Loopback::Response::Text("fine"));
    server.On("/error", Loopback::Response::Text("oops", 500));

    struct Case {
        const char* path;
        bool follow;
        bool completed;
        long status;
        bool tooLarge;
    };
    const Case cases[] = {
        {"/huge", false, false, 0, true},      {"/stall", false, false, 0, false},
        {"/drop", false, false, 0, false},     {"/redirect", false, true, 302, false},
        {"/redirect", true, true, 200, false}, {"/error", false, true, 500, false},
    };
    for (const Case& c : cases) {
        Http::Limits limits = Short();
        limits.followRedirects = c.follow;
        Http::Request request;
        request.url = server.Origin() + c.path;
        const auto start = Clock::now();
        const Http::Reply reply = Http::Perform(request, limits);
        EXPECT_EQ(reply.completed, c.completed) << c.path;
        EXPECT_EQ(reply.status, c.status) << c.path;
        EXPECT_EQ(reply.tooLarge, c.tooLarge) << c.path;
        EXPECT_LE(reply.body.size(), limits.maxReplyBytes) << c.path;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << c.path;
    }
}

TEST_F(HttpClientTest, NoServerAndCancelEndQuickly) {
    const std::string origin = server.Origin();
    Loopback::Response stalled;
    stalled.hang = true;
    server.On("/stall", stalled);

    // Cancel while the server keeps silent: back soon, not at the stall limit.
    Http::Request request;
    request.url = origin + "/stall";
    const auto start = Clock::now();
    Http::Limits limits = Short();
    limits.stallSeconds = 30;
    int pumps = 0;
    const Http::Reply reply = Http::Perform(request, limits, [&] {
        ++pumps;
        return Clock::now() - start > std::chrono::milliseconds(200);
    });
    EXPECT_TRUE(reply.cancelled);
    EXPECT_FALSE(reply.completed);
    // Far below the 30 s stall limit, with room for a loaded machine.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    // The caller was asked at least every few tens of milliseconds.
    EXPECT_GE(pumps, 4);

    server.Stop();
    const Http::Reply refused = Http::Perform(request, Short());
    EXPECT_FALSE(refused.completed);
    EXPECT_FALSE(refused.cancelled);
    EXPECT_EQ(refused.status, 0);
}
