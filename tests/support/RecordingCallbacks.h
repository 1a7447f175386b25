#pragma once
// Recording stand-ins for the application's engine callbacks, for headless
// tests: each call is logged as one line, and answers can be scripted.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "PanoramaLib.h"

namespace TestDoubles {

class CallLog {
public:
    void Add(std::string line) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(std::move(line));
    }
    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    int Count(const std::string& prefix) const {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const auto& l : lines_)
            if (l.rfind(prefix, 0) == 0)
                ++n;
        return n;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

inline std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w)
        s += c < 128 ? static_cast<char>(c) : '?';
    return s;
}

// Cancels once SetProgress has been called cancelAfter times (never when < 0).
class RecordingProgress : public PanoramaLib::IProgressIndicator {
public:
    void Begin() override { log.Add("Begin"); }
    void BeginEx() override { log.Add("BeginEx"); }
    void End() override { log.Add("End"); }
    void SetStage(int stageId, const std::wstring& name) override {
        log.Add("SetStage " + std::to_string(stageId) + " " + Narrow(name));
    }
    void SetStage(int stageId) override { log.Add("SetStage " + std::to_string(stageId)); }
    bool SetProgress(int total, int position) override {
        ++progressCalls;
        log.Add("SetProgress " + std::to_string(total) + " " + std::to_string(position));
        return cancelAfter >= 0 && progressCalls > cancelAfter;
    }
    void Show(bool hide) override { log.Add(hide ? "Show hide" : "Show show"); }

    CallLog log;
    int cancelAfter = -1;
    int progressCalls = 0;
};

class RecordingUserInterface : public PanoramaLib::IUserInterface {
public:
    void RepaintNow() override { log.Add("RepaintNow"); }
    void ToggleView(bool on) override { log.Add(on ? "ToggleView 1" : "ToggleView 0"); }
    int MatchManually(PanoramaLib::IPanoElement* first, PanoramaLib::IPanoElement* second,
                      PanoramaLib::IManualMatcher* matcher) override {
        log.Add("MatchManually");
        if (!first || !second)
            return 1;
        return onMatchManually ? onMatchManually(first, second, matcher) : 1;
    }
    void AddFile(const std::wstring& fileName, bool mark) override {
        log.Add("AddFile " + Narrow(fileName) + (mark ? " 1" : " 0"));
    }
    void PostUpdateView(PanoramaLib::WPARAM a, PanoramaLib::LPARAM b) override {
        log.Add("PostUpdateView " + std::to_string(a) + " " + std::to_string(b));
    }
    void ShowMessage(int stringId) override { log.Add("ShowMessage " + std::to_string(stringId)); }
    bool AskAcceptPanorama(int unmatched, int total) override {
        log.Add("AskAcceptPanorama " + std::to_string(unmatched) + " " + std::to_string(total));
        return acceptPanorama;
    }
    bool WarnCyclorama() override {
        log.Add("WarnCyclorama");
        return acceptCyclorama;
    }
    bool IsPrinterSelected() override { return printerSelected; }
    void MarkFiles(const std::list<std::wstring>& fileNames, bool mark) override {
        log.Add("MarkFiles " + std::to_string(fileNames.size()) + (mark ? " 1" : " 0"));
    }

    CallLog log;
    std::function<int(PanoramaLib::IPanoElement*, PanoramaLib::IPanoElement*, PanoramaLib::IManualMatcher*)>
        onMatchManually;
    bool acceptPanorama = true;
    bool acceptCyclorama = true;
    bool printerSelected = false;
};

class RecordingWaitCursor : public PanoramaLib::IWaitCursor {
public:
    void BeginWaitCursor() override { log.Add("BeginWaitCursor"); }
    void EndWaitCursor() override { log.Add("EndWaitCursor"); }
    void RestoreWaitCursor() override { log.Add("RestoreWaitCursor"); }

    CallLog log;
};

}  // namespace TestDoubles
