#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "FileReading.h"
#include "HostileFiles.h"
#include "TestData.h"

using Platform::FinalLink;

TEST(FileReading, OpensOnlyRegularFilesWithoutWaiting) {
    TestData::ScratchDir dir;
    std::ofstream(dir / "plain") << "0123456789";
    ::symlink((dir / "plain").c_str(), (dir / "link").c_str());
    ::symlink((dir / "gone").c_str(), (dir / "dangling").c_str());
    const std::string fifo = TestData::MakeFifo(dir / "fifo");

    struct Case {
        std::string path;
        FinalLink link;
        std::uint64_t cap;
        int error;  // 0: opens and reads the ten bytes
    };
    const Case cases[] = {
        {dir / "plain", FinalLink::Follow, 10, 0},
        {dir / "plain", FinalLink::Follow, 9, EFBIG},
        {dir / "link", FinalLink::Follow, 100, 0},
        {dir / "link", FinalLink::Refuse, 100, ELOOP},
        {dir / "dangling", FinalLink::Follow, 100, ENOENT},
        {dir / "missing", FinalLink::Follow, 100, ENOENT},
        {fifo, FinalLink::Follow, 100, EINVAL},
        {TestData::kEndlessDevice, FinalLink::Follow, 100, EINVAL},
        {dir.path().string(), FinalLink::Follow, 100, EISDIR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        int fd = -2, error = 0;
        std::string bytes;
        int readError = -1;
        ASSERT_TRUE(TestData::ReturnsWithoutWaiting(fifo, [&] {
            fd = Platform::OpenForReading(c.path, c.cap, c.link);
            error = fd < 0 ? errno : 0;
            readError = Platform::ReadWholeFile(c.path, c.cap, bytes, c.link);
        }));
        EXPECT_EQ(error, c.error) << std::strerror(error);
        EXPECT_EQ(readError, c.error);
        if (fd >= 0) {
            // Blocking again, so a later read waits for data as any file read does.
            EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
            ::close(fd);
        }
        EXPECT_EQ(bytes, c.error == 0 ? "0123456789" : "");
    }
}

TEST(FileReading, EmptyFileReadsAsEmpty) {
    TestData::ScratchDir dir;
    std::ofstream(dir / "empty");
    std::vector<std::uint8_t> bytes{1, 2};
    EXPECT_EQ(Platform::ReadWholeFile(dir / "empty", 0, bytes), 0);
    EXPECT_TRUE(bytes.empty());
}
