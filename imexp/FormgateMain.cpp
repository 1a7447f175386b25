// Built into libformgate.so only: sets the library up when the dynamic loader
// maps it, and tears it down when it is unmapped.

#include "FormgateApp.h"

namespace {

struct ModuleLifetime {
    // Nothing may escape a load-time initialiser: the process would end.
    ModuleLifetime() {
        try {
            TheFormgateApp().InitInstance();
        } catch (...) {
        }
    }
    ~ModuleLifetime() { TheFormgateApp().ExitInstance(); }
};

const ModuleLifetime lifetime;

}  // namespace
