#pragma once
// One converter module loaded for one operation, and the barrier that keeps a
// converter's exceptions from leaving the library.

#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "ConverterInterface.h"
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

// The error code for whatever a converter let escape: the stream's end of file
// (cause 14) is code 1, its disk full (13) is code 13, anything else 15.
int ErrorFromStreamCause(int cause);

// Calls into a converter and turns every exception into an error code, so that
// no exception unwinds through a converter's C entry point or skips the
// library's clean-up. A stream exception is deleted here. The call's own
// result is returned when it returns an int, else 0.
template <class Call>
int GuardedCall(Call&& call) {
    try {
        if constexpr (std::is_void_v<decltype(call())>) {
            std::forward<Call>(call)();
            return 0;
        } else {
            return static_cast<int>(std::forward<Call>(call)());
        }
    } catch (CImpExp_FileException* e) {
        int code = ErrorFromStreamCause(e->m_cause);
        delete e;
        return code;
    } catch (IOStreamException* e) {
        delete e;
        return ImExp::ErrorGeneral;
    } catch (const std::bad_alloc&) {
        return ImExp::ErrorNoMemory;
    } catch (...) {
        return ImExp::ErrorGeneral;
    }
}

}  // namespace formgate
