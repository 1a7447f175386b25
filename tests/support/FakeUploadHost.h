#pragma once
// The print-service upload's windows, scripted and logged, for headless tests.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "PrintServiceUpload.h"

namespace TestDoubles {

// The windows of the upload, scripted and logged.
class FakeHost : public NetPrint::IUploadHost {
public:
    int ChooseFiles(std::vector<std::string>& files) override {
        ++chooseCalls;
        if (keepFirstOnly && files.size() > 1)
            files.resize(1);
        return choice;
    }
    bool AskLogin(std::string& login, std::string& password) override {
        if (loginAnswers.empty())
            return false;
        login = loginAnswers.front().first;
        password = loginAnswers.front().second;
        loginAnswers.erase(loginAnswers.begin());
        ++loginCalls;
        return true;
    }
    void ShowMessage(const std::string& text, MessageKind kind) override {
        messages.push_back(text);
        kinds.push_back(kind);
    }
    std::vector<MessageKind> kinds;
    void OpenUrl(const std::string& url) override { urls.push_back(url); }
    void BeginProgress() override { log.push_back("Begin"); }
    void SetProgressText(const std::string& text) override { log.push_back(text); }
    bool SetProgress(int total, int position) override {
        progress.push_back(position);
        EXPECT_EQ(total, 100);
        return cancelAtProgress;
    }
    bool Pump() override {
        return cancelAfter.count() > 0 && std::chrono::steady_clock::now() - began > cancelAfter;
    }
    void EndProgress() override { log.push_back("End"); }

    int choice = NetPrint::kChoiceUpload;
    bool keepFirstOnly = false;
    int chooseCalls = 0;
    std::vector<std::pair<std::string, std::string>> loginAnswers{{"alice", "secret"}};
    int loginCalls = 0;
    std::vector<std::string> messages, urls, log;
    std::vector<int> progress;
    bool cancelAtProgress = false;
    std::chrono::milliseconds cancelAfter{0};
    std::chrono::steady_clock::time_point began = std::chrono::steady_clock::now();
};

}  // namespace TestDoubles
