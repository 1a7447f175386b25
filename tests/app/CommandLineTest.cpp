#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include "CommandLine.h"
#include "PluginDescriptor.h"
#include "ReadableExtensions.h"

namespace {

std::string Touch(const QTemporaryDir& dir, const char* name) {
    const QString path = dir.path() + "/" + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    return path.toStdString();
}

}  // namespace

TEST(ReadableExtensions, ModuleListAndTheTestOfAPath) {
    EXPECT_EQ(ReadableExtensions::FromModuleList(nullptr, 0), ".bmp;.jpg;.tif;.png;");
    EXPECT_EQ(ReadableExtensions::FromModuleList("\0", 1), ".bmp;.jpg;.tif;.png;") << "an empty list";
    const char list[] = "JPEG files\0*.JPG;*.jpeg\0TIFF\0*.tiff\0";
    const std::string text = ReadableExtensions::FromModuleList(list, sizeof list);
    EXPECT_EQ(text, "jpeg files|*.jpg;*.jpeg|tiff|*.tiff|||");

    struct Case {
        const char* path;
        bool readable;
    };
    const Case cases[] = {
        {"IMG.JPG", true},    {"/a/b.jpeg", true}, {"x.tif", true} /* inside ".tiff" */,
        {"a.ps", false},      {"noext", false},    {"/dir.jpg/noext", false},
        {"notes.txt", false}, {".jpg", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadableExtensions::IsReadable(c.path, text), c.readable) << c.path;
    EXPECT_FALSE(ReadableExtensions::IsReadable("a.ai", ".ai;.bmp;")) << "shorter than four characters";
}

TEST(CommandLine, KeepsReadableFilesThatExistInOrder) {
    QTemporaryDir dir;
    const std::string a = Touch(dir, "a.JPG");
    const std::string b = Touch(dir, "b.jpg");
    const std::string notes = Touch(dir, "notes.txt");
    const std::string ai = Touch(dir, "a.ai");
    CQXCommandLineInfo info(
        [](const std::string& p) { return ReadableExtensions::IsReadable(p, ".bmp;.jpg;.tif;.png;"); });
    info.ParseCommandLine({a, b, notes, ai, dir.path().toStdString() + "/missing.jpg"});
    EXPECT_EQ(info.m_files, (std::vector<std::string>{a, b}));
    EXPECT_EQ(info.m_nShellCommand, CQXCommandLineInfo::FileOpen);
}

TEST(CommandLine, RegistrationSwitchesAreToldApartFromPaths) {
    QTemporaryDir dir;
    const std::string registerFile = Touch(dir, "Register");
    struct Case {
        std::vector<std::string> args;
        CQXCommandLineInfo::ShellCommand command;
    };
    const Case cases[] = {
        {{"/Register"}, CQXCommandLineInfo::AppRegister},
        {{"/Unregister"}, CQXCommandLineInfo::AppUnregister},
        {{"--Register"}, CQXCommandLineInfo::AppRegister},
        {{"-unregister"}, CQXCommandLineInfo::AppUnregister},
        {{"--UNREGSERVER"}, CQXCommandLineInfo::AppUnregister},
        {{registerFile}, CQXCommandLineInfo::FileOpen},
        {{"/Registered"}, CQXCommandLineInfo::FileOpen},
        {{}, CQXCommandLineInfo::FileNew},
    };
    for (const Case& c : cases) {
        CQXCommandLineInfo info([](const std::string&) { return true; });
        info.ParseCommandLine(c.args);
        EXPECT_EQ(info.m_nShellCommand, c.command) << (c.args.empty() ? "" : c.args[0]);
    }
}

TEST(PluginDescriptor, NameCarriesTheVersion) {
    EXPECT_EQ(PluginDescriptor::FileName(0x00020001), "OvHorizel2.02.01.ovplugin");
    EXPECT_EQ(PluginDescriptor::FileName(0x000a0000), "OvHorizel2.0a.00.ovplugin");
    EXPECT_EQ(PluginDescriptor::FileName(PluginDescriptor::GetFileVersionMS()), "OvHorizel2.02.01.ovplugin");
}

TEST(PluginDescriptor, XmlHasTheElementsInOrder) {
    const std::string xml = PluginDescriptor::BuildXml("/opt/ovh/ovhorizel", "Full\nShort\n&Menu");
    QXmlStreamReader reader(QByteArray::fromStdString(xml));
    QStringList seen;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        QString entry = reader.name().toString();
        for (const auto& a : reader.attributes())
            entry += " " + a.name().toString() + "=" + a.value().toString();
        seen << entry;
    }
    ASSERT_FALSE(reader.hasError());
    EXPECT_EQ(seen, (QStringList{
                        "ovplugin",
                        "general path=/opt/ovh/ovhorizel icon=/opt/ovh/ovhorizel,128 type=exe call=cmdline",
                        "plugins",
                        "plugin",
                        "interface icon=/opt/ovh/ovhorizel,128 text=Full|Short|&Menu group=3",
                        "special mode=browse files-type=image files-count-min=2 files-count-max=-1",
                    }));
}

TEST(PluginDescriptor, RegisterWritesAndUnregisterDeletes) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/data/ORVEX/PLUGINS";
    const std::string file = folder + "/OvHorizel2.02.01.ovplugin";
    EXPECT_TRUE(PluginDescriptor::RegisterPlugin(true, folder, "/bin/ovh", 0x00020001));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(file)));
    EXPECT_TRUE(PluginDescriptor::RegisterPlugin(false, folder, "/bin/ovh", 0x00020001));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(file)));
    EXPECT_TRUE(PluginDescriptor::RegisterPlugin(false, folder, "/bin/ovh", 0x00020001))
        << "nothing to delete";
    // A folder that cannot be made: nothing is written, nothing breaks.
    EXPECT_FALSE(PluginDescriptor::RegisterPlugin(true, "/proc/no/such/place", "/bin/ovh", 0x00020001));

    std::string nested = dir.path().toStdString() + "/x/y/z/";
    EXPECT_TRUE(EnsureFolderPath(nested, false));
    EXPECT_EQ(nested.back(), '/');
    std::string impossible = "/proc/none/here";
    EXPECT_TRUE(EnsureFolderPath(impossible, true)) << "falls back to the temporary folder";
    EXPECT_NE(impossible, "/proc/none/here");
}
