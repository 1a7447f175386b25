#include "FormgateApp.h"

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>

#include "ModuleStrings.h"

std::string CFormgateApp::OwnFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&TheFormgateApp), &info) == 0 || !info.dli_fname)
        return {};
    std::error_code ec;
    auto file = std::filesystem::absolute(info.dli_fname, ec);
    return ec ? std::string() : file.lexically_normal().parent_path().string();
}

bool CFormgateApp::InitInstance() {
    return InitInstanceIn(OwnFolder());
}

bool CFormgateApp::InitInstanceIn(const std::string& moduleFolder) {
    const std::string settings =
        (std::filesystem::path(moduleFolder) / formgate::ModuleString(formgate::IDS_SETTINGS_FILE)).string();
    auto registry = std::make_shared<formgate::ConverterRegistry>();
    // No usable converter is no reason to fail loading: the registry stays empty.
    registry->Load(settings, moduleFolder);
    std::lock_guard lock(mutex_);
    // A broken installation is told once, on stderr: there is no window to show it
    // in while the library loads, and otherwise nothing would say why no file opens.
    if (!registry->Problem().empty() && registry->Problem() != reportedProblem_) {
        std::fprintf(stderr, "%s\n", registry->Problem().c_str());
        reportedProblem_ = registry->Problem();
    }
    moduleFolder_ = moduleFolder;
    settingsPath_ = settings;
    registry_ = std::move(registry);
    return true;
}

int CFormgateApp::ExitInstance() {
    std::lock_guard lock(mutex_);
    registry_ = std::make_shared<const formgate::ConverterRegistry>();
    return 0;
}

std::string CFormgateApp::ModuleFolder() const {
    std::lock_guard lock(mutex_);
    return moduleFolder_;
}

std::string CFormgateApp::SettingsPath() const {
    std::lock_guard lock(mutex_);
    return settingsPath_;
}

std::shared_ptr<const formgate::ConverterRegistry> CFormgateApp::Registry() const {
    std::lock_guard lock(mutex_);
    return registry_;
}

void CFormgateApp::SetRegistry(std::shared_ptr<const formgate::ConverterRegistry> registry) {
    if (!registry)
        registry = std::make_shared<const formgate::ConverterRegistry>();
    std::lock_guard lock(mutex_);
    registry_ = std::move(registry);
}

formgate::UiHost* CFormgateApp::Host() const {
    std::lock_guard lock(mutex_);
    return host_;
}

void CFormgateApp::SetHost(formgate::UiHost* host) {
    std::lock_guard lock(mutex_);
    host_ = host;
}

CFormgateApp& TheFormgateApp() {
    static CFormgateApp app;
    return app;
}
