#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AspectData.h"
#include "FakeUploadHost.h"
#include "LoopbackHttpServer.h"
#include "PrintServiceUpload.h"
#include "TestData.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using TestDoubles::FakeHost;

std::string LoginReply(const std::string& origin, const std::string& session = "S1") {
    return "error=0\nsessionid=" + session + "\nuploadurl=" + origin + "/upload\ntoken=T9\n";
}

const char* const kAccepted = "error=0&pollurl=http://p/&clickurl=http://print.example/order?id=7";

class UploadTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* saved = std::getenv("XDG_DATA_HOME"))
            savedData = saved;
        setenv("XDG_DATA_HOME", scratch.path().c_str(), 1);
        setenv("no_proxy", "127.0.0.1", 1);
        unsetenv("OVHORIZEL_ONLINE_SERVER");
        savedLoginUrl = g_strNetPrintLoginUrl;
        g_strNetPrintLoginUrl = server.Origin() + "/loader/session";
        g_strNetPrintLogin.clear();
        g_strNetPrintPassword.clear();
        logs = GetNetPrintLogsFolder();
        limits.http.connectTimeoutMs = 2000;
        limits.http.stallSeconds = 1;
        // curl judges a stall by the speed of the last few seconds; a silent
        // server is also caught by the whole exchange's limit.
        limits.http.totalTimeoutMs = 2500;
    }
    void TearDown() override {
        g_strNetPrintLoginUrl = savedLoginUrl;
        setenv("XDG_DATA_HOME", savedData.c_str(), 1);
    }

    // Pending panoramas Panorama1.jpg .. PanoramaN.jpg, each with its own bytes.
    std::vector<std::string> MakePending(int n, std::size_t size = 3000) {
        std::vector<std::string> files;
        for (int i = 1; i <= n; ++i) {
            const std::string path = logs + "/Panorama" + std::to_string(i) + ".jpg";
            std::string bytes(size, '\0');
            for (std::size_t k = 0; k < size; ++k)
                bytes[k] = static_cast<char>((k * 7 + static_cast<std::size_t>(i)) & 0xff);
            std::ofstream(path, std::ios::binary) << bytes;
            files.push_back(path);
        }
        return files;
    }
    static std::vector<bool> Present(const std::vector<std::string>& files) {
        std::vector<bool> present;
        for (const auto& f : files)
            present.push_back(fs::exists(f));
        return present;
    }

    TestData::ScratchDir scratch;
    Loopback::Server server;
    std::string savedLoginUrl;
    std::string savedData;
    std::string logs;
    NetPrint::UploadLimits limits;
    FakeHost host;
};

}  // namespace

TEST(PrintServiceReplies, ValuesRunToTheNextKey) {
    const std::vector<std::string> keys = {"sessionid=", "uploadurl=", "token="};
    struct Case {
        const char* reply;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"error=0sessionid=ABCuploadurl=http://u/token=T", "sessionid=", "ABC"},
        {"error=0sessionid=ABCuploadurl=http://u/token=T", "uploadurl=", "http://u/"},
        {"error=0sessionid=ABCuploadurl=http://u/token=T", "token=", "T"},
        {"error=0&sessionid=S&uploadurl=http://u/x&token=T\r\n", "sessionid=", "S"},
        {"error=0&sessionid=S&uploadurl=http://u/x&token=T\r\n", "token=", "T"},
        {"token=T sessionid=S", "uploadurl=", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NetPrint::ReplyValue(c.reply, c.key, keys), c.value) << c.reply << " " << c.key;
    int error = 99;
    EXPECT_FALSE(NetPrint::ReplyError("sessionid=1", error));
    EXPECT_TRUE(NetPrint::ReplyError("error=-2", error));
    EXPECT_EQ(error, -2);
    EXPECT_TRUE(NetPrint::ReplyError("error=0sessionid", error));
    EXPECT_EQ(error, 0);
}

TEST_F(UploadTest, ServerAddressComesFromTheEnvironment) {
    EXPECT_EQ(NetPrint::ServiceAddress("http://print.example/loader/session"),
              "http://print.example/loader/session");
    setenv("OVHORIZEL_ONLINE_SERVER", "http://127.0.0.1:4711", 1);
    EXPECT_EQ(NetPrint::ServiceAddress("http://print.example/loader/session"),
              "http://127.0.0.1:4711/loader/session");
    unsetenv("OVHORIZEL_ONLINE_SERVER");
}

