// The interface resource pack: built from the string table, loaded by number
// at start-up, its texts used before the built-in ones, damaged packs refused.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <sstream>

#include "OvHorizelApp.h"
#include "Profile.h"
#include "StringTable.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string Pack(const std::map<unsigned, std::string>& texts) {
    std::string bytes = "OVHRES1\n";
    auto word = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes += char((v >> (8 * i)) & 0xFF);
    };
    word(uint32_t(texts.size()));
    for (const auto& [id, text] : texts) {
        word(id);
        word(uint32_t(text.size()));
        bytes += text;
    }
    return bytes;
}

const std::string kBuiltPack = std::string(OVH_DEFAULT_SKIN_DIR) + "/InterfaceRes1.pack";

}  // namespace

TEST(InterfaceResPack, HoldsTheStringTable) {
    std::map<unsigned, std::string> texts;
    ASSERT_TRUE(Res::ParsePack(ReadAll(kBuiltPack), texts));
    EXPECT_EQ(texts.size(), Res::kStringCount);
    EXPECT_EQ(texts.at(297), Res::LoadStr(297));
    EXPECT_EQ(texts.at(189), "Name");
}

TEST(InterfaceResPack, DamagedPacksAreRefusedAtEveryLength) {
    const std::string good = Pack({{131, "Delete?"}, {189, "Nom"}});
    std::map<unsigned, std::string> texts;
    ASSERT_TRUE(Res::ParsePack(good, texts));
    for (size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(Res::ParsePack(good.substr(0, n), texts)) << n;
    EXPECT_FALSE(Res::ParsePack(good + "x", texts)) << "trailing bytes";
    std::string huge = good;
    huge[8] = '\xff', huge[9] = '\xff', huge[10] = '\xff', huge[11] = '\x7f';  // count
    EXPECT_FALSE(Res::ParsePack(huge, texts));
    std::string longText = good;
    longText[16] = '\xff', longText[17] = '\xff', longText[18] = '\xff', longText[19] = '\xff';  // a length
    EXPECT_FALSE(Res::ParsePack(longText, texts));
    EXPECT_FALSE(Res::ParsePack("OVHRES2\n" + good.substr(8), texts));
    EXPECT_EQ(texts.at(189), "Nom") << "a refused pack leaves the last good result";
}

TEST(InterfaceResPack, LoadedPackTextsComeFirstUntilUnloaded) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/InterfaceRes2.pack";
    std::ofstream(path, std::ios::binary) << Pack({{189, "Nom"}});
    const std::string builtIn = Res::LoadStr(189);
    ASSERT_TRUE(Res::LoadPack(path));
    EXPECT_STREQ(Res::LoadStr(189), "Nom");
    EXPECT_EQ(std::string(Res::LoadStr(190)), "Image Size") << "texts the pack lacks stay";
    Res::UnloadPack();
    EXPECT_EQ(Res::LoadStr(189), builtIn);
    EXPECT_FALSE(Res::LoadPack(dir.path().toStdString() + "/missing.pack"));
    EXPECT_FALSE(Res::PackLoaded());
}

TEST(InterfaceResPack, AFifoOrADeviceIsRefusedAtOnce) {
    QTemporaryDir dir;
    const std::string fifo = dir.path().toStdString() + "/InterfaceRes4.pack";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        // Run aside, so a reader that waits on a writer or reads without end
        // fails the test instead of holding it; a writer opened afterwards frees it.
        auto loaded = std::async(std::launch::async, [path] { return Res::LoadPack(path); });
        const bool ended = loaded.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        EXPECT_TRUE(ended);
        if (!ended && path == fifo)
            ::close(::open(fifo.c_str(), O_WRONLY));
        if (ended) {
            EXPECT_FALSE(loaded.get());
        }
    }
    EXPECT_FALSE(Res::PackLoaded());
}

TEST(InterfaceResPack, APackTextWithOtherFormatConversionsIsNotUsed) {
    const std::string builtIn139 = Res::LoadStr(139), builtIn189 = Res::LoadStr(189);
    ASSERT_NE(builtIn139.find('%'), std::string::npos) << "text 139 is used as a format";
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/InterfaceRes3.pack";
    // A conversion added, one changed, and a format text without conversions
    // in place of one without them.
    std::ofstream(path, std::ios::binary)
        << Pack({{139, builtIn139 + "%s%n"}, {189, "Nom %d"}, {190, "Taille"}});
    ASSERT_TRUE(Res::LoadPack(path));
    EXPECT_EQ(Res::LoadStr(139), builtIn139);
    EXPECT_EQ(Res::LoadStr(189), builtIn189);
    EXPECT_STREQ(Res::LoadStr(190), "Taille");
    Res::UnloadPack();
}

TEST(InterfaceResPack, StartUpLoadsThePackByNumberAndGoesOnWithoutIt) {
    QTemporaryDir dir;
    AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
    const std::string program = std::string(OVH_DEFAULT_SKIN_DIR) + "/../ovhorizel";
    {
        COvHorizelApp app;
        ASSERT_TRUE(app.InitInstance(program, {}));
        EXPECT_EQ(app.m_nInterfaceRes, 1);
        EXPECT_TRUE(app.m_bInterfaceResLoaded);
        EXPECT_TRUE(Res::PackLoaded());
        app.ExitInstance();
        EXPECT_FALSE(Res::PackLoaded());
    }
    AppProfile::WriteProfileInt("INTERFACE", "DLL", 7);
    COvHorizelApp app;
    ASSERT_TRUE(app.InitInstance(program, {}));
    EXPECT_EQ(app.m_nInterfaceRes, 7);
    EXPECT_FALSE(app.m_bInterfaceResLoaded);
    app.ExitInstance();
}
