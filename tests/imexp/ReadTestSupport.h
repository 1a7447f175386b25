#pragma once
// What the tests of reading, converter choice and error reporting share: a
// module folder of test converters loaded into the library's application
// object, a recording user interface, sink and progress, and ".tcv" files.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ErrorReporter.h"
#include "Formgate.h"
#include "FormgateApp.h"
#include "FormgateTestSupport.h"
#include "TestData.h"
#include "UiHost.h"

namespace FormgateTest {

using Bytes = std::vector<std::uint8_t>;

// Remembers every message box and the wait cursor's depth.
class RecordingHost : public formgate::UiHost {
public:
    struct Message {
        void* owner;
        std::string text;
        std::string caption;
        Icon icon;
        int cursorDepth;  // the wait cursor is gone before a message shows
    };
    void MessageBox(void* owner, const std::string& text, const std::string& caption, Icon icon) override {
        messages.push_back({owner, text, caption, icon, cursorDepth});
    }
    void BeginWaitCursor() override { ++cursorDepth, ++cursorCalls; }
    void EndWaitCursor() override { --cursorDepth; }

    std::vector<Message> messages;
    int cursorDepth = 0;
    int cursorCalls = 0;
};

// Keeps everything the library hands to a sink; rows by sink index.
class RecordingSink : public CAbstractReadWA {
public:
    int Reserved1(int) override { return 0; }
    int Reserved2(int, int) override { return 0; }
    int SetSize(int, int, int w, int h) override {
        ++sizeCalls;
        width = w, height = h;
        return refuseSize;
    }
    int SetFormat(int, int, int type) override { return pixelType = type, 0; }
    int SetPalette(int, int, const unsigned char* entries, int count) override {
        palette.assign(entries, entries + 4 * count);
        return 0;
    }
    int SetResolution(int, int, int x, int y) override {
        ++resolutionCalls;
        xDpi = x, yDpi = y;
        return 0;
    }
    int PutRow(int, int, int row, const void* pixels) override {
        const auto* p = static_cast<const std::uint8_t*>(pixels);
        if (rows.count(row))
            ++duplicates;
        order.push_back(row);
        rows[row].assign(p, p + RowBytes());
        return refuseRowAt >= 0 && static_cast<int>(order.size()) > refuseRowAt ? 1 : 0;
    }
    int PutAlphaRow(int, int, int row, const void* alpha) override {
        const auto* p = static_cast<const std::uint8_t*>(alpha);
        const size_t bytes = static_cast<size_t>(width) * ((pixelType == 32 || pixelType == 64) ? 2 : 1);
        alphaRows[row].assign(p, p + bytes);
        return 0;
    }
    int SetAlphaChannel(int, int, int has) override { return hasAlpha = has, 0; }
    int Reserved10(int, int, int, int, int) override { return 0; }

    size_t RowBytes() const {
        int bits = pixelType == 1    ? 1
                   : pixelType == 2  ? 4
                   : pixelType == 16 ? 24
                   : pixelType == 32 ? 16
                   : pixelType == 64 ? 48
                                     : 8;
        return (static_cast<size_t>(bits) * static_cast<size_t>(width) + 7) / 8;
    }

