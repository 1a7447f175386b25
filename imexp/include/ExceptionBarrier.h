#pragma once
// The barrier on both sides of a converter's entry points: the library wraps
// every call into a converter in it, and a converter wraps each entry point's
// body, so that no exception crosses the module boundary. Header-only, so each
// converter module keeps its own copy and needs nothing of the library's.

#include <new>
#include <type_traits>
#include <utility>

#include "Formgate.h"
#include "IOStream.h"

namespace formgate {

// The error code for a stream failure: the stream's end of file is code 1,
// its disk full code 13, anything else 15.
inline int ErrorFromStreamCause(int cause) {
    switch (cause) {
        case CImpExp_FileException::endOfFile:
            return ImExp::ErrorUnexpectedEnd;
        case CImpExp_FileException::diskFull:
            return ImExp::ErrorDiskFull;
        default:
            return ImExp::ErrorGeneral;
    }
}

// Runs call and turns every exception into an error code. A stream exception
// is deleted here. The call's own result is returned when it returns an int,
// else 0.
template <class Call>
int GuardedCall(Call&& call) noexcept {
    try {
        if constexpr (std::is_void_v<decltype(call())>) {
            std::forward<Call>(call)();
            return 0;
        } else {
            return static_cast<int>(std::forward<Call>(call)());
        }
    } catch (CImpExp_FileException* e) {
        const int code = ErrorFromStreamCause(e->m_cause);
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
