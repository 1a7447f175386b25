#pragma once
// The library-wide state: where the module lies, its settings file and the
// converter registry. The shared library sets it up when it is loaded and
// tears it down when it is unloaded (FormgateMain.cpp).

#include <memory>
#include <mutex>
#include <string>

#include "ConverterRegistry.h"
#include "UiHost.h"

class CFormgateApp {
public:
    // Finds the folder of the library's own file and starts there.
    bool InitInstance();
    // Starts with the settings file in moduleFolder; used by InitInstance, and
    // by tests that build the library's code into their own program. When no
    // converter is usable, the registry's Problem is written to stderr, once
    // for the same problem.
    bool InitInstanceIn(const std::string& moduleFolder);
    // Drops the registry.
    int ExitInstance();

    std::string ModuleFolder() const;
    // The folder plus "CONVERT.INI"; handed to every converter entry point.
    std::string SettingsPath() const;
    // The registry as it stands. The snapshot stays valid while it is held,
    // even if the registry is replaced meanwhile (another thread may read
    // files while the setup dialog installs or removes converters).
    std::shared_ptr<const formgate::ConverterRegistry> Registry() const;
    void SetRegistry(std::shared_ptr<const formgate::ConverterRegistry> registry);

    // The user interface that shows messages and the wait cursor; null (the
    // default) shows nothing. The host is not owned and must outlive its use.
    formgate::UiHost* Host() const;
    void SetHost(formgate::UiHost* host);

    // The folder of the file that holds this code (the shared library, or the
    // program it is linked into).
    static std::string OwnFolder();

private:
    mutable std::mutex mutex_;
    std::string moduleFolder_;
    std::string settingsPath_;
    formgate::UiHost* host_ = nullptr;
    std::string reportedProblem_;  // the registry's last problem told on stderr
    std::shared_ptr<const formgate::ConverterRegistry> registry_ =
        std::make_shared<const formgate::ConverterRegistry>();
};

// The one application object of the library.
CFormgateApp& TheFormgateApp();
