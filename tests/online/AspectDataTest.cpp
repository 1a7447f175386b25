#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AspectData.h"
#include "TestData.h"

namespace {

std::vector<NetPrint::CAspectData> Parse(const std::string& text) {
    std::vector<NetPrint::CAspectData> products;
    ParseAspectXml(text, &products);
    return products;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TEST(AspectXml, ReadsProductsWithTheirAttributesInAnyOrder) {
    const auto products = Parse(
        "<?xml version=\"1.0\"?>\n"
        "<PRODUCTS>\n"
        "<PRODUCT w=\"10\" h=\"15\" oms_id=\"7\" name=\"10x15\"/>\n"
        "<PRODUCT name=\"Poster\" oms_id=\"8\" h=\"30\" w=\"90\"/>\n"
        "<PRODUCT w=\"20\" h=\"30\" name=\"no id\"/>\n"
        "<PRODUCT w=\"13\" h=\"18\" oms_id=\"9\"/>\n"
        "<PRODUCT w=\"abc\" h=\"18\" oms_id=\"10\" name=\"bad\"/>\n"
        "<PRODUCT w=\"0\" h=\"18\" oms_id=\"11\" name=\"zero\"/>\n"
        "<PRODUCT w=\"99999999999\" h=\"1\" oms_id=\"12\" name=\"huge\"/>\n"
        "</PRODUCTS>\n");
    ASSERT_EQ(products.size(), 4u);
    EXPECT_EQ(products[0].w, 10);
    EXPECT_EQ(products[0].h, 15);
    EXPECT_EQ(products[0].oms_id, 7);
    EXPECT_EQ(products[0].name, "10x15");
    EXPECT_EQ(products[0].kind, 2);
    EXPECT_EQ(products[1].w, 90);
    EXPECT_EQ(products[1].name, "Poster");
    // No name: the previous product's; no oms_id, no area: skipped.
    EXPECT_EQ(products[2].oms_id, 9);
    EXPECT_EQ(products[2].name, "Poster");
    // Numbers beyond int saturate instead of overflowing.
    EXPECT_EQ(products[3].w, 2147483647);
}

TEST(AspectXml, ElementsWithoutARootAndTheAddresses) {
    const std::string before = g_strNetPrintLoginUrl;
    const auto products = Parse(
        "<PRODUCT w=\"4\" h=\"3\" oms_id=\"1\" name=\"a\"/>"
        "<SESSIONCREATIONURL></SESSIONCREATIONURL>"
        "<ORVEXHOMEPAGEURL>http://first/</ORVEXHOMEPAGEURL>"
        "<ORVEXHOMEPAGEURL>http://h/p</ORVEXHOMEPAGEURL>");
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(g_strNetPrintLoginUrl, before);  // an empty value keeps the default
    EXPECT_EQ(g_strNetPrintHomeUrl, "http://h/p");
}

// A hand-edited file: each malformed element costs only itself, and the
// skipped ones are named. Declarations and entities are never expanded.
TEST(AspectXml, MalformedElementsCostOnlyThemselves) {
    const struct {
        const char* what;
        std::string text;
        std::vector<std::string> names;  // of the products read
        std::size_t skipped;
    } cases[] = {
        {"an unescaped ampersand in a name",
         "<PRODUCT w=\"10\" h=\"15\" oms_id=\"7\" name=\"Photo & Poster\"/>\n"
         "<PRODUCT w=\"20\" h=\"30\" oms_id=\"8\" name=\"20x30\"/>",
         {"Photo & Poster", "20x30"},
         0},
        {"a cut last element", "<PRODUCT w=\"1\" h=\"1\" oms_id=\"1\" name=\"a\"/><PRODUCT w=\"2", {"a"}, 0},
        {"an element without its end", "<PRODUCT w=\"1\" h=\"1\" oms_id=\"1\"", {}, 0},
        {"bytes that are no text before it", "\xff\xfe<PRODUCT w=\"1\" h=\"1\" oms_id=\"1\"/>", {""}, 0},
        {"an attribute missing", "<PRODUCT w=\"1\" h=\"1\" name=\"x\"/><PRODUCT w=\"2\" h=\"1\" oms_id=\"3\"/>",
         {""}, 1},
        {"an entity stays text",
         "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;\">]>"
         "<PRODUCT w=\"1\" h=\"1\" oms_id=\"1\" name=\"&b;\"/>",
         {"&b;"},
         0},
        {"only an address tag", "/SESSIONCREATIONURL><SESSIONCREATIONURL>", {}, 0},
        {"nothing", "", {}, 0},
    };
    for (const auto& c : cases) {
        std::vector<NetPrint::CAspectData> products;
        const std::vector<std::string> skipped = ParseAspectXml(c.text, &products);
        std::vector<std::string> names;
        for (const auto& p : products)
            names.push_back(p.name);
        EXPECT_EQ(names, c.names) << c.what;
        EXPECT_EQ(skipped.size(), c.skipped) << c.what;
    }
}

TEST(AspectFiles, ReadTextFileAndTheLogsFolder) {
    TestData::ScratchDir scratch;
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string savedData = saved ? saved : "";
    setenv("XDG_DATA_HOME", scratch.path().c_str(), 1);
    std::string text = "stale";
    EXPECT_LT(ReadTextFile(scratch / "missing.xml", text), 0);
    EXPECT_TRUE(text.empty());
    WriteFile(scratch / "nul.xml", std::string("abc\0def", 7));
    EXPECT_EQ(ReadTextFile(scratch / "nul.xml", text), 3);
    EXPECT_EQ(text, "abc");
    std::filesystem::permissions(scratch / "nul.xml", std::filesystem::perms::owner_read);
    EXPECT_EQ(ReadTextFile(scratch / "nul.xml", text), 3);  // read-only files are read
    WriteFile(scratch / "big.xml", std::string(kMaxAspectFileSize + 1, ' '));
    EXPECT_LT(ReadTextFile(scratch / "big.xml", text), 0);

    const std::string logs = GetNetPrintLogsFolder();
    EXPECT_EQ(logs, scratch / "ORVEXQXLOGS");
    EXPECT_TRUE(std::filesystem::is_directory(logs));
    EXPECT_EQ(LoadAspectFile(false), logs + "/aspect.xml");

    std::vector<std::string> pending;
    EXPECT_EQ(ListPendingUploads(pending), logs + "/Panorama1.jpg");
    EXPECT_TRUE(pending.empty());
    WriteFile(logs + "/Panorama1.jpg", "x");
    WriteFile(logs + "/Panorama3.jpg", "x");
    EXPECT_EQ(ListPendingUploads(pending), logs + "/Panorama2.jpg");
    EXPECT_EQ(pending.size(), 2u);
    if (savedData.empty())
        unsetenv("XDG_DATA_HOME");
    else
        setenv("XDG_DATA_HOME", savedData.c_str(), 1);
}

TEST(AspectFiles, TheLogsFolderIsMadeWithItsParentsOrNotAtAll) {
    TestData::ScratchDir scratch;
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string savedData = saved ? saved : "";
    WriteFile(scratch / "file", "x");
    struct Case {
        std::string data;
        bool made;
    };
    const Case cases[] = {
        {scratch / "fresh/account/share", true},
        {scratch / "file", false},        // a file where the data folder should be
        {scratch / "file/share", false},  // a file among its parents
    };
    for (const Case& c : cases) {
        setenv("XDG_DATA_HOME", c.data.c_str(), 1);
        const std::string logs = GetNetPrintLogsFolder();
        std::vector<std::string> pending;
        if (c.made) {
            EXPECT_EQ(logs, c.data + "/ORVEXQXLOGS");
            EXPECT_TRUE(std::filesystem::is_directory(logs));
            EXPECT_EQ(ListPendingUploads(pending), logs + "/Panorama1.jpg");
        } else {
            EXPECT_EQ(logs, "") << c.data;
            EXPECT_EQ(LoadAspectFile(false), "") << c.data;
            EXPECT_EQ(ListPendingUploads(pending), "") << c.data;
        }
        EXPECT_TRUE(pending.empty());
    }
    if (savedData.empty())
        unsetenv("XDG_DATA_HOME");
    else
        setenv("XDG_DATA_HOME", savedData.c_str(), 1);
}
