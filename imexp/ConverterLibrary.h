#pragma once
// One converter module loaded for one operation. ExceptionBarrier.h holds
// GuardedCall, which keeps a converter's exceptions from leaving the library.

#include <string>

#include "ConverterInterface.h"
#include "ExceptionBarrier.h"
#include "Formgate.h"

namespace formgate {

// A converter module mapped with dlopen and unmapped when this object goes.
class ConverterLibrary {
public:
    ConverterLibrary() = default;
    ~ConverterLibrary() { Close(); }
    ConverterLibrary(const ConverterLibrary&) = delete;
    ConverterLibrary& operator=(const ConverterLibrary&) = delete;

    // Closes what was open, then loads the module (all symbols bound now,
    // kept local to it). False when it cannot be loaded; Error() tells why.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }
    const std::string& Error() const { return error_; }

    // The address of an exported name, or null.
    void* Symbol(const char* name) const;
    template <class Function>
    Function* Entry(const char* name) const {
        return reinterpret_cast<Function*>(Symbol(name));
    }

private:
    void* handle_ = nullptr;
    std::string error_;
};

// Looks up an entry point of ConverterInterface.h by its own name, typed.
#define FORMGATE_ENTRY(library, name) ((library).Entry<decltype(::name)>(#name))

}  // namespace formgate
