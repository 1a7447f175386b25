#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <stdexcept>

#include "ConverterLibrary.h"
#include "FormgateTestSupport.h"
#include "IOStream.h"
#include "TestData.h"

using Mode = CImExp_FileStream::OpenMode;

namespace {

// Runs body and returns the stream exception it threw (owned by the caller), or null.
template <class Body>
std::unique_ptr<CImpExp_FileException> Thrown(Body body) {
    try {
        body();
    } catch (CImpExp_FileException* e) {
        return std::unique_ptr<CImpExp_FileException>(e);
    }
    return nullptr;
}

int OpenDescriptors() {
    int n = 0;
    for (auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        n += !entry.path().empty();
    return n;
}

}  // namespace

TEST(IOStream, SeekFromEachOrigin) {
    TestData::ScratchDir dir;
    FormgateTest::WriteText(dir.path() / "ten", "0123456789");
    CImExp_FileStream stream;
    ASSERT_TRUE(stream.Open((dir / "ten").c_str(), Mode::Read));
    struct Case {
        int distance, origin;
        bool result;
        int position;
    };
    const Case cases[] = {
        {3, 0, true, 3}, {2, 1, true, 5}, {-4, 2, true, 6}, {0, 3, false, 0}, {7, -1, false, 0}};
    for (const Case& c : cases) {
        int position = -99;
        EXPECT_EQ(stream.Seek(c.distance, c.origin, &position), c.result) << c.distance << "," << c.origin;
        EXPECT_EQ(position, c.position) << c.distance << "," << c.origin;
    }
    EXPECT_TRUE(stream.Seek(4, 0, nullptr));
    EXPECT_EQ(stream.Tell(), 4);
    EXPECT_EQ(stream.ReadByte(), '4');

    auto e = Thrown([&] { stream.Seek(-1, 0, nullptr); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->m_cause, CImpExp_FileException::badSeek);
}

TEST(IOStream, ReadsShortAtTheEndAndNothingForEmptyRequests) {
    TestData::ScratchDir dir;
    FormgateTest::WriteText(dir.path() / "f", std::string("\x34\x12xyz", 5));
    CImExp_FileStream stream;
    ASSERT_TRUE(stream.Open((dir / "f").c_str(), Mode::Read));
    char buffer[16] = {};
    EXPECT_EQ(stream.Read(buffer, 0), 0);
    EXPECT_EQ(stream.Read(nullptr, 4), 0);
    EXPECT_EQ(stream.Read(buffer, -3), 0);
    EXPECT_EQ(stream.Tell(), 0);
    EXPECT_EQ(stream.ReadWord(), 0x1234) << "two bytes as stored";
    EXPECT_EQ(stream.Read(buffer, 16), 3);
    EXPECT_EQ(std::string(buffer, 3), "xyz");
    EXPECT_EQ(stream.Read(buffer, 16), 0);
    EXPECT_EQ(stream.ReadByte(), 0);
}

TEST(IOStream, ClosedStreamDoesNothing) {
    CImExp_FileStream stream;
    char buffer[4] = {'a', 'b', 'c', 'd'};
    int position = -1;
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_EQ(stream.Read(buffer, 4), 0);
    EXPECT_EQ(stream.ReadByte(), 0);
    EXPECT_EQ(stream.ReadWord(), 0);
    EXPECT_EQ(stream.Write(buffer, 4), 0);
    EXPECT_NO_THROW(stream.WriteByte(buffer));
    EXPECT_NO_THROW(stream.WriteWord(buffer));
    EXPECT_FALSE(stream.Seek(1, 0, &position));
    EXPECT_EQ(position, 0);
    EXPECT_EQ(stream.Tell(), 0);
    EXPECT_EQ(stream.Flush(), 0);
    EXPECT_NO_THROW(stream.Close());
}

TEST(IOStream, FailedOpenFillsTheRecord) {
    TestData::ScratchDir dir;
    FormgateTest::WriteText(dir.path() / "plain", "x");
    struct Case {
        std::string path;
        int cause;
        int error;
    };
    const Case cases[] = {
        {dir / "missing.tcv", CImpExp_FileException::fileNotFound, ENOENT},
        {dir / "plain/below.tcv", CImpExp_FileException::badPath, ENOTDIR},
        {dir.path().string(), CImpExp_FileException::accessDenied, EISDIR},
    };
    for (const Case& c : cases) {
        CImExp_FileStream stream;
        CImpExp_FileException record;
        EXPECT_FALSE(stream.Open(c.path.c_str(), Mode::Read, &record)) << c.path;
        EXPECT_FALSE(stream.IsOpen());
        EXPECT_EQ(record.m_cause, c.cause) << c.path;
        EXPECT_EQ(record.m_lOsError, c.error) << c.path;
        EXPECT_EQ(record.m_strFileName, c.path);
        EXPECT_FALSE(stream.Open(c.path.c_str(), Mode::Read)) << "the record is optional";
    }
}

TEST(IOStream, WriteToAFullDeviceThrowsDiskFull) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    CImExp_FileStream stream;
    ASSERT_TRUE(stream.Open("/dev/full", Mode::CreateReadWrite));
    const char data[8] = "abcdefg";
    auto e = Thrown([&] { stream.Write(data, 8); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->m_cause, CImpExp_FileException::diskFull);
    EXPECT_EQ(e->m_lOsError, ENOSPC);
    EXPECT_EQ(e->m_strFileName, "/dev/full");
    e = Thrown([&] { stream.WriteByte(data); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->m_cause, CImpExp_FileException::diskFull);
}

// A write that the system cuts short (here by a file size limit) is a full disk
// with no system error number.
TEST(IOStream, ShortWriteThrowsDiskFullWithoutSystemError) {
    TestData::ScratchDir dir;
    CImExp_FileStream stream;
    ASSERT_TRUE(stream.Open((dir / "limited").c_str(), Mode::CreateReadWrite));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    auto e = Thrown([&] { stream.Write("0123456789", 10); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->m_cause, CImpExp_FileException::diskFull);
    EXPECT_EQ(e->m_lOsError, -1);
    EXPECT_EQ(e->m_strFileName, dir / "limited");
}

TEST(IOStream, WritesReadsBackAndReopenClosesThePreviousFile) {
    TestData::ScratchDir dir;
    const int before = OpenDescriptors();
    {
        CImExp_FileStream stream;
        ASSERT_TRUE(stream.Open((dir / "a").c_str(), Mode::CreateReadWrite));
        EXPECT_EQ(stream.Write("hello", 5), 5);
        const short word = 0x4241;
        stream.WriteWord(&word);
        stream.WriteByte("!");
        EXPECT_EQ(stream.Flush(), 1);
        EXPECT_TRUE(stream.Seek(0, 0, nullptr));
        char buffer[8] = {};
        EXPECT_EQ(stream.Read(buffer, 8), 8);
        EXPECT_EQ(std::string(buffer, 8), "helloAB!");

        ASSERT_TRUE(stream.Open((dir / "a").c_str(), Mode::Read));
        EXPECT_EQ(OpenDescriptors(), before + 1);
        EXPECT_EQ(stream.FileName(), dir / "a");
    }
    EXPECT_EQ(OpenDescriptors(), before) << "destruction closes the stream";
}

TEST(IOStream, SixteenBitNamesAreKeptAsUtf8) {
    TestData::ScratchDir dir;
    FormgateTest::WriteText(dir.path() / "bild-\xc3\xa4-\xf0\x9f\x93\xb7.tcv", "x");
    const std::u16string name = u"bild-\u00e4-\U0001F4F7.tcv";
    std::u16string full;
    for (char c : dir.path().string() + "/")
        full += static_cast<char16_t>(static_cast<unsigned char>(c));
    full += name;
    CImExp_FileStream stream;
    ASSERT_TRUE(stream.Open(full.c_str(), Mode::Read));
    EXPECT_EQ(stream.FileName(), dir / "bild-\xc3\xa4-\xf0\x9f\x93\xb7.tcv");
    EXPECT_EQ(stream.ReadByte(), 'x');
}

// Whatever a converter lets escape becomes an error code at the library's side.
TEST(IOStream, EscapingExceptionsBecomeErrorCodes) {
    using formgate::GuardedCall;
    EXPECT_EQ(GuardedCall([] { return 7; }), 7);
    EXPECT_EQ(GuardedCall([] {}), 0);
    EXPECT_EQ(GuardedCall([]() -> int { throw new CImpExp_FileException(CImpExp_FileException::endOfFile); }),
              1);
    EXPECT_EQ(GuardedCall([]() -> int { throw new CImpExp_FileException(CImpExp_FileException::diskFull); }),
              13);
    EXPECT_EQ(GuardedCall([]() -> int { throw new CImpExp_FileException(CImpExp_FileException::hardIO); }),
              15);
    EXPECT_EQ(GuardedCall([]() -> int { throw new IOStreamException(); }), 15);
    EXPECT_EQ(GuardedCall([]() -> int { throw std::runtime_error("x"); }), 15);
    EXPECT_EQ(GuardedCall([]() -> int { throw std::bad_alloc(); }), 2);
    EXPECT_EQ(GuardedCall([]() -> int { throw 42; }), 15);
}