TEST_F(UploadTest, UploadsEachFileAsAFormAndDeletesTheAcceptedOnes) {
    const auto files = MakePending(3);
    const std::string file1 = [&] {
        std::ifstream in(files[0], std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    server.On("/loader/session", Loopback::Response::Text(LoginReply(server.Origin())));
    server.On("/upload", Loopback::Response::Text(kAccepted));
    host.loginAnswers = {{"alice", "p&ss w"}};

    EXPECT_TRUE(NetPrint::UploadToPrintService(files, host, limits));

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].path, "/loader/session");
    EXPECT_EQ(requests[0].Header("content-type"), "application/x-www-form-urlencoded");
    // The form's values are escaped, so a "&" in the password cannot add fields.
    EXPECT_EQ(requests[0].body, "username=alice&password=p%26ss%20w");

    const Loopback::Request& upload = requests[1];
    EXPECT_EQ(upload.path, "/upload");
    // multipart/form-data; boundary="--------" and eight hex digits
    const std::string type = upload.Header("content-type");
    const std::string prefix = "multipart/form-data; boundary=\"--------";
    ASSERT_EQ(type.size(), prefix.size() + 9) << type;
    ASSERT_EQ(type.compare(0, prefix.size(), prefix), 0) << type;
    ASSERT_EQ(type.back(), '"') << type;
    const std::string b = type.substr(prefix.size() - 8, 16);
    ASSERT_EQ(b.find_first_not_of("0123456789abcdef", 8), std::string::npos) << type;
    const std::string expected =
        "--" + b +
        "\r\nContent-Disposition: form-data; name=\"sessionid\"\r\n\r\nS1\r\n"
        "--" +
        b +
        "\r\nContent-Disposition: form-data; name=\"caption\"\r\n\r\nORVEX Horizel\r\n"
        "--" +
        b +
        "\r\nContent-Disposition: form-data; name=\"ImageData\"; "
        "filename=\"Panorama1.jpg\"\r\nContent-Type: image/pjpeg\r\n"
        "Content-Transfer-Encoding: binary\r\n\r\n" +
        file1 + "\r\n--" + b + "--\r\n";
    EXPECT_EQ(upload.body, expected);
    EXPECT_EQ(upload.Header("content-length"), std::to_string(expected.size()));

    EXPECT_EQ(Present(files), (std::vector<bool>{false, false, false}));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0],
              "3 file(s) successfully uploaded. Click OK to open web album and finalize the order.");
    EXPECT_EQ(host.kinds[0], NetPrint::IUploadHost::MessageKind::Information);
    EXPECT_EQ(host.urls, (std::vector<std::string>{"http://print.example/order?id=7&token=T9"}));
    EXPECT_EQ(host.log, (std::vector<std::string>{"Begin", "End", "Begin", "Uploading 1 of 3",
                                                  "Uploading 2 of 3", "Uploading 3 of 3", "End"}));
    // The login stays for the run, in memory.
    EXPECT_EQ(g_strNetPrintLogin, "alice");
}

TEST_F(UploadTest, TheMessageSaysTheOrderPageOpensOnlyWhenItDoes) {
    const struct {
        std::string clickUrl;
        std::string message;
        std::vector<std::string> urls;
    } cases[] = {
        {"http://print.example/order?id=7",
         "1 file(s) successfully uploaded. Click OK to open web album and finalize the order.",
         {"http://print.example/order?id=7&token=T9"}},
        {"javascript:alert(1)", "1 file(s) successfully uploaded.", {}},
        {"file:///etc/passwd?", "1 file(s) successfully uploaded.", {}},
        {"", "1 file(s) successfully uploaded.", {}},
    };
    server.On("/loader/session", Loopback::Response::Text(LoginReply(server.Origin())));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.clickUrl);
        const auto files = MakePending(1);
        server.On("/upload", Loopback::Response::Text("error=0&clickurl=" + c.clickUrl));
        host.loginAnswers = {{"alice", "pw"}};
        host.messages.clear();
        host.urls.clear();
        EXPECT_TRUE(NetPrint::UploadToPrintService(files, host, limits));
        EXPECT_EQ(host.messages, std::vector<std::string>{c.message});
        EXPECT_EQ(host.urls, c.urls);
    }
}