    int refuseSize = 0;
    int refuseRowAt = -1;  // PutRow fails from this many rows on
    int sizeCalls = 0, resolutionCalls = 0;
    int width = -1, height = -1, pixelType = -1, hasAlpha = -1, xDpi = -1, yDpi = -1;
    Bytes palette;
    std::map<int, Bytes> rows;
    std::map<int, Bytes> alphaRows;
    std::vector<int> order;
    int duplicates = 0;
};

class RecordingProgress : public CProgress {
public:
    void Begin() override { ++begins; }
    void End() override { ++ends; }
    int Step(int done, int total) override {
        steps.emplace_back(done, total);
        return cancelAt >= 0 && static_cast<int>(steps.size()) > cancelAt ? 0 : 1;
    }
    int begins = 0, ends = 0;
    int cancelAt = -1;  // Step answers 0 from this many calls on
    std::vector<std::pair<int, int>> steps;
};

// A ".tcv" file: "TCV", the keys, and optionally the rows (top row first).
inline std::string Tcv(const std::string& keys, const Bytes& data = {}) {
    std::string text = "TCV\n" + keys;
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    if (!data.empty() || keys.find("data") != std::string::npos) {
        text += "data\n";
        text.append(data.begin(), data.end());
    }
    return text;
}

// A module folder in a scratch directory whose converters the library's
// application object serves; the recording host is installed meanwhile.
class ModuleTest : public ::testing::Test {
protected:
    void TearDown() override {
        TheFormgateApp().ExitInstance();
        TheFormgateApp().SetHost(nullptr);
    }

    // converters: "name:variant" or "name" (conv_script), in registry order;
    // sections: extra INI text.
    void Start(const std::vector<std::string>& converters, const std::string& sections = {}) {
        std::string ini = "[Converters]\n";
        std::string logs;
        int key = 0;
        for (const std::string& entry : converters) {
            const size_t colon = entry.find(':');
            const std::string name = entry.substr(0, colon) + ".so";
            const std::string variant = colon == std::string::npos ? "conv_script" : entry.substr(colon + 1);
            InstallCopy(variant, dir_.path() / name);
            ini += std::to_string(key++) + "=" + name + "\n";
            logs += "[" + name + "]\nLog=" + Log() + "\n";
        }
        WriteText(Settings(), ini + MergeSections(logs, sections));
        ASSERT_TRUE(TheFormgateApp().InitInstanceIn(dir_.path().string()));
        host_.messages.clear();
        TheFormgateApp().SetHost(&host_);
        formgate::ClearLastReportedError();
    }

    std::string Settings() const { return dir_ / "CONVERT.INI"; }
    std::string Log() const { return dir_ / "log.txt"; }
    std::string File(const std::string& name, const std::string& content) const {
        const std::string path = dir_ / name;
        WriteText(path, content);
        return path;
    }
    std::vector<std::string> LogLines() const { return ReadLines(Log()); }
    int LogCount(const std::string& line) const {
        int n = 0;
        for (const auto& l : LogLines())
            n += l == line;
        return n;
    }
    int LogCountPrefix(const std::string& prefix) const {
        int n = 0;
        for (const auto& l : LogLines())
            n += l.rfind(prefix, 0) == 0;
        return n;
    }
    void ClearLog() const { std::filesystem::remove(Log()); }
    bool AnyConverterMapped() const {
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
            if (entry.path().extension() == ".so" && IsMapped(entry.path().string()))
                return true;
        return false;
    }

    // An owner window stand-in: any non-null pointer.
    void* Owner() { return &ownerToken_; }

    TestData::ScratchDir dir_;
    RecordingHost host_;

private:
    // Keys of the same section given twice are merged so the section stays one.
    static std::string MergeSections(const std::string& logs, const std::string& extra) {
        std::string result = logs;
        std::string section;
        std::string pending;
        auto flush = [&] {
            if (section.empty())
                return;
            const std::string header = "[" + section + "]\n";
            const size_t at = result.find(header);
            if (at == std::string::npos)
                result += header + pending;
            else
                result.insert(at + header.size(), pending);
            pending.clear();
        };
        size_t pos = 0;
        while (pos < extra.size()) {
            size_t end = extra.find('\n', pos);
            if (end == std::string::npos)
                end = extra.size();
            const std::string line = extra.substr(pos, end - pos);
            pos = end + 1;
            if (!line.empty() && line.front() == '[') {
                flush();
                section = line.substr(1, line.find(']') - 1);
            } else if (!line.empty()) {
                pending += line + "\n";
            }
        }
        flush();
        return result;
    }

    int ownerToken_ = 0;
};

}  // namespace FormgateTest
