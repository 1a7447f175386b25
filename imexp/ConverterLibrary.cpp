#include "ConverterLibrary.h"

#include <dlfcn.h>

namespace formgate {

bool ConverterLibrary::Open(const std::string& path) {
    Close();
    error_.clear();
    dlerror();
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = dlerror();
        error_ = why ? why : "cannot load " + path;
    }
    return handle_ != nullptr;
}

void ConverterLibrary::Close() {
    if (handle_)
        ::dlclose(handle_);
    handle_ = nullptr;
}

void* ConverterLibrary::Symbol(const char* name) const {
    return handle_ ? ::dlsym(handle_, name) : nullptr;
}

}  // namespace formgate