TEST_F(UploadTest, ProgressFollowsTheChunksOfTheBody) {
    // A body of exactly three chunks of 10240 bytes: three steps, the last at 100.
    NetPrint::MultipartBody probe;
    const auto empty = MakePending(1, 0);
    ASSERT_TRUE(probe.Build(empty[0], "ImageData", "Panorama1.jpg",
                            {{"sessionid", "S1"}, {"caption", "ORVEX Horizel"}}));
    const auto files = MakePending(1, 3 * 10240 - static_cast<std::size_t>(probe.Size()));
    server.On("/loader/session", Loopback::Response::Text(LoginReply(server.Origin())));
    server.On("/upload", Loopback::Response::Text(kAccepted));
    EXPECT_TRUE(NetPrint::UploadToPrintService(files, host, limits));
    EXPECT_EQ(host.progress, (std::vector<int>{33, 66, 100}));
}

TEST_F(UploadTest, AStopMidRunKeepsTheFileAndTheRest) {
    const auto files = MakePending(3);
    server.On("/loader/session", Loopback::Response::Text(LoginReply(server.Origin())));
    int uploads = 0;
    server.On("/upload", [&](const Loopback::Request&) {
        return Loopback::Response::Text(++uploads == 2 ? "error=1" : kAccepted);
    });
    EXPECT_FALSE(NetPrint::UploadToPrintService(files, host, limits));
    EXPECT_EQ(Present(files), (std::vector<bool>{false, true, true}));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.urls.empty());
    EXPECT_EQ(host.log.back(), "End");
}

TEST_F(UploadTest, FailuresKeepEveryPendingFile) {
    Loopback::Response huge;
    huge.streamBytes = 50u * 1024 * 1024;
    Loopback::Response dropMidBody;
    dropMidBody.dropAfterBodyBytes = 20000;
    Loopback::Response stall;
    stall.hang = true;
    const std::string ok = LoginReply(server.Origin());
    const std::string noConnection = "No Connection";
    struct Case {
        const char* name;
        Loopback::Response login;
        Loopback::Response upload;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"login refused",
         Loopback::Response::Text("error=-2"),
         Loopback::Response::Text(kAccepted),
         {"Login incorrect"}},
        {"login error status",
         Loopback::Response::Text(ok, 500),
         Loopback::Response::Text(kAccepted),
         {noConnection}},
        {"login redirect",
         Loopback::Response::Text(ok, 302),
         Loopback::Response::Text(kAccepted),
         {noConnection}},
        {"50 MB login reply", huge, Loopback::Response::Text(kAccepted), {noConnection}},
        {"login stalls", stall, Loopback::Response::Text(kAccepted), {noConnection}},
        {"garbage login reply",
         Loopback::Response::Text("\x01\xff<html>"),
         Loopback::Response::Text(kAccepted),
         {}},
        {"no session id",
         Loopback::Response::Text("error=0uploadurl=" + server.Origin() + "/upload"),
         Loopback::Response::Text(kAccepted),
         {}},
        {"upload url not http",
         Loopback::Response::Text("error=0sessionid=Suploadurl=ftp://x/u"),
         Loopback::Response::Text(kAccepted),
         {}},
        {"dropped mid-upload", Loopback::Response::Text(ok), dropMidBody, {}},
        {"garbage upload reply",
         Loopback::Response::Text(ok),
         Loopback::Response::Text("\x01\xff<html>"),
         {}},
        {"50 MB upload reply", Loopback::Response::Text(ok), huge, {}},
        {"upload error status", Loopback::Response::Text(ok), Loopback::Response::Text(kAccepted, 500), {}},
        {"upload stalls", Loopback::Response::Text(ok), stall, {}},
    };
    for (const Case& c : cases) {
        const auto files = MakePending(2, 40000);
        server.On("/loader/session", c.login);
        server.On("/upload", c.upload);
        FakeHost fake;
        const auto start = Clock::now();
        EXPECT_FALSE(NetPrint::UploadToPrintService(files, fake, limits)) << c.name;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << c.name;
        EXPECT_EQ(Present(files), (std::vector<bool>{true, true})) << c.name;
        EXPECT_EQ(fake.messages, c.messages) << c.name;
        EXPECT_TRUE(fake.urls.empty()) << c.name;
        // Every progress window opened was closed.
        EXPECT_EQ(std::count(fake.log.begin(), fake.log.end(), "Begin"),
                  std::count(fake.log.begin(), fake.log.end(), "End"))
            << c.name;
    }
}

