#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "LoopbackHttpServer.h"
#include "UpdateCheck.h"

namespace {

using Clock = std::chrono::steady_clock;

class MemoryStore : public IUpdateCheckStore {
public:
    std::string ReadLastCheck() override { return date; }
    int ReadInterval() override { return interval; }
    void WriteLastCheck(const std::string& d) override {
        date = d;
        ++writes;
    }
    void WriteInterval(int days) override {
        interval = days;
        ++writes;
    }
    std::string date;
    int interval = 7;
    int writes = 0;
};

// Counts the announcements it receives.
class Receiver : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == CUpdateCheckEvent::EventType()) {
            ++events;
            return true;
        }
        return QObject::event(e);
    }
    int events = 0;
};

std::string DaysAgo(int days) {
    return CUpdateCheck::FormatDate(std::time(nullptr) - static_cast<std::time_t>(days) * 86400);
}

const char* const kQuery = "productname=OvHorizel&version=2%2C1%2C0%2C0&user=%20&subversion=0&reserved=%20";

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("no_proxy", "127.0.0.1", 1);
        check.SetStore(&store);
        check.SetReceiver(&receiver);
        check.SetHost("127.0.0.1:" + std::to_string(server.Port()));
        check.SetLimits(Http::Limits{2000, 1, 5000, 64 * 1024, true});
        server.On("/checkupdate/updateurl.html", Loopback::Response::Text(server.Origin() + "/check\r\n"));
        store.date = DaysAgo(5);
    }
    void Reply(const std::string& body) { server.On("/check", Loopback::Response::Text(body)); }
    void WaitIdle() {
        while (check.IsRunning())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    int Events() {
        QCoreApplication::sendPostedEvents(&receiver);
        return receiver.events;
    }

    Loopback::Server server;
    MemoryStore store;
    Receiver receiver;
    CUpdateCheck check;
};

}  // namespace

TEST(UpdateCheckText, UrlEscapeTable) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {" ", "%20"},
        {"&", "%26"},
        {"{", "%7B"},
        {"\"<>%\\^[]`+$,@:;/!#?=&", "%22%3C%3E%25%5C%5E%5B%5D%60%2B%24%2C%40%3A%3B%2F%21%23%3F%3D%26"},
        {"AZaz09-._'()*", "AZaz09-._'()*"},
        {"|}~\x7f", "%7C%7D%7E%7F"},
        {"\xc3\xa9", "%C3%A9"},
        {"1,2,3,4", "1%2C2%2C3%2C4"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CUpdateCheck::UrlEscape(c.in), c.out) << c.in;
    EXPECT_EQ(CUpdateCheck::QueryFields(), kQuery);
}

TEST(UpdateCheckText, TagsOfTheReply) {
    struct Case {
        const char* reply;
        const char* tag;
        const char* value;
    };
    const Case cases[] = {
        {"<status>2</status>", "status", "2"},
        {"<a><status attr=\"1\">3</status>", "status", "3"},
        {"<status>2", "status", ""},
        {"<status></status>", "status", ""},
        {"<updateurl>http://u/</updateurl>", "moreinfourl", ""},
        {"</status><status>", "status", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CUpdateCheck::GetXmlTagValue(c.reply, c.tag), c.value) << c.reply;

    CUpdateCheck check;
    EXPECT_FALSE(check.ParseReply(""));
    EXPECT_TRUE(
        check.ParseReply("<status>1</status><message40>m40</message40><message250>long</message250>"
                         "<updateurl>http://u/get</updateurl><nextcheckindays>14</nextcheckindays>"));
    const auto r = check.GetResult();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.message40, "m40");
    EXPECT_EQ(r.message80, "");
    EXPECT_EQ(r.message250, "long");
    EXPECT_EQ(r.updateurl, "http://u/get");
    EXPECT_EQ(r.moreinfourl, "");
    EXPECT_EQ(r.nextcheckindays, 14);
}

TEST_F(UpdateCheckTest, FirstRunOnlyRecordsTheDate) {
    store.date.clear();
    EXPECT_TRUE(check.Start(false));
    WaitIdle();
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_EQ(store.date, CUpdateCheck::FormatDate(std::time(nullptr)));
    EXPECT_EQ(store.interval, 7);

    // A stored date that means nothing counts as a first run.
    store.date = "garbage";
    check.Start(false);
    WaitIdle();
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_EQ(store.date, CUpdateCheck::FormatDate(std::time(nullptr)));
}

