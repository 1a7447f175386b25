// Requests for thumbnails from other windows: customers, the queue and its thread.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QPainter>

#include <filesystem>
#include <mutex>

#include "ExifFixture.h"
#include "TestData.h"
#include "ThumbRequests.h"

using namespace Fixture;

namespace {

class RecordingCustomer : public IThumbnailNotify {
public:
    explicit RecordingCustomer(std::string name, std::vector<std::string>* log, std::mutex* lock)
        : m_name(std::move(name)), m_log(log), m_lock(lock) {}
    void OnThumbnailReady(int result, uintptr_t cookie) override {
        std::lock_guard<std::mutex> guard(*m_lock);
        m_log->push_back(m_name + " " + std::to_string(result) + " " + std::to_string(cookie));
    }

private:
    std::string m_name;
    std::vector<std::string>* m_log;
    std::mutex* m_lock;
};

class ThumbRequests : public ::testing::Test {
protected:
    void TearDown() override {
        g_ThumbRequestQueue.WaitIdle(5000);
        g_TumbCustomerMap.RemoveAll();
        std::lock_guard<std::recursive_mutex> cache(g_csThumbsBrowser);
        g_ThumbCache.RemoveAll();
    }
    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> guard(lock);
        return log;
    }
    TestData::ScratchDir dir;
    std::vector<std::string> log;
    std::mutex lock;
    QImage canvas{64, 48, QImage::Format_RGB32};
};

}  // namespace

