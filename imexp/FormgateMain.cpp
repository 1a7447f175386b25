// Built into libformgate.so only: sets the library up when the dynamic loader
// maps it, and tears it down when it is unmapped.

#include "CompanionUiHost.h"
#include "FormgateApp.h"

namespace {

formgate::CompanionUiHost companionHost;

struct ModuleLifetime {
    // Nothing may escape a load-time initialiser: the process would end.
    ModuleLifetime() {
        try {
            TheFormgateApp().InitInstance();
            TheFormgateApp().SetHost(&companionHost);
        } catch (...) {
        }
    }
    ~ModuleLifetime() {
        TheFormgateApp().SetHost(nullptr);
        TheFormgateApp().ExitInstance();
    }
};

const ModuleLifetime lifetime;

}  // namespace