TEST_F(UpdateCheckTest, AtStartUpOnlyWhenDueOnDemandAlways) {
    Reply("<status>2</status><message80>New</message80><nextcheckindays>14</nextcheckindays>");
    EXPECT_TRUE(check.Start(false));
    WaitIdle();
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_EQ(store.writes, 0);

    EXPECT_TRUE(check.Start(true));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/checkupdate/updateurl.html");
    EXPECT_EQ(requests[1].target, std::string("/check?") + kQuery);
    EXPECT_EQ(check.GetResult().status, 2);
    EXPECT_EQ(check.GetResult().message80, "New");
    EXPECT_EQ(store.date, CUpdateCheck::FormatDate(std::time(nullptr)));
    EXPECT_EQ(store.interval, 14);
    EXPECT_EQ(Events(), 1);

    // Due by the stored interval: the start-up check runs too.
    store.date = DaysAgo(20);
    check.Start(false);
    WaitIdle();
    EXPECT_EQ(server.Count("/check"), 2);
    EXPECT_EQ(Events(), 2);
}

TEST_F(UpdateCheckTest, NothingNewIsNotAnnounced) {
    Reply("<status>0</status>");
    EXPECT_FALSE(check.Start(true));
    EXPECT_EQ(Events(), 0);
    // Without a usable interval in the reply the stored one stays.
    EXPECT_EQ(store.interval, 7);
    EXPECT_EQ(store.date, CUpdateCheck::FormatDate(std::time(nullptr)));
}

TEST_F(UpdateCheckTest, BadFirstRepliesStopBeforeTheQuery) {
    Reply("<status>2</status>");
    Loopback::Response huge;
    huge.streamBytes = 1024 * 1024;
    Loopback::Response stall;
    stall.hang = true;
    Loopback::Response drop;
    drop.dropWithoutReply = true;
    const Loopback::Response cases[] = {
        Loopback::Response::Text(server.Origin() + "/check", 404),
        Loopback::Response::Text(""),
        Loopback::Response::Text("  \r\n"),
        Loopback::Response::Text("ftp://x/check"),
        Loopback::Response::Text("http://"),
        huge,
        stall,
        drop,
    };
    const std::string before = store.date;
    for (const auto& first : cases) {
        server.On("/checkupdate/updateurl.html", first);
        const auto start = Clock::now();
        EXPECT_FALSE(check.Start(true));
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
        EXPECT_EQ(server.Count("/check"), 0);
        EXPECT_EQ(check.GetResult().status, 0);
        EXPECT_EQ(store.date, before);
        EXPECT_EQ(store.writes, 0);
    }
    EXPECT_EQ(Events(), 0);

    // No server at all: the same, and quickly.
    server.Stop();
    EXPECT_FALSE(check.Start(true));
    EXPECT_EQ(store.writes, 0);
}

TEST_F(UpdateCheckTest, SecondReplyIsCutAndBadStatusesIgnored) {
    Reply("<status>1</status><message250>" + std::string(2000, 'm') + "</message250>");
    EXPECT_TRUE(check.Start(true));
    // The message's closing tag lies past the first 1024 characters.
    EXPECT_EQ(check.GetResult().message250, "");

    server.On("/check", Loopback::Response::Text("<status>2</status>", 500));
    store.writes = 0;
    EXPECT_FALSE(check.Start(true));
    EXPECT_EQ(store.writes, 0);
}

TEST_F(UpdateCheckTest, OneCheckAtATime) {
    Loopback::Response slow = Loopback::Response::Text("<status>1</status>");
    slow.delayMs = 300;
    server.On("/check", slow);
    store.date = DaysAgo(30);
    EXPECT_TRUE(check.Start(false));
    EXPECT_TRUE(check.IsRunning());
    // A second background start while it runs does nothing.
    EXPECT_TRUE(check.Start(false));
    // A check on demand waits for it, running the caller's pump meanwhile.
    int pumps = 0;
    EXPECT_TRUE(check.Start(true, [&] {
        ++pumps;
        return false;
    }));
    EXPECT_GE(pumps, 3);
    EXPECT_EQ(server.Count("/check"), 1);

    // Cancelling through the pump, or stopping, ends a stalled check at once.
    Loopback::Response stall;
    stall.hang = true;
    server.On("/check", stall);
    check.SetLimits(Http::Limits{2000, 30, 60000, 64 * 1024, true});
    auto start = Clock::now();
    EXPECT_FALSE(check.Start(true, [&] { return Clock::now() - start > std::chrono::milliseconds(100); }));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(800));
    store.date = DaysAgo(30);
    EXPECT_TRUE(check.Start(false));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(check.IsRunning());
    start = Clock::now();
    check.Stop(std::chrono::seconds(30));
    EXPECT_FALSE(check.IsRunning());
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
}