TEST_F(ThumbRequests, CustomersAreToldInOrderAndForgotten) {
    const std::string path = dir / "IMG_0001.JPG";
    WriteFile(path, CameraJpeg());
    std::filesystem::last_write_time(path,
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    RecordingCustomer first("first", &log, &lock), second("second", &log, &lock);
    QPainter painter(&canvas);
    {
        // Holding the build lock keeps the thread from building before all are registered.
        std::lock_guard<std::mutex> build(g_csThumbBuild);
        EXPECT_EQ(DrawThumbnailOrRequest(path, painter, QRect(0, 0, 64, 48), 0, &first, 7), 1);
        EXPECT_EQ(DrawThumbnailOrRequest(path, painter, QRect(0, 0, 64, 48), 0, &first, 7), 1);
        EXPECT_EQ(DrawThumbnailOrRequest(path, painter, QRect(0, 0, 64, 48), 0, &second, 8), 1);
        EXPECT_EQ(g_ThumbRequestQueue.Paths(), std::vector<std::string>{path});
        EXPECT_EQ(g_TumbCustomerMap.CustomersOf(path).size(), 2u);
    }
    ASSERT_TRUE(g_ThumbRequestQueue.WaitIdle(10000));
    EXPECT_EQ(Log(), (std::vector<std::string>{"first 0 7", "second 0 8"}));
    EXPECT_EQ(g_TumbCustomerMap.PathCount(), 0u);
    ThumbItemPtr item;
    ASSERT_TRUE(LookupThumbCache(path, item));
    EXPECT_TRUE(item->HasThumbnail());

    // Now cached: drawn at once, nobody registered, nothing queued.
    RecordingCustomer third("third", &log, &lock);
    EXPECT_EQ(DrawThumbnailOrRequest(path, painter, QRect(0, 0, 64, 48), 0, &third, 9), 1);
    EXPECT_EQ(g_TumbCustomerMap.PathCount(), 0u);
    EXPECT_FALSE(g_ThumbRequestQueue.Contains(path));
    EXPECT_EQ(DrawThumbnailOrRequest("", painter, QRect(), 0, &third, 9), 0);
    EXPECT_EQ(DrawThumbnailOrRequest(path, painter, QRect(), 0, nullptr, 9), 0);
}

TEST_F(ThumbRequests, OneRecordPerCustomerAndCookie) {
    CTumbCustomerMap map;
    RecordingCustomer a("a", &log, &lock), b("b", &log, &lock);
    map.AddCustomer("/p/1.jpg", &a, 1);
    map.AddCustomer("/p/1.jpg", &a, 1);
    map.AddCustomer("/p/1.jpg", &a, 2);
    map.AddCustomer("/p/1.jpg", &b, 1);
    map.AddCustomer("/p/2.jpg", &a, 1);
    EXPECT_EQ(map.CustomersOf("/p/1.jpg").size(), 3u);
    map.RemoveIf(&a, 2, true);
    EXPECT_EQ(map.CustomersOf("/p/1.jpg").size(), 2u);
    map.RemoveIf(&a, 0, false);
    EXPECT_EQ(map.CustomersOf("/p/1.jpg").size(), 1u);
    EXPECT_EQ(map.PathCount(), 1u);  // the last record of /p/2.jpg took its path along
    map.NotifyCustomers(0, "/p/1.jpg");
    EXPECT_EQ(Log(), std::vector<std::string>{"b 0 1"});
    EXPECT_EQ(map.PathCount(), 0u);
}

TEST_F(ThumbRequests, VanishedAndFailingFilesTellNobodyAndDoNotSpin) {
    RecordingCustomer customer("c", &log, &lock);
    QPainter painter(&canvas);
    const std::string missing = dir / "missing.jpg";
    DrawThumbnailOrRequest(missing, painter, QRect(0, 0, 64, 48), 0, &customer, 1);
    DrawThumbnailOrRequest(missing, painter, QRect(0, 0, 64, 48), 0, &customer, 1);
    EXPECT_EQ(g_TumbCustomerMap.CustomersOf(missing).size(), 1u);
    ASSERT_TRUE(g_ThumbRequestQueue.WaitIdle(5000));
    EXPECT_FALSE(g_ThumbRequestQueue.Contains(missing));

    const std::string broken = dir / "broken.jpg";
    WriteFile(broken, {0xFF, 0xD8, 0xFF, 0xE1, 0x00});
    std::filesystem::last_write_time(broken,
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    DrawThumbnailOrRequest(broken, painter, QRect(0, 0, 64, 48), 0, &customer, 2);
    ASSERT_TRUE(g_ThumbRequestQueue.WaitIdle(5000));
    // It rests: a new request right away does not queue it again.
    DrawThumbnailOrRequest(broken, painter, QRect(0, 0, 64, 48), 0, &customer, 2);
    EXPECT_FALSE(g_ThumbRequestQueue.Contains(broken));
    EXPECT_EQ(g_TumbCustomerMap.CustomersOf(broken).size(), 1u);  // still waiting
    EXPECT_TRUE(Log().empty());
}

TEST_F(ThumbRequests, DrawingNowLeavesCacheAndQueueAlone) {
    const std::string path = dir / "IMG_0003.JPG";
    WriteFile(path, CameraJpeg());
    QPainter painter(&canvas);
    EXPECT_EQ(DrawThumbnailNow(path, painter, QRect(0, 0, 64, 48)), 1);
    EXPECT_EQ(DrawThumbnailNow("", painter, QRect(0, 0, 64, 48)), 0);
    ThumbItemPtr item;
    EXPECT_FALSE(LookupThumbCache(path, item));
    EXPECT_FALSE(g_ThumbRequestQueue.Contains(path));
    painter.end();
    // The preview's left half is red.
    EXPECT_GT(qRed(canvas.pixel(10, 24)), 150);
}

TEST_F(ThumbRequests, PosterSendsAnEventToItsWindow) {
    struct Receiver : QObject {
        bool event(QEvent* e) override {
            if (e->type() == ThumbnailReadyEvent::EventType())
                cookie = static_cast<ThumbnailReadyEvent*>(e)->m_cookie;
            return QObject::event(e);
        }
        uintptr_t cookie = 0;
    } receiver;
    ThumbnailNotifyPoster poster(&receiver);
    poster.OnThumbnailReady(0, 42);
    QCoreApplication::processEvents();
    EXPECT_EQ(receiver.cookie, 42u);
}