TEST_F(UploadTest, AWrongLoginAsksAgainUntilCancel) {
    const auto files = MakePending(1);
    int logins = 0;
    server.On("/loader/session", [&](const Loopback::Request&) {
        return Loopback::Response::Text(++logins < 3 ? "error=-2" : LoginReply(server.Origin()));
    });
    server.On("/upload", Loopback::Response::Text(kAccepted));
    host.loginAnswers = {{"alice", "one"}, {"alice", "two"}, {"alice", "three"}};
    EXPECT_TRUE(NetPrint::UploadToPrintService(files, host, limits));
    EXPECT_EQ(host.loginCalls, 3);
    EXPECT_EQ(host.messages.front(), "Login incorrect");
    EXPECT_EQ(host.kinds.front(), NetPrint::IUploadHost::MessageKind::Warning);
    EXPECT_EQ(server.Requests()[2].body, "username=alice&password=three");
}

TEST_F(UploadTest, CancelDuringAnUploadReturnsAtOnce) {
    const auto files = MakePending(2, 200000);
    Loopback::Response stall;
    stall.hang = true;
    server.On("/loader/session", Loopback::Response::Text(LoginReply(server.Origin())));
    server.On("/upload", stall);
    limits.http.stallSeconds = 60;
    limits.http.totalTimeoutMs = 0;
    host.cancelAfter = std::chrono::milliseconds(300);
    host.began = Clock::now();
    EXPECT_FALSE(NetPrint::UploadToPrintService(files, host, limits));
    const auto elapsed = Clock::now() - host.began;
    EXPECT_LT(elapsed, std::chrono::milliseconds(300 + 1000));
    EXPECT_EQ(Present(files), (std::vector<bool>{true, true}));
    EXPECT_TRUE(host.messages.empty());

    // Cancel from the progress bar while the body is sent.
    FakeHost atProgress;
    atProgress.cancelAtProgress = true;
    EXPECT_FALSE(NetPrint::UploadToPrintService(files, atProgress, limits));
    EXPECT_EQ(atProgress.progress.size(), 1u);
    EXPECT_EQ(Present(files), (std::vector<bool>{true, true}));
}

TEST_F(UploadTest, NoServerSaysNoConnectionAndCancelledLoginDoesNothing) {
    const auto files = MakePending(1);
    server.Stop();
    EXPECT_FALSE(NetPrint::UploadToPrintService(files, host, limits));
    EXPECT_EQ(host.messages, (std::vector<std::string>{"No Connection"}));
    EXPECT_EQ(host.kinds, (std::vector<NetPrint::IUploadHost::MessageKind>{NetPrint::IUploadHost::MessageKind::Error}));
    FakeHost cancelled;
    cancelled.loginAnswers.clear();
    EXPECT_FALSE(NetPrint::UploadToPrintService(files, cancelled, limits));
    EXPECT_TRUE(cancelled.messages.empty());
    EXPECT_TRUE(cancelled.log.empty());
    EXPECT_TRUE(fs::exists(files[0]));
}

TEST_F(UploadTest, PendingPanoramasAreOfferedAtStartUp) {
    // Nothing pending: no dialog.
    NetPrint::UploadPendingPanoramas(host, limits);
    EXPECT_EQ(host.chooseCalls, 0);

    auto files = MakePending(3);
    FakeHost later;
    later.choice = NetPrint::kChoiceLater;
    NetPrint::UploadPendingPanoramas(later, limits);
    EXPECT_EQ(later.chooseCalls, 1);
    EXPECT_EQ(Present(files), (std::vector<bool>{true, true, true}));
    EXPECT_TRUE(server.Requests().empty());

    // Upload takes only the chosen files.
    server.On("/loader/session", Loopback::Response::Text(LoginReply(server.Origin())));
    server.On("/upload", Loopback::Response::Text(kAccepted));
    FakeHost one;
    one.keepFirstOnly = true;
    NetPrint::UploadPendingPanoramas(one, limits);
    EXPECT_EQ(std::count(files.begin(), files.end(), files[0]), 1);
    int left = 0;
    for (const auto& f : files)
        left += fs::exists(f);
    EXPECT_EQ(left, 2);
    EXPECT_EQ(server.Count("/upload"), 1);

    FakeHost remove;
    remove.choice = NetPrint::kChoiceDeleteAll;
    NetPrint::UploadPendingPanoramas(remove, limits);
    EXPECT_EQ(Present(files), (std::vector<bool>{false, false, false}));
}
